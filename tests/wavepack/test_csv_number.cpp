// The CSV number scanner against strtod and stream extraction: on padded pieces (8
// digits at a time) and on plain text, over random, near-halfway and edge-case
// texts, and over every decimal of the common six-decimal form.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "csv_number.h"

namespace {

using arbsuite::wavepack::FieldValue;
using arbsuite::wavepack::NumberScan;
namespace csv = arbsuite::wavepack::csv;

std::uint64_t bitsOf(double v) { return std::bit_cast<std::uint64_t>(v); }

// What the scanner must make of a field: stream extraction decides whether it is a
// number (hexadecimal forms apart), strtod gives the value and where it ends.
struct Expected {
  bool number;
  double value;
  std::size_t length;  // characters strtod reads
};

Expected reference(const std::string& field) {
  std::istringstream in(field);
  double streamed = 0;
  in >> streamed;
  char* end = nullptr;
  const double value = std::strtod(field.c_str(), &end);
  return {!in.fail(), value, static_cast<std::size_t>(end - field.c_str())};
}

// Scans `field` both ways: as the pieces do, with zero bytes after it, and as text
// with nothing readable after it (a copy of exactly its length on the heap).
struct Scans {
  NumberScan padded;
  double paddedValue = -999;
  std::size_t paddedLength = 0;
  NumberScan plain;
  double plainValue = -999;
  std::size_t plainLength = 0;
};

Scans scanBoth(const std::string& field) {
  Scans s;
  std::vector<char> padded(field.begin(), field.end());
  padded.resize(field.size() + csv::kReadSlack, '\0');
  s.padded =
      csv::scanNumberIn<true>(padded.data(), padded.data() + field.size(), s.paddedValue, '.', ',');
  if (s.padded.end) s.paddedLength = static_cast<std::size_t>(s.padded.end - padded.data());
  const std::unique_ptr<char[]> exact(new char[field.size() + 1]);
  std::memcpy(exact.get(), field.data(), field.size());
  s.plain = arbsuite::wavepack::scanNumber(exact.get(), exact.get() + field.size(), s.plainValue);
  if (s.plain.end) s.plainLength = static_cast<std::size_t>(s.plain.end - exact.get());
  return s;
}

// Checks one field; returns false (with a failure recorded) on the first mismatch.
bool readsAsStrtod(const std::string& field) {
  SCOPED_TRACE("field '" + field + "'");
  const Expected expected = reference(field);
  const Scans s = scanBoth(field);
  for (const auto& [scan, value, length] : {std::tuple{s.padded, s.paddedValue, s.paddedLength},
                                            std::tuple{s.plain, s.plainValue, s.plainLength}}) {
    if (scan.value == FieldValue::overflow) {
      EXPECT_FALSE(expected.number);
      EXPECT_TRUE(std::isinf(expected.value));
      if (expected.number || !std::isinf(expected.value)) return false;
      continue;
    }
    EXPECT_EQ(scan.value == FieldValue::number, expected.number);
    if ((scan.value == FieldValue::number) != expected.number) return false;
    if (!expected.number) continue;
    EXPECT_EQ(bitsOf(value), bitsOf(expected.value)) << value << " against " << expected.value;
    EXPECT_EQ(length, expected.length);
    if (bitsOf(value) != bitsOf(expected.value) || length != expected.length) return false;
  }
  return true;
}

// Whether text starts with the plain form: an optional '-', at most 7 digits, an
// optional point with at most 7 digits (one digit at least in all), then ',', CR or
// LF.
bool isPlainForm(const std::string& text) {
  std::size_t at = text.size() > 0 && text[0] == '-' ? 1 : 0;
  const auto digits = [&] {
    std::size_t n = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at, ++n;
    return n;
  };
  const std::size_t whole = digits();
  std::size_t fraction = 0;
  if (at < text.size() && text[at] == '.') {
    ++at;
    fraction = digits();
  }
  return whole <= 7 && fraction <= 7 && whole + fraction > 0 && at < text.size() &&
         (text[at] == ',' || text[at] == '\r' || text[at] == '\n');
}

TEST(WavepackCsvNumberText, EverySixDecimalValueReadsAsStrtod) {
  // The benchmark's and most exports' form, every value of it: d.dddddd in [0, 10).
  char text[32 + csv::kReadSlack];
  for (int n = 0; n < 10000000; n += 7) {
    std::memset(text, 0, sizeof text);
    const int length =
        std::snprintf(text, 32, "%s%d.%06d", n % 2 ? "-" : "", n / 1000000, n % 1000000);
    const double expected = std::strtod(text, nullptr);
    double got = -999;
    const NumberScan scan = csv::scanNumberIn<true>(text, text + length, got, '.', ',');
    ASSERT_EQ(scan.value, FieldValue::number) << text;
    ASSERT_EQ(scan.end, text + length) << text;
    ASSERT_EQ(bitsOf(got), bitsOf(expected)) << text;
  }
}

TEST(WavepackCsvNumberText, EdgeCasesReadAsStrtod) {
  const char* const fields[] = {
      // Signs, points and leading zeros.
      "0", "-0", "+0", "-0.0", "0.", ".5", "-.5", "+.5", "5.", "-5.", ".", "-.", "+", "-", "+-1",
      "-+1", "--1", "00012", "-00012.50", "0000000000000000000000001.5", "000.000000000000001",
      // Exponents, with and without digits.
      "1e5", "1E5", "1e+5", "1e-5", "1e", "1e+", "1e-", "1E", "1ex", "1.5e+x", "1e5e3", ".e5",
      "1.e5", "-.5e-3", "1e0000000000000000000000005", "1e-0",
      // Up to 15 digits (fast), 16 and more (exact slow path).
      "123456789012345", "1234567890123456", "12345678.1234567", "1234567.12345678",
      "0.123456789012345", "0.1234567890123456", "9007199254740993", "9007199254740992.5",
      "0.1000000000000000055511151231257827", "0.30000000000000004", "2.2250738585072014e-308",
      "99999999999999999999999999999999999999999999999", "17976931348623157e292",
      // Halfway between doubles, just below and just above: 2^53 + 1 and 1 + 2^-53.
      "9007199254740993", "9007199254740992.9999999999999999999", "9007199254740993.0000000000001",
      "1.00000000000000011102230246251565404236316680908203125",
      "1.00000000000000011102230246251565404236316680908203124",
      "1.00000000000000011102230246251565404236316680908203126",
      // Denormals, the smallest double and below it, huge and beyond a double.
      "4.9406564584124654e-324", "2.4703282292062327e-324", "2.4703282292062328e-324", "1e-320",
      "-1e-310", "1e-400", "-1e-400", "1.7976931348623157e308", "1.7976931348623159e308", "1e308",
      "1e309", "-1e400",
      // White space before the number, and what follows it.
      " 1.5", "\t-2.5", "  \v7", "\f8", "\r9", "1.5 ", "1.5V", "1.5,2", "1,5", "- 1", "1.2.3",
      "1..2",
      // Not numbers: names, hexadecimal, infinities and NaN.
      "", " ", "x1", "I", "inf", "-inf", "+inf", "infinity", "nan", "-nan", "NaN", "0x1A", "-0x1p3",
      "0X10"};
  for (const std::string field : fields) {
    if (field.find("0x") != std::string::npos || field.find("0X") != std::string::npos) {
      // A stream reads the "0" of "0x1A"; hexadecimal numbers are no numbers here.
      const Scans s = scanBoth(field);
      EXPECT_EQ(s.padded.value, FieldValue::notNumber) << field;
      EXPECT_EQ(s.plain.value, FieldValue::notNumber) << field;
      continue;
    }
    readsAsStrtod(field);
  }
}

// Decimals of at most 15 significant digits as close as they come to halfway
// between two doubles: the texts where a wrong rounding would show first.
TEST(WavepackCsvNumberText, NearHalfwayShortDecimalsReadAsStrtod) {
  std::mt19937_64 random(777);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  char text[64];
  int checked = 0;
  for (int n = 0; n < 40000; ++n) {
    const int magnitude = static_cast<int>(random() % 14);  // below 10^magnitude
    const double d = unit(random) * std::pow(10.0, magnitude);
    const long double mid =
        (static_cast<long double>(d) + std::nextafter(d, std::numeric_limits<double>::infinity())) /
        2;
    // Whole and fraction digits together at most 15, the multiplication's range.
    const int digits = 1 + static_cast<int>(random() % std::max(1, 14 - magnitude));
    std::snprintf(text, sizeof text, "%.*Lf", digits, mid);
    const std::string field = text;
    if (!readsAsStrtod(field)) break;
    ++checked;
  }
  EXPECT_EQ(checked, 40000);
}

TEST(WavepackCsvNumberText, RandomTextsReadAsStrtod) {
  std::mt19937_64 random(4242);
  auto pick = [&](unsigned n) { return static_cast<unsigned>(random() % n); };
  for (int round = 0; round < 200000; ++round) {
    std::string field;
    switch (pick(8)) {
      case 0:
        field += " ";
        break;
      case 1:
        field += "\t";
        break;
      default:
        break;
    }
    if (pick(3) == 0) field += pick(4) ? "-" : "+";
    const unsigned whole = pick(4) == 0 ? pick(25) : pick(8);
    if (pick(6) == 0) field.append(pick(6), '0');
    for (unsigned k = 0; k < whole; ++k) field += static_cast<char>('0' + pick(10));
    if (pick(4)) {
      field += '.';
      const unsigned fraction = pick(4) == 0 ? pick(30) : pick(16);
      for (unsigned k = 0; k < fraction; ++k) field += static_cast<char>('0' + pick(10));
    }
    if (pick(6) == 0) {
      field += pick(2) ? 'e' : 'E';
      switch (pick(4)) {
        case 0:
          break;  // no digits
        case 1:
          field += std::to_string(static_cast<int>(pick(700)) - 350);
          break;
        case 2:
          field += "+" + std::to_string(pick(40));
          break;
        default:
          field += std::to_string(static_cast<int>(pick(40)) - 20);
          break;
      }
    }
    switch (pick(10)) {
      case 0:
        field += ",";
        break;
      case 1:
        field += "V";
        break;
      case 2:
        field += " ";
        break;
      case 3:
        field += ".";
        break;
      default:
        break;
    }
    if (!readsAsStrtod(field)) return;
  }
}

}  // namespace

