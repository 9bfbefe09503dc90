// Whole synthesis runs as a host makes them: 1,000,000 QPSK symbols from PRBS23, 8 samples
// per symbol, root raised cosine over 16 symbols (alpha 0.35), 14-bit output into host
// arrays; each without and with noise at 20 dB CNR, with the run log (iqSynthRun.log in the
// working directory, about 720 MB per run: run it from a scratch folder) and without it.
// The library's standard output is off (IQSYNTH_STDOUT=0) except in the "defaults" run,
// where it is formatted and dropped. The log benchmarks repeat the run's own log calls in
// isolation, so their times give the log's share of the run:
//   cd "$(mktemp -d)" && <build>/bin/iqsynth_bench_runIqSynth --benchmark_repetitions=3
// The CPU column of the whole runs is the process's (every thread's) CPU time. Counters:
// items_per_second (output samples per second of real time), log_MiB (bytes the run added
// to the log), peak_RSS_MiB (the process's peak resident memory so far).
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <valarray>
#include <vector>

#include "bench_support.h"
#include "iqSynthCfg.h"
#include "iqSynthLog.h"
#include "iqSynthRun.h"
#include "iqsynth.h"

using namespace arbsuite::iqsynth;  // the library's internals under test

namespace {

constexpr int kSymbols = 1000000;
constexpr int kOversampling = 8;
constexpr int kFilterSpan = 16;
constexpr std::size_t kSamples = static_cast<std::size_t>(kSymbols) * kOversampling;
constexpr std::size_t kTrackSamples =
    static_cast<std::size_t>(kSymbols + kFilterSpan) * kOversampling;

double logFileMiB() {
  flushLog();
  struct stat st {};
  if (stat(iqSynthLog::kDefaultFileName, &st) != 0) {
    return 0.0;
  }
  return static_cast<double>(st.st_size) / (1024.0 * 1024.0);
}

void configureJob(bool noise) {
  setWorkingMode(iqSynthCfg::WORKING_MODE_DIGITAL);
  setDigiModulatingType(iqSynthCfg::MOD_QPSK);
  setDataSrc(iqSynthCfg::DATA_SRC_PRBS);
  setPrbs(iqSynthCfg::PRBS23);
  setCodingType(iqSynthCfg::CODING_NONE);
  setSequenceLenth(kSymbols);
  setOverSamplingRate(kOversampling);
  setFilterLengh(kFilterSpan);
  setShapingFilterType(iqSynthCfg::FILTER_ROOT_RAISED_COSINE);
  setAlphaBt(0.35);
  setSymbolRate(1e6);
  setPowerRampEnable(false);
  setSigAddNoiseIsEnable(noise ? 1 : 0);
  setNoiseSystemBandwidth(1e6);
  setBandWidthRatio(2.0);
  setNoiseCNR(20.0);
}

enum class Output { NoLog, Log, Defaults };

void BM_runIqSynth_Qpsk(benchmark::State& state, bool noise, Output output) {
  configureJob(noise);
  // A fresh log per benchmark: each starts from an empty file.
  iqSynthLogClass::m_iqSynthLog.reopen(output == Output::NoLog ? nullptr
                                                               : iqSynthLog::kDefaultFileName);
  setStdoutEnabled(output == Output::Defaults);
  std::vector<short> iOut(kSamples), qOut(kSamples);
  bench::DiscardStdout quiet;
  double logged = 0.0;
  for (auto _ : state) {
    const double before = logFileMiB();
    if (runIqSynth(iOut.data(), qOut.data()) != 0) {
      state.SkipWithError("runIqSynth failed");
      break;
    }
    state.PauseTiming();
    logged += logFileMiB() - before;
    state.ResumeTiming();
  }
  setStdoutEnabled(true);
  iqSynthLogClass::m_iqSynthLog.reopen(iqSynthLog::kDefaultFileName);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kSamples));
  state.counters["log_MiB"] = logged / static_cast<double>(state.iterations());
  state.counters["peak_RSS_MiB"] = bench::peakResidentMiB();
}
BENCHMARK_CAPTURE(BM_runIqSynth_Qpsk, noLog, false, Output::NoLog)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->MeasureProcessCPUTime()
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_runIqSynth_Qpsk, log, false, Output::Log)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->MeasureProcessCPUTime()
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_runIqSynth_Qpsk, noise_noLog, true, Output::NoLog)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->MeasureProcessCPUTime()
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_runIqSynth_Qpsk, noise_log, true, Output::Log)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->MeasureProcessCPUTime()
    ->UseRealTime();
