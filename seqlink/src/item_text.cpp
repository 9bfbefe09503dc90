// "{key:value}" item lookup and number conversions (see item_text.h).
#include "item_text.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "arb_format.h"

namespace arbsuite::seqlink {
namespace {

locale_t classicLocale() {
  static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return locale;
}

constexpr std::string_view kDigits = "0123456789";

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::string_view findItemValue(std::string_view key, std::string_view text) {
  return arb::textAfterKey(text, key).value_or(std::string_view());
}

std::optional<double> numberFromItem(std::string_view text, std::string_view key) {
  const std::optional<std::string_view> value = arb::textAfterKey(text, key);
  if (!value) return std::nullopt;
  const std::size_t first = value->find_first_of(kDigits);
  if (first == std::string_view::npos) return 0.0;
  const std::size_t last = value->find_last_of(kDigits);
  return textToDouble(value->substr(first, last - first + 1));
}

double textToDouble(std::string_view text) {
  const std::string copy(text);
  return strtod_l(copy.c_str(), nullptr, classicLocale());
}

std::optional<int> textToInt(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size() && isCSpace(text[at])) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    negative = text[at] == '-';
    ++at;
  }
  // Accumulate as a negative number so that INT_MIN is reachable without overflow.
  long long value = 0;
  for (; at < text.size() && isDigit(text[at]); ++at) {
    value = value * 10 - (text[at] - '0');
    if (value < static_cast<long long>(INT_MIN)) return std::nullopt;
  }
  if (!negative) {
    if (-value > INT_MAX) return std::nullopt;
    return static_cast<int>(-value);
  }
  return static_cast<int>(value);
}

ClassicLocaleScope::ClassicLocaleScope()
    : previous_(classicLocale() != static_cast<locale_t>(nullptr)
                    ? uselocale(classicLocale())
                    : static_cast<locale_t>(nullptr)) {}

ClassicLocaleScope::~ClassicLocaleScope() {
  if (previous_ != static_cast<locale_t>(nullptr)) uselocale(previous_);
}

}  // namespace arbsuite::seqlink
