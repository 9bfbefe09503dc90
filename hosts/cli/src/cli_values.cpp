// Readers of option values with the words the hosts have always used. CLI11's
// own conversions read integers with base prefixes (010 is 8) and its unit
// transformer writes the scaled value with six significant digits, so the hosts
// keep their own readers and use CLI11 for everything around them.
#include "cli_values.h"

#include <CLI/Error.hpp>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <sstream>

namespace hosts_cli {
namespace {

// from_chars after an optional '+': no spaces, no base prefixes, no hex floats.
template <typename T>
bool readWhole(const std::string& text, T& value) {
  const char* first = text.data();
  const char* last = first + text.size();
  if (!text.empty() && *first == '+') ++first;
  const auto [end, error] = std::from_chars(first, last, value);
  return !text.empty() && error == std::errc() && end == last;
}

void checkBound(double value, const std::string& text, Bound bound) {
  switch (bound) {
    case Bound::Any:
      return;
    case Bound::Positive:
      if (!(value > 0)) throw CLI::ValidationError(text + " must be greater than 0");
      return;
    case Bound::NotNegative:
      if (value < 0) throw CLI::ValidationError(text + " is negative");
      return;
    case Bound::UpToOne:
      if (!(value > 0 && value <= 1)) throw CLI::ValidationError(text + " is not in (0, 1]");
      return;
  }
}

}  // namespace

long long readWholeNumber(const std::string& text, long long low, long long high) {
  long long value = 0;
  if (!readWhole(text, value)) throw CLI::ValidationError("'" + text + "' is not a whole number");
  if (value < low || value > high) {
    throw CLI::ValidationError(text + " is out of range " + std::to_string(low) + " to " +
                               std::to_string(high));
  }
  return value;
}

double readReal(const std::string& text, Bound bound) {
  double value = 0;
  if (!readWhole(text, value) || !std::isfinite(value)) {
    throw CLI::ValidationError("'" + text + "' is not a number");
  }
  checkBound(value, text, bound);
  return value;
}

double readFrequency(const std::string& text, Bound bound) {
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
    throw CLI::ValidationError(
        "'" + text + "' is not a frequency; write e.g. 1e6, 1000000, 2.5MHz, 250k or 10kHz");
  }
  const double value = readReal(number) * multiplier;
  if (!std::isfinite(value)) throw CLI::ValidationError("'" + text + "' is too large");
  checkBound(value, text, bound);
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

std::vector<double> readRealList(const std::string& text) {
  std::vector<double> values;
  for (const auto& item : splitList(text)) values.push_back(readReal(item));
  if (values.empty()) throw CLI::ValidationError("the list is empty");
  return values;
}

double parseFrequency(const std::string& option, const std::string& text) {
  try {
    return readFrequency(text);
  } catch (const CLI::ValidationError& e) {
    throw UsageError("--" + option + ": " + e.what());
  }
}

std::string frequencyText(double hertz) {
  static constexpr struct {
    double scale;
    const char* unit;
  } kUnits[] = {{1e9, "GHz"}, {1e6, "MHz"}, {1e3, "kHz"}, {1, "Hz"}};
  for (const auto& u : kUnits) {
    if (std::fabs(hertz) >= u.scale || u.scale == 1) {
      char text[48];
      std::snprintf(text, sizeof text, "%.15g%s", hertz / u.scale, u.unit);
      return text;
    }
  }
  return {};
}

}  // namespace hosts_cli
