// Fast, exact text of the numbers the run log holds: the very characters a default-formatted
// std::ostream gives (integers in decimal, doubles in printf's "%g" form with six significant
// digits), written straight into a character buffer because a run logs whole sample tracks.
#pragma once

#include <charconv>
#include <complex>
#include <concepts>
#include <cstddef>
#include <cstring>
#include <string_view>

namespace iqsynth {

// Room that writeDoubleText needs at most ("-1.23457e-308" and "-nan" fit easily).
inline constexpr std::size_t kMaxDoubleText = 24;
// Room for any integer of 64 bits, sign included.
inline constexpr std::size_t kMaxIntegerText = 21;
// Room for "(" real "," imaginary ")".
inline constexpr std::size_t kMaxValueText = 2 * kMaxDoubleText + 3;

// Writes the default stream text of v at out (room for kMaxDoubleText characters) and returns
// the end. Values from 1e-5 to 1e15 are formatted by scaled integer arithmetic; the rest, and
// the rare values within rounding error of a decimal tie, go through std::to_chars in the same
// form. The text does not depend on the locale (the log always uses '.').
char* writeDoubleText(char* out, double v);

// The default stream text of a value the log lists: integers, doubles and complex doubles
// (bool as 1/0 is handled by the integer case). Writes at out (room for kMaxValueText) and
// returns the end.
template <typename T>
char* writeValueText(char* out, const T& value) {
  if constexpr (std::same_as<T, bool>) {
    *out = value ? '1' : '0';
    return out + 1;
  } else if constexpr (std::integral<T>) {
    return std::to_chars(out, out + kMaxIntegerText, value).ptr;
  } else if constexpr (std::floating_point<T>) {
    return writeDoubleText(out, static_cast<double>(value));
  } else {
    static_assert(std::same_as<T, std::complex<double>>, "a number or a complex double");
    *out++ = '(';
    out = writeDoubleText(out, value.real());
    *out++ = ',';
    out = writeDoubleText(out, value.imag());
    *out++ = ')';
    return out;
  }
}

// The decimal text of a running index, advanced by one without a division per line.
class DecimalCounter {
 public:
  // Bytes that copyTo writes at its destination, whatever the length of the text.
  static constexpr std::size_t kCopyLength = 24;

  explicit DecimalCounter(std::size_t start);
  const char* data() const { return m_digits + m_first; }
  std::size_t size() const { return kDigits - m_first; }
  // Writes the text at out and returns its end; writes kCopyLength bytes in all (a fixed-size
  // copy is much cheaper than one of the text's own length): out needs that much room.
  char* copyTo(char* out) const {
    std::memcpy(out, data(), kCopyLength);
    return out + size();
  }
  void next() {
    std::size_t i = kDigits - 1;
    while (m_digits[i] == '9') {
      m_digits[i] = '0';
      --i;
    }
    if (i < m_first) {
      m_first = i;
      m_digits[i] = '1';
    } else {
      ++m_digits[i];
    }
  }

 private:
  static constexpr std::size_t kDigits = 24;  // 20 digits of a 64-bit count, with room to carry
  char m_digits[kDigits + kCopyLength];       // the digits end at kDigits; copyTo reads on
  std::size_t m_first;                        // index of the leading digit
};

// A short fixed text (a list's label) written with fixed-size copies: the text is kept in a
// buffer padded to kCopyLength, and copyTo writes that many bytes.
class PaddedLabel {
 public:
  static constexpr std::size_t kCopyLength = 32;

  explicit PaddedLabel(std::string_view text);
  std::size_t size() const { return m_size; }
  char* copyTo(char* out) const {
    if (m_size <= kCopyLength) {
      std::memcpy(out, m_text, kCopyLength);
    } else {
      std::memcpy(out, m_long.data(), m_size);
    }
    return out + m_size;
  }

 private:
  char m_text[kCopyLength] = {};
  std::string_view m_long;  // labels longer than kCopyLength
  std::size_t m_size;
};

}  // namespace iqsynth
