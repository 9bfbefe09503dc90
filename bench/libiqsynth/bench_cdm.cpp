// Throughput of the digital modulation pipeline and of its pulse-shaping FIR on the reference
// job: 1,000,000 QPSK symbols, 8 samples per symbol, root raised cosine over 16 symbols,
// alpha 0.35 (128 taps). Counters: output samples per second (complex samples: one I and one
// Q value) and the process's peak resident memory so far.
//
// The pipeline writes its run log to iqSynthRun.log in the working directory (three list dumps
// of the whole track, about 600 MB for this job); run it from a scratch directory, with the
// log linked to /dev/null to leave the disk out of the figure:
//   cd "$(mktemp -d)" && ln -s /dev/null iqSynthRun.log && <build>/bin/iqsynth_bench_cdm
// Standard output written by the stages (one line per symbol) is formatted and discarded.
//
// With liquid-dsp (Debian libliquid-dev) found at configure time, its firinterp_crcf does the
// pulse-shaping job too, on its own and alternating with runIQFilter in one case that prints the
// ratio of the two (counter speedup_vs_liquid), and alternating with a whole runIqSynth of the
// job without log and standard output (counter ratio_vs_liquid: liquid's time over the run's).
#include <benchmark/benchmark.h>
#include <time.h>

#include <complex>  // before liquid.h: its complex type is then std::complex<float>
#include <random>
#include <string>
#include <valarray>
#include <vector>

#ifdef ARBSUITE_HAVE_LIQUID
#include <liquid/liquid.h>
#endif

#include "FilterHann.h"
#include "bench_support.h"
#include "cdmModulation.h"
#include "firKernel.h"
#include "iqSynthCfg.h"
#include "iqSynthFilter.h"
#include "iqSynthLog.h"
#include "iqsynth.h"

using namespace arbsuite::iqsynth;  // the library's internals under test

