// The number scanner of the CSV reader: the field's number read with std::from_chars
// but accepted exactly as stream extraction of a double accepts it. The fast paths
// are inline here because the line parser calls them for every field.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "csv_reader.h"

namespace arbsuite::wavepack::csv {

inline bool isStreamSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

inline bool isBlank(char c) { return c == ' ' || c == '\t'; }

inline bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Decimals of up to this many digits have an exact integer mantissa (below 2^53).
inline constexpr int kFastDigits = 15;
inline constexpr double kPowersOfTen[kFastDigits + 1] = {
    1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// 10^0 to 10^7 as integers: scaling the whole digits needs no conversion from double.
inline constexpr std::uint64_t kIntegerPowersOfTen[8] = {1,     10,     100,     1000,
                                                         10000, 100000, 1000000, 10000000};

// Slow path of scanNumber: from_chars on the text from `numberBegin` (its sign
// included); `last` bounds the field's line.
NumberScan scanWithFromChars(const char* numberBegin, const char* last, double& value,
                             char decimalPoint);

// Bytes kept readable, and zero, after the text the pieces parse: the number scanner
// of the pieces loads 8 bytes at a time from any position before the end of a line.
inline constexpr std::size_t kReadSlack = 16;

inline std::uint64_t load8(const char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// Number of leading decimal digits among the 8 bytes of a little-endian word (the
// first character in its lowest byte). A byte is a digit when its high nibble is 3
// and adding 6 keeps it so; carries only run from a non-digit upwards, past the
// first non-digit, so they never change the count.
inline unsigned digitRun(std::uint64_t word) {
  constexpr std::uint64_t kHighNibbles = 0xF0F0F0F0F0F0F0F0ull;
  constexpr std::uint64_t kThrees = 0x3030303030303030ull;
  const std::uint64_t high = (word & kHighNibbles) ^ kThrees;
  const std::uint64_t low = ((word + 0x0606060606060606ull) & kHighNibbles) ^ kThrees;
  const std::uint64_t nonDigits = high | low;
  return nonDigits == 0 ? 8 : static_cast<unsigned>(std::countr_zero(nonDigits)) / 8;
}

// The value of the first n (1 to 8) digit characters of a little-endian word: the
// digits are moved to the top bytes (the rest become leading zeros), then combined
// pairwise, by fours and by eights with three multiplications.
inline std::uint64_t digitsValue(std::uint64_t word, unsigned n) {
  std::uint64_t v = (word - 0x3030303030303030ull) << (8 * (8 - n));
  v = v * 10 + (v >> 8);
  v = ((v & 0x000000FF000000FFull) * (100 + (1000000ull << 32)) +
       ((v >> 16) & 0x000000FF000000FFull) * (1 + (10000ull << 32))) >>
      32;
  return v;
}

// The digits of a decimal at p with fewer than 8 digits before and after the point,
// read 8 bytes at a time; false, leaving nothing set, for anything longer. Needs 8
// readable bytes after every position before `last` (the pieces' slack).
inline bool shortDecimal(const char* p, const char* last, char decimalPoint,
                         std::uint64_t& mantissa, int& digits, int& fraction, const char*& end) {
  const std::uint64_t whole = load8(p);
  const unsigned wholeDigits = std::min<unsigned>(digitRun(whole), static_cast<unsigned>(last - p));
  if (wholeDigits == 8) return false;
  std::uint64_t value = wholeDigits > 0 ? digitsValue(whole, wholeDigits) : 0;
  const char* q = p + wholeDigits;
  unsigned fractionDigits = 0;
  if (q < last && *q == decimalPoint) {
    ++q;
    const std::uint64_t part = load8(q);
    fractionDigits = std::min<unsigned>(digitRun(part), static_cast<unsigned>(last - q));
    if (fractionDigits == 8) return false;
    if (fractionDigits > 0)
      value = value * kIntegerPowersOfTen[fractionDigits] + digitsValue(part, fractionDigits);
    q += fractionDigits;
  }
  mantissa = value;
  digits = static_cast<int>(wholeDigits + fractionDigits);
  fraction = static_cast<int>(fractionDigits);
  end = q;
  return true;
}

// The common field of the plain "I,Q" line: an optional '-', fewer than 8 digits,
// optionally a '.' and fewer than 8 digits, ended by ',', CR or LF before `last`.
// Returns the end with the value set (what scanNumberIn gives for the field: the
// same digits, the same correctly rounded division), or null, setting nothing, for
// anything else. Needs the pieces' slack after `last`.
inline const char* plainDecimal(const char* p, const char* last, double& value) {
  const bool negative = *p == '-';
  p += negative;
  const std::uint64_t whole = load8(p);
  const unsigned wholeDigits = digitRun(whole);
  if (wholeDigits == 8 || static_cast<std::size_t>(last - p) <= wholeDigits) return nullptr;
  std::uint64_t mantissa = wholeDigits > 0 ? digitsValue(whole, wholeDigits) : 0;
  const char* q = p + wholeDigits;
  unsigned fractionDigits = 0;
  if (*q == '.') {
    ++q;
    const std::uint64_t part = load8(q);
    fractionDigits = digitRun(part);
    if (fractionDigits == 8 || static_cast<std::size_t>(last - q) <= fractionDigits) return nullptr;
    if (fractionDigits > 0)
      mantissa = mantissa * kIntegerPowersOfTen[fractionDigits] + digitsValue(part, fractionDigits);
    q += fractionDigits;
  }
  if (wholeDigits + fractionDigits == 0 || !(*q == ',' || *q == '\r' || *q == '\n')) return nullptr;
  const double magnitude = static_cast<double>(mantissa) / kPowersOfTen[fractionDigits];
  // The sign bit set without a branch (the signs of such files are random): the
  // magnitude is +0 or positive, so this is its negation.
  value = std::bit_cast<double>(std::bit_cast<std::uint64_t>(magnitude) |
                                (static_cast<std::uint64_t>(negative) << 63));
  return q;
}

// The digits of one field of the plain "I,Q" line, as plainDecimal reads them, for
// the line parser's run of plain lines: an optional '-', fewer than 8 digits,
// optionally a '.' and fewer than 8 digits, at least one digit, all before `last`.
// Without branches on the sign, the number of digits or the point (they vary at
// random from line to line in some files): a field without a point reads its
// fraction from the character after its digits, which is no digit. Returns the
// end, or null when the field is not of this form (the character at the end is not
// checked). Needs the pieces' slack after `last`.
struct PlainDigits {
  std::uint64_t mantissa;  // below 10^14: exact as a double
  std::uint64_t sign;      // the sign bit of the value
  unsigned fraction;       // digits after the point
};

// digitsValue for n from 0 to 7: 0 for none, without a branch.
inline std::uint64_t digitsValueOrZero(std::uint64_t word, unsigned n) {
  const std::uint64_t value = digitsValue(word, n | (n == 0));
  return value & (std::uint64_t{0} - (n != 0));
}

[[gnu::always_inline]] inline const char* plainDigits(const char* p, const char* last,
                                                      PlainDigits& out) {
  const bool negative = *p == '-';
  p += negative;
  const std::uint64_t whole = load8(p);
  const unsigned wholeDigits = digitRun(whole);
  const char* q = p + wholeDigits;
  const bool point = *q == '.';
  q += point;
  const std::uint64_t part = load8(q);
  const unsigned fractionDigits = digitRun(part);
  // Both runs are below 8 and the character after the digits lies before `last`;
  // at least one digit was read.
  if ((wholeDigits | fractionDigits) >= 8 || q + fractionDigits >= last ||
      wholeDigits + fractionDigits == 0)
    return nullptr;
  const unsigned digits = wholeDigits + fractionDigits;
  if (digits <= 8) {
    // The digits without the point in one word, read in one go: the whole digits in
    // its low bytes, the fraction's after them (what follows them is shifted out).
    const std::uint64_t wholeMask = (std::uint64_t{1} << (8 * wholeDigits)) - 1;
    out.mantissa = digitsValue((whole & wholeMask) | (part << (8 * wholeDigits)), digits);
  } else {
    out.mantissa = digitsValueOrZero(whole, wholeDigits) * kIntegerPowersOfTen[fractionDigits] +
                   digitsValueOrZero(part, fractionDigits);
  }
  out.sign = static_cast<std::uint64_t>(negative) << 63;
  out.fraction = fractionDigits;
  return q + fractionDigits;
}

// The value of plain digits: the mantissa divided by its power of ten (one
// correctly rounded IEEE division, as plainDecimal makes it), the sign bit set
// without a branch (the magnitude is +0 or positive, so this is its negation).
inline double plainValue(const PlainDigits& digits) {
  // Signed conversion: the mantissa is below 2^53, so it is the same exact value.
  const double magnitude = static_cast<double>(static_cast<std::int64_t>(digits.mantissa)) /
                           kPowersOfTen[digits.fraction];
  return std::bit_cast<double>(std::bit_cast<std::uint64_t>(magnitude) | digits.sign);
}

// scanNumber; with Padded, the text has kReadSlack readable bytes after every
// position before `last`, and digits are read 8 at a time.
template <bool Padded>
inline NumberScan scanNumberIn(const char* first, const char* last, double& value,
                               char decimalPoint, char delimiter) {
  const char* p = first;
  while (p < last && isStreamSpace(*p) && *p != delimiter) ++p;
  const char* numberBegin = p;
  bool negative = false;
  if (p < last && *p == '+') {
    ++p;
    numberBegin = p;  // from_chars takes no '+'; a second sign after it is refused below
  } else if (p < last && *p == '-') {
    ++p;
    negative = true;
  }
  // Only digits or a point may start the mantissa: this refuses "inf", "nan" and
  // doubled signs, which from_chars or strtod would otherwise take.
  if (p == last || !(isDigit(*p) || *p == decimalPoint)) return {};
  // Nor is a hexadecimal number one (a stream would read the "0" before its 'x').
  if (*p == '0' && last - p > 1 && (p[1] == 'x' || p[1] == 'X')) return {};

  // Fast path for the common plain decimal of at most 15 significant digits and no
  // exponent: mantissa and power of ten are exact doubles, so one IEEE division
  // gives the correctly rounded value, the same that from_chars and strtod give.
  const char* q = p;
  std::uint64_t mantissa = 0;
  int digits = 0;
  int fraction = 0;
  bool read = false;
  if constexpr (Padded && std::endian::native == std::endian::little)
    read = shortDecimal(p, last, decimalPoint, mantissa, digits, fraction, q);
  if (!read) {
    for (; q < last && isDigit(*q) && digits <= kFastDigits; ++q, ++digits)
      mantissa = mantissa * 10 + static_cast<unsigned>(*q - '0');
    if (q < last && *q == decimalPoint) {
      for (++q; q < last && isDigit(*q) && digits <= kFastDigits; ++q, ++digits, ++fraction)
        mantissa = mantissa * 10 + static_cast<unsigned>(*q - '0');
    }
  }
  const bool moreDigits = q < last && (isDigit(*q) || *q == decimalPoint);
  const bool exponent = q < last && (*q == 'e' || *q == 'E');
  if (digits > 0 && digits <= kFastDigits && !moreDigits && !exponent) {
    if (decimalPoint != '.' && q < last && *q == '.') return {};
    const double magnitude = static_cast<double>(mantissa) / kPowersOfTen[fraction];
    value = negative ? -magnitude : magnitude;
    return {FieldValue::number, q};
  }
  return scanWithFromChars(numberBegin, last, value, decimalPoint);
}

}  // namespace arbsuite::wavepack::csv
