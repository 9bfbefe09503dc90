// Throughput of the seqlink paths that scale with the data: writing a multi-segment
// file (encryption of all samples), reading samples back (decryption), the level
// scaling of outputIQDataAndInf, a whole join of two files through the three calls
// a host makes, the cost of one crypto call through the run-time binding, the
// display formatting of a text header, and the reading of a configuration of many
// segments. bench/seqlink/time-join.sh times the same join through arbtool, side
// by side with cat of the same bytes.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "arb_readers.h"
#include "crypto_binding.h"
#include "multi_segment_config.h"
#include "seqlink.h"

namespace {

std::string scratchPath(const char* name) {
  const char* base = std::getenv("TMPDIR");
  return std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/seqlink-bench-" +
         std::to_string(getpid()) + "-" + name;
}

std::vector<short> waveform(std::size_t pairs) {
  std::vector<short> values(2 * pairs);
  for (std::size_t i = 0; i < values.size(); ++i) {
    values[i] = static_cast<short>(std::lround(6000 * std::sin(0.001 * static_cast<double>(i))));
  }
  return values;
}

int writeMulti(const std::string& path, const std::vector<short>& samples) {
  std::vector<char> names(SEQLINK_NAME_SLOT, '\0');
  std::strcpy(names.data(), "Blank");
  const double clock = 1e8, energy = 1.0;
  const int count = static_cast<int>(samples.size() / 2);
  return crtMultiSegArb(names.data(), &clock, &count, &energy, 1, samples.data(),
                        static_cast<unsigned>(count), 0, path.c_str());
}

void BM_CrtMultiSegArb(benchmark::State& state) {
  const auto pairs = static_cast<std::size_t>(state.range(0));
  const std::vector<short> samples = waveform(pairs);
  const std::string path = scratchPath("write.arb");
  for (auto _ : state) {
    if (writeMulti(path, samples) != 0) state.SkipWithError("crtMultiSegArb failed");
  }
  std::remove(path.c_str());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * pairs * 4));
}
BENCHMARK(BM_CrtMultiSegArb)
    ->Arg(1 << 10)
    ->Arg(1 << 16)
    ->Arg(1 << 20)
    ->Arg(4000000)
    ->Unit(benchmark::kMillisecond);

void BM_ReadArbFileData(benchmark::State& state) {
  const auto pairs = static_cast<std::size_t>(state.range(0));
  const std::string path = scratchPath("read.arb");
  if (writeMulti(path, waveform(pairs)) != 0) {
    state.SkipWithError("crtMultiSegArb failed");
    return;
  }
  std::vector<short> out(2 * pairs);
  for (auto _ : state) {
    if (readArbFileData(path.c_str(), static_cast<int>(pairs), out.data()) != 0) {
      state.SkipWithError("readArbFileData failed");
    }
  }
  std::remove(path.c_str());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * pairs * 4));
}
BENCHMARK(BM_ReadArbFileData)
    ->Arg(1 << 10)
    ->Arg(1 << 16)
    ->Arg(1 << 20)
    ->Arg(4000000)
    ->Arg(4000001)
    ->Unit(benchmark::kMillisecond);

// One RC5 call on one block through the binding: load, look up, call, release.
void BM_CryptoBindingCall(benchmark::State& state) {
  std::uint8_t key[16] = {1, 2, 3};
  std::uint8_t block[8] = {};
  for (auto _ : state) {
    std::uint32_t produced = sizeof block;
    if (arbsuite::seqlink::cryptoEncOrDec(2, block, sizeof block, key, block, &produced, 0) != 0) {
      state.SkipWithError("EncOrDecOpt failed");
    }
    benchmark::DoNotOptimize(block);
  }
}
BENCHMARK(BM_CryptoBindingCall)->Unit(benchmark::kMicrosecond);

// A host's join of two files of range(0) pairs each, the second at half the level:
// readMultiSegConfig, outputIQDataAndInf into the host's buffer, crtMultiSegArb.
// range(1): 1 for level mode RMS (the first file is scaled down), 0 for UNCHANGED.
void BM_JoinTwoFiles(benchmark::State& state) {
  const auto pairs = static_cast<std::size_t>(state.range(0));
  const bool rms = state.range(1) != 0;
  const std::string first = scratchPath("join-a.arb");
  const std::string second = scratchPath("join-b.arb");
  const std::string config = scratchPath("join.txt");
  const std::string joinedPath = scratchPath("joined.arb");
  std::vector<short> samples = waveform(pairs);
  double energyA = 0;
  for (const short v : samples) energyA += (v / 8192.0) * (v / 8192.0);
  if (writeMulti(first, samples) != 0) {
    state.SkipWithError("crtMultiSegArb failed");
    return;
  }
  for (short& v : samples) v = static_cast<short>(v / 2);
  double energyB = 0;
  for (const short v : samples) energyB += (v / 8192.0) * (v / 8192.0);
  if (writeMulti(second, samples) != 0) {
    state.SkipWithError("crtMultiSegArb failed");
    return;
  }
  const std::string line =
      "{NUMBER SEGMENTS:2}{SEGMENT_0:\"" + first + "\",1e7," + std::to_string(pairs) + "," +
      std::to_string(energyA) + "}{SEGMENT_1:\"" + second + "\",1e7," + std::to_string(pairs) +
      "," + std::to_string(energyB) + "}{LEVEL MODE:" + (rms ? "RMS" : "UNCHANGED") +
      "}{CLOCKRATE MODE:UNCHANGED}{USER CLOCKRATE:0}{OUTPUT FILE:" + joinedPath +
      "}{SEGMENT MARKER:0}{FIRST SEGMENT RESTART MARKER:0}"
      "{EVERY SEGMENT RESTART MARKER:0}";
  if (std::FILE* f = std::fopen(config.c_str(), "w")) {
    std::fputs(line.c_str(), f);
    std::fclose(f);
  }
  for (auto _ : state) {
    char output[SEQLINK_NAME_SLOT];
    int segments = 0, total = 0;
    if (readMultiSegConfig(config.c_str(), output, &segments, &total) != 0) {
      state.SkipWithError("readMultiSegConfig failed");
      break;
    }
    std::vector<short> joined(2 * static_cast<std::size_t>(total));
    std::vector<char> names(SEQLINK_NAME_SLOT * 2);
    double clocks[2], energies[2];
    int counts[2];
    if (outputIQDataAndInf(joined.data(), names.data(), clocks, counts, energies) != 0 ||
        crtMultiSegArb(names.data(), clocks, counts, energies, 2, joined.data(),
                       static_cast<unsigned>(total), 0, output) != 0) {
      state.SkipWithError("the join failed");
      break;
    }
  }
  for (const std::string& path : {first, second, config, joinedPath}) std::remove(path.c_str());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * 2 * pairs * 4));
}
BENCHMARK(BM_JoinTwoFiles)->Args({4000000, 0})->Args({4000000, 1})->Unit(benchmark::kMillisecond);

