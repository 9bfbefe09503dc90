// The hosts' analysis on 16,000,000 samples held in memory: the stats figures of
// arbtool stats, and the plot sheet of arbtool plot in each picture format
// (Google Benchmark). With --make-arb PATH it writes the same waveform as an .arb
// file instead, for time-analysis.sh to time the programs end to end.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "arb_pack.h"
#include "plot_sheet.h"
#include "stats.h"

namespace {

constexpr std::size_t kSamples = 16000000;
constexpr int kOversampling = 4;
constexpr double kClockHz = 10e6;
constexpr double kSymbolRateHz = kClockHz / kOversampling;

// 16QAM symbols, PRBS-like from a fixed seed, shaped by a root-raised-cosine
// filter (roll-off 0.35, 8 symbols) at 4 samples per symbol, peak near 0.8 of full scale.
const std::vector<std::int16_t>& benchmarkWaveform() {
  static const std::vector<std::int16_t> samples = [] {
    constexpr int kSpan = 8;
    constexpr double kAlpha = 0.35;
    std::vector<double> taps;
    for (int k = -kSpan * kOversampling / 2; k <= kSpan * kOversampling / 2; ++k) {
      const double t = static_cast<double>(k) / kOversampling;
      const double pi = std::numbers::pi;
      double h = 0;
      if (k == 0) {
        h = 1 - kAlpha + 4 * kAlpha / pi;
      } else if (std::fabs(std::fabs(4 * kAlpha * t) - 1) < 1e-9) {
        h = kAlpha / std::sqrt(2.0) *
            ((1 + 2 / pi) * std::sin(pi / (4 * kAlpha)) +
             (1 - 2 / pi) * std::cos(pi / (4 * kAlpha)));
      } else {
        h = (std::sin(pi * t * (1 - kAlpha)) + 4 * kAlpha * t * std::cos(pi * t * (1 + kAlpha))) /
            (pi * t * (1 - 16 * kAlpha * kAlpha * t * t));
      }
      taps.push_back(h);
    }
    std::mt19937 generator(14);
    const std::size_t symbols = kSamples / kOversampling;
    std::vector<double> symbolI(symbols);
    std::vector<double> symbolQ(symbols);
    for (std::size_t n = 0; n < symbols; ++n) {
      symbolI[n] = static_cast<double>(generator() % 4) * 2 - 3;
      symbolQ[n] = static_cast<double>(generator() % 4) * 2 - 3;
    }
    std::vector<std::int16_t> iq(2 * kSamples);
    const int half = static_cast<int>(taps.size() / 2);
    for (std::size_t k = 0; k < kSamples; ++k) {
      double i = 0;
      double q = 0;
      // Only every kOversampling-th input is a symbol; the rest are zeros.
      for (std::size_t t = (k + half) % kOversampling; t < taps.size(); t += kOversampling) {
        const long n = (static_cast<long>(k) + half - static_cast<long>(t)) / kOversampling;
        if (n < 0 || n >= static_cast<long>(symbols)) continue;
        i += taps[t] * symbolI[static_cast<std::size_t>(n)];
        q += taps[t] * symbolQ[static_cast<std::size_t>(n)];
      }
      iq[2 * k] = static_cast<std::int16_t>(std::lround(900 * i));
      iq[2 * k + 1] = static_cast<std::int16_t>(std::lround(900 * q));
    }
    return iq;
  }();
  return samples;
}

arbsuite::analysis::Waveform waveform() {
  arbsuite::analysis::Waveform w;
  w.iq = benchmarkWaveform();
  w.clockHz = kClockHz;
  return w;
}

std::string scratchPath(const char* name) {
  const char* base = std::getenv("TMPDIR");
  return std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/analysis-bench-" +
         std::to_string(getpid()) + "-" + name;
}

void BM_Stats(benchmark::State& state) {
  const arbsuite::analysis::Waveform w = waveform();
  for (auto _ : state) {
    auto report = arbsuite::analysis::measureWaveform(w);
    benchmark::DoNotOptimize(report);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kSamples));
}
BENCHMARK(BM_Stats)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_PlotSheet(benchmark::State& state, const char* extension) {
  const arbsuite::analysis::Waveform w = waveform();
  arbsuite::analysis::PlotRequest request;
  request.output = scratchPath("sheet") + extension;
  request.symbolRateHz = kSymbolRateHz;
  request.title = "benchmark";
  for (auto _ : state) arbsuite::analysis::writePlot(w, request);
  std::remove(request.output.c_str());
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kSamples));
}
BENCHMARK_CAPTURE(BM_PlotSheet, png, ".png")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_PlotSheet, svg, ".svg")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_PlotSheet, pdf, ".pdf")->Unit(benchmark::kMillisecond)->Iterations(3);

// Writes the benchmark waveform as an .arb file through the packer.
int makeArb(const char* path) {
  arbsuite::Version1Fields fields;
  fields.dataSource = 1;
  fields.symbolRate = static_cast<int>(kSymbolRateHz);
  fields.modulationType = 0;
  fields.filterType = 2;
  fields.filterCoefficient = 0.35;
  fields.impulseLength = 8;
  fields.overSampling = kOversampling;
  const int status = arbsuite::packSamples(benchmarkWaveform(), fields, path);
  if (status != arbsuite::kPackOk) {
    std::fprintf(stderr, "cannot write %s (status %d)\n", path, status);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--make-arb") == 0) return makeArb(argv[2]);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
