// CSV and raw binary IQ readers. The CSV parser reads numbers with std::from_chars
// but accepts exactly what stream extraction of a double accepts, so that a file
// reads the same as with a stream reader at a fraction of its cost.
#include "iq_readers.h"

#include <sys/mman.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "arb_format.h"
#include "input_file.h"

namespace wavepack {

namespace {

bool isStreamSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Decimals of up to this many digits have an exact integer mantissa (below 2^53).
constexpr int kFastDigits = 15;
constexpr double kPowersOfTen[kFastDigits + 1] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                  1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// The exact value of an out-of-range token, as strtod gives it (rare path).
double strtodToken(const char* first, const char* last) {
  const std::string token(first, last);
  errno = 0;
  return std::strtod(token.c_str(), nullptr);
}

// Number of lines (a last line without a line feed counts). It sizes the result up
// front, so the pairs are never copied while growing; vectorised because it is a
// full extra pass over the file.
std::size_t countLines(std::string_view text) {
  const char* p = text.data();
  const char* const end = p + text.size();
  std::size_t lines = 0;
#if defined(__SSE2__)
  const __m128i lineFeed = _mm_set1_epi8('\n');
  const __m128i zero = _mm_setzero_si128();
  constexpr std::size_t kBlock = 16;
  constexpr int kMaxRounds = 255;  // byte counters hold at most 255 matches
  while (static_cast<std::size_t>(end - p) >= kBlock) {
    __m128i counters = zero;
    for (int round = 0; round < kMaxRounds && static_cast<std::size_t>(end - p) >= kBlock;
         ++round, p += kBlock) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      counters = _mm_sub_epi8(counters, _mm_cmpeq_epi8(bytes, lineFeed));  // match is -1
    }
    const __m128i sums = _mm_sad_epu8(counters, zero);
    lines += static_cast<std::size_t>(_mm_cvtsi128_si64(sums)) +
             static_cast<std::size_t>(_mm_extract_epi16(sums, 4));
  }
#endif
  for (; p < end; ++p) lines += *p == '\n';
  if (!text.empty() && text.back() != '\n') ++lines;
  return lines;
}

// Reserves room for `count` pairs. Large results are backed by huge pages where the
// system offers them on request: filling hundreds of megabytes page by page is
// otherwise a good part of the reading time.
void reservePairs(std::vector<IqPair>& pairs, std::size_t count) {
  pairs.reserve(count);
  constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
  const auto begin = reinterpret_cast<std::uintptr_t>(pairs.data());
  const std::uintptr_t end = begin + count * sizeof(IqPair);
  const std::uintptr_t alignedBegin = (begin + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t alignedEnd = end & ~(kHugePage - 1);
  if (alignedEnd > alignedBegin)
    ::madvise(reinterpret_cast<void*>(alignedBegin), alignedEnd - alignedBegin, MADV_HUGEPAGE);
}

[[noreturn]] void throwOverflow(const std::string& path, std::size_t line) {
  throw std::range_error("Number out of range in " + path + " at line " + std::to_string(line));
}

// Walks the lines of a text; `visit(lineBegin, lineEnd, lineNumber)` for each.
template <typename Visit>
void forEachLine(std::string_view text, Visit&& visit) {
  const char* p = text.data();
  const char* const end = p + text.size();
  std::size_t lineNumber = 0;
  while (p < end) {
    const void* nl = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
    const char* lineEnd = nl ? static_cast<const char*>(nl) : end;
    visit(p, lineEnd, ++lineNumber);
    p = lineEnd + 1;
  }
}

// Start of the second field of a line, or null when the line has only one.
const char* secondField(const char* lineBegin, const char* lineEnd) {
  const void* comma = std::memchr(lineBegin, ',', static_cast<std::size_t>(lineEnd - lineBegin));
  return comma ? static_cast<const char*>(comma) + 1 : nullptr;
}

FieldValue parseColumn(const char* lineBegin, const char* lineEnd, int column, double& v) {
  if (column == 1) return parseCsvField(lineBegin, lineEnd, v);
  const char* field = secondField(lineBegin, lineEnd);
  return field ? parseCsvField(field, lineEnd, v) : FieldValue::notNumber;
}

}  // namespace

FieldValue parseCsvField(const char* first, const char* last, double& value) {
  const char* p = first;
  while (p < last && isStreamSpace(*p)) ++p;
  const char* numberBegin = p;
  if (p < last && *p == '+') {
    ++p;
    numberBegin = p;  // from_chars takes no '+'; a second sign after it is refused below
  } else if (p < last && *p == '-') {
    ++p;
  }
  // Only digits or a point may start the mantissa: this refuses "inf", "nan" and
  // doubled signs, which from_chars or strtod would otherwise take.
  if (p == last || !(isDigit(*p) || *p == '.')) return FieldValue::notNumber;

  // Fast path for the common plain decimal of at most 15 significant digits and no
  // exponent: mantissa and power of ten are exact doubles, so one IEEE division
  // gives the correctly rounded value, the same that from_chars and strtod give.
  {
    const char* q = p;
    std::uint64_t mantissa = 0;
    int digits = 0;
    int fraction = 0;
    for (; q < last && isDigit(*q) && digits <= kFastDigits; ++q, ++digits)
      mantissa = mantissa * 10 + static_cast<unsigned>(*q - '0');
    if (q < last && *q == '.') {
      for (++q; q < last && isDigit(*q) && digits <= kFastDigits; ++q, ++digits, ++fraction)
        mantissa = mantissa * 10 + static_cast<unsigned>(*q - '0');
    }
    const bool moreDigits = q < last && (isDigit(*q) || *q == '.');
    const bool exponent = q < last && (*q == 'e' || *q == 'E');
    if (digits > 0 && digits <= kFastDigits && !moreDigits && !exponent) {
      const double magnitude = static_cast<double>(mantissa) / kPowersOfTen[fraction];
      value = (*numberBegin == '-') ? -magnitude : magnitude;
      return FieldValue::number;
    }
  }

  double v = 0.0;
  const auto [end, ec] = std::from_chars(numberBegin, last, v, std::chars_format::general);
  if (ec == std::errc::invalid_argument) return FieldValue::notNumber;
  // Stream extraction takes an 'e' after a mantissa as the start of an exponent and
  // fails when no digits follow; from_chars would stop before it and succeed.
  if (end < last && (*end == 'e' || *end == 'E') &&
      std::find_if(numberBegin, end, [](char c) { return c == 'e' || c == 'E'; }) == end)
    return FieldValue::notNumber;
  if (ec == std::errc::result_out_of_range) {
    v = strtodToken(numberBegin, end);
    if (std::isinf(v)) return FieldValue::overflow;
    // Underflow: stream extraction keeps strtod's nearest value.
  }
  value = v;
  return FieldValue::number;
}

std::vector<IqPair> readCsvColumn(const std::string& path, int column, bool asI) {
  const InputFile file(path);
  const std::string_view text = file.bytes();
  std::vector<IqPair> pairs;
  reservePairs(pairs, countLines(text));
  forEachLine(text, [&](const char* begin, const char* end, std::size_t lineNumber) {
    double v = 0.0;
    switch (parseColumn(begin, end, column, v)) {
      case FieldValue::number:
        pairs.push_back(asI ? IqPair{v, 0.0} : IqPair{0.0, v});
        break;
      case FieldValue::notNumber:
        break;
      case FieldValue::overflow:
        throwOverflow(path, lineNumber);
    }
  });
  if (pairs.empty()) throw std::out_of_range("No data found in " + path);
  return pairs;
}

std::vector<IqPair> readCsvDual(const std::string& path) {
  const InputFile file(path);
  const std::string_view text = file.bytes();
  std::vector<IqPair> pairs;
  reservePairs(pairs, countLines(text));
  // The columns are counted apart: I value k and Q value k form pair k even when
  // they come from different lines, exactly as two separate passes would pair them.
  std::size_t countI = 0;
  std::size_t countQ = 0;
  std::size_t overflowLineQ = 0;  // reported only once column 1 is known to be sound
  forEachLine(text, [&](const char* begin, const char* end, std::size_t lineNumber) {
    double v = 0.0;
    const FieldValue first = parseCsvField(begin, end, v);
    if (first == FieldValue::overflow) throwOverflow(path, lineNumber);
    if (first == FieldValue::number) {
      if (countI == pairs.size()) pairs.emplace_back();
      pairs[countI++].i = v;
    }
    const char* field = secondField(begin, end);
    if (field == nullptr) return;
    const FieldValue second = parseCsvField(field, end, v);
    if (second == FieldValue::overflow && overflowLineQ == 0) overflowLineQ = lineNumber;
    if (second == FieldValue::number) {
      if (countQ == pairs.size()) pairs.emplace_back();
      pairs[countQ++].q = v;
    }
  });
  if (countI == 0) throw std::out_of_range("No data found in " + path + " first row");
  if (overflowLineQ != 0) throwOverflow(path, overflowLineQ);
  if (countQ == 0) throw std::out_of_range("No data found in " + path + " second row");
  if (countI != countQ) throw std::length_error("Two rows of data length is not equal in " + path);
  return pairs;
}

std::vector<IqPair> readBinarySamples(const std::string& path, bool asI, bool asQ) {
  const InputFile file(path);
  const std::string_view bytes = file.bytes();
  const std::size_t count = bytes.size() / sizeof(double);
  if (count == 0) throw std::out_of_range("There is no data in " + path);
  const bool dual = asI && asQ;
  if (dual && count % 2 != 0) throw std::length_error("Binary data in " + path + " length is odd");

  const auto* raw = reinterpret_cast<const std::uint8_t*>(bytes.data());
  auto valueAt = [&](std::size_t k) {
    const double v = arb::loadF64(raw + k * sizeof(double));
    if (!std::isfinite(v))
      throw std::range_error("Value " + std::to_string(k + 1) + " in " + path +
                             " is not a finite number");
    return v;
  };
  std::vector<IqPair> pairs(dual ? count / 2 : count);
  for (std::size_t k = 0; k < pairs.size(); ++k) {
    if (dual)
      pairs[k] = {valueAt(2 * k), valueAt(2 * k + 1)};
    else if (asI)
      pairs[k].i = valueAt(k);
    else
      pairs[k].q = valueAt(k);
  }
  return pairs;
}

}  // namespace wavepack
