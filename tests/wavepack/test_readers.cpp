// CSV field parsing against stream extraction, the CSV and binary readers, and the
// quantiser's exact values.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <stdexcept>

#include "files.h"
#include "iq_readers.h"
#include "little_endian.h"
#include "quantizer.h"
#include "scratch_dir.h"
#include "summary.h"

namespace {

using arbsuite::wavepack::FieldValue;
using arbsuite::wavepack::IqPair;
using arbtest::ScratchDir;

// Reference: what `stream >> double` makes of a field; overflow shows as a failed
// extraction with the value set to +-max.
struct StreamResult {
  bool ok;
  double value;
};
StreamResult streamParse(const std::string& field) {
  std::istringstream in(field);
  double v = 0;
  in >> v;
  return {!in.fail(), v};
}

// One case per field would start one process each; the table runs in one.
const char* const kFields[] = {"1.5",
                               "1.5V",
                               "1.5;2.5",
                               "  2.0  ",
                               "\t-3",
                               "+4.25",
                               "-0",
                               "+-5",
                               "-+5",
                               "+",
                               "-",
                               ".",
                               ".5",
                               "-.5",
                               "5.",
                               "1e5",
                               "1E-3",
                               "1e",
                               "1e+",
                               "1ex",
                               "1.5e+x",
                               "1e5e3",
                               "2.5E+2kHz",
                               "inf",
                               "-inf",
                               "nan",
                               "infinity",
                               "0x1A",
                               "00012",
                               "1.2.3",
                               "",
                               "   ",
                               "x1",
                               "1e400",
                               "-1e400",
                               "1e-400",
                               "4.9e-324",
                               "123456789012345678901234567890",
                               "0.1234567890123456789",
                               "\v7",
                               "7\r",
                               "1,5",
                               "I",
                               "Q",
                               "- 1",
                               "0.123456",
                               "-0.999999",
                               "-0.0",
                               "123456789012345",
                               "1234567890123456",
                               "0.000000000000001",
                               "0.0000000000000001",
                               "9007199254740993",
                               "0.1000000000000000055511151231257827",
                               "1.",
                               "1..2",
                               "12345678901234.5",
                               "1234567890123.45e1",
                               "000000000000000000001.5"};

TEST(WavepackCsvField, AcceptsExactlyWhatStreamExtractionAccepts) {
  for (const std::string field : kFields) {
    SCOPED_TRACE("field '" + field + "'");
    const StreamResult expected = streamParse(field);
    double v = -999;
    const FieldValue got =
        arbsuite::wavepack::parseCsvField(field.data(), field.data() + field.size(), v);
    if (got == FieldValue::overflow) {
      // The stream fails and reports +-max: the converter refuses such input instead.
      EXPECT_FALSE(expected.ok);
      EXPECT_EQ(std::fabs(expected.value), std::numeric_limits<double>::max());
      continue;
    }
    // The one departure: a stream reads the "0" of "0x1A"; hexadecimal numbers are no
    // numbers here, so that a file of them is never read as zeros.
    if (field.starts_with("0x")) {
      EXPECT_EQ(got, FieldValue::notNumber);
      continue;
    }
    ASSERT_EQ(got == FieldValue::number, expected.ok);
    if (expected.ok) {
      EXPECT_EQ(v, expected.value);
      EXPECT_EQ(std::signbit(v), std::signbit(expected.value));
    }
  }
}

TEST(WavepackCsvField, RandomDecimalsReadAsAStreamReadsThem) {
  std::uint64_t state = 0x2545F4914F6CDD1Dull;
  auto next = [&](unsigned n) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return static_cast<unsigned>(state % n);
  };
  const std::string alphabet = "0123456789";
  for (int round = 0; round < 20000; ++round) {
    std::string field;
    if (next(4) == 0) field += " ";
    if (next(3) == 0) field += next(2) ? "-" : "+";
    for (unsigned k = next(20); k > 0; --k) field += alphabet[next(10)];
    if (next(2)) {
      field += '.';
      for (unsigned k = next(25); k > 0; --k) field += alphabet[next(10)];
    }
    if (next(5) == 0)
      field += (next(2) ? "e" : "E") + std::to_string(static_cast<int>(next(80)) - 40);
    if (next(6) == 0) field += "V";
    SCOPED_TRACE("field '" + field + "'");
    const StreamResult expected = streamParse(field);
    double v = -999;
    const FieldValue got =
        arbsuite::wavepack::parseCsvField(field.data(), field.data() + field.size(), v);
    // The one departure: a stream reads the "0" of "0x1A"; hexadecimal numbers are no
    // numbers here, so that a file of them is never read as zeros.
    if (field.starts_with("0x")) {
      EXPECT_EQ(got, FieldValue::notNumber);
      continue;
    }
    ASSERT_EQ(got == FieldValue::number, expected.ok);
    if (expected.ok) {
      ASSERT_EQ(v, expected.value);
      ASSERT_EQ(std::signbit(v), std::signbit(expected.value));
    }
  }
}

