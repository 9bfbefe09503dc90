// Timed benchmark of wavepack's conversions, run by hand:
//   wavepack_csv_bench [lines=10000000] [repeats=3] [baseline-program]
// 1. CSV: generates a two-column CSV file of `lines` lines in $TMPDIR, parses it in
//    this process on one thread and on every core, then runs the real wavepack
//    program on it end to end (the file in the page cache) and, side by side in
//    the same rounds, numpy's loadtxt on the same file (when /usr/bin/python3 has
//    numpy) and a baseline wavepack program when one is named; prints the
//    throughputs and their ratios.
// 2. Raw: a cf32_le file of 20,000,000 samples converted end to end: MB/s of input
//    and the peak resident memory against input + 6 bytes per sample.
// Each figure is the best and the worst of the repeats; the machine is shared.
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "csv_reader.h"
#include "input_stream.h"
#include "parallel.h"

#ifndef WAVEPACK_PROGRAM
#error "WAVEPACK_PROGRAM must name the program to measure"
#endif

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Values in [-1, 1) with six decimals, the way a user's export usually looks.
void writeCsv(const fs::path& path, long lines) {
  std::ofstream out(path, std::ios::binary);
  std::vector<char> buf;
  buf.reserve(1 << 22);
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  auto next = [&] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return static_cast<double>(state >> 11) / 9007199254740992.0 * 2.0 - 1.0;
  };
  const char header[] = "I,Q\n";
  buf.insert(buf.end(), header, header + 4);
  char field[64];
  for (long k = 0; k < lines; ++k) {
    for (int c = 0; c < 2; ++c) {
      const auto r =
          std::to_chars(field, field + sizeof field, next(), std::chars_format::fixed, 6);
      buf.insert(buf.end(), field, r.ptr);
      buf.push_back(c == 0 ? ',' : '\n');
    }
    if (buf.size() > (1 << 22) - 64) {
      out.write(buf.data(), static_cast<std::streamsize>(buf.size()));
      buf.clear();
    }
  }
  out.write(buf.data(), static_cast<std::streamsize>(buf.size()));
}

// Little-endian float pairs of a noisy tone.
void writeCf32(const fs::path& path, long samples) {
  std::ofstream out(path, std::ios::binary);
  std::vector<float> buf;
  buf.reserve(1 << 20);
  for (long k = 0; k < samples; ++k) {
    buf.push_back(static_cast<float>(0.7 * std::cos(0.001 * k) + 0.01 * std::sin(1.7 * k)));
    buf.push_back(static_cast<float>(0.7 * std::sin(0.001 * k)));
    if (buf.size() >= (1 << 20)) {
      out.write(reinterpret_cast<const char*>(buf.data()),
                static_cast<std::streamsize>(buf.size() * sizeof(float)));
      buf.clear();
    }
  }
  out.write(reinterpret_cast<const char*>(buf.data()),
            static_cast<std::streamsize>(buf.size() * sizeof(float)));
}

double cpuSeconds(const rusage& u) {
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct ProcessRun {
  double seconds = 0;
  double cpu = 0;
  long peakKiB = 0;
  int status = -1;
  std::string out;
};

// Runs a program with its standard output in a file, timing it and its children.
ProcessRun runProgram(const std::vector<std::string>& argv, const fs::path& outFile) {
  // A child's peak memory starts from this process's at the fork: give back the
  // memory of the in-process parse first.
  ::malloc_trim(0);
  const auto start = Clock::now();
  std::fflush(stdout);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (std::freopen(outFile.c_str(), "w", stdout) == nullptr) std::_Exit(126);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    std::_Exit(127);
  }
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  ProcessRun r;
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  r.cpu = cpuSeconds(usage);
  r.peakKiB = usage.ru_maxrss;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream in(outFile);
  std::getline(in, r.out, '\0');
  return r;
}

struct Range {
  double best = 1e30;
  double worst = 0;
  void add(double v) {
    best = std::min(best, v);
    worst = std::max(worst, v);
  }
  bool empty() const { return worst == 0; }
};

