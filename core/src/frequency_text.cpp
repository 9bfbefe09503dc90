// The suite's frequency texts (see frequency_text.h).
#include "frequency_text.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstdlib>

namespace arbsuite {

namespace {

bool isLetter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }

// Compares an ASCII word with a lower-case one, case free.
bool sameWord(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (std::size_t k = 0; k < text.size(); ++k)
    if (std::tolower(static_cast<unsigned char>(text[k])) != lower[k]) return false;
  return true;
}

}  // namespace

FrequencyParts splitFrequency(std::string_view text) {
  std::size_t split = text.size();
  while (split > 0 && isLetter(text[split - 1])) --split;
  const std::string_view unit = text.substr(split);
  struct Unit {
    std::string_view a;
    std::string_view b;
    double factor;
  };
  static constexpr Unit kUnits[] = {
      {"", "hz", 1}, {"h", "h", 1}, {"k", "khz", 1e3}, {"m", "mhz", 1e6}, {"g", "ghz", 1e9}};
  for (const Unit& u : kUnits)
    if (sameWord(unit, u.a) || sameWord(unit, u.b)) return {text.substr(0, split), u.factor};
  return {text.substr(0, split), 0};
}

std::optional<double> readFrequency(std::string_view text) {
  const FrequencyParts parts = splitFrequency(text);
  std::string_view number = parts.number;
  if (parts.factor == 0 || number.empty()) return std::nullopt;
  if (number.front() == '+') number.remove_prefix(1);
  double value = 0;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (number.empty() || error != std::errc() || end != number.data() + number.size())
    return std::nullopt;
  return value * parts.factor;
}

std::optional<double> readFrequencyLeniently(const std::string& text) {
  const char* begin = text.c_str();
  char* end = nullptr;
  const double number = std::strtod(begin, &end);
  switch (std::toupper(static_cast<unsigned char>(*end))) {
    case '\0':
    case 'H':
      return number;
    case 'K':
      return number * 1e3;
    case 'M':
      return number * 1e6;
    default:
      return std::nullopt;
  }
}

std::string frequencyText(double hertz) {
  const double scale = hertz >= 1e9 ? 1e9 : hertz >= 1e6 ? 1e6 : hertz >= 1e3 ? 1e3 : 1;
  const char* unit = scale == 1e9 ? "GHz" : scale == 1e6 ? "MHz" : scale == 1e3 ? "kHz" : "Hz";
  char text[48];
  std::snprintf(text, sizeof text, "%.15g%s", hertz / scale, unit);
  return text;
}

}  // namespace arbsuite
