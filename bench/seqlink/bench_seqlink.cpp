// Throughput of the seqlink paths that scale with the data: writing a multi-segment
// file (one encryption over all samples), reading samples back (decryption), the
// level scaling of outputIQDataAndInf, the display formatting of a text header, and
// the reading of a configuration of many segments.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "arb_readers.h"
#include "segment_config.h"
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
    ->Unit(benchmark::kMillisecond);

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
    if (seqlink::readMultiSegConfigText(line, output, &count, &total) != 0 ||
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
  for (auto _ : state) benchmark::DoNotOptimize(seqlink::formatTextForDisplay(text));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_FormatTextForDisplay);

}  // namespace

BENCHMARK_MAIN();
