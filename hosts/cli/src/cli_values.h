// Readers of option values shared by the command-line hosts: whole numbers, real
// numbers and frequencies with units, each refused with the programs' own words.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace hosts_cli {

// A bad command line: exit status 1. usage is the usage line of the command
// concerned, or empty.
struct UsageError : std::runtime_error {
  explicit UsageError(const std::string& message, std::string usageLine = {})
      : std::runtime_error(message), usage(std::move(usageLine)) {}
  std::string usage;
};

// The ranges real values are checked against, each with its own words.
enum class Bound {
  Any,
  Positive,     // "X must be greater than 0"
  NotNegative,  // "X is negative"
  UpToOne,      // above 0, up to 1: "X is not in (0, 1]"
};

// The readers below take the text of one option value and throw
// CLI::ValidationError with a message that does not name the option: CLI11 puts
// "--name: " in front when a reader runs as the option's validator.

// Decimal digits after an optional sign ("+5", "-3"; no base prefixes, no
// spaces), within low..high: "'x' is not a whole number", "x is out of range
// low to high".
long long readWholeNumber(const std::string& text, long long low, long long high);

// A finite decimal number (1, -0.5, 2e-3) within bound: "'x' is not a number".
double readReal(const std::string& text, Bound bound = Bound::Any);

// A frequency in hertz: a number followed by nothing, Hz, k, kHz, M, MHz, G or
// GHz in any case (1e6, 1000000, 2.5MHz, 250k, 10kHz, 1G), within bound. Spaces,
// other units and base prefixes are refused: "'x' is not a frequency; write
// e.g. ...", "'x' is too large".
double readFrequency(const std::string& text, Bound bound = Bound::Any);

// Comma-separated real numbers; an empty item is refused, as is an empty list.
std::vector<double> readRealList(const std::string& text);

// The items of a comma-separated list; a trailing comma gives an empty last item.
std::vector<std::string> splitList(const std::string& text);

// The readers with their ranges bound, as readInto (cli_parsing.h) takes them.
inline auto wholeNumber(long long low, long long high) {
  return [low, high](const std::string& text) { return readWholeNumber(text, low, high); };
}
inline auto realNumber(Bound bound = Bound::Any) {
  return [bound](const std::string& text) { return readReal(text, bound); };
}
inline auto frequency(Bound bound = Bound::Any) {
  return [bound](const std::string& text) { return readFrequency(text, bound); };
}

// readFrequency for callers outside an option: throws UsageError
// "--option: problem".
double parseFrequency(const std::string& option, const std::string& text);

// A frequency for the help text, in the largest unit that keeps it at 1 or
// more: 1e6 -> "1MHz", 250e3 -> "250kHz", 50 -> "50Hz".
std::string frequencyText(double hertz);

}  // namespace hosts_cli