// Today's defaults for a host that sets nothing: the log and the standard-output lines.
BENCHMARK_CAPTURE(BM_runIqSynth_Qpsk, noise_defaults, true, Output::Defaults)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

// The run driver's output section: one line per I and per Q sample.
void BM_log_outputSamples(benchmark::State& state) {
  std::vector<short> iOut(kSamples), qOut(kSamples);
  for (std::size_t k = 0; k < kSamples; ++k) {
    iOut[k] = static_cast<short>((k * 7919) % 16384 - 8192);
    qOut[k] = static_cast<short>((k * 104729) % 16384 - 8192);
  }
  for (auto _ : state) {
    const double before = logFileMiB();
    writeSampleLog(iOut.data(), qOut.data(), kSamples);
    state.PauseTiming();
    state.counters["log_MiB"] = logFileMiB() - before;
    state.ResumeTiming();
  }
}
BENCHMARK(BM_log_outputSamples)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// The list dumps the digital pipeline writes for a QPSK run: the coded symbol
// track and the mapped I and Q tracks, one entry per sample each.
void BM_log_pipelineDumps(benchmark::State& state) {
  std::valarray<short> symbols(static_cast<short>(0), kTrackSamples);
  std::valarray<double> track(0.0, kTrackSamples);
  for (std::size_t k = 0; k < kTrackSamples; k += kOversampling) {
    symbols[k] = static_cast<short>(k % 4);
    track[k] = (k % 3 == 0) ? 0.707107 : -0.707107;
  }
  for (auto _ : state) {
    const double before = logFileMiB();
    ite_print(symbols);
    ite_print(track);
    ite_print(track);
    state.PauseTiming();
    state.counters["log_MiB"] = logFileMiB() - before;
    state.ResumeTiming();
  }
}
BENCHMARK(BM_log_pipelineDumps)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// The largest multi-carrier comb: 8192 carriers over a 65536-sample record.
void BM_runIqSynth_Mccw8192(benchmark::State& state) {
  iqSynthLogClass::m_iqSynthLog.reopen(iqSynthLog::kDefaultFileName);
  setWorkingMode(iqSynthCfg::WORKING_MODE_MCCW);
  setSigAddNoiseIsEnable(0);
  setPowerRampEnable(false);
  setMccwCarrierItem(8192);
  setMccwCarrierSpacing(1e3);
  std::vector<char> on(8192, 1);
  std::vector<double> levels(8192, 0.0), phases(8192, 0.0);
  setMccwCarrierEn(on.data());
  setMccwCarrierSAmp(levels.data());
  setMccwCarrierPhase(phases.data());
  setMccwOptCrestFactorEn(1);
  bench::DiscardStdout quiet;
  runMccwCarrierParamGen();
  std::vector<short> iOut(static_cast<std::size_t>(getMccwCarrierSample()));
  std::vector<short> qOut(iOut.size());
  for (auto _ : state) {
    if (runIqSynth(iOut.data(), qOut.data()) != 0) {
      state.SkipWithError("runIqSynth failed");
      break;
    }
  }
  state.counters["samples"] = static_cast<double>(iOut.size());
}
BENCHMARK(BM_runIqSynth_Mccw8192)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