// Throughput range "a to b MB/s" of `megabytes` over the time range.
std::string rate(double megabytes, const Range& seconds) {
  char text[96];
  std::snprintf(text, sizeof text, "%.3f to %.3f s (%.0f to %.0f MB/s)", seconds.best,
                seconds.worst, megabytes / seconds.worst, megabytes / seconds.best);
  return text;
}

double threadCpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double processCpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Wall time of readCsv on the file; `cpu` gets the calling thread's CPU time, which
// with one thread is the whole parse and hardly depends on the machine's load, and
// `allCpu` that of every thread (against the wall time: the cores it really had).
double parseSeconds(const fs::path& csv, unsigned threads, double& cpu, double& allCpu) {
  arbsuite::wavepack::CsvOptions options;
  options.threads = threads;
  arbsuite::wavepack::InputStream input(csv.string());
  arbsuite::wavepack::Diagnostics quiet;
  const double cpuStart = threadCpuSeconds();
  const double allStart = processCpuSeconds();
  const auto start = Clock::now();
  const arbsuite::wavepack::MemoryPairs pairs = arbsuite::wavepack::readCsv(input, options, quiet);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  cpu = threadCpuSeconds() - cpuStart;
  allCpu = processCpuSeconds() - allStart;
  return pairs.size() > 0 ? seconds : 0;
}

bool numpyAvailable() {
  return std::system("/usr/bin/python3 -c 'import numpy' > /dev/null 2>&1") == 0;
}

}  // namespace

