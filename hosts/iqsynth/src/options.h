// Command line of iqsynth: the settings of one synthesis run, their parser and
// the checks that keep every value inside what the synthesis library accepts.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "carrier_phases.h"
#include "host_cli.h"
#include "names.h"

namespace arbsuite::iqsynth_host {

// Exit statuses of iqsynth.
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 1;      // unknown option, bad or missing value
inline constexpr int kExitInput = 2;      // constellation or taps file unreadable or malformed
inline constexpr int kExitSynthesis = 3;  // runIqSynth reported an error
inline constexpr int kExitOutput = 4;     // the .arb, CSV, plot or log file cannot be written
inline constexpr int kExitInternal = 5;   // unexpected failure: out of memory, library missing

// Limits the host keeps so that no run asks the library for more than it holds.
inline constexpr int kMaxOversampling = 32;
inline constexpr int kMaxFilterSpan = 128;
inline constexpr int kMaxPatternCharacters = 2048;
inline constexpr int kMaxRampRows = 32;
inline constexpr int kMaxCarriers = 8192;
inline constexpr int kMaxConstellationPoints = 256;
inline constexpr long long kMaxSamples = 1LL << 24;  // per channel, any mode
// Largest constellation or taps file read: 4,096 taps or 256 points need a small
// fraction of it, even written with every digit and comments.
inline constexpr std::size_t kMaxInputFileBytes = 1 << 20;

// A bad command line (kExitUsage).
using arbsuite::cli::UsageError;
struct InputError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

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

enum class Action { Run, Help, Version };

struct ParseResult {
  Action action = Action::Run;
  Options options;
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

// Parses and checks the arguments (argv[0] excluded). Throws UsageError with
// the option named in its message.
ParseResult parseCommandLine(const std::vector<std::string>& args);

// Parses and checks the settings of a run whose samples go back to the caller (a
// host module), given as options of the command line: the same names, values and
// checks, but no output option is needed. Throws UsageError, also for --help and
// --version.
Options parseSettings(const std::vector<std::string>& args);

// The options of the command line by their long names (without the dashes), and
// whether each is a flag that takes no value.
struct OptionName {
  std::string name;
  bool flag = false;
};
std::vector<OptionName> optionNames();

// Reads the constellation and taps files named by the options. Throws InputError.
void loadInputFiles(Options& options);

// Frequency text such as 1e6, 2.5MHz, 250k, 10kHz, 1G: hertz. Throws UsageError.
using arbsuite::cli::parseFrequency;

// Complex points from text: one point per line, real and imaginary part separated
// by a comma, semicolon or spaces; blank lines, # comments and a header line
// that starts with a letter are skipped. Throws InputError naming the line.
std::vector<double> parsePoints(const std::string& text, const std::string& origin);
// Numbers separated by commas, semicolons, spaces or line ends; # comments.
std::vector<double> parseNumbers(const std::string& text, const std::string& origin);

// The generated help, with the name lists, examples and exit statuses at its end.
std::string helpText();
std::string versionText();

// Sample rate of the run's output in hertz (digital: symbol rate x oversampling;
// noise: the noise rate). Multi-carrier rates are known only after the library
// has chosen them.
double outputRate(const Options& options);

}  // namespace arbsuite::iqsynth_host
