// Drives libiqsynth through its exported interface: sets the library's environment,
// loads it, sets the configuration from the settings, sizes the sample arrays, runs
// the synthesis and reads back results.
#include "iq_synthesis.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <vector>

#include "arb_format.h"
#include "carrier_phases.h"
#include "frequency_text.h"
#include "synthesis_library.h"
#include "synthesis_statuses.h"

namespace arbsuite::iqsynth_host {
namespace {

void setRamp(const SynthesisLibrary& lib, const Options& o) {
  lib.setPowerRampEnable(!o.ramp.empty());
  if (o.ramp.empty()) {
    lib.setPowerRampItem(0);
    return;
  }
  std::vector<int> starts;
  std::vector<double> levels;
  for (const auto& row : o.ramp) {
    starts.push_back(row.startSymbol);
    levels.push_back(row.levelDb);
  }
  lib.setPowerRampFunc(o.rampShape);
  lib.setPowerRampTime(o.rampTime);
  lib.setPowerRampItem(static_cast<int>(o.ramp.size()));
  lib.setPowerRampStartSymbol(starts.data());
  lib.setPowerRampAttenuation(levels.data());
}

void setAddedNoise(const SynthesisLibrary& lib, const Options& o, double defaultBandwidth,
                   SynthesisResult& result) {
  lib.setSigAddNoiseIsEnable(o.cnr ? 1 : 0);
  result.systemBandwidth = o.systemBandwidth.value_or(defaultBandwidth);
  lib.setNoiseCNR(o.cnr.value_or(0));
  lib.setNoiseSystemBandwidth(result.systemBandwidth);
  lib.setBandWidthRatio(o.bandwidthRatio);
}

std::size_t configureDigital(const SynthesisLibrary& lib, const Options& o,
                             SynthesisResult& result) {
  lib.setWorkingMode(IQSYNTH_WORKING_MODE_DIGITAL);
  lib.setSequenceLenth(o.symbols);
  lib.setSymbolRate(o.symbolRate);
  lib.setOverSamplingRate(o.oversampling);
  lib.setFilterLengh(o.filterSpan);
  lib.setShapingFilterType(o.filterType);
  lib.setAlphaBt(o.alphaBt);
  if (o.filterType == IQSYNTH_FILTER_USER)
    lib.setShapingFilterCoef(o.taps.data());  // after R and span
  if (o.modulation == IQSYNTH_MOD_FAMILY_USER) {
    lib.setDigiModulatingType(IQSYNTH_MOD_FAMILY_USER);
    lib.setUsrModulatingSymbolItem(static_cast<int>(o.constellation.size() / 2));
    lib.setUsrModulatingConstelMap(o.constellation.data());
  } else {
    lib.setDigiModulatingType(o.modulation);
  }
  lib.setDataSrc(o.dataSrc);
  lib.setPrbs(o.prbs);
  if (o.dataSrc == IQSYNTH_DATA_SRC_PATTERN) {
    lib.setDataFormatIsHex(o.patternIsHex);
    lib.setUsrListSize(static_cast<int>(o.pattern.size()));
    lib.setUsrList(o.pattern.c_str());
  }
  if (o.dataSrc == IQSYNTH_DATA_SRC_FILE) lib.setDataFileList(o.dataFile.c_str());
  lib.setCodingType(o.coding);
  lib.setMaxFskDev(o.fskDeviation.value_or(o.symbolRate / 4));
  lib.setMaxAskDepth(o.askDepth);
  setRamp(lib, o);
  setAddedNoise(lib, o, o.symbolRate, result);
  result.wave.sampleRate = o.symbolRate * o.oversampling;
  return static_cast<std::size_t>(o.symbols) * static_cast<std::size_t>(o.oversampling);
}

std::size_t configureNoise(const SynthesisLibrary& lib, const Options& o, SynthesisResult& result) {
  lib.setWorkingMode(IQSYNTH_WORKING_MODE_AWGN);
  lib.setDigiModulatingType(0);
  lib.setPowerRampEnable(false);
  lib.setSigAddNoiseIsEnable(0);
  lib.setNoiseSampleRate(o.noiseRate);
  lib.setNoiseSeqLength(o.noiseSamples);
  result.systemBandwidth = o.systemBandwidth.value_or(o.noiseRate / 2);
  lib.setNoiseSystemBandwidth(result.systemBandwidth);
  lib.setBandWidthRatio(o.bandwidthRatio);
  result.wave.sampleRate = o.noiseRate;
  return static_cast<std::size_t>(o.noiseSamples);
}

std::size_t configureMultiCarrier(const SynthesisLibrary& lib, const Options& o,
                                  SynthesisResult& result) {
  lib.setWorkingMode(IQSYNTH_WORKING_MODE_MCCW);
  lib.setDigiModulatingType(0);
  lib.setMccwCarrierItem(o.carriers);
  lib.setMccwCarrierSpacing(o.spacing);
  const auto levels = perCarrier(o.levels, o.carriers, 0.0);
  const auto phases = carrierPhases(o, o.seed.value_or(0));
  const auto switches = perCarrier(o.switches, o.carriers, char{1});
  lib.setMccwCarrierSAmp(levels.data());
  lib.setMccwCarrierPhase(phases.data());
  lib.setMccwCarrierEn(switches.data());
  // The law replaces the phases; --phases and --crest-law exclude each other.
  lib.setMccwOptCrestFactorEn(o.crestLaw ? 1 : 0);
  lib.runMccwCarrierParamGen();
  const int samples = lib.getMccwCarrierSample();
  const double rate = lib.getMccwCarrierSampleFreq();
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
                                arbsuite::frequencyText(o.spacing) + " need a sample clock of " +
                                arbsuite::frequencyText(rate) +
                                ", not a clock the instrument plays (" + arb::kPlayableClockText +
                                "); change the spacing or the number of carriers");
  }
  // The noise stage takes its sample rate from symbol rate x oversampling and
  // the ramp counts in symbols: one "symbol" per sample makes both right.
  lib.setSymbolRate(rate);
  lib.setOverSamplingRate(1);
  lib.setSequenceLenth(samples);
  if (!o.ramp.empty() && o.ramp.back().startSymbol + o.rampTime > samples) {
    throw SynthesisError(
        0, "--ramp: the last row starts at sample " + std::to_string(o.ramp.back().startSymbol) +
               " and its ramp ends after the " + std::to_string(samples) + " samples of the comb");
  }
  setRamp(lib, o);
  setAddedNoise(lib, o, o.carriers * o.spacing, result);
  result.wave.sampleRate = rate;
  return static_cast<std::size_t>(samples);
}

