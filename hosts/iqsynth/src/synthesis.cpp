// Drives libiqsynth through its exported interface: sets the configuration from
// the options, sizes the host arrays, runs the synthesis and reads back results.
#include "synthesis.h"

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <iostream>
#include <vector>

#include "arb_format.h"
#include "iqsynth.h"
#include "statuses.h"

namespace iqsynth_host {
namespace {

// Sends standard output to /dev/null while it lives (the library prints a line
// per PRBS symbol and per filter tap, which would bury the summary).
class QuietStdout {
 public:
  explicit QuietStdout(bool active) {
    if (!active) return;
    std::cout.flush();
    std::fflush(stdout);
    saved_ = ::dup(STDOUT_FILENO);
    const int sink = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ >= 0 && sink >= 0) ::dup2(sink, STDOUT_FILENO);
    if (sink >= 0) ::close(sink);
  }
  ~QuietStdout() {
    if (saved_ < 0) return;
    std::cout.flush();
    std::fflush(stdout);
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
  }
  QuietStdout(const QuietStdout&) = delete;
  QuietStdout& operator=(const QuietStdout&) = delete;

 private:
  int saved_ = -1;
};

template <typename T>
std::vector<T> perCarrier(const std::vector<T>& given, int carriers, T fallback) {
  if (given.empty()) return std::vector<T>(static_cast<std::size_t>(carriers), fallback);
  if (given.size() == 1) return std::vector<T>(static_cast<std::size_t>(carriers), given.front());
  return given;
}

void setRamp(const Options& o) {
  setPowerRampEnable(!o.ramp.empty());
  if (o.ramp.empty()) {
    setPowerRampItem(0);
    return;
  }
  std::vector<int> starts;
  std::vector<double> levels;
  for (const auto& row : o.ramp) {
    starts.push_back(row.startSymbol);
    levels.push_back(row.levelDb);
  }
  setPowerRampFunc(o.rampShape);
  setPowerRampTime(o.rampTime);
  setPowerRampItem(static_cast<int>(o.ramp.size()));
  setPowerRampStartSymbol(starts.data());
  setPowerRampAttenuation(levels.data());
}

void setAddedNoise(const Options& o, double defaultBandwidth, SynthesisResult& result) {
  setSigAddNoiseIsEnable(o.cnr ? 1 : 0);
  result.systemBandwidth = o.systemBandwidth.value_or(defaultBandwidth);
  setNoiseCNR(o.cnr.value_or(0));
  setNoiseSystemBandwidth(result.systemBandwidth);
  setBandWidthRatio(o.bandwidthRatio);
}

std::size_t configureDigital(const Options& o, SynthesisResult& result) {
  setWorkingMode(IQSYNTH_WORKING_MODE_DIGITAL);
  setSequenceLenth(o.symbols);
  setSymbolRate(o.symbolRate);
  setOverSamplingRate(o.oversampling);
  setFilterLengh(o.filterSpan);
  setShapingFilterType(o.filterType);
  setAlphaBt(o.alphaBt);
  if (o.filterType == IQSYNTH_FILTER_USER) setShapingFilterCoef(o.taps.data());  // after R and span
  if (o.modulation == IQSYNTH_MOD_FAMILY_USER) {
    setDigiModulatingType(IQSYNTH_MOD_FAMILY_USER);
    setUsrModulatingSymbolItem(static_cast<int>(o.constellation.size() / 2));
    setUsrModulatingConstelMap(o.constellation.data());
  } else {
    setDigiModulatingType(o.modulation);
  }
  setDataSrc(o.dataSrc);
  setPrbs(o.prbs);
  if (o.dataSrc == IQSYNTH_DATA_SRC_PATTERN) {
    setDataFormatIsHex(o.patternIsHex);
    setUsrListSize(static_cast<int>(o.pattern.size()));
    setUsrList(o.pattern.c_str());
  }
  if (o.dataSrc == IQSYNTH_DATA_SRC_FILE) setDataFileList(o.dataFile.c_str());
  setCodingType(o.coding);
  setMaxFskDev(o.fskDeviation.value_or(o.symbolRate / 4));
  setMaxAskDepth(o.askDepth);
  setRamp(o);
  setAddedNoise(o, o.symbolRate, result);
  result.wave.sampleRate = o.symbolRate * o.oversampling;
  return static_cast<std::size_t>(o.symbols) * static_cast<std::size_t>(o.oversampling);
}

std::size_t configureNoise(const Options& o, SynthesisResult& result) {
  setWorkingMode(IQSYNTH_WORKING_MODE_AWGN);
  setDigiModulatingType(0);
  setPowerRampEnable(false);
  setSigAddNoiseIsEnable(0);
  setNoiseSampleRate(o.noiseRate);
  setNoiseSeqLength(o.noiseSamples);
  result.systemBandwidth = o.systemBandwidth.value_or(o.noiseRate / 2);
  setNoiseSystemBandwidth(result.systemBandwidth);
  setBandWidthRatio(o.bandwidthRatio);
  result.wave.sampleRate = o.noiseRate;
  return static_cast<std::size_t>(o.noiseSamples);
}

std::size_t configureMultiCarrier(const Options& o, SynthesisResult& result) {
  setWorkingMode(IQSYNTH_WORKING_MODE_MCCW);
  setDigiModulatingType(0);
  setMccwCarrierItem(o.carriers);
  setMccwCarrierSpacing(o.spacing);
  const auto levels = perCarrier(o.levels, o.carriers, 0.0);
  const auto phases = perCarrier(o.phases, o.carriers, 0.0);
  const auto switches = perCarrier(o.switches, o.carriers, char{1});
  setMccwCarrierSAmp(levels.data());
  setMccwCarrierPhase(phases.data());
  setMccwCarrierEn(switches.data());
  setMccwOptCrestFactorEn(o.crestLaw ? 1 : 0);
  {
    QuietStdout quiet(!o.verbose);
    runMccwCarrierParamGen();
  }
  const int samples = getMccwCarrierSample();
  const double rate = getMccwCarrierSampleFreq();
  if (samples < 1 || samples > kMaxSamples) {
    throw SynthesisError(0, std::to_string(o.carriers) + " carriers spaced " +
                                std::to_string(o.spacing) + " Hz need a record of " +
                                std::to_string(samples) + " samples; the limit is 1 to " +
                                std::to_string(kMaxSamples));
  }
  // The library does not refuse combs wider than its sample rate; they would
  // alias onto other carriers.
  const double outermost = (o.carriers - 1) / 2.0 * o.spacing;
  if (!(outermost < rate / 2)) {
    throw SynthesisError(
        0, std::to_string(o.carriers) + " carriers spaced " + std::to_string(o.spacing) +
               " Hz reach " + std::to_string(outermost) + " Hz, not below half the sample rate " +
               std::to_string(rate) + " Hz; use fewer carriers or a smaller spacing");
  }
  if (!(rate >= 0.5 && rate < 2147483647.5)) {
    throw SynthesisError(
        0, "the comb's sample rate " + std::to_string(rate) + " Hz does not fit a 32-bit clock");
  }
  // The library chose the clock; it goes into the .arb header in whole hertz.
  if (!o.arbPath.empty() && !arb::isPlayableClock(std::round(rate))) {
    throw SynthesisError(0, std::to_string(o.carriers) + " carriers spaced " +
                                hosts_cli::Frequency{}.text(o.spacing) +
                                " need a sample clock of " + hosts_cli::Frequency{}.text(rate) +
                                ", not a clock the instrument plays (" + arb::kPlayableClockText +
                                "); change the spacing or the number of carriers");
  }
  // The noise stage takes its sample rate from symbol rate x oversampling and
  // the ramp counts in symbols: one "symbol" per sample makes both right.
  setSymbolRate(rate);
  setOverSamplingRate(1);
  setSequenceLenth(samples);
  if (!o.ramp.empty() && o.ramp.back().startSymbol + o.rampTime > samples) {
    throw SynthesisError(
        0, "--ramp: the last row starts at sample " + std::to_string(o.ramp.back().startSymbol) +
               " and its ramp ends after the " + std::to_string(samples) + " samples of the comb");
  }
  setRamp(o);
  setAddedNoise(o, o.carriers * o.spacing, result);
  result.wave.sampleRate = rate;
  return static_cast<std::size_t>(samples);
}

}  // namespace

