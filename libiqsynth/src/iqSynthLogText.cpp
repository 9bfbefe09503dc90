// The number text of iqSynthLog: printf's "%g" (six significant digits, trailing zeros dropped,
// exponent form below 1e-4 and from 1e6 on) computed from one scaled integer per value.
#include "iqSynthLogText.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace arbsuite::iqsynth {

namespace {

constexpr int kDigits = 6;  // significant digits of the default stream form
// Exact powers of ten (every one up to 1e22 is a double).
constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
// The scaled path covers decimal exponents -5 to 15, so the scale 10^(5 - e) stays within
// the exact powers (with one step of correction either way).
constexpr int kMinExponent = -5;
constexpr int kMaxExponent = 15;
// A product or quotient of two doubles is off by at most half a unit in the last place: for
// a scaled value below 1e6 that is under 1.2e-10. Values this close to a rounding tie are
// left to the exact converter.
constexpr double kTieMargin = 1e-7;

char* fallback(char* out, double v) {
  return std::to_chars(out, out + kMaxDoubleText, v, std::chars_format::general, kDigits).ptr;
}

// a * 10^(5 - e): one correctly rounded operation with an exact power of ten.
double scaleToSixDigits(double a, int e) {
  const int p = 5 - e;
  return p >= 0 ? a * kPow10[p] : a / kPow10[-p];
}

}  // namespace

DecimalCounter::DecimalCounter(std::size_t start) {
  constexpr std::size_t kLowLimit = 100000000;  // 10^8: the low word's eight digits
  const std::size_t high = start / kLowLimit;
  std::size_t low = start % kLowLimit;
  char digits[8];
  for (int k = 7; k >= 0; --k) {
    digits[k] = static_cast<char>('0' + low % 10);
    low /= 10;
  }
  std::memcpy(&m_low, digits, sizeof m_low);
  if constexpr (std::endian::native == std::endian::big) {
    m_low = __builtin_bswap64(m_low);
  }
  if (high > 0) {
    m_highLength =
        static_cast<unsigned>(std::to_chars(m_high, m_high + sizeof m_high, high).ptr - m_high);
    m_lowLength = 8;
  } else {
    // The number of significant digits: from the first non-zero one.
    m_lowLength = 8;
    while (m_lowLength > 1 && digits[8 - m_lowLength] == '0') {
      --m_lowLength;
    }
  }
}

void DecimalCounter::carryIntoHigh() {
  if (m_highLength == 0) {
    m_high[0] = '1';
    m_highLength = 1;
    m_lowLength = 8;
    return;
  }
  int k = static_cast<int>(m_highLength) - 1;
  while (k >= 0 && m_high[k] == '9') {
    m_high[k] = '0';
    --k;
  }
  if (k >= 0) {
    ++m_high[k];
    return;
  }
  std::memmove(m_high + 1, m_high, m_highLength);
  m_high[0] = '1';
  ++m_highLength;
}

PaddedLabel::PaddedLabel(std::string_view text) : m_long(text), m_size(text.size()) {
  if (m_size <= kCopyLength) {
    std::memcpy(m_text, text.data(), m_size);
  }
}

char* writeDoubleText(char* out, double v) {
  if (v == 0.0) {
    if (std::signbit(v)) {
      *out++ = '-';
    }
    *out++ = '0';
    return out;
  }
  const double a = std::fabs(v);
  // Decimal exponent estimate from the binary one: floor(b * log10(2)), exact or one too small.
  const int binaryExponent =
      static_cast<int>((std::bit_cast<std::uint64_t>(a) >> 52) & 0x7FF) - 1023;
  if (binaryExponent < -17 || binaryExponent > 49) {
    return fallback(out, v);  // outside 1e-5 .. 1e15, denormals, inf and nan
  }
  int e = (binaryExponent * 78913) >> 18;  // 78913 / 2^18 = log10(2) to seven digits
  double scaled = scaleToSixDigits(a, e);
  if (scaled >= 1e6) {
    ++e;
    scaled = scaleToSixDigits(a, e);
  } else if (scaled < 1e5) {
    --e;
    scaled = scaleToSixDigits(a, e);
  }
  if (e < kMinExponent || e > kMaxExponent || scaled < 1e5 || scaled >= 1e6 ||
      std::fabs(scaled - std::floor(scaled) - 0.5) < kTieMargin) {
    return fallback(out, v);
  }
  auto digits = static_cast<std::uint32_t>(scaled + 0.5);
  if (digits == 1000000) {  // rounded up to the next power of ten
    digits = 100000;
    ++e;
  }
  // The six digits, most significant first, and how many remain once trailing zeros go.
  char d[kDigits];
  for (int k = kDigits - 1; k >= 0; --k) {
    d[k] = static_cast<char>('0' + digits % 10);
    digits /= 10;
  }
  int significant = kDigits;
  while (significant > 1 && d[significant - 1] == '0') {
    --significant;
  }

  if (v < 0) {
    *out++ = '-';
  }
  if (e >= -4 && e < kDigits) {
    // Fixed form.
    if (e >= 0) {
      const int whole = e + 1;
      std::memcpy(out, d, static_cast<std::size_t>(whole));
      out += whole;
      if (significant > whole) {
        *out++ = '.';
        std::memcpy(out, d + whole, static_cast<std::size_t>(significant - whole));
        out += significant - whole;
      }
    } else {
      *out++ = '0';
      *out++ = '.';
      for (int k = -1; k > e; --k) {
        *out++ = '0';
      }
      std::memcpy(out, d, static_cast<std::size_t>(significant));
      out += significant;
    }
    return out;
  }
  // Exponent form: d.ddddde+XX with at least two exponent digits.
  *out++ = d[0];
  if (significant > 1) {
    *out++ = '.';
    std::memcpy(out, d + 1, static_cast<std::size_t>(significant - 1));
    out += significant - 1;
  }
  *out++ = 'e';
  *out++ = e < 0 ? '-' : '+';
  const int magnitude = e < 0 ? -e : e;
  *out++ = static_cast<char>('0' + magnitude / 10);
  *out++ = static_cast<char>('0' + magnitude % 10);
  return out;
}

}  // namespace arbsuite::iqsynth
