// Parser of the iqsynth command line: a table of options, each with the modes
// it applies to and a handler that converts and range-checks its value.
#include "options.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <cmath>
#include <fstream>
#include <functional>
#include <sstream>

#ifndef ARBSUITE_VERSION
#define ARBSUITE_VERSION "unknown"
#endif

namespace iqsynth_host {
namespace {

constexpr unsigned kDigital = 1;
constexpr unsigned kNoise = 2;
constexpr unsigned kMccw = 4;
constexpr unsigned kAllModes = kDigital | kNoise | kMccw;

struct OptionSpec {
  const char* longName;
  char shortName;          // 0: none
  const char* valueLabel;  // nullptr: a switch
  unsigned modes;
  const char* help;
  std::function<void(Options&, const std::string&)> apply;
};

std::string dashed(const std::string& name) { return "--" + name; }

double parseReal(const std::string& option, const std::string& text) {
  double value = 0;
  const char* first = text.data();
  const char* last = first + text.size();
  if (!text.empty() && *first == '+') ++first;
  const auto [end, error] = std::from_chars(first, last, value);
  if (text.empty() || error != std::errc() || end != last || !std::isfinite(value)) {
    throw UsageError(dashed(option) + ": '" + text + "' is not a number");
  }
  return value;
}

long long parseInteger(const std::string& option, const std::string& text) {
  long long value = 0;
  const char* first = text.data();
  const char* last = first + text.size();
  if (!text.empty() && *first == '+') ++first;
  const auto [end, error] = std::from_chars(first, last, value);
  if (text.empty() || error != std::errc() || end != last) {
    throw UsageError(dashed(option) + ": '" + text + "' is not a whole number");
  }
  return value;
}

int integerIn(const std::string& option, const std::string& text, long long low, long long high) {
  const long long value = parseInteger(option, text);
  if (value < low || value > high) {
    throw UsageError(dashed(option) + ": " + text + " is out of range " + std::to_string(low) +
                     " to " + std::to_string(high));
  }
  return static_cast<int>(value);
}

double positive(const std::string& option, double value, const std::string& text) {
  if (!(value > 0)) throw UsageError(dashed(option) + ": " + text + " must be greater than 0");
  return value;
}

std::vector<std::string> splitList(const std::string& text) {
  std::vector<std::string> items;
  std::string item;
  std::istringstream in(text);
  while (std::getline(in, item, ',')) items.push_back(item);
  if (!text.empty() && text.back() == ',') items.emplace_back();
  return items;
}

std::vector<double> realList(const std::string& option, const std::string& text) {
  std::vector<double> values;
  for (const auto& item : splitList(text)) values.push_back(parseReal(option, item));
  if (values.empty()) throw UsageError(dashed(option) + ": the list is empty");
  return values;
}

void setDataSource(Options& o, const std::string& text) {
  std::string word = text;
  std::string argument;
  if (const auto colon = text.find(':'); colon != std::string::npos) {
    word = text.substr(0, colon);
    argument = text.substr(colon + 1);
  }
  for (auto& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (word == "zeros" || word == "zero") {
    o.dataSrc = kDataAllZero;
  } else if (word == "ones" || word == "one") {
    o.dataSrc = kDataAllOne;
  } else if (word == "hex" || word == "bin") {
    o.patternIsHex = word == "hex";
    if (argument.empty()) throw UsageError("--data " + word + ": the pattern is empty");
    if (argument.size() > static_cast<std::size_t>(kMaxPatternCharacters)) {
      throw UsageError("--data " + word + ": the pattern has " + std::to_string(argument.size()) +
                       " characters, at most " + std::to_string(kMaxPatternCharacters) +
                       " are allowed");
    }
    for (const char c : argument) {
      const bool ok = o.patternIsHex ? std::isxdigit(static_cast<unsigned char>(c)) != 0
                                     : (c == '0' || c == '1');
      if (!ok) {
        throw UsageError("--data " + word + ": '" + std::string(1, c) + "' is not a " +
                         (o.patternIsHex ? "hexadecimal digit" : "binary digit (0 or 1)"));
      }
    }
    o.dataSrc = kDataPattern;
    o.pattern = argument;
  } else if (word == "file") {
    if (argument.empty()) throw UsageError("--data file: the path is empty");
    o.dataSrc = kDataFile;
    o.dataFile = argument;
  } else if (word.rfind("prbs", 0) == 0 && argument.empty()) {
    const std::string order = word.substr(4);
    long long value = 0;
    const auto [end, error] = std::from_chars(order.data(), order.data() + order.size(), value);
    bool known = error == std::errc() && end == order.data() + order.size() && !order.empty();
    known =
        known && std::find(prbsOrders().begin(), prbsOrders().end(), value) != prbsOrders().end();
    if (!known) {
      throw UsageError("--data: '" + text +
                       "' is not a known PRBS; use prbs9, prbs11, prbs15, prbs16, prbs20, "
                       "prbs21 or prbs23");
    }
    o.dataSrc = kDataPrbs;
    o.prbs = static_cast<int>(value);
  } else {
    throw UsageError("--data: '" + text +
                     "' is not a data source; use zeros, ones, hex:DIGITS, bin:BITS, "
                     "file:PATH or prbs9 ... prbs23");
  }
}

void setRamp(Options& o, const std::string& text) {
  o.ramp.clear();
  for (const auto& item : splitList(text)) {
    const auto colon = item.find(':');
    if (colon == std::string::npos) {
      throw UsageError("--ramp: '" + item + "' is not SYMBOL:DB");
    }
    RampRow row{};
    row.startSymbol = integerIn("ramp", item.substr(0, colon), 0, INT_MAX);
    row.levelDb = parseReal("ramp", item.substr(colon + 1));
    o.ramp.push_back(row);
  }
  if (o.ramp.empty() || o.ramp.size() > static_cast<std::size_t>(kMaxRampRows)) {
    throw UsageError("--ramp: give 1 to " + std::to_string(kMaxRampRows) + " SYMBOL:DB rows");
  }
  for (std::size_t i = 1; i < o.ramp.size(); ++i) {
    if (o.ramp[i].startSymbol <= o.ramp[i - 1].startSymbol) {
      throw UsageError("--ramp: the start symbols must rise from row to row");
    }
  }
}

void setSwitches(Options& o, const std::string& text) {
  o.switches.clear();
  const bool bitString = text.find(',') == std::string::npos && text.size() > 1;
  const std::vector<std::string> items =
      bitString ? [&] {
        std::vector<std::string> bits;
        for (const char c : text) bits.emplace_back(1, c);
        return bits;
      }()
                : splitList(text);
  for (const auto& item : items) {
    if (item != "0" && item != "1") {
      throw UsageError("--switches: '" + item + "' is not 0 or 1");
    }
    o.switches.push_back(item == "1" ? 1 : 0);
  }
  if (o.switches.empty()) throw UsageError("--switches: the list is empty");
}

const std::vector<OptionSpec>& optionTable() {
  static const std::vector<OptionSpec> table = {
      {"mode", 'm', "MODE", kAllModes, "digital (default), noise or mccw",
       [](Options& o, const std::string& v) {
         const auto mode = lookUp(modeNames(), v);
         if (!mode) throw UsageError("--mode: '" + v + "' is not one of " + listNames(modeNames()));
         o.mode = *mode;
       }},
      {"output", 'o', "FILE.arb", kAllModes, "write an encrypted .arb waveform file",
       [](Options& o, const std::string& v) { o.arbPath = v; }},
      {"csv", 0, "FILE.csv", kAllModes, "write the samples as I,Q lines (wavepack reads them)",
       [](Options& o, const std::string& v) { o.csvPath = v; }},
      {"verbose", 'v', nullptr, kAllModes, "keep the library's console diagnostics",
       [](Options& o, const std::string&) { o.verbose = true; }},
      // Digital modulation.
      {"modulation", 'M', "NAME", kDigital, "modulation (default qpsk), see the list below",
       [](Options& o, const std::string& v) {
         const auto m = lookUp(modulationNames(), v);
         if (!m) {
           throw UsageError("--modulation: '" + v + "' is not one of " +
                            listNames(modulationNames()));
         }
         o.modulation = *m;
       }},
      {"constellation", 0, "FILE", kDigital,
       "user constellation: 2, 4, ... 256 lines of 're,im' (with -M user)",
       [](Options& o, const std::string& v) { o.constellationFile = v; }},
      {"symbols", 'n', "N", kDigital, "number of data symbols (default 256)",
       [](Options& o, const std::string& v) {
         o.symbols = integerIn("symbols", v, 1, kMaxSamples);
       }},
      {"symbol-rate", 'r', "HZ", kDigital, "symbol rate (default 1MHz)",
       [](Options& o, const std::string& v) {
         o.symbolRate = positive("symbol-rate", parseFrequency("symbol-rate", v), v);
       }},
      {"oversampling", 's', "R", kDigital, "samples per symbol, 1 to 32 (default 4)",
       [](Options& o, const std::string& v) {
         o.oversampling = integerIn("oversampling", v, 1, kMaxOversampling);
       }},
      {"filter", 'f', "NAME", kDigital, "shaping filter (default rrc), see the list below",
       [](Options& o, const std::string& v) {
         const auto f = lookUp(filterNames(), v);
         if (!f)
           throw UsageError("--filter: '" + v + "' is not one of " + listNames(filterNames()));
         o.filterType = *f;
       }},
      {"alpha", 'a', "X", kDigital, "roll-off (rc, rrc: 0 to 1) or BT (gauss*) (default 0.35)",
       [](Options& o, const std::string& v) { o.alphaBt = parseReal("alpha", v); }},
      {"span", 'l', "SYMBOLS", kDigital, "filter length in symbols, 1 to 128 (default 8)",
       [](Options& o, const std::string& v) {
         o.filterSpan = integerIn("span", v, 1, kMaxFilterSpan);
       }},
      {"taps", 0, "FILE", kDigital, "user filter taps, oversampling x span numbers (with -f user)",
       [](Options& o, const std::string& v) { o.tapsFile = v; }},
      {"data", 'd', "SOURCE", kDigital,
       "zeros, ones, hex:DIGITS, bin:BITS, file:PATH, prbs9|11|15|16|20|21|23 (default prbs9)",
       setDataSource},
      {"coding", 'c', "NAME", kDigital, "none (default), diff, gray, gray-diff, diff1",
       [](Options& o, const std::string& v) {
         const auto c = lookUp(codingNames(), v);
         if (!c)
           throw UsageError("--coding: '" + v + "' is not one of " + listNames(codingNames()));
         o.coding = *c;
       }},
      {"fsk-deviation", 0, "HZ", kDigital, "FSK peak deviation (default symbol rate / 4)",
       [](Options& o, const std::string& v) {
         o.fskDeviation = positive("fsk-deviation", parseFrequency("fsk-deviation", v), v);
       }},
      {"ask-depth", 0, "X", kDigital, "ASK output scale, above 0 up to 1 (default 1)",
       [](Options& o, const std::string& v) {
         const double depth = parseReal("ask-depth", v);
         if (!(depth > 0 && depth <= 1))
           throw UsageError("--ask-depth: " + v + " is not in (0, 1]");
         o.askDepth = depth;
       }},
      {"ramp", 0, "S:DB,...", kDigital | kMccw,
       "power ramp table: start symbol and level in dB per row, up to 32 rows", setRamp},
      {"ramp-time", 0, "SYMBOLS", kDigital | kMccw, "ramp duration in symbols (default 1)",
       [](Options& o, const std::string& v) {
         o.rampTime = parseReal("ramp-time", v);
         if (o.rampTime < 0) throw UsageError("--ramp-time: " + v + " is negative");
       }},
      {"ramp-shape", 0, "NAME", kDigital | kMccw, "linear, cosine (default) or step",
       [](Options& o, const std::string& v) {
         const auto s = lookUp(rampShapeNames(), v);
         if (!s) {
           throw UsageError("--ramp-shape: '" + v + "' is not one of " +
                            listNames(rampShapeNames()));
         }
         o.rampShape = *s;
       }},
      // Noise.
      {"cnr", 0, "DB", kDigital | kMccw, "add noise at this carrier-to-noise ratio",
       [](Options& o, const std::string& v) { o.cnr = parseReal("cnr", v); }},
      {"system-bandwidth", 0, "HZ", kAllModes,
       "noise system bandwidth (default: symbol rate; noise: rate/2; mccw: comb width)",
       [](Options& o, const std::string& v) {
         o.systemBandwidth = positive("system-bandwidth", parseFrequency("system-bandwidth", v), v);
       }},
      {"bandwidth-ratio", 0, "X", kAllModes, "noise bandwidth / system bandwidth (default 1)",
       [](Options& o, const std::string& v) {
         o.bandwidthRatio = positive("bandwidth-ratio", parseReal("bandwidth-ratio", v), v);
       }},
      {"noise-rate", 0, "HZ", kNoise, "sample rate of noise mode (default 10MHz)",
       [](Options& o, const std::string& v) {
         o.noiseRate = positive("noise-rate", parseFrequency("noise-rate", v), v);
       }},
      {"noise-samples", 0, "N", kNoise, "sample count of noise mode (default 4096)",
       [](Options& o, const std::string& v) {
         o.noiseSamples = integerIn("noise-samples", v, 1, kMaxSamples);
       }},
      // Multi-carrier CW.
      {"carriers", 0, "N", kMccw, "number of carriers, 1 to 8192 (default 8)",
       [](Options& o, const std::string& v) {
         o.carriers = integerIn("carriers", v, 1, kMaxCarriers);
       }},
      {"spacing", 0, "HZ", kMccw, "carrier spacing (default 100kHz)",
       [](Options& o, const std::string& v) {
         o.spacing = positive("spacing", parseFrequency("spacing", v), v);
       }},
      {"levels", 0, "DB,...", kMccw, "carrier levels in dB: one for all or one per carrier",
       [](Options& o, const std::string& v) { o.levels = realList("levels", v); }},
      {"phases", 0, "RAD,...", kMccw, "start phases in radians: one for all or one per carrier",
       [](Options& o, const std::string& v) { o.phases = realList("phases", v); }},
      {"switches", 0, "BITS", kMccw, "carrier on/off: 1101... or 1,1,0,1 (default all on)",
       setSwitches},
      {"crest-law", 0, nullptr, kMccw, "replace the phases by the fixed low-crest-factor law",
       [](Options& o, const std::string&) { o.crestLaw = true; }},
  };
  return table;
}

const OptionSpec* findLong(const std::string& name) {
  for (const auto& entry : optionTable()) {
    if (name == entry.longName) return &entry;
  }
  return nullptr;
}

const OptionSpec* findShort(char name) {
  for (const auto& entry : optionTable()) {
    if (entry.shortName != 0 && entry.shortName == name) return &entry;
  }
  return nullptr;
}

std::string modesOf(unsigned modes) {
  std::string text;
  if (modes & kDigital) text += "digital";
  if (modes & kNoise) text += text.empty() ? "noise" : " or noise";
  if (modes & kMccw) text += text.empty() ? "mccw" : " or mccw";
  return text;
}

unsigned modeBit(int mode) {
  return mode == kModeNoise ? kNoise : mode == kModeMultiCarrier ? kMccw : kDigital;
}

void checkCombination(const Options& o) {
  for (const auto& name : o.given) {
    const OptionSpec* entry = findLong(name);
    if (entry != nullptr && (entry->modes & modeBit(o.mode)) == 0) {
      throw UsageError(dashed(name) + " applies to --mode " + modesOf(entry->modes) + " only");
    }
  }
  if (o.arbPath.empty() && o.csvPath.empty()) {
    throw UsageError("give an output: -o FILE.arb, --csv FILE.csv or both");
  }
  if (o.mode == kModeDigital) {
    const bool user = o.modulation == kModUserFamily;
    if (user != !o.constellationFile.empty()) {
      throw UsageError(user ? "-M user needs --constellation FILE"
                            : "--constellation needs -M user");
    }
    const bool userFilter = o.filterType == kFilterUser;
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
  if (o.mode == kModeMultiCarrier) {
    const auto perCarrier = [&](const char* name, std::size_t size) {
      if (size > 1 && size != static_cast<std::size_t>(o.carriers)) {
        throw UsageError(dashed(name) + ": " + std::to_string(size) + " values for " +
                         std::to_string(o.carriers) + " carriers; give one or one per carrier");
      }
    };
    perCarrier("levels", o.levels.size());
    perCarrier("phases", o.phases.size());
    perCarrier("switches", o.switches.size());
  }
  if (!o.arbPath.empty()) {
    const double clock = outputRate(o);
    if (o.mode != kModeMultiCarrier && !(std::llround(clock) >= 1 && clock < 2147483647.5)) {
      throw UsageError("the sample clock " + std::to_string(clock) +
                       " Hz does not fit the .arb header (1 Hz to 2147483647 Hz)");
    }
    if (o.mode == kModeDigital && !(std::llround(o.symbolRate) >= 1)) {
      throw UsageError("the symbol rate must be at least 1 Hz for the .arb header");
    }
  }
}

std::string readWholeFile(const std::string& path, const char* what) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw InputError("cannot open the " + std::string(what) + " file " + path);
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw InputError("cannot read the " + std::string(what) + " file " + path);
  return text.str();
}

}  // namespace

double parseFrequency(const std::string& option, const std::string& text) {
  std::size_t split = text.size();
  while (split > 0 && std::isalpha(static_cast<unsigned char>(text[split - 1]))) --split;
  // An exponent such as 1e6 ends in a digit, so it never reaches the unit part.
  const std::string number = text.substr(0, split);
  std::string unit = text.substr(split);
  for (auto& c : unit) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  double multiplier = 0;
  if (unit.empty() || unit == "hz")
    multiplier = 1;
  else if (unit == "k" || unit == "khz")
    multiplier = 1e3;
  else if (unit == "m" || unit == "mhz")
    multiplier = 1e6;
  else if (unit == "g" || unit == "ghz")
    multiplier = 1e9;
  if (multiplier == 0 || number.empty()) {
    throw UsageError(dashed(option) + ": '" + text +
                     "' is not a frequency; write e.g. 1e6, 1000000, 2.5MHz, 250k or 10kHz");
  }
  const double value = parseReal(option, number) * multiplier;
  if (!std::isfinite(value)) throw UsageError(dashed(option) + ": '" + text + "' is too large");
  return value;
}

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
  if (o.mode == kModeNoise) return o.noiseRate;
  return o.symbolRate * o.oversampling;
}

ParseResult parseCommandLine(const std::vector<std::string>& args) {
  ParseResult result;
  Options& o = result.options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") {
      result.action = Action::Help;
      return result;
    }
    if (arg == "--version") {
      result.action = Action::Version;
      return result;
    }
    const OptionSpec* entry = nullptr;
    std::optional<std::string> inlineValue;
    if (arg.rfind("--", 0) == 0 && arg.size() > 2) {
      std::string name = arg.substr(2);
      if (const auto eq = name.find('='); eq != std::string::npos) {
        inlineValue = name.substr(eq + 1);
        name.erase(eq);
      }
      entry = findLong(name);
    } else if (arg.size() >= 2 && arg[0] == '-' && arg[1] != '-') {
      entry = findShort(arg[1]);
      if (entry != nullptr && arg.size() > 2) inlineValue = arg.substr(2);
    }
    if (entry == nullptr) {
      throw UsageError(
          (arg.empty() || arg[0] != '-' ? "unexpected argument '" : "unknown option '") + arg +
          "'; see iqsynth --help");
    }
    std::string value;
    if (entry->valueLabel != nullptr) {
      if (inlineValue) {
        value = *inlineValue;
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        throw UsageError(dashed(entry->longName) + " needs a value (" + entry->valueLabel + ")");
      }
    } else if (inlineValue) {
      throw UsageError(dashed(entry->longName) + " takes no value");
    }
    if (o.given.count(entry->longName) != 0) {
      throw UsageError(dashed(entry->longName) + " is given more than once");
    }
    o.given.insert(entry->longName);
    entry->apply(o, value);
  }
  if (args.empty()) throw UsageError("no options given; see iqsynth --help");
  checkCombination(o);
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
  std::ostringstream out;
  out << "Usage: iqsynth [OPTIONS] -o FILE.arb | --csv FILE.csv\n"
         "Synthesises a digitally modulated IQ waveform, band-limited noise or a\n"
         "multi-carrier CW comb with libiqsynth and writes it as an encrypted .arb\n"
         "file and/or a two-column CSV file of 14-bit I,Q samples.\n\n"
         "Options (values may follow as '--name VALUE', '--name=VALUE' or '-x VALUE'):\n";
  for (const auto& entry : optionTable()) {
    std::string left = "  ";
    left += entry.shortName != 0 ? std::string("-") + entry.shortName + ", " : "    ";
    left += dashed(entry.longName);
    if (entry.valueLabel != nullptr) left += std::string(" ") + entry.valueLabel;
    if (left.size() < 32)
      left.resize(32, ' ');
    else
      left += "\n" + std::string(32, ' ');
    out << left << entry.help;
    if (entry.modes != kAllModes) out << " [" << modesOf(entry.modes) << "]";
    out << "\n";
  }
  out << "  -h, --help                    this text\n"
         "      --version                 program version\n\n"
         "Modulations (-M):\n";
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
         "library's status is printed in words); 4 an output file could not be written;\n"
         "5 unexpected failure (out of memory).\n";
  return out.str();
}

}  // namespace iqsynth_host
