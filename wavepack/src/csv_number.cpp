// The number scanner's slow path (exponents, long mantissas, decimal commas, values
// out of range) and scanNumber, the reader's entry to it (see csv_number.h).
#include "csv_number.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

namespace arbsuite::wavepack {

namespace csv {

namespace {

// The exact value of an out-of-range token, as strtod gives it (rare path).
double strtodToken(const char* first, const char* last) {
  const std::string token(first, last);
  errno = 0;
  return std::strtod(token.c_str(), nullptr);
}

// A decimal-comma number copied for from_chars, character for character: the first
// ',' becomes '.', and a '.' or a second ',' becomes a character no number holds.
std::string commaToken(const char* first, const char* last) {
  std::string token;
  bool pointSeen = false;
  for (const char* c = first; c < last; ++c) {
    const char ch = *c;
    if (isDigit(ch) || ch == 'e' || ch == 'E' || ch == '+' || ch == '-') {
      token += ch;
    } else if (ch == ',' && !pointSeen) {
      pointSeen = true;
      token += '.';
    } else if (ch == ',' || ch == '.') {
      token += 'x';
    } else {
      break;
    }
  }
  return token;
}

}  // namespace

NumberScan scanWithFromChars(const char* numberBegin, const char* last, double& value,
                             char decimalPoint) {
  std::string commaCopy;
  const char* tokenBegin = numberBegin;
  const char* tokenEnd = last;
  if (decimalPoint != '.') {
    commaCopy = commaToken(numberBegin, last);
    tokenBegin = commaCopy.data();
    tokenEnd = tokenBegin + commaCopy.size();
  }
  double v = 0.0;
  const auto [end, ec] = std::from_chars(tokenBegin, tokenEnd, v, std::chars_format::general);
  if (ec == std::errc::invalid_argument) return {};
  // Stream extraction takes an 'e' after a mantissa as the start of an exponent and
  // fails when no digits follow; from_chars would stop before it and succeed.
  if (end < tokenEnd && (*end == 'e' || *end == 'E') &&
      std::find_if(tokenBegin, end, [](char c) { return c == 'e' || c == 'E'; }) == end)
    return {};
  const char* const sourceEnd = numberBegin + (end - tokenBegin);
  if (decimalPoint != '.' && sourceEnd < last && *sourceEnd == '.') return {};
  if (ec == std::errc::result_out_of_range) {
    v = strtodToken(tokenBegin, end);
    if (std::isinf(v)) return {FieldValue::overflow, sourceEnd};
    // Underflow: stream extraction keeps strtod's nearest value.
  }
  value = v;
  return {FieldValue::number, sourceEnd};
}

}  // namespace csv

NumberScan scanNumber(const char* first, const char* last, double& value, char decimalPoint,
                      char delimiter) {
  return csv::scanNumberIn<false>(first, last, value, decimalPoint, delimiter);
}

}  // namespace arbsuite::wavepack