class WavepackCsvFiles : public testing::Test {
 protected:
  std::string csv(const std::string& text) {
    const std::string path = dir_.file("in" + std::to_string(++count_) + ".csv");
    arbtest::writeText(path, text);
    return path;
  }
  ScratchDir dir_;
  int count_ = 0;
};

template <typename F>
std::string failureOf(F&& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "no failure";
}

TEST_F(WavepackCsvFiles, DualSkipsTheHeaderInBothColumns) {
  const auto pairs = arbsuite::wavepack::readCsvDual(csv("I,Q\n0.5,-0.5\n1,0\n"));
  ASSERT_EQ(pairs.size(), 2u);
  EXPECT_EQ(pairs[0].i, 0.5);
  EXPECT_EQ(pairs[0].q, -0.5);
  EXPECT_EQ(pairs[1].i, 1.0);
  EXPECT_EQ(pairs[1].q, 0.0);
}

TEST_F(WavepackCsvFiles, DualReadsALastLineWithoutLineFeedAndCrLfLines) {
  const auto pairs = arbsuite::wavepack::readCsvDual(csv("1,2\r\n3 , 4V\r\n5,6"));
  ASSERT_EQ(pairs.size(), 3u);
  EXPECT_EQ(pairs[1].i, 3.0);
  EXPECT_EQ(pairs[1].q, 4.0);
  EXPECT_EQ(pairs[2].q, 6.0);
}

TEST_F(WavepackCsvFiles, DualPairsTheColumnsCountedApart) {
  // Line 2 has only an I value, line 3 only a Q value: two passes would pair them.
  const auto pairs = arbsuite::wavepack::readCsvDual(csv("1,10\n2,x\ny,20\n"));
  ASSERT_EQ(pairs.size(), 2u);
  EXPECT_EQ(pairs[1].i, 2.0);
  EXPECT_EQ(pairs[1].q, 20.0);
}

TEST_F(WavepackCsvFiles, DualFailures) {
  // The kept words, then a second line with the line that lacks the value.
  const std::string oneColumn = csv("1\n2\n");
  EXPECT_EQ(failureOf([&] { arbsuite::wavepack::readCsvDual(oneColumn); }),
            "No data found in " + oneColumn + " second row\n" + oneColumn +
                " line 1 has 1 field: Q is read from field 2: \"1\"");
  const std::string noFirst = csv("x,1\n");
  EXPECT_EQ(failureOf([&] { arbsuite::wavepack::readCsvDual(noFirst); }),
            "No data found in " + noFirst + " first row\n" + noFirst +
                " line 1: field 1 (I) is not a number: \"x,1\"");
  const std::string unequal = csv("1,1\n2,x\n");
  EXPECT_EQ(failureOf([&] { arbsuite::wavepack::readCsvDual(unequal); }),
            "Two rows of data length is not equal in " + unequal + "\n" + unequal +
                " line 2: field 2 (Q) is not a number: \"2,x\"");
  const std::string missing = dir_.file("missing.csv");
  EXPECT_EQ(failureOf([&] { arbsuite::wavepack::readCsvDual(missing); }),
            "Open " + missing + " failed");
  EXPECT_EQ(failureOf([&] { arbsuite::wavepack::readCsvDual(dir_.path().string()); }),
            "Open " + dir_.path().string() + " failed");
}