namespace {

constexpr int kSymbols = 1000000;
constexpr int kOversampling = 8;
constexpr int kFilterSpan = 16;
constexpr double kRollOff = 0.35;

void configureQpskJob() {
  iqSynthCfg& cfg = gIqSynthCfg;
  cfg.workingMode = iqSynthCfg::WORKING_MODE_DIGITAL;
  cfg.digiModulatingType = iqSynthCfg::MOD_QPSK;
  cfg.dataSrc = iqSynthCfg::DATA_SRC_PRBS;
  cfg.prbs = iqSynthCfg::PRBS23;
  cfg.codingType = iqSynthCfg::CODING_NONE;
  cfg.sequenceLength = kSymbols;
  cfg.overSamplingRate = kOversampling;
  cfg.filterLength = kFilterSpan;
  cfg.shapingFilterType = iqSynthCfg::FILTER_ROOT_RAISED_COSINE;
  cfg.AlphaBt = kRollOff;
  cfg.symbolRate = 1e6;
  cfg.sampleLength = kSymbols * kOversampling;
}

void reportCounters(benchmark::State& state, double samplesPerRun) {
  state.counters["samples_per_s"] = benchmark::Counter(
      samplesPerRun * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["peak_RSS_MiB"] = bench::peakResidentMiB();
}

// The whole pipeline: PRBS data, QPSK mapping, lead-in, shaping of I and Q, with the
// pipeline's own logging (not the per-sample output log of the run driver).
void BM_runCDMModulation(benchmark::State& state) {
  configureQpskJob();
  bench::DiscardStdout quiet;
  for (auto _ : state) {
    benchmark::DoNotOptimize(runCDMModulation(gIqSynthCfg, {iMapDat, qMapDat, mapDat}));
  }
  reportCounters(state, static_cast<double>(kSymbols) * kOversampling);
}
BENCHMARK(BM_runCDMModulation)->Unit(benchmark::kMillisecond)->Iterations(1);

// One of the pipeline's list dumps: a whole track of the reference job written to the run log
// (the QPSK chain writes three: the data track, I and Q). Shows where the pipeline's time goes.
void BM_logListDump(benchmark::State& state) {
  const std::size_t total = static_cast<std::size_t>(kSymbols + kFilterSpan) * kOversampling;
  std::valarray<double> track(total);
  std::mt19937 gen(4);
  for (std::size_t p = 0; p < total; p += kOversampling) {
    track[p] = (gen() & 1u) ? 0.7071067811865476 : -0.7071067811865476;
  }
  for (auto _ : state) {
    ite_print(track);
  }
  state.counters["entries_per_s"] =
      benchmark::Counter(static_cast<double>(total) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}
BENCHMARK(BM_logListDump)->Unit(benchmark::kMillisecond)->Iterations(1);

// Upsampled QPSK tracks of the reference job, lead-in left empty.
void fillSymbolTracks(std::valarray<double>& i, std::valarray<double>& q) {
  const std::size_t total = static_cast<std::size_t>(kSymbols + kFilterSpan) * kOversampling;
  const std::size_t lead = static_cast<std::size_t>(kFilterSpan) * kOversampling;
  i.resize(total);
  q.resize(total);
  std::mt19937 gen(1);
  const double a = 0.7071067811865476;
  for (std::size_t p = lead; p < total; p += kOversampling) {
    i[p] = (gen() & 1u) ? a : -a;
    q[p] = (gen() & 1u) ? a : -a;
  }
}

// The pulse-shaping stage alone (runIQFilter: design, cyclic lead-in, FIR of I and Q): the
// job an interpolating FIR library does.
void BM_runIQFilter(benchmark::State& state) {
  configureQpskJob();
  std::valarray<double> symbolsI, symbolsQ;
  fillSymbolTracks(symbolsI, symbolsQ);
  std::valarray<double> i, q;
  bench::DiscardStdout quiet;
  for (auto _ : state) {
    state.PauseTiming();
    i = symbolsI;
    q = symbolsQ;
    state.ResumeTiming();
    benchmark::DoNotOptimize(runIQFilter(gIqSynthCfg, i, q));
  }
  reportCounters(state, static_cast<double>(kSymbols) * kOversampling);
}
BENCHMARK(BM_runIQFilter)->Unit(benchmark::kMillisecond)->Iterations(5);

// The FIR of one track of that job (causalFirInPlace) with each polyphase kernel forced: 0
// scalar, 1 AVX2, 2 AVX-512. A kernel the processor lacks is reported, not measured.
void BM_polyphaseKernel(benchmark::State& state) {
  const auto level = static_cast<arbsuite::SimdLevel>(state.range(0));
  if (arbsuite::usableSimdLevel(level) != level) {
    state.SkipWithError((std::string("the processor lacks ") + simdLevelName(level)).c_str());
    return;
  }
  configureQpskJob();
  std::valarray<double> taps;
  {
    bench::DiscardStdout quiet;
    genShapingFilter(gIqSynthCfg, taps);
  }
  std::valarray<double> symbolsI, symbolsQ;
  fillSymbolTracks(symbolsI, symbolsQ);
  std::valarray<double> x;
  for (auto _ : state) {
    state.PauseTiming();
    x = symbolsI;
    state.ResumeTiming();
    causalFirInPlace(x, taps, level);
    benchmark::ClobberMemory();
  }
  state.SetLabel(simdLevelName(level));
  state.counters["samples_per_s"] = benchmark::Counter(
      static_cast<double>(symbolsI.size()) * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate);
}
BENCHMARK(BM_polyphaseKernel)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->Iterations(5);

#ifdef ARBSUITE_HAVE_LIQUID
// The same job for liquid-dsp's interpolator: the same taps (as floats), the QPSK symbols of
// fillSymbolTracks as complex floats behind the lead-in's symbols (the last kFilterSpan ones,
// as the cyclic lead-in of runIQFilter has them), kOversampling outputs per symbol.
struct LiquidJob {
  std::vector<float> taps;
  std::vector<std::complex<float>> symbols;
  std::vector<std::complex<float>> out;

  LiquidJob() {
    configureQpskJob();
    std::valarray<double> designed;
    {
      bench::DiscardStdout quiet;
      genShapingFilter(gIqSynthCfg, designed);
    }
    taps.assign(std::begin(designed), std::end(designed));
    std::valarray<double> i, q;
    fillSymbolTracks(i, q);
    const std::size_t lead = static_cast<std::size_t>(kFilterSpan) * kOversampling;
    std::vector<std::complex<float>> data;
    for (std::size_t p = lead; p < i.size(); p += kOversampling) {
      data.emplace_back(static_cast<float>(i[p]), static_cast<float>(q[p]));
    }
    symbols.assign(data.end() - kFilterSpan, data.end());
    symbols.insert(symbols.end(), data.begin(), data.end());
    out.resize(symbols.size() * kOversampling);
  }

  // Design (the interpolator from the taps), the whole block, release: as runIQFilter does.
  void run() {
    firinterp_crcf interp =
        firinterp_crcf_create(kOversampling, taps.data(), static_cast<unsigned>(taps.size()));
    firinterp_crcf_execute_block(interp, symbols.data(), static_cast<unsigned>(symbols.size()),
                                 out.data());
    firinterp_crcf_destroy(interp);
  }
};

void BM_liquidFirinterp(benchmark::State& state) {
  LiquidJob job;
  for (auto _ : state) {
    job.run();
    benchmark::DoNotOptimize(job.out.data());
    benchmark::ClobberMemory();
  }
  reportCounters(state, static_cast<double>(kSymbols) * kOversampling);
}
BENCHMARK(BM_liquidFirinterp)->Unit(benchmark::kMillisecond)->Iterations(5);

double threadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// runIQFilter and liquid's job alternately in every iteration, each timed on the thread's CPU
// clock, so that both see the same machine load: the ratio of their rates.
void BM_runIQFilterVsLiquid(benchmark::State& state) {
  configureQpskJob();
  LiquidJob job;
  std::valarray<double> symbolsI, symbolsQ;
  fillSymbolTracks(symbolsI, symbolsQ);
  std::valarray<double> i, q;
  bench::DiscardStdout quiet;
  double ours = 0.0;
  double theirs = 0.0;
  for (auto _ : state) {
    i = symbolsI;
    q = symbolsQ;
    const double t0 = threadSeconds();
    benchmark::DoNotOptimize(runIQFilter(gIqSynthCfg, i, q));
    const double t1 = threadSeconds();
    job.run();
    benchmark::DoNotOptimize(job.out.data());
    const double t2 = threadSeconds();
    ours += t1 - t0;
    theirs += t2 - t1;
  }
  const double samples =
      static_cast<double>(kSymbols) * kOversampling * static_cast<double>(state.iterations());
  state.counters["iqsynth_samples_per_s"] = samples / ours;
  state.counters["liquid_samples_per_s"] = samples / theirs;
  state.counters["speedup_vs_liquid"] = theirs / ours;
}
BENCHMARK(BM_runIQFilterVsLiquid)->Unit(benchmark::kMillisecond)->Iterations(10);

double wallSeconds() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// A whole runIqSynth of the reference job as a host makes it (no log, no standard output,
// 14-bit samples into the host's arrays) and liquid's interpolator alone on the same job,
// alternately in every iteration and each timed on the wall clock (the run's page faults and
// allocations count): ratio_vs_liquid is liquid's time over the run's, at least 1 when the
// whole run is as fast as liquid's filter alone.
void BM_runIqSynthVsLiquid(benchmark::State& state) {
  configureQpskJob();
  gIqSynthCfg.powerRampEnable = false;
  gIqSynthCfg.sigAddNoiseIsEnable = 0;
  LiquidJob job;
  iqSynthLogClass::m_iqSynthLog.reopen(nullptr);
  setStdoutEnabled(false);
  const std::size_t samples = static_cast<std::size_t>(kSymbols) * kOversampling;
  std::vector<short> iOut(samples), qOut(samples);
  double ours = 0.0;
  double theirs = 0.0;
  for (auto _ : state) {
    const double t0 = wallSeconds();
    if (runIqSynth(iOut.data(), qOut.data()) != 0) {
      state.SkipWithError("runIqSynth failed");
      break;
    }
    const double t1 = wallSeconds();
    job.run();
    benchmark::DoNotOptimize(job.out.data());
    benchmark::ClobberMemory();
    const double t2 = wallSeconds();
    ours += t1 - t0;
    theirs += t2 - t1;
  }
  setStdoutEnabled(true);
  iqSynthLogClass::m_iqSynthLog.reopen(iqSynthLog::kDefaultFileName);
  const double total = static_cast<double>(samples) * static_cast<double>(state.iterations());
  state.counters["run_samples_per_s"] = total / ours;
  state.counters["liquid_samples_per_s"] = total / theirs;
  state.counters["ratio_vs_liquid"] = theirs / ours;
}
BENCHMARK(BM_runIqSynthVsLiquid)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();
#endif

// The FIR of one track given dense input (every sample non-zero): the plain 128-product
// direct sum, for comparison with the polyphase form above.
void BM_denseFir(benchmark::State& state) {
  configureQpskJob();
  std::valarray<double> taps;
  {
    bench::DiscardStdout quiet;
    genShapingFilter(gIqSynthCfg, taps);
  }
  const std::size_t total = static_cast<std::size_t>(kSymbols + kFilterSpan) * kOversampling;
  std::valarray<double> dense(total);
  std::mt19937 gen(2);
  for (double& v : dense) {
    v = static_cast<double>(gen() % 1000 + 1) / 1000.0;
  }
  std::valarray<double> x;
  for (auto _ : state) {
    state.PauseTiming();
    x = dense;
    state.ResumeTiming();
    benchmark::DoNotOptimize(filteringDat2(x, taps));
  }
  state.counters["samples_per_s"] =
      benchmark::Counter(static_cast<double>(total) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}
BENCHMARK(BM_denseFir)->Unit(benchmark::kMillisecond)->Iterations(3);

// Band-limited noise filtering: 1999-tap windowed sinc over a long record by block FFT.
void BM_filterWinFFT(benchmark::State& state) {
  const unsigned n = static_cast<unsigned>(state.range(0));
  std::vector<double> x(n), y(n);
  std::mt19937 gen(3);
  std::normal_distribution<double> noise;
  for (double& v : x) {
    v = noise(gen);
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(filterWinFFT(1999, 0.2 * 3.141592653589793, x.data(), n, y.data()));
  }
  state.counters["samples_per_s"] =
      benchmark::Counter(static_cast<double>(n) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}
BENCHMARK(BM_filterWinFFT)->Arg(14386)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
