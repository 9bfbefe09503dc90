// The readers of the iqsynth options' values (see option_values.h).
#include "option_values.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <utility>

namespace arbsuite::iqsynth_host {

using arbsuite::cli::RealNumber;
using arbsuite::cli::WholeNumber;

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

std::vector<RampRow> readRamp(const std::string& text) {
  std::vector<RampRow> rows;
  for (const auto& item : arbsuite::cli::splitList(text)) {
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

std::vector<char> readSwitches(const std::string& text) {
  const bool bitString = text.find(',') == std::string::npos && text.size() > 1;
  std::vector<std::string> items;
  if (bitString) {
    for (const char c : text) items.emplace_back(1, c);
  } else {
    items = arbsuite::cli::splitList(text);
  }
  std::vector<char> switches;
  for (const auto& item : items) {
    if (item != "0" && item != "1") throw CLI::ValidationError("'" + item + "' is not 0 or 1");
    switches.push_back(item == "1" ? 1 : 0);
  }
  if (switches.empty()) throw CLI::ValidationError("the list is empty");
  return switches;
}

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
  o.phases = arbsuite::cli::readRealList(text);
}

}  // namespace arbsuite::iqsynth_host