// The library only reports a log it cannot open on standard output, which the
// program keeps quiet: find out before the run, without creating the file (the
// library does that when it loads).
void checkLogWritable(const std::string& path) {
  std::error_code error;
  const bool exists = std::filesystem::exists(path, error);
  if (exists && std::filesystem::is_directory(path, error)) {
    throw OutputError("cannot write the run log " + path + ": it is a folder");
  }
  int status = 0;
  if (exists) {
    status = ::access(path.c_str(), W_OK);
  } else {
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    status = ::access(folder.empty() ? "." : folder.c_str(), W_OK | X_OK);
  }
  if (status != 0) {
    throw OutputError("cannot write the run log " + path + ": " + std::strerror(errno));
  }
}

// What the library reads from the environment; see synthesise.
void setLibraryEnvironment(const Options& o) {
  if (!o.logPath.empty()) checkLogWritable(o.logPath);
  const std::string seed = std::to_string(o.seed.value_or(0));
  const std::pair<const char*, const char*> settings[] = {
      {"IQSYNTH_RUN_LOG", o.logPath.c_str()},  // empty: no log at all
      {"IQSYNTH_STDOUT", o.verbose ? "1" : "0"},
      {"GSL_RNG_SEED", seed.c_str()}};
  for (const auto& [name, value] : settings) {
    if (::setenv(name, value, 1) != 0) {
      throw std::runtime_error(std::string("cannot set ") + name + ": " + std::strerror(errno));
    }
  }
}

}  // namespace

std::uint32_t drawSeed() {
  try {
    std::random_device device;
    return device();
  } catch (const std::exception&) {
    // No entropy source: the clock's nanoseconds, folded to 32 bits.
    const auto ticks =
        static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
    return static_cast<std::uint32_t>(ticks ^ (ticks >> 32));
  }
}

SynthesisResult synthesise(const Options& o, const LibraryCandidates& candidates) {
  setLibraryEnvironment(o);
  const SynthesisLibrary& lib = loadSynthesisLibrary(candidates);
  SynthesisResult result;
  std::size_t samples = 0;
  switch (o.mode) {
    case IQSYNTH_WORKING_MODE_AWGN:
      samples = configureNoise(lib, o, result);
      break;
    case IQSYNTH_WORKING_MODE_MCCW:
      samples = configureMultiCarrier(lib, o, result);
      break;
    default:
      samples = configureDigital(lib, o, result);
      break;
  }
  // One spare entry keeps data() valid for a zero count.
  result.wave.i.assign(samples + 1, 0);
  result.wave.q.assign(samples + 1, 0);
  const int status = lib.runIqSynth(result.wave.i.data(), result.wave.q.data());
  if (status != 0) {
    throw SynthesisError(
        status,
        "synthesis failed: " + synthesisStatusWords(status) + " (status " + std::to_string(status) +
            "; " +
            (o.logPath.empty() ? "--log FILE keeps the details" : "details in " + o.logPath) + ")");
  }
  result.wave.i.resize(samples);
  result.wave.q.resize(samples);
  if (o.mode == IQSYNTH_WORKING_MODE_DIGITAL) result.filterTaps = lib.getFilterTap();
  if (o.mode == IQSYNTH_WORKING_MODE_AWGN || o.cnr) {
    NoiseLevels& n = result.noise;
    n.present = true;
    n.added = o.mode != IQSYNTH_WORKING_MODE_AWGN;
    n.noiseBandwidth = lib.getNoiseBandWidth();
    n.noiseLevelSystem = lib.getNoiseLvlSysBW();
    n.noiseLevelTotal = lib.getNoiseLvlTotalBW();
    n.peakLevel = lib.getSigLvlPep();
    n.carrierLevel = lib.getCarrierLvldB();
    n.signalLevel = lib.getSigLvldB();
  }
  return result;
}

}  // namespace arbsuite::iqsynth_host