namespace {

// The plain-pair line's field reader gives what the scanner gives wherever it reads
// a field, and reads every field of its form (short decimals before ',', CR, LF).
TEST(WavepackCsvNumberText, PlainDecimalsReadAsTheScannerReadsThem) {
  std::mt19937_64 random(99);
  auto pick = [&](unsigned n) { return static_cast<unsigned>(random() % n); };
  const char* const ends[] = {",", "\r", "\n", "", "x", "e5", ".", ";", " "};
  int read = 0;
  for (int round = 0; round < 200000; ++round) {
    std::string field;
    switch (pick(10)) {
      case 0:
        field += "+";
        break;
      case 1:
        field += " ";
        break;
      case 2:
        field += "--";
        break;
      default:
        field += pick(2) ? "-" : "";
        break;
    }
    for (unsigned k = pick(10); k > 0; --k) field += static_cast<char>('0' + pick(10));
    if (pick(3)) {
      field += '.';
      for (unsigned k = pick(10); k > 0; --k) field += static_cast<char>('0' + pick(10));
    }
    const std::string end = ends[pick(sizeof ends / sizeof *ends)];
    // A field at the end of the text has no end the plain reader takes.
    const std::string text = field + end + (!end.empty() && pick(2) ? "1,2\n" : "");
    SCOPED_TRACE("text '" + text + "'");
    std::vector<char> padded(text.begin(), text.end());
    padded.resize(text.size() + csv::kReadSlack, '\0');
    const char* const last = padded.data() + text.size();
    double plain = -999;
    const char* plainEnd = csv::plainDecimal(padded.data(), last, plain);
    double scanned = -999;
    const NumberScan scan = csv::scanNumberIn<true>(padded.data(), last, scanned, '.', ',');
    // The form, written independently: a '-', at most 7 digits, a point and at most 7
    // digits (one digit at least), then ',', CR or LF.
    const bool plainForm = isPlainForm(text);
    ASSERT_EQ(plainEnd != nullptr, plainForm);
    // The digits of the line parser's runs, and their value as its scalar path makes
    // it: the same field, end and value wherever the end is one plainDecimal takes.
    csv::PlainDigits digits{};
    const char* digitsEnd = csv::plainDigits(padded.data(), last, digits);
    const bool endTaken =
        digitsEnd != nullptr && (*digitsEnd == ',' || *digitsEnd == '\r' || *digitsEnd == '\n');
    ASSERT_EQ(endTaken, plainForm);
    if (endTaken) {
      ASSERT_EQ(digitsEnd, plainEnd);
      ASSERT_EQ(bitsOf(csv::plainValue(digits)), bitsOf(plain));
    }
    if (plainEnd == nullptr) continue;
    ++read;
    ASSERT_EQ(scan.value, FieldValue::number);
    ASSERT_EQ(scan.end, plainEnd);
    ASSERT_EQ(bitsOf(plain), bitsOf(scanned));
  }
  EXPECT_GT(read, 20000);
}

}  // namespace
