// The number text of iqSynthLog, fast and exact: the very characters a default-formatted
// std::ostream gives (integers in decimal, doubles in printf's "%g" form with six significant
// digits), written straight into a character buffer because a run logs whole sample tracks.
#pragma once

#include <bit>
#include <charconv>
#include <cmath>
#include <complex>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace arbsuite::iqsynth {

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
    if (value == 0) {  // the common case of the sample tracks, without a call
      if (std::signbit(value)) {
        *out++ = '-';
      }
      *out = '0';
      return out + 1;
    }
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

// The text of doubles that a list writes again and again (the levels of a constellation, a
// handful of values each written a million times), kept per bit pattern in a small
// direct-mapped table so that a repeated value costs one fixed-size copy instead of a
// conversion. The text is that of writeValueText, so -0.0 and 0.0 keep theirs apart.
class DoubleTextCache {
 public:
  // Writes the text of v at out and returns its end; writes kMaxDoubleText bytes in all, so
  // out needs that room.
  char* copyTo(char* out, double v) {
    const auto bits = std::bit_cast<std::uint64_t>(v);
    // A multiplicative hash: its top bits depend on every bit of the value, the sign too
    // (a level and its negative are the common pair).
    Entry& entry = m_entries[(bits * 0x9E3779B97F4A7C15ull) >> (64 - kEntryBits)];
    if (!entry.filled || entry.bits != bits) {
      entry.length = static_cast<unsigned>(writeValueText(entry.text, v) - entry.text);
      entry.bits = bits;
      entry.filled = true;
    }
    std::memcpy(out, entry.text, kMaxDoubleText);
    return out + entry.length;
  }

 private:
  static constexpr unsigned kEntryBits = 6;
  static constexpr std::size_t kEntries = std::size_t{1} << kEntryBits;
  struct Entry {
    std::uint64_t bits = 0;
    char text[kMaxDoubleText] = {};
    unsigned length = 0;
    bool filled = false;
  };
  Entry m_entries[kEntries];
};

// The decimal text of a running index, advanced by one without a division per line. The last
// eight digits live in one 64-bit word, one ASCII digit per byte (first digit in the lowest
// byte), so that a step is a few word operations and the text is written by one fixed-size
// copy; the digits above them (indexes from 10^8 on) are kept as text.
class DecimalCounter {
 public:
  // Bytes that copyTo writes at its destination, whatever the length of the text.
  static constexpr std::size_t kCopyLength = 24;

  explicit DecimalCounter(std::size_t start);
  // Writes the text at out and returns its end; writes up to kCopyLength bytes in all (fixed
  // size copies are much cheaper than copies of the text's own length): out needs that room.
  char* copyTo(char* out) const {
    if (m_highLength == 0) {
      storeWord(out, m_low >> (8 * (8 - m_lowLength)));
      return out + m_lowLength;
    }
    std::memcpy(out, m_high, sizeof m_high);
    out += m_highLength;
    storeWord(out, m_low);
    return out + 8;
  }
  void next() {
    const std::uint64_t nines = m_low ^ kAllNines;  // zero bytes where the digit is '9'
    if (nines == 0) {
      m_low = kAllZeros;  // 99999999 + 1: carry into the digits above
      carryIntoHigh();
      return;
    }
    // Digits end at the top byte: the trailing nines are the leading zero bytes of nines.
    const unsigned trailing = static_cast<unsigned>(std::countl_zero(nines)) / 8;
    const std::uint64_t tail = ~(~std::uint64_t{0} >> (8 * trailing));  // 0 when trailing == 0
    m_low = (m_low & ~tail) | (kAllZeros & tail);
    m_low += std::uint64_t{1} << (8 * (7 - trailing));
    if (m_highLength == 0 && trailing >= m_lowLength) {
      ++m_lowLength;  // the carry reached a leading '0': one digit more
    }
  }

 private:
  static constexpr std::uint64_t kAllZeros = 0x3030303030303030ull;
  static constexpr std::uint64_t kAllNines = 0x3939393939393939ull;

  // The eight digit bytes of word in text order (first digit at out[0]).
  static void storeWord(char* out, std::uint64_t word) {
    if constexpr (std::endian::native == std::endian::big) {
      word = __builtin_bswap64(word);
    }
    std::memcpy(out, &word, sizeof word);
  }
  void carryIntoHigh();

  std::uint64_t m_low = kAllZeros;  // the last eight digits, '0'-padded in front
  unsigned m_lowLength = 1;         // digits of the index while it is below 10^8
  char m_high[16] = {};             // the digits above the last eight (at most 12)
  unsigned m_highLength = 0;
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

}  // namespace arbsuite::iqsynth
