// The two item lookups of seqlink over the format module's one item scanner (the
// segment configuration's and the text-header reader's, each with its own rule),
// and locale-independent number conversions.
#pragma once

#include <locale.h>

#include <clocale>
#include <optional>
#include <string>
#include <string_view>

namespace arbsuite::seqlink {

// The configuration reader's item lookup: the characters between the end of the
// first occurrence of key in text and the first "}" after it, verbatim. Empty when
// the key or the "}" is missing.
std::string_view findItemValue(std::string_view key, std::string_view text);

// The text-header reader's item lookup: the same scan (key is for example "{Clock",
// without its colon); then from the first decimal digit of the value to its last
// digit, converted as a decimal floating-point number (never negative; 0 when the
// value has no digit). Empty when the item is missing.
std::optional<double> numberFromItem(std::string_view text, std::string_view key);

// Decimal floating-point conversion with the C rules (leading white space skipped,
// stops at the first character that does not fit, 0 for garbage) in the "C" locale.
double textToDouble(std::string_view text);

// Decimal integer conversion with the C rules; empty when the number lies outside
// the range of int (where the C conversion has no defined result).
std::optional<int> textToInt(std::string_view text);

// Switches the calling thread to the "C" locale for its lifetime, so that numbers
// are read and written with a decimal point whatever locale the host has set.
class ClassicLocaleScope {
 public:
  ClassicLocaleScope();
  ~ClassicLocaleScope();
  ClassicLocaleScope(const ClassicLocaleScope&) = delete;
  ClassicLocaleScope& operator=(const ClassicLocaleScope&) = delete;

 private:
  locale_t previous_;
};

}  // namespace arbsuite::seqlink
