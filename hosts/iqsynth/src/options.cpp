// Parser of the iqsynth command line: the options declared with CLI11, grouped
// by the modes they apply to, each with a reader that checks its value.
#include "options.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "arb_format.h"
#include "plot_sheet.h"
#include "regular_file.h"

#ifndef ARBSUITE_VERSION
#define ARBSUITE_VERSION "unknown"
#endif

namespace iqsynth_host {
namespace {

using hosts_cli::Bound;
using hosts_cli::Frequency;
using hosts_cli::RealNumber;
using hosts_cli::WholeNumber;

constexpr unsigned kDigital = 1;
constexpr unsigned kNoise = 2;
constexpr unsigned kMccw = 4;
constexpr unsigned kAllModes = kDigital | kNoise | kMccw;

// The help's option groups and the modes their options apply to.
struct Section {
  const char* heading;
  unsigned modes;
};
constexpr Section kGeneral = {"Options", kAllModes};
constexpr Section kDigitalOnly = {"Digital modulation (--mode digital)", kDigital};
constexpr Section kRampAndCnr = {"Power ramp and added noise (--mode digital or mccw)",
                                 kDigital | kMccw};
constexpr Section kNoiseOnly = {"Noise mode (--mode noise)", kNoise};
constexpr Section kMccwOnly = {"Multi-carrier CW (--mode mccw)", kMccw};
constexpr Section kBandwidth = {"Noise bandwidth (every mode)", kAllModes};
constexpr Section kSections[] = {kGeneral,   kDigitalOnly, kRampAndCnr,
                                 kNoiseOnly, kMccwOnly,    kBandwidth};

std::string modesOf(unsigned modes) {
  std::string text;
  if (modes & kDigital) text += "digital";
  if (modes & kNoise) text += text.empty() ? "noise" : " or noise";
  if (modes & kMccw) text += text.empty() ? "mccw" : " or mccw";
  return text;
}

unsigned modeBit(int mode) {
  return mode == IQSYNTH_WORKING_MODE_AWGN   ? kNoise
         : mode == IQSYNTH_WORKING_MODE_MCCW ? kMccw
                                             : kDigital;
}

// Reader of a word of one of the name tables.
struct Named {
  const std::vector<NamedValue>* table;
  int operator()(const std::string& text) const {
    const auto value = lookUp(*table, text);
    if (!value) throw CLI::ValidationError("'" + text + "' is not one of " + listNames(*table));
    return *value;
  }
  std::string text(int value) const { return nameOf(*table, value); }
};

// --data: zeros, ones, hex:DIGITS, bin:BITS, file:PATH or prbsN.
void setDataSource(Options& o, const std::string& text) {
  std::string word = text;
  std::string argument;
  if (const auto colon = text.find(':'); colon != std::string::npos) {
    word = text.substr(0, colon);
    argument = text.substr(colon + 1);
  }
  for (auto& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (word == "zeros" || word == "zero") {
    o.dataSrc = IQSYNTH_DATA_SRC_ALL_ZERO;
  } else if (word == "ones" || word == "one") {
    o.dataSrc = IQSYNTH_DATA_SRC_ALL_ONE;
  } else if (word == "hex" || word == "bin") {
    o.patternIsHex = word == "hex";
    if (argument.empty()) throw CLI::ValidationError(word + ": the pattern is empty");
    if (argument.size() > static_cast<std::size_t>(kMaxPatternCharacters)) {
      throw CLI::ValidationError(word + ": the pattern has " + std::to_string(argument.size()) +
                                 " characters, at most " + std::to_string(kMaxPatternCharacters) +
                                 " are allowed");
    }
    for (const char c : argument) {
      const bool ok = o.patternIsHex ? std::isxdigit(static_cast<unsigned char>(c)) != 0
                                     : (c == '0' || c == '1');
      if (!ok) {
        throw CLI::ValidationError(
            word + ": '" + std::string(1, c) + "' is not a " +
            (o.patternIsHex ? "hexadecimal digit" : "binary digit (0 or 1)"));
      }
    }
    o.dataSrc = IQSYNTH_DATA_SRC_PATTERN;
    o.pattern = argument;
  } else if (word == "file") {
    if (argument.empty()) throw CLI::ValidationError("file: the path is empty");
    o.dataSrc = IQSYNTH_DATA_SRC_FILE;
    o.dataFile = argument;
  } else if (word.rfind("prbs", 0) == 0 && argument.empty()) {
    const std::string order = word.substr(4);
    long long value = 0;
    const auto [end, error] = std::from_chars(order.data(), order.data() + order.size(), value);
    bool known = error == std::errc() && end == order.data() + order.size() && !order.empty();
    known =
        known && std::find(prbsOrders().begin(), prbsOrders().end(), value) != prbsOrders().end();
    if (!known) {
      throw CLI::ValidationError("'" + text +
                                 "' is not a known PRBS; use prbs9, prbs11, prbs15, prbs16, "
                                 "prbs20, prbs21 or prbs23");
    }
    o.dataSrc = IQSYNTH_DATA_SRC_PRBS;
    o.prbs = static_cast<int>(value);
  } else {
    throw CLI::ValidationError("'" + text +
                               "' is not a data source; use zeros, ones, hex:DIGITS, bin:BITS, "
                               "file:PATH or prbs9 ... prbs23");
  }
}

// --ramp: SYMBOL:DB rows with rising start symbols.
std::vector<RampRow> readRamp(const std::string& text) {
  std::vector<RampRow> rows;
  for (const auto& item : hosts_cli::splitList(text)) {
    const auto colon = item.find(':');
    if (colon == std::string::npos) throw CLI::ValidationError("'" + item + "' is not SYMBOL:DB");
    RampRow row{};
    row.startSymbol = static_cast<int>(WholeNumber{0, INT_MAX}(item.substr(0, colon)));
    row.levelDb = RealNumber{}(item.substr(colon + 1));
    rows.push_back(row);
  }
  if (rows.empty() || rows.size() > static_cast<std::size_t>(kMaxRampRows)) {
    throw CLI::ValidationError("give 1 to " + std::to_string(kMaxRampRows) + " SYMBOL:DB rows");
  }
  for (std::size_t i = 1; i < rows.size(); ++i) {
    if (rows[i].startSymbol <= rows[i - 1].startSymbol) {
      throw CLI::ValidationError("the start symbols must rise from row to row");
    }
  }
  return rows;
}

// --switches: a bit string such as 1101 or a list such as 1,1,0,1.
std::vector<char> readSwitches(const std::string& text) {
  const bool bitString = text.find(',') == std::string::npos && text.size() > 1;
  std::vector<std::string> items;
  if (bitString) {
    for (const char c : text) items.emplace_back(1, c);
  } else {
    items = hosts_cli::splitList(text);
  }
  std::vector<char> switches;
  for (const auto& item : items) {
    if (item != "0" && item != "1") throw CLI::ValidationError("'" + item + "' is not 0 or 1");
    switches.push_back(item == "1" ? 1 : 0);
  }
  if (switches.empty()) throw CLI::ValidationError("the list is empty");
  return switches;
}

// --phases: a law's name or radians, one for all carriers or one per carrier.
void setPhases(Options& o, const std::string& text) {
  std::string word = text;
  for (auto& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  static const std::pair<const char*, PhaseLaw> kLaws[] = {{"zero", PhaseLaw::Zero},
                                                           {"newman", PhaseLaw::Newman},
                                                           {"schroeder", PhaseLaw::Schroeder},
                                                           {"random", PhaseLaw::Random}};
  for (const auto& [name, law] : kLaws) {
    if (word == name) {
      o.phaseLaw = law;
      o.phases.clear();
      return;
    }
  }
  if (!text.empty() && std::isalpha(static_cast<unsigned char>(text[0])) &&
      text.find(',') == std::string::npos) {
    throw CLI::ValidationError("'" + text +
                               "' is not zero, newman, schroeder, random or radians such as "
                               "0,1.57");
  }
  o.phaseLaw = PhaseLaw::List;
  o.phases = hosts_cli::readRealList(text);
}

// The end of the help: the name lists, notes, examples and exit statuses.
std::string helpFooter() {
  std::ostringstream out;
  out << "Modulations (-M):\n";
  for (const auto& m : modulationNames()) {
    std::string name = "  " + std::string(m.name);
    name.resize(14, ' ');
    out << name << m.description << "\n";
  }
  out << "Filters (-f):\n";
  for (const auto& f : filterNames()) {
    std::string name = "  " + std::string(f.name);
    name.resize(16, ' ');
    out << name << f.description << "\n";
  }
  out << "\nFrequencies take a unit: 1e6, 1000000, 2.5MHz, 250k, 10kHz, 1G.\n"
         "In mccw mode the ramp rows count samples, and the library chooses the sample\n"
         "rate and length so that every carrier completes whole cycles.\n\n"
         "Examples:\n"
         "  iqsynth -M qpsk -n 512 -r 1MHz -s 8 -f rrc -a 0.22 -o qpsk.arb --plot qpsk.png\n"
         "  iqsynth -M 16qam -d prbs15 -c gray -n 1000 --cnr 20 --csv 16qam.csv\n"
         "  iqsynth -M fsk4 --fsk-deviation 30k -r 10k -f gauss-fsk -a 0.5 -o fsk4.arb\n"
         "  iqsynth -M bpsk -d hex:A5F0 --ramp 0:0,100:-20 --ramp-shape linear -o burst.arb\n"
         "  iqsynth -M user --constellation points.csv -d file:bits.txt -o user.arb\n"
         "  iqsynth -m noise --noise-rate 20MHz --noise-samples 8192 --system-bandwidth 5MHz -o "
         "noise.arb\n"
         "  iqsynth -m mccw --carriers 16 --spacing 250k --phases newman -o comb.arb --csv "
         "comb.csv\n"
         "  iqsynth -M qpsk -n 1000 --cnr 15 --seed 42 --log run.log --csv noisy.csv\n\n"
         "The library writes no run log unless --log FILE names one, and nothing on standard\n"
         "output unless --verbose. Noise and --phases random follow the seed the summary\n"
         "prints (drawn at random when --seed is not given): --seed repeats the run.\n\n"
         "Carrier phases (--phases), carrier k = 1 ... N counted from the lowest frequency:\n"
         "zero; newman pi (k-1)^2 / N; schroeder -2 pi sum over l < k of (k-l) p_l, p_l the\n"
         "carriers' shares of the power (-pi k (k-1) / N for equal levels); random, uniform\n"
         "from the seed; or radians. --crest-law is the library's law -pi + (k-1) pi / (2N)\n"
         "instead: a phase ramp, which only delays the comb, so its crest factor is that of\n"
         "zero phases. Crest factor (envelope peak over RMS) of N equal carriers: zero\n"
         "phases and --crest-law 10 log10(N) (12.04 dB for 16, 18.06 dB for 64); newman and\n"
         "schroeder 2.3 to 2.6 dB for 8 to 8192 carriers; random 5 to 11 dB.\n\n"
         "Exit status: 0 success; 1 bad command line (unknown option, bad or missing value);\n"
         "2 constellation or taps file unreadable or malformed; 3 the synthesis failed (the\n"
         "library's status is printed in words); 4 an output file (.arb, CSV, plot, run log)\n"
         "or standard output could not be written; an interrupt ends the run by its signal\n"
         "and leaves no partial file; 5 unexpected failure (out of memory, libiqsynth.so\n"
         "missing or incomplete).";
  return out.str();
}

// Declares every option of iqsynth on app; the values go into o, whose initial
// values are the defaults the help shows.
void declareOptions(CLI::App& app, Options& o) {
  app.description(
      "Synthesises a digitally modulated IQ waveform, band-limited noise or a\n"
      "multi-carrier CW comb with libiqsynth and writes it as an encrypted .arb\n"
      "file and/or a two-column CSV file of 14-bit I,Q samples.\n"
      "Give -o FILE.arb, --csv FILE.csv, --plot FILE.png or several. Values follow\n"
      "as '--name VALUE', '--name=VALUE', '-x VALUE' or '-xVALUE'.");
  app.footer(helpFooter());
  app.get_formatter()->column_width(34);
  app.option_defaults()->disable_flag_override();
  hosts_cli::addHelpFlag(app);
  hosts_cli::addVersionFlag(app);
  const auto section = [&app](const Section& s) { app.option_defaults()->group(s.heading); };
  const auto value = [&app](const std::string& names, const std::string& label, auto& target,
                            auto read, const std::string& help) {
    return hosts_cli::readInto(app.add_option(names, CLI::callback_t(), help)->type_name(label),
                               target, read);
  };
  const auto path = [&app](const std::string& names, const std::string& label, std::string& target,
                           const std::string& help) {
    app.add_option(names, target, help)->type_name(label);
  };
  const auto flag = [&app](const std::string& names, bool& target, const std::string& help) {
    app.add_flag(names, target, help)->multi_option_policy(CLI::MultiOptionPolicy::Throw);
  };

  section(kGeneral);
  value("-m,--mode", "MODE", o.mode, Named{&modeNames()}, "digital, noise or mccw");
  path("-o,--output", "FILE.arb", o.arbPath, "write an encrypted .arb waveform file");
  path("--csv", "FILE.csv", o.csvPath, "write the samples as I,Q lines (wavepack reads them)");
  path("--plot", "FILE.png", o.plotPath,
       "draw spectrum, constellation, eye (or time view) and CCDF; .png, .svg or .pdf");
  path("--log", "FILE", o.logPath, "write the library's run log to FILE (default: no log)");
  value("--seed", "N", o.seed, WholeNumber{0, 4294967295LL},
        "seed of the noise and of --phases random, 0 to 4294967295 (default: drawn)");
  flag("-v,--verbose", o.verbose,
       "let the library print on standard output (per-symbol lines, filter taps)");

  section(kDigitalOnly);
  value("-M,--modulation", "NAME", o.modulation, Named{&modulationNames()},
        "modulation, see the list below");
  path("--constellation", "FILE", o.constellationFile,
       "user constellation: 2, 4, ... 256 lines of 're,im' (with -M user)");
  value("-n,--symbols", "N", o.symbols, WholeNumber{1, kMaxSamples}, "number of data symbols");
  value("-r,--symbol-rate", "HZ", o.symbolRate, Frequency{Bound::Positive}, "symbol rate");
  value("-s,--oversampling", "R", o.oversampling, WholeNumber{1, kMaxOversampling},
        "samples per symbol, 1 to " + std::to_string(kMaxOversampling));
  value("-f,--filter", "NAME", o.filterType, Named{&filterNames()},
        "shaping filter, see the list below");
  value("-a,--alpha", "X", o.alphaBt, RealNumber{}, "roll-off (rc, rrc: 0 to 1) or BT (gauss*)");
  value("-l,--span", "SYMBOLS", o.filterSpan, WholeNumber{1, kMaxFilterSpan},
        "filter length in symbols, 1 to " + std::to_string(kMaxFilterSpan));
  path("--taps", "FILE", o.tapsFile,
       "user filter taps, oversampling x span numbers (with -f user)");
  app.add_option("-d,--data", CLI::callback_t(),
                 "zeros, ones, hex:DIGITS, bin:BITS, file:PATH, prbs9|11|15|16|20|21|23")
      ->type_name("SOURCE")
      ->default_str("prbs" + std::to_string(o.prbs))
      ->each([&o](const std::string& text) { setDataSource(o, text); });
  value("-c,--coding", "NAME", o.coding, Named{&codingNames()},
        "none, diff, gray, gray-diff or diff1");
  value("--fsk-deviation", "HZ", o.fskDeviation, Frequency{Bound::Positive},
        "FSK peak deviation (default: symbol rate / 4)");
  value("--ask-depth", "X", o.askDepth, RealNumber{Bound::UpToOne},
        "ASK output scale, above 0 up to 1");

  section(kRampAndCnr);
  value("--ramp", "S:DB,...", o.ramp, readRamp,
        "power ramp table: start symbol and level in dB per row, up to " +
            std::to_string(kMaxRampRows) + " rows");
  value("--ramp-time", "SYMBOLS", o.rampTime, RealNumber{Bound::NotNegative},
        "ramp duration in symbols");
  value("--ramp-shape", "NAME", o.rampShape, Named{&rampShapeNames()}, "linear, cosine or step");
  value("--cnr", "DB", o.cnr, RealNumber{}, "add noise at this carrier-to-noise ratio");

  section(kNoiseOnly);
  value("--noise-rate", "HZ", o.noiseRate, Frequency{Bound::Positive}, "sample rate");
  value("--noise-samples", "N", o.noiseSamples, WholeNumber{1, kMaxSamples}, "sample count");

  section(kMccwOnly);
  value("--carriers", "N", o.carriers, WholeNumber{1, kMaxCarriers},
        "number of carriers, 1 to " + std::to_string(kMaxCarriers));
  value("--spacing", "HZ", o.spacing, Frequency{Bound::Positive}, "carrier spacing");
  value("--levels", "DB,...", o.levels, hosts_cli::readRealList,
        "carrier levels in dB: one for all or one per carrier");
  app.add_option("--phases", CLI::callback_t(),
                 "zero, newman, schroeder, random, or radians: one for all or one per carrier")
      ->type_name("LAW|RAD,...")
      ->each([&o](const std::string& text) { setPhases(o, text); });
  value("--switches", "BITS", o.switches, readSwitches,
        "carrier on/off: 1101... or 1,1,0,1 (default: all on)");
  flag("--crest-law", o.crestLaw,
       "the library's phase law -pi + (k-1) pi / (2N): only delays the comb (see below)");

  section(kBandwidth);
  value("--system-bandwidth", "HZ", o.systemBandwidth, Frequency{Bound::Positive},
        "noise system bandwidth (default: symbol rate; noise: rate/2; mccw: comb width)");
  value("--bandwidth-ratio", "X", o.bandwidthRatio, RealNumber{Bound::Positive},
        "noise bandwidth / system bandwidth");
}

// Refuses an option of a group that does not apply to the run's mode, and
// notes the long names of the options given.
void checkModes(const CLI::App& app, Options& o) {
  for (const CLI::Option* option : app.get_options()) {
    if (option->count() == 0) continue;
    const std::string name = option->get_name();
    for (const Section& s : kSections) {
      if (option->get_group() == s.heading && (s.modes & modeBit(o.mode)) == 0) {
        throw UsageError(name + " applies to --mode " + modesOf(s.modes) + " only");
      }
    }
    o.given.insert(name.substr(2));
  }
}

// Whether two paths name the same file (or would, once written).
bool samePath(const std::string& a, const std::string& b) {
  // Empty when the path cannot be resolved.
  const auto full = [](const std::string& path) {
    std::error_code error;
    auto result = std::filesystem::weakly_canonical(std::filesystem::absolute(path, error), error);
    return error ? std::filesystem::path() : result;
  };
  const auto fullA = full(a);
  const auto fullB = full(b);
  return fullA.empty() || fullB.empty() ? a == b : fullA == fullB;
}

void checkCombination(const Options& o) {
  if (o.arbPath.empty() && o.csvPath.empty() && o.plotPath.empty()) {
    throw UsageError("give an output: -o FILE.arb, --csv FILE.csv, --plot FILE.png, or several");
  }
  if (!o.plotPath.empty() && !analysis::plotFormatOf(o.plotPath)) {
    throw UsageError("--plot: '" + o.plotPath + "' does not end in .png, .svg or .pdf");
  }
  if (o.mode == IQSYNTH_WORKING_MODE_DIGITAL) {
    const bool user = o.modulation == IQSYNTH_MOD_FAMILY_USER;
    if (user != !o.constellationFile.empty()) {
      throw UsageError(user ? "-M user needs --constellation FILE"
                            : "--constellation needs -M user");
    }
    const bool userFilter = o.filterType == IQSYNTH_FILTER_USER;
    if (userFilter != !o.tapsFile.empty()) {
      throw UsageError(userFilter ? "-f user needs --taps FILE" : "--taps needs -f user");
    }
    if (static_cast<long long>(o.symbols) * o.oversampling > kMaxSamples) {
      throw UsageError("--symbols x --oversampling gives more than " + std::to_string(kMaxSamples) +
                       " samples");
    }
    switch (o.filterType) {
      case 6:
        if (!(o.alphaBt >= 0 && o.alphaBt <= 1)) {
          throw UsageError("--alpha: the raised-cosine roll-off must lie in 0 to 1");
        }
        break;
      case 7:
        if (!(o.alphaBt > 0 && o.alphaBt <= 1)) {
          throw UsageError("--alpha: the root-raised-cosine roll-off must lie above 0, up to 1");
        }
        break;
      case 3:
      case 9:
        if (!(o.alphaBt > 0)) throw UsageError("--alpha: the BT product must be greater than 0");
        break;
      default:
        break;
    }
    if (!o.ramp.empty() && o.ramp.back().startSymbol + o.rampTime > o.symbols) {
      throw UsageError("--ramp: the last row starts at symbol " +
                       std::to_string(o.ramp.back().startSymbol) + " and its ramp ends after the " +
                       std::to_string(o.symbols) + " symbols of the waveform");
    }
  }
  if (o.mode == IQSYNTH_WORKING_MODE_MCCW) {
    const auto perCarrier = [&](const char* name, std::size_t size) {
      if (size > 1 && size != static_cast<std::size_t>(o.carriers)) {
        throw UsageError("--" + std::string(name) + ": " + std::to_string(size) + " values for " +
                         std::to_string(o.carriers) + " carriers; give one or one per carrier");
      }
    };
    perCarrier("levels", o.levels.size());
    perCarrier("phases", o.phases.size());
    perCarrier("switches", o.switches.size());
    if (o.crestLaw && o.given.count("phases") != 0) {
      throw UsageError("--phases and --crest-law exclude each other: the law replaces the phases");
    }
  }
  if (o.given.count("log") != 0 && o.logPath.empty()) {
    throw UsageError("--log: the path is empty");
  }
  if (!o.logPath.empty()) {
    const std::pair<const std::string*, const char*> outputs[] = {
        {&o.arbPath, "-o"}, {&o.csvPath, "--csv"}, {&o.plotPath, "--plot"}};
    for (const auto& [output, name] : outputs) {
      if (!output->empty() && samePath(*output, o.logPath)) {
        throw UsageError("--log: '" + o.logPath + "' is also the " + name + " output");
      }
    }
  }
  if (!o.arbPath.empty()) {
    // The .arb header holds the clock in whole hertz; it must be one the instrument
    // plays. The multi-carrier clock is checked once the library has chosen it.
    const double clock = outputRate(o);
    if (o.mode != IQSYNTH_WORKING_MODE_MCCW && !arb::isPlayableClock(std::round(clock))) {
      throw UsageError("the sample clock " + hosts_cli::Frequency{}.text(clock) +
                       " is not a clock the instrument plays (" + arb::kPlayableClockText +
                       "); change the symbol rate or the oversampling");
    }
    if (o.mode == IQSYNTH_WORKING_MODE_DIGITAL && !(std::llround(o.symbolRate) >= 1)) {
      throw UsageError("the symbol rate must be at least 1 Hz for the .arb header");
    }
  }
}

std::string readWholeFile(const std::string& path, const char* what) {
  // A regular file only (a FIFO or device would block or feed the read without
  // end), and no larger than any constellation or taps file needs to be.
  std::string text;
  const arb::ReadStatus status = arb::readRegularFile(path.c_str(), kMaxInputFileBytes, text);
  if (status == arb::ReadStatus::cannotOpen) {
    throw InputError("cannot open the " + std::string(what) + " file " + path);
  }
  if (status != arb::ReadStatus::ok) {
    throw InputError("the " + std::string(what) + " file " + path + " " +
                     arb::readStatusText(status, errno, kMaxInputFileBytes));
  }
  return text;
}

}  // namespace

std::vector<double> parseNumbers(const std::string& text, const std::string& origin) {
  std::vector<double> values;
  std::istringstream lines(text);
  std::string line;
  int lineNumber = 0;
  while (std::getline(lines, line)) {
    ++lineNumber;
    if (const auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    for (auto& c : line) {
      if (c == ',' || c == ';' || c == '\t' || c == '\r') c = ' ';
    }
    std::istringstream words(line);
    std::string word;
    while (words >> word) {
      double value = 0;
      const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
      if (error != std::errc() || end != word.data() + word.size() || !std::isfinite(value)) {
        throw InputError(origin + " line " + std::to_string(lineNumber) + ": '" + word +
                         "' is not a number");
      }
      values.push_back(value);
    }
  }
  return values;
}

std::vector<double> parsePoints(const std::string& text, const std::string& origin) {
  std::vector<double> points;
  std::istringstream lines(text);
  std::string line;
  int lineNumber = 0;
  while (std::getline(lines, line)) {
    ++lineNumber;
    std::size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    if (std::isalpha(static_cast<unsigned char>(line[first])) && points.empty()) continue;
    const auto values = parseNumbers(line, origin + " line " + std::to_string(lineNumber) + ":");
    if (values.size() != 2) {
      throw InputError(origin + " line " + std::to_string(lineNumber) +
                       ": expected two numbers, the real and the imaginary part");
    }
    points.insert(points.end(), values.begin(), values.end());
  }
  return points;
}

double outputRate(const Options& o) {
  if (o.mode == IQSYNTH_WORKING_MODE_AWGN) return o.noiseRate;
  return o.symbolRate * o.oversampling;
}

ParseResult parseCommandLine(const std::vector<std::string>& args) {
  if (args.empty()) throw UsageError("no options given; see iqsynth --help");
  ParseResult result;
  CLI::App app("", "iqsynth");
  declareOptions(app, result.options);
  const auto outcome = hosts_cli::parseArguments(app, args);
  if (outcome.request == hosts_cli::Request::Help) {
    result.action = Action::Help;
  } else if (outcome.request == hosts_cli::Request::Version) {
    result.action = Action::Version;
  } else {
    checkModes(app, result.options);
    checkCombination(result.options);
  }
  return result;
}

void loadInputFiles(Options& o) {
  if (!o.constellationFile.empty()) {
    o.constellation =
        parsePoints(readWholeFile(o.constellationFile, "constellation"), o.constellationFile);
    const std::size_t count = o.constellation.size() / 2;
    if (count < 2 || count > static_cast<std::size_t>(kMaxConstellationPoints) ||
        (count & (count - 1)) != 0) {
      throw InputError(o.constellationFile + ": " + std::to_string(count) +
                       " points; a constellation has 2, 4, 8, ... or 256 points");
    }
  }
  if (!o.tapsFile.empty()) {
    o.taps = parseNumbers(readWholeFile(o.tapsFile, "taps"), o.tapsFile);
    const std::size_t wanted =
        static_cast<std::size_t>(o.oversampling) * static_cast<std::size_t>(o.filterSpan);
    if (o.taps.size() != wanted) {
      throw InputError(o.tapsFile + ": " + std::to_string(o.taps.size()) + " taps; oversampling " +
                       std::to_string(o.oversampling) + " x span " + std::to_string(o.filterSpan) +
                       " needs " + std::to_string(wanted));
    }
    double sum = 0;
    for (const double tap : o.taps) sum += tap;
    if (std::fabs(sum) < 1e-12) {
      throw InputError(o.tapsFile + ": the taps sum to 0; the filter is normalised by their sum");
    }
  }
}

std::string versionText() { return "iqsynth " ARBSUITE_VERSION "\n"; }

std::string helpText() {
  Options defaults;
  CLI::App app("", "iqsynth");
  declareOptions(app, defaults);
  return app.help();
}

}  // namespace iqsynth_host