TEST_F(WavepackCsvFiles, OverflowingNumbersAreRefusedNamingFileAndLine) {
  const std::string inI = csv("1,2\n1e999,3\n");
  EXPECT_EQ(failureOf([&] { arbsuite::wavepack::readCsvDual(inI); }),
            "Number out of range in " + inI + " at line 2");
  const std::string inQ = csv("1,2\n3,-1e999\n");
  EXPECT_EQ(failureOf([&] { arbsuite::wavepack::readCsvDual(inQ); }),
            "Number out of range in " + inQ + " at line 2");
  EXPECT_EQ(failureOf([&] { arbsuite::wavepack::readCsvColumn(inQ, 2, false); }),
            "Number out of range in " + inQ + " at line 2");
  // Column 1 alone does not look at the second field.
  EXPECT_EQ(arbsuite::wavepack::readCsvColumn(inQ, 1, true).size(), 2u);
  // Underflow is not an error: the value becomes (nearly) zero, as a stream reads it.
  EXPECT_EQ(arbsuite::wavepack::readCsvColumn(csv("1e-400\n"), 1, true).at(0).i, 0.0);
}

TEST_F(WavepackCsvFiles, ColumnReadsTheChosenFieldIntoIOrQ) {
  const std::string path = csv("  2.0  ,x\nhdr\n\n-1,7\n");
  const auto first = arbsuite::wavepack::readCsvColumn(path, 1, true);
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(first[0].i, 2.0);
  EXPECT_EQ(first[0].q, 0.0);
  EXPECT_EQ(first[1].i, -1.0);
  const auto second = arbsuite::wavepack::readCsvColumn(path, 2, false);
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(second[0].i, 0.0);
  EXPECT_EQ(second[0].q, 7.0);
  const std::string empty = csv("");
  EXPECT_EQ(failureOf([&] { arbsuite::wavepack::readCsvColumn(empty, 1, true); }),
            "No data found in " + empty);
  EXPECT_THROW(arbsuite::wavepack::readCsvColumn(empty, 1, true), std::out_of_range);
}

class WavepackBinaryFiles : public WavepackCsvFiles {
 protected:
  std::string bin(const std::vector<std::uint8_t>& bytes) {
    const std::string path = dir_.file("in" + std::to_string(++count_) + ".bin");
    arbtest::writeBytes(path, bytes);
    return path;
  }
};

TEST_F(WavepackBinaryFiles, DualFileIsInterleavedAndIgnoresATrailingPartialValue) {
  auto bytes = arbtest::doubleBytes({1.5, -2.5});
  bytes.insert(bytes.end(), {1, 2, 3, 4});  // 20 bytes: two doubles and 4 stray bytes
  const auto pairs = arbsuite::wavepack::readBinarySamples(bin(bytes), true, true);
  ASSERT_EQ(pairs.size(), 1u);
  EXPECT_EQ(pairs[0].i, 1.5);
  EXPECT_EQ(pairs[0].q, -2.5);
}

TEST_F(WavepackBinaryFiles, SingleComponentFiles) {
  const std::string path = bin(arbtest::doubleBytes({1, 2, 3}));
  const auto asI = arbsuite::wavepack::readBinarySamples(path, true, false);
  ASSERT_EQ(asI.size(), 3u);
  EXPECT_EQ(asI[2].i, 3.0);
  EXPECT_EQ(asI[2].q, 0.0);
  const auto asQ = arbsuite::wavepack::readBinarySamples(path, false, true);
  EXPECT_EQ(asQ[1].i, 0.0);
  EXPECT_EQ(asQ[1].q, 2.0);
}