SynthesisResult synthesise(const Options& o) {
  SynthesisResult result;
  std::size_t samples = 0;
  switch (o.mode) {
    case IQSYNTH_WORKING_MODE_AWGN:
      samples = configureNoise(o, result);
      break;
    case IQSYNTH_WORKING_MODE_MCCW:
      samples = configureMultiCarrier(o, result);
      break;
    default:
      samples = configureDigital(o, result);
      break;
  }
  // One spare entry keeps data() valid for a zero count.
  result.wave.i.assign(samples + 1, 0);
  result.wave.q.assign(samples + 1, 0);
  int status = 0;
  {
    QuietStdout quiet(!o.verbose);
    status = runIqSynth(result.wave.i.data(), result.wave.q.data());
  }
  if (status != 0) {
    throw SynthesisError(status, "synthesis failed: " + synthesisStatusWords(status) + " (status " +
                                     std::to_string(status) + "; details in iqSynthRun.log)");
  }
  result.wave.i.resize(samples);
  result.wave.q.resize(samples);
  if (o.mode == IQSYNTH_WORKING_MODE_DIGITAL) result.filterTaps = getFilterTap();
  if (o.mode == IQSYNTH_WORKING_MODE_AWGN || o.cnr) {
    NoiseLevels& n = result.noise;
    n.present = true;
    n.added = o.mode != IQSYNTH_WORKING_MODE_AWGN;
    n.noiseBandwidth = getNoiseBandWidth();
    n.noiseLevelSystem = getNoiseLvlSysBW();
    n.noiseLevelTotal = getNoiseLvlTotalBW();
    n.peakLevel = getSigLvlPep();
    n.carrierLevel = getCarrierLvldB();
    n.signalLevel = getSigLvldB();
  }
  return result;
}

}  // namespace iqsynth_host
