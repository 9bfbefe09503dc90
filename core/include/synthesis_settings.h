// The settings of one synthesis run as plain data: what the iqsynth command line and
// the Python module's keywords fill, and what the synthesis run hands to libiqsynth.
// The limits keep every run inside what the library holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "carrier_phases.h"
// The defaults are values of the synthesis library's enumerations, by their names.
#include "iqsynth.h"

namespace arbsuite::iqsynth_host {

// Limits the host keeps so that no run asks the library for more than it holds.
inline constexpr int kMaxOversampling = 32;
inline constexpr int kMaxFilterSpan = 128;
inline constexpr int kMaxPatternCharacters = 2048;
inline constexpr int kMaxRampRows = 32;
inline constexpr int kMaxCarriers = 8192;
inline constexpr int kMaxConstellationPoints = 256;
inline constexpr long long kMaxSamples = 1LL << 24;  // per channel, any mode

struct RampRow {
  int startSymbol;
  double levelDb;
};

struct Options {
  int mode = IQSYNTH_WORKING_MODE_DIGITAL;
  std::string arbPath;
  std::string csvPath;
  std::string plotPath;  // .png, .svg or .pdf sheet of the waveform
  std::string logPath;   // the library's run log; empty: no log
  bool verbose = false;
  std::optional<std::uint32_t> seed;  // noise and random phases; unset: drawn for the run

  // Digital modulation.
  int modulation = IQSYNTH_MOD_QPSK;
  std::string constellationFile;
  std::vector<double> constellation;  // (re, im) pairs, read from constellationFile
  int symbols = 256;
  double symbolRate = 1e6;
  int oversampling = 4;
  int filterType = IQSYNTH_FILTER_RRC;
  double alphaBt = 0.35;
  int filterSpan = 8;
  std::string tapsFile;
  std::vector<double> taps;  // read from tapsFile
  int dataSrc = IQSYNTH_DATA_SRC_PRBS;
  int prbs = 9;
  std::string pattern;
  bool patternIsHex = false;
  std::string dataFile;
  int coding = IQSYNTH_CODING_NONE;
  std::optional<double> fskDeviation;  // default: a quarter of the symbol rate
  double askDepth = 1.0;
  std::vector<RampRow> ramp;
  double rampTime = 1.0;
  int rampShape = IQSYNTH_RAMP_COSINE;

  // Noise: added at a CNR (digital, mccw) or alone (noise mode).
  std::optional<double> cnr;
  std::optional<double> systemBandwidth;  // default: symbol rate, or half the noise rate
  double bandwidthRatio = 1.0;
  double noiseRate = 10e6;
  int noiseSamples = 4096;

  // Multi-carrier CW.
  int carriers = 8;
  double spacing = 100e3;
  std::vector<double> levels;  // dB, one for all or one per carrier
  PhaseLaw phaseLaw = PhaseLaw::List;
  std::vector<double> phases;  // rad, one for all or one per carrier (PhaseLaw::List)
  std::vector<char> switches;  // 1/0, one for all or one per carrier
  bool crestLaw = false;

  std::set<std::string> given;  // long names of the options on the command line (no dashes)
};

// The values of a per-carrier option (--levels, --phases, --switches) for every
// carrier: none gives fallback, one is for all, otherwise one per carrier.
template <typename T>
std::vector<T> perCarrier(const std::vector<T>& given, int carriers, T fallback) {
  const auto count = static_cast<std::size_t>(carriers);
  if (given.empty()) return std::vector<T>(count, fallback);
  if (given.size() == 1) return std::vector<T>(count, given.front());
  return given;
}

}  // namespace arbsuite::iqsynth_host