TEST_F(WavepackBinaryFiles, Failures) {
  const std::string odd = bin(arbtest::doubleBytes({1, 2, 3}));
  EXPECT_EQ(failureOf([&] { arbsuite::wavepack::readBinarySamples(odd, true, true); }),
            "Binary data in " + odd + " length is odd");
  const std::string empty = bin({});
  EXPECT_EQ(failureOf([&] { arbsuite::wavepack::readBinarySamples(empty, true, false); }),
            "There is no data in " + empty);
  const std::string tiny = bin({1, 2, 3, 4, 5, 6, 7});
  EXPECT_EQ(failureOf([&] { arbsuite::wavepack::readBinarySamples(tiny, true, false); }),
            "There is no data in " + tiny);
  const std::string missing = dir_.file("none.bin");
  EXPECT_EQ(failureOf([&] { arbsuite::wavepack::readBinarySamples(missing, true, false); }),
            "Open " + missing + " failed");
}

class WavepackNonFinite : public WavepackBinaryFiles, public testing::WithParamInterface<double> {};

TEST_P(WavepackNonFinite, IsRefusedNamingTheFile) {
  const std::string path = bin(arbtest::doubleBytes({1.0, GetParam()}));
  EXPECT_EQ(failureOf([&] { arbsuite::wavepack::readBinarySamples(path, true, true); }),
            "Value 2 in " + path + " is not a finite number");
}

INSTANTIATE_TEST_SUITE_P(WavepackValues, WavepackNonFinite,
                         testing::Values(std::numeric_limits<double>::quiet_NaN(),
                                         std::numeric_limits<double>::infinity(),
                                         -std::numeric_limits<double>::infinity()));

TEST(WavepackQuantizer, KnownValues) {
  std::vector<IqPair> pairs = {{3, 4}, {0, 1}, {-2.5, 0}};
  const auto samples = arbsuite::wavepack::quantizeIq(pairs, arbsuite::wavepack::kPeakLevel);
  EXPECT_EQ(samples, (std::vector<std::int16_t>{3980, 5307, 0, 1326, -3317, 0}));
  EXPECT_DOUBLE_EQ(pairs[0].i, 0.6);  // normalised in place
  EXPECT_DOUBLE_EQ(pairs[2].i, -0.5);
}

TEST(WavepackQuantizer, AllZeroInputGivesZeroSamples) {
  std::vector<IqPair> pairs(3);
  EXPECT_EQ(arbsuite::wavepack::quantizeIq(pairs, 0.81), std::vector<std::int16_t>(6, 0));
}

TEST(WavepackQuantizer, PeakIsTheLargestScaledHypotenuse) {
  // Plain squares would overflow or underflow at these magnitudes.
  for (double scale : {1e-200, 1.0, 1e200, 1e300}) {
    std::vector<IqPair> pairs = {{3 * scale, 4 * scale}, {-1 * scale, 2 * scale}};
    EXPECT_DOUBLE_EQ(arbsuite::wavepack::peakModulus(pairs), 5 * scale) << scale;
    EXPECT_EQ(arbsuite::wavepack::quantizeIq(pairs, 0.81)[0], 3980) << scale;
  }
  // A modulus beyond the double range still normalises.
  const double big = std::numeric_limits<double>::max();
  std::vector<IqPair> pairs = {{big, big}, {big, 0}};
  const auto samples = arbsuite::wavepack::quantizeIq(pairs, 0.81);
  const auto expected = static_cast<std::int16_t>(std::sqrt(0.5) * 0.81 * 8191);
  EXPECT_EQ(samples[0], expected);
  EXPECT_EQ(samples[1], expected);
}

TEST(WavepackQuantizer, MatchesThePlainFormulaOnRandomData) {
  std::vector<IqPair> pairs;
  std::uint32_t state = 12345;
  auto next = [&] {
    state = state * 1664525u + 1013904223u;
    return (static_cast<double>(state) / 4294967296.0 - 0.5) * 7.3;
  };
  for (int k = 0; k < 5000; ++k) pairs.push_back({next(), next()});
  double peak = 0;
  for (const IqPair& p : pairs) peak = std::max(peak, std::hypot(p.i, p.q));
  std::vector<std::int16_t> expected;
  for (const IqPair& p : pairs) {
    expected.push_back(static_cast<std::int16_t>(std::trunc(p.i / peak * (0.81 * 8191))));
    expected.push_back(static_cast<std::int16_t>(std::trunc(p.q / peak * (0.81 * 8191))));
  }
  EXPECT_EQ(arbsuite::wavepack::quantizeIq(pairs, 0.81), expected);
}

