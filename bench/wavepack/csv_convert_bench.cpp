// Timed benchmark of the CSV conversion: generates a two-column CSV file of
// 10,000,000 lines (or the count given as the first argument) in $TMPDIR, then runs
// the real wavepack program on it with the file in the page cache and prints the
// throughput (MB/s of CSV, end to end) and the peak resident memory of the process.
// The parse alone (readCsvDual in this process) is timed as well, for comparison.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "iq_readers.h"

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

double cpuSeconds(const rusage& u) {
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double selfCpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return cpuSeconds(u);
}

struct ProcessRun {
  double seconds = 0;
  double cpu = 0;
  long peakKiB = 0;
  int status = -1;
};

ProcessRun runWavepack(const fs::path& csv, const fs::path& arb) {
  const auto start = Clock::now();
  std::fflush(stdout);
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::freopen("/dev/null", "w", stdout);
    ::execl(WAVEPACK_PROGRAM, "wavepack", "-d", csv.c_str(), "-f", "10MHz", "-o", arb.c_str(),
            static_cast<char*>(nullptr));
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
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  const long lines = argc > 1 ? std::atol(argv[1]) : 10'000'000;
  const int repeats = argc > 2 ? std::atoi(argv[2]) : 3;
  const char* tmp = std::getenv("TMPDIR");
  const fs::path dir =
      fs::path(tmp && *tmp ? tmp : "/tmp") / ("wavepack-bench-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path csv = dir / "input.csv";
  const fs::path arb = dir / "output.arb";

  std::printf("generating %ld lines ...\n", lines);
  writeCsv(csv, lines);
  const double megabytes = static_cast<double>(fs::file_size(csv)) / 1e6;
  std::printf("input: %s, %.1f MB\n", csv.c_str(), megabytes);

  // Parse alone, in this process (also brings the file into the page cache).
  double bestParse = 1e30;
  double bestParseCpu = 1e30;
  for (int k = 0; k < repeats; ++k) {
    const auto start = Clock::now();
    const double cpuStart = selfCpuSeconds();
    const auto pairs = wavepack::readCsvDual(csv.string());
    bestParseCpu = std::min(bestParseCpu, selfCpuSeconds() - cpuStart);
    bestParse = std::min(bestParse, std::chrono::duration<double>(Clock::now() - start).count());
    if (pairs.size() != static_cast<std::size_t>(lines)) return 1;
  }
  std::printf("readCsvDual alone: %.3f s wall (%.0f MB/s), %.3f s CPU (%.0f MB/s)\n", bestParse,
              megabytes / bestParse, bestParseCpu, megabytes / bestParseCpu);

  double bestWall = 1e30;
  double bestCpu = 1e30;
  long peak = 0;
  for (int k = 0; k < repeats; ++k) {
    const ProcessRun r = runWavepack(csv, arb);
    if (r.status != 0) {
      std::fprintf(stderr, "wavepack failed with status %d\n", r.status);
      return 1;
    }
    bestWall = std::min(bestWall, r.seconds);
    bestCpu = std::min(bestCpu, r.cpu);
    peak = std::max(peak, r.peakKiB);
  }
  const double pairsBytes = 20.0 * static_cast<double>(lines);
  std::printf("wavepack end to end: %.3f s wall (%.0f MB/s of CSV), %.3f s CPU (%.0f MB/s)\n",
              bestWall, megabytes / bestWall, bestCpu, megabytes / bestCpu);
  std::printf(
      "peak resident memory: %.1f MB (budget: 20 B/pair = %.1f MB + file %.1f MB = %.1f MB)\n",
      peak / 1024.0, pairsBytes / 1e6, megabytes, pairsBytes / 1e6 + megabytes);
  std::printf("output: %.1f MB\n", static_cast<double>(fs::file_size(arb)) / 1e6);
  fs::remove_all(dir);
  return 0;
}