void BM_OutputIQDataAndInfRms(benchmark::State& state) {
  // Two Blank segments and one file segment scaled to the quieter level.
  const auto pairs = static_cast<std::size_t>(state.range(0));
  const std::string wave = scratchPath("segment.arb");
  const std::string config = scratchPath("config.txt");
  const std::vector<short> samples = waveform(pairs);
  if (writeMulti(wave, samples) != 0) {
    state.SkipWithError("crtMultiSegArb failed");
    return;
  }
  double energy = 0;
  for (const short v : samples) energy += (v / 8192.0) * (v / 8192.0);
  char line[1024];
  std::snprintf(
      line, sizeof line,
      "{NUMBER SEGMENTS:2}{SEGMENT_0:\"%s\",1e8,%zu,%f}{SEGMENT_1:\"Blank\",1e8,%zu,%f}"
      "{LEVEL MODE:RMS}{CLOCKRATE MODE:HIGHEST}{USER CLOCKRATE:0}{OUTPUT FILE:o.arb}"
      "{SEGMENT MARKER:0}{FIRST SEGMENT RESTART MARKER:0}{EVERY SEGMENT RESTART MARKER:0}",
      wave.c_str(), pairs, energy, pairs, 0.01 * pairs);
  if (std::FILE* f = std::fopen(config.c_str(), "w")) {
    std::fputs(line, f);
    std::fclose(f);
  }
  char output[SEQLINK_NAME_SLOT];
  int segments = 0, total = 0;
  if (readMultiSegConfig(config.c_str(), output, &segments, &total) != 0) {
    state.SkipWithError("readMultiSegConfig failed");
    return;
  }
  std::vector<short> joined(2 * static_cast<std::size_t>(total));
  std::vector<char> names(SEQLINK_NAME_SLOT * 2);
  double clocks[2], energies[2];
  int counts[2];
  for (auto _ : state) {
    if (outputIQDataAndInf(joined.data(), names.data(), clocks, counts, energies) != 0) {
      state.SkipWithError("outputIQDataAndInf failed");
    }
  }
  std::remove(wave.c_str());
  std::remove(config.c_str());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * total * 4));
}
BENCHMARK(BM_OutputIQDataAndInfRms)->Arg(1 << 16)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

// A configuration of many segments (far more than a file holds, so beyond the line
// limit of readMultiSegConfig: parsed from memory), read and expanded: every
// SEGMENT_i lookup used to scan the line from its start, 62 s of CPU for 100,000.
void BM_ConfigurationOfManySegments(benchmark::State& state) {
  const auto segments = static_cast<int>(state.range(0));
  std::string line = "{NUMBER SEGMENTS:" + std::to_string(segments) + "}";
  for (int i = 0; i < segments; ++i) {
    line += "{SEGMENT_" + std::to_string(i) + ":\"Blank\",1e6,1,0}";
  }
  line +=
      "{LEVEL MODE:RMS}{CLOCKRATE MODE:HIGHEST}{USER CLOCKRATE:0}{OUTPUT FILE:o.arb}"
      "{SEGMENT MARKER:0}{FIRST SEGMENT RESTART MARKER:0}{EVERY SEGMENT RESTART MARKER:0}\n";
  std::vector<short> samples(2 * static_cast<std::size_t>(segments));
  std::vector<char> names(SEQLINK_NAME_SLOT * static_cast<std::size_t>(segments));
  std::vector<double> clocks(segments), energies(segments);
  std::vector<int> counts(segments);
  for (auto _ : state) {
    char output[SEQLINK_NAME_SLOT];
    int count = 0, total = 0;
    if (arbsuite::seqlink::readMultiSegConfigText(line, output, &count, &total) != 0 ||
        outputIQDataAndInf(samples.data(), names.data(), clocks.data(), counts.data(),
                           energies.data()) != 0) {
      state.SkipWithError("the configuration was refused");
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * line.size()));
}
BENCHMARK(BM_ConfigurationOfManySegments)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_FormatTextForDisplay(benchmark::State& state) {
  std::string text;
  for (int i = 0; i < 60; ++i)
    text += "{SEGMENT_" + std::to_string(i) + ":name.arb,100000000.000000,1000,1.5}";
  for (auto _ : state) benchmark::DoNotOptimize(arbsuite::seqlink::formatTextForDisplay(text));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_FormatTextForDisplay);

}  // namespace

BENCHMARK_MAIN();