TEST(WavepackQuantizer, PassesOverLargeSourcesMatchThePlainFormula) {
  // Large enough to be split over the cores, with an odd count so that the parts and
  // the vector loops have remainders; one pair in the middle carries the peak.
  std::vector<IqPair> pairs;
  std::uint64_t state = 99;
  auto next = [&] {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<double>(state >> 11) / 9007199254740992.0 * 2 - 1;
  };
  for (int k = 0; k < 1234567; ++k) pairs.push_back({next(), next()});
  pairs[777777] = {-1.25, 1.5};
  double peak = 0;
  for (const IqPair& p : pairs) peak = std::max(peak, std::hypot(p.i, p.q));
  arbsuite::wavepack::PairSpan source(pairs);
  const arbsuite::wavepack::PeakScale scale = arbsuite::wavepack::findPeak(source);
  EXPECT_EQ(scale.peak, peak);
  EXPECT_EQ(scale.prescale, 1.0);
  for (const double level : {0.81, 1.0, 0.3}) {
    std::vector<std::int16_t> got;
    arbsuite::wavepack::quantizeSource(source, scale, level,
                                       [&](std::span<const std::int16_t> block) {
                                         got.insert(got.end(), block.begin(), block.end());
                                       });
    ASSERT_EQ(got.size(), 2 * pairs.size());
    for (std::size_t k = 0; k < pairs.size(); ++k) {
      ASSERT_EQ(got[2 * k],
                static_cast<std::int16_t>(std::trunc(pairs[k].i / peak * (level * 8191))))
          << k;
      ASSERT_EQ(got[2 * k + 1],
                static_cast<std::int16_t>(std::trunc(pairs[k].q / peak * (level * 8191))))
          << k;
    }
  }
}

TEST(WavepackSummary, StatisticsAreExactOverEverySampleValue) {
  std::vector<std::int16_t> samples;
  for (int v = -32768; v <= 32767; ++v) samples.push_back(static_cast<std::int16_t>(v));
  samples.push_back(-32768);
  samples.push_back(-32768);  // the largest power there is: 2^31
  samples.push_back(5);       // an odd sample count: the last value has no partner
  arbsuite::wavepack::SampleStatistics stats;
  stats.add(std::span(samples).first(10));
  stats.add(std::span(samples).subspan(10));
  std::uint64_t peak = 0;
  std::uint64_t sum = 0;
  for (std::size_t k = 0; k + 1 < samples.size(); k += 2) {
    const std::uint64_t power = static_cast<std::uint64_t>(
        std::int64_t{samples[k]} * samples[k] + std::int64_t{samples[k + 1]} * samples[k + 1]);
    peak = std::max(peak, power);
    sum += power;
  }
  EXPECT_EQ(stats.pairs, samples.size() / 2);
  EXPECT_EQ(stats.peakSquared, peak);
  EXPECT_EQ(stats.peakSquared, std::uint64_t{1} << 31);
  EXPECT_EQ(stats.sumSquared, sum);
}

TEST(WavepackSummary, LineNamesEveryFigure) {
  arbsuite::wavepack::SampleStatistics stats;
  const std::vector<std::int16_t> samples = {8192, 0, 0, 4096};
  stats.add(samples);
  // Peak 8192 is 0 dBFS; RMS sqrt((8192^2 + 4096^2) / 2) is -2.04 dBFS.
  EXPECT_EQ(arbsuite::wavepack::summaryLine(stats, 1000, "CSV"),
            "Summary: 2 samples, clock 1000 Hz, duration 0.002 s, peak 0.00 dBFS, RMS -2.04 "
            "dBFS, crest factor 2.04 dB, read as CSV");
  EXPECT_EQ(arbsuite::wavepack::summaryLine(arbsuite::wavepack::SampleStatistics{3, 0, 0}, 50000000,
                                            "cu8"),
            "Summary: 3 samples, clock 50000000 Hz, duration 6e-08 s, silent, read as cu8");
}

}  // namespace