int main(int argc, char** argv) {
  const long lines = argc > 1 ? std::atol(argv[1]) : 10'000'000;
  const int repeats = argc > 2 ? std::atoi(argv[2]) : 3;
  const std::optional<std::string> baseline =
      argc > 3 ? std::optional<std::string>(argv[3]) : std::nullopt;
  const char* tmp = std::getenv("TMPDIR");
  const fs::path dir =
      fs::path(tmp && *tmp ? tmp : "/tmp") / ("wavepack-bench-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path csv = dir / "input.csv";
  const fs::path arb = dir / "output.arb";
  const fs::path out = dir / "stdout.txt";

  std::printf("generating %ld lines ...\n", lines);
  writeCsv(csv, lines);
  const double megabytes = static_cast<double>(fs::file_size(csv)) / 1e6;
  std::printf("CSV input: %s, %.1f MB\n", csv.c_str(), megabytes);

  // The parse alone in this process, one thread against every core.
  Range parseOne, parseOneCpu, parseAll;
  double coresUsed = 0;  // CPU seconds per wall second of the parallel parse, at best
  for (int k = 0; k < repeats; ++k) {
    double cpu = 0;
    double allCpu = 0;
    parseOne.add(parseSeconds(csv, 1, cpu, allCpu));
    parseOneCpu.add(cpu);
    const double seconds = parseSeconds(csv, 0, cpu, allCpu);
    parseAll.add(seconds);
    coresUsed = std::max(coresUsed, allCpu / seconds);
  }
  std::printf("readCsv, 1 thread:      %s\n", rate(megabytes, parseOne).c_str());
  std::printf("  its CPU time:         %s\n", rate(megabytes, parseOneCpu).c_str());
  std::printf("readCsv, %u threads:     %s\n", arbsuite::wavepack::threadCount(),
              rate(megabytes, parseAll).c_str());
  std::printf("  cores it had:         %.2f at best (CPU time over wall time)\n", coresUsed);

  // End to end, side by side in each round.
  const bool numpy = numpyAvailable();
  const std::string numpyScript =
      "import sys, time, numpy\n"
      "t = time.perf_counter()\n"
      "c = time.process_time()\n"
      "a = numpy.loadtxt(sys.argv[1], delimiter=',', skiprows=1)\n"
      "print(time.perf_counter() - t, time.process_time() - c, a.shape[0])\n";
  Range ours, theirs, loadtxt, oursCpu, theirsCpu, loadtxtCpu;
  long peak = 0;
  for (int k = 0; k < repeats; ++k) {
    const ProcessRun r =
        runProgram({WAVEPACK_PROGRAM, "-d", csv.string(), "-f", "10MHz", "-o", arb.string()}, out);
    if (r.status != 0) {
      std::fprintf(stderr, "wavepack failed with status %d\n", r.status);
      return 1;
    }
    ours.add(r.seconds);
    oursCpu.add(r.cpu);
    peak = std::max(peak, r.peakKiB);
    if (baseline) {
      const ProcessRun b =
          runProgram({*baseline, "-d", csv.string(), "-f", "10MHz", "-o", arb.string()}, out);
      if (b.status == 0) {
        theirs.add(b.seconds);
        theirsCpu.add(b.cpu);
      }
    }
    if (numpy) {
      const ProcessRun n = runProgram({"/usr/bin/python3", "-c", numpyScript, csv.string()}, out);
      if (n.status == 0) {
        char* end = nullptr;
        loadtxt.add(std::strtod(n.out.c_str(), &end));
        loadtxtCpu.add(std::strtod(end, nullptr));
      }
    }
  }
  std::printf("wavepack end to end:    %s\n", rate(megabytes, ours).c_str());
  std::printf("  its CPU time:         %s\n", rate(megabytes, oursCpu).c_str());
  std::printf("peak resident memory:   %.1f MB (pairs 16 B each: %.1f MB)\n", peak / 1024.0,
              16.0 * static_cast<double>(lines) / 1e6);
  if (!theirs.empty()) {
    std::printf("baseline end to end:    %s\n", rate(megabytes, theirs).c_str());
    std::printf("  its CPU time:         %s\n", rate(megabytes, theirsCpu).c_str());
    std::printf("speed-up over baseline: %.2f (best) %.2f (worst)\n", theirs.best / ours.best,
                theirs.worst / ours.worst);
  }
  if (!loadtxt.empty()) {
    std::printf("numpy.loadtxt alone:    %s\n", rate(megabytes, loadtxt).c_str());
    std::printf("  its CPU time:         %s\n", rate(megabytes, loadtxtCpu).c_str());
    std::printf("wavepack / loadtxt:     %.2f times as fast (best) %.2f (worst)\n",
                loadtxt.best / ours.best, loadtxt.worst / ours.worst);
  } else {
    std::printf("numpy.loadtxt:          not measured (no numpy for /usr/bin/python3)\n");
  }
  fs::remove(csv);

  // Raw cf32_le: 20,000,000 samples, 160 MB.
  constexpr long kRawSamples = 20'000'000;
  const fs::path raw = dir / "input.cf32";
  writeCf32(raw, kRawSamples);
  const double rawMegabytes = static_cast<double>(fs::file_size(raw)) / 1e6;
  Range rawSeconds, rawCpu;
  long rawPeak = 0;
  for (int k = 0; k < repeats + 1; ++k) {  // the first run brings the file into the cache
    const ProcessRun r =
        runProgram({WAVEPACK_PROGRAM, "-d", raw.string(), "-o", arb.string()}, out);
    if (r.status != 0) {
      std::fprintf(stderr, "wavepack failed on cf32_le with status %d\n", r.status);
      return 1;
    }
    if (k > 0) {
      rawSeconds.add(r.seconds);
      rawCpu.add(r.cpu);
    }
    rawPeak = std::max(rawPeak, r.peakKiB);
  }
  std::printf("cf32_le input:          %.1f MB, %ld samples\n", rawMegabytes, kRawSamples);
  std::printf("cf32_le end to end:     %s\n", rate(rawMegabytes, rawSeconds).c_str());
  std::printf("  its CPU time:         %s\n", rate(rawMegabytes, rawCpu).c_str());
  std::printf("cf32_le peak memory:    %.1f MB (budget: input + 6 B/sample = %.1f MB)\n",
              rawPeak / 1024.0, rawMegabytes + 6.0 * kRawSamples / 1e6);
  fs::remove_all(dir);
  return 0;
}
