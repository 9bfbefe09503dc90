// Frequencies as the programs' options write them, read by one set of rules for every
// program: a number and an optional unit, the unit's case free.
//   Hz or h   1           k or kHz   1e3
//   m or MHz  1e6         g or GHz   1e9
// "m" is mega, never milli: no option of the suite takes a fraction of a hertz
// written so, and wavepack -f has read "1m" as 1 MHz from the start.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace arbsuite {

// A frequency text cut before its unit: the number as written and the unit's factor
// (0 when the letters at the end are no unit). An exponent such as 1e6 ends in a
// digit, so it stays with the number.
struct FrequencyParts {
  std::string_view number;
  double factor = 0;
};
FrequencyParts splitFrequency(std::string_view text);

// The hertz of a whole frequency text: the number in decimal or exponent form with an
// optional sign (as std::from_chars reads it, a leading '+' allowed) times its unit.
// None when the text is not one, or its number is beyond a double; the product can
// still be infinite ("1e300G"), which the caller names.
std::optional<double> readFrequency(std::string_view text);

// wavepack -f's reading, kept for the files and scripts that rely on it: the longest
// leading number (strtod: leading blanks, hexadecimal and "inf" too) times the unit
// named by the first character after it, upper-cased: none or 'H' 1, 'K' 1e3, 'M' 1e6
// ("1m", "1MHz" and "1Mega" are all 1 MHz). None for any other character there.
std::optional<double> readFrequencyLeniently(const std::string& text);

// A frequency as the programs write it in their texts: the largest unit of Hz, kHz,
// MHz and GHz that the value reaches and up to 15 significant digits (1e6 gives
// "1MHz", 2.5e3 "2.5kHz", 10 "10Hz").
std::string frequencyText(double hertz);

}  // namespace arbsuite
