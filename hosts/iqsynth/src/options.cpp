// Parser of the iqsynth command line: the options declared with CLI11, grouped
// by the modes they apply to, each with a reader that checks its value.
#include "options.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <sstream>

#include "arb_format.h"
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
         "  iqsynth -M qpsk -n 512 -r 1MHz -s 8 -f rrc -a 0.22 -o qpsk.arb\n"
         "  iqsynth -M 16qam -d prbs15 -c gray -n 1000 --cnr 20 --csv 16qam.csv\n"
         "  iqsynth -M fsk4 --fsk-deviation 30k -r 10k -f gauss-fsk -a 0.5 -o fsk4.arb\n"
         "  iqsynth -M bpsk -d hex:A5F0 --ramp 0:0,100:-20 --ramp-shape linear -o burst.arb\n"
         "  iqsynth -M user --constellation points.csv -d file:bits.txt -o user.arb\n"
         "  iqsynth -m noise --noise-rate 20MHz --noise-samples 8192 --system-bandwidth 5MHz -o "
         "noise.arb\n"
         "  iqsynth -m mccw --carriers 16 --spacing 250k --crest-law -o comb.arb --csv comb.csv\n\n"
         "The library writes its run log iqSynthRun.log into the working directory.\n\n"
         "Exit status: 0 success; 1 bad command line (unknown option, bad or missing value);\n"
         "2 constellation or taps file unreadable or malformed; 3 the synthesis failed (the\n"
         "library's status is printed in words); 4 an output file or standard output could\n"
         "not be written; an interrupt ends the run by its signal and leaves no partial file;\n"
         "5 unexpected failure (out of memory).";
  return out.str();
}

// Declares every option of iqsynth on app; the values go into o, whose initial
// values are the defaults the help shows.
void declareOptions(CLI::App& app, Options& o) {
  app.description(
      "Synthesises a digitally modulated IQ waveform, band-limited noise or a\n"
      "multi-carrier CW comb with libiqsynth and writes it as an encrypted .arb\n"
      "file and/or a two-column CSV file of 14-bit I,Q samples.\n"
      "Give -o FILE.arb, --csv FILE.csv or both. Values follow as '--name VALUE',\n"
      "'--name=VALUE', '-x VALUE' or '-xVALUE'.");
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
  flag("-v,--verbose", o.verbose, "keep the library's console diagnostics");

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
  value("--phases", "RAD,...", o.phases, hosts_cli::readRealList,
        "start phases in radians: one for all or one per carrier");
  value("--switches", "BITS", o.switches, readSwitches,
        "carrier on/off: 1101... or 1,1,0,1 (default: all on)");
  flag("--crest-law", o.crestLaw, "replace the phases by the fixed low-crest-factor law");

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

void checkCombination(const Options& o) {
  if (o.arbPath.empty() && o.csvPath.empty()) {
    throw UsageError("give an output: -o FILE.arb, --csv FILE.csv or both");
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
