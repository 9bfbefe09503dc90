// The CSV reader of the command line: its dialects and columns, the lines it
// reports, and its parallel parse, which must give the pairs, warnings, failures
// and line numbers of a single pass on every way of cutting a file into pieces.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>

#include "csv_reader.h"
#include "iq_readers.h"
#include "quantizer.h"

namespace {

using arbsuite::wavepack::CsvOptions;
using arbsuite::wavepack::Diagnostics;
using arbsuite::wavepack::IqPair;

// What reading a text gives: the pairs or the failure, and the warnings.
struct Outcome {
  std::vector<IqPair> pairs;
  std::string failure;
  std::vector<std::string> warnings;
};

bool operator==(const IqPair& a, const IqPair& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;  // bit for bit: -0 and NaN patterns too
}

// What readCsv gives for the pairs read through reader: the pairs, or the failure's
// message, and the warnings either way.
Outcome readThrough(const arbsuite::wavepack::ByteReader& reader, const CsvOptions& options,
                    bool strict = false) {
  Diagnostics diagnostics(strict);
  Outcome outcome;
  try {
    outcome.pairs = arbsuite::wavepack::readCsv(reader, "f.csv", options, diagnostics).release();
  } catch (const std::exception& e) {
    outcome.failure = e.what();
  }
  outcome.warnings = diagnostics.warnings();
  return outcome;
}

Outcome readText(const std::string& text, CsvOptions options, bool strict = false) {
  std::size_t at = 0;
  const arbsuite::wavepack::ByteReader reader = [&](char* buffer, std::size_t length) {
    const std::size_t n = std::min(length, text.size() - at);
    std::memcpy(buffer, text.data() + at, n);
    at += n;
    return n;
  };
  return readThrough(reader, options, strict);
}

CsvOptions singlePass(CsvOptions options) {
  options.threads = 1;
  options.pieceBytes = std::size_t{1} << 30;
  options.chunkBytes = std::size_t{1} << 28;
  return options;
}

// Ways of cutting a text: threads, smallest piece, bytes read at a time.
struct Cut {
  unsigned threads;
  std::size_t pieceBytes;
  std::size_t chunkBytes;
};
// Tiny chunks cut lines across reads; they go with few threads, as every chunk
// starts its own (costly under the sanitizers).
const Cut kCuts[] = {{2, 1, 1 << 20}, {3, 1, 1 << 20}, {4, 7, 1 << 20}, {2, 16, 64},
                     {2, 1, 5},       {8, 1, 64},      {3, 3, 17},      {1, 1, 1}};

void expectSameAsSinglePass(const std::string& text, const CsvOptions& options) {
  const Outcome reference = readText(text, singlePass(options));
  for (const Cut& cut : kCuts) {
    CsvOptions cutOptions = options;
    cutOptions.threads = cut.threads;
    cutOptions.pieceBytes = cut.pieceBytes;
    cutOptions.chunkBytes = cut.chunkBytes;
    const Outcome got = readText(text, cutOptions);
    SCOPED_TRACE(testing::Message() << "threads " << cut.threads << ", pieces of " << cut.pieceBytes
                                    << ", chunks of " << cut.chunkBytes);
    EXPECT_EQ(got.failure, reference.failure);
    EXPECT_EQ(got.warnings, reference.warnings);
    ASSERT_EQ(got.pairs.size(), reference.pairs.size());
    for (std::size_t k = 0; k < got.pairs.size(); ++k)
      ASSERT_TRUE(got.pairs[k] == reference.pairs[k]) << "pair " << k;
  }
}

struct EquivalenceCase {
  const char* name;
  std::string text;
};

void PrintTo(const EquivalenceCase& c, std::ostream* os) { *os << c.name; }

std::string manyLines(int count, int badAt, const char* bad) {
  std::string text = "I,Q\n";
  for (int k = 1; k <= count; ++k)
    text +=
        k == badAt ? std::string(bad) + "\n" : std::to_string(k) + "," + std::to_string(-k) + "\n";
  return text;
}

class WavepackCsvParallel : public testing::TestWithParam<EquivalenceCase> {};

TEST_P(WavepackCsvParallel, GivesWhatOnePassGives) {
  for (const CsvOptions& options : {CsvOptions{}, CsvOptions{{}, 1, 0}, CsvOptions{{}, 0, 2}}) {
    SCOPED_TRACE(testing::Message() << "fields " << options.fieldI << "," << options.fieldQ);
    expectSameAsSinglePass(GetParam().text, options);
  }
}

INSTANTIATE_TEST_SUITE_P(
    WavepackFiles, WavepackCsvParallel,
    testing::Values(
        EquivalenceCase{"headers", "Time stamp\nI,Q\n\n1,2\n3,4\n5,6\n7,8\n"},
        EquivalenceCase{"skipped", "I,Q\n1,2\nabc\n3,4\n\n5,6\nxyz,\n7,8\n9,10\n"},
        EquivalenceCase{"badLineNearBoundaries", manyLines(60, 31, "oops")},
        EquivalenceCase{"badSecondField", manyLines(60, 29, "5,x")},
        EquivalenceCase{"pairedAcrossLines", "1,10\n2,x\ny,20\n3,30\n4,40\nz,50\n5,y\n"},
        EquivalenceCase{"noFinalNewline", "I,Q\n1,2\n3,4\n5,6"},
        EquivalenceCase{"crlf", "I,Q\r\n1,2\r\n3,4\r\nbad\r\n5,6\r\n\r\n"},
        EquivalenceCase{"overflowI", "1,2\n3,4\n1e999,5\n6,7\n8,1e999\n"},
        EquivalenceCase{"overflowQ", "1,2\nx\n3,1e999\n6,7\n8,9\n"},
        EquivalenceCase{"extraFields", "Time,I,Q\n0,1,2\n1,3,4\n2,5,6\n"},
        EquivalenceCase{"manySkipped", manyLines(40, 0, "") + "a\nb\nc\nd\ne\nf\ng\n1,1\n"},
        EquivalenceCase{"onlyHeader", "I,Q\n"}, EquivalenceCase{"empty", ""},
        EquivalenceCase{"noData", "a\nb\n\n"}, EquivalenceCase{"lineFeedsOnly", "\n\n\n\n"}));

// Random texts of every kind of line, cut every way: the strongest check that the
// pieces merge back into the single pass.
TEST(WavepackCsvParallelRandom, RandomFilesGiveWhatOnePassGives) {
  const char* const kLines[] = {"1.5,2.5", "-3,4e2",  "abc",     "",           "7,",
                                ",8",      "9,x",     "y,10",    "  11 ,\t12", "13,14,15",
                                "\r",      "1e999,1", "1,1e999", "16;17",      "0.25,-0.75\r"};
  std::mt19937 random(20240611);
  for (int round = 0; round < 120; ++round) {
    std::string text;
    const int lines = static_cast<int>(random() % 40);
    for (int k = 0; k < lines; ++k) {
      text += kLines[random() % std::size(kLines)];
      if (k + 1 < lines || random() % 2) text += random() % 3 ? "\n" : "\r\n";
    }
    SCOPED_TRACE("text: " + text);
    CsvOptions options;
    options.fieldI = static_cast<int>(random() % 3);
    options.fieldQ = options.fieldI == 0 ? 1 + static_cast<int>(random() % 2)
                                         : static_cast<int>(random() % 4) % 3;
    if (options.fieldQ == options.fieldI) options.fieldQ = 0;
    expectSameAsSinglePass(text, options);
    if (HasFailure()) return;
  }
}

TEST(WavepackCsvParallelRandom, LargeTextsReadAheadGiveWhatOnePassGives) {
  // Megabytes of lines, read in chunks large enough to be read ahead while the
  // previous one is parsed; bad lines fall near chunk and piece boundaries.
  std::string text = "I,Q\n";
  std::mt19937 random(7);
  while (text.size() < (std::size_t{5} << 20)) {
    const unsigned kind = random() % 100000;
    if (kind == 0) {
      text += "bad line\n";
    } else if (kind == 1) {
      text += "7,\r\nx,8\n";  // one I and one Q from different lines
    } else {
      text += std::to_string(static_cast<int>(random() % 20001) - 10000) + "." +
              std::to_string(random() % 1000000) + "," +
              std::to_string(static_cast<double>(random()) / 7.0) + "\n";
    }
  }
  text += "1,2";
  const Outcome reference = readText(text, singlePass(CsvOptions{}));
  ASSERT_EQ(reference.failure, "");
  ASSERT_FALSE(reference.warnings.empty());
  for (const unsigned threads : {2u, 3u}) {
    CsvOptions options;
    options.threads = threads;
    options.pieceBytes = 1000;
    options.chunkBytes = std::size_t{1} << 20;
    const Outcome got = readText(text, options);
    EXPECT_EQ(got.failure, reference.failure);
    EXPECT_EQ(got.warnings, reference.warnings);
    ASSERT_EQ(got.pairs.size(), reference.pairs.size());
    for (std::size_t k = 0; k < got.pairs.size(); ++k)
      ASSERT_TRUE(got.pairs[k] == reference.pairs[k]) << "pair " << k;
  }
}

// A reader that serves a text in reads of at most `most` bytes and, when `failAt` is
// set, fails once it has served that many bytes.
Outcome readInReads(const std::string& text, std::size_t most, std::size_t failAt,
                    CsvOptions options) {
  std::size_t at = 0;
  const arbsuite::wavepack::ByteReader reader = [&](char* buffer, std::size_t length) {
    if (failAt != 0 && at >= failAt) throw std::runtime_error("read failed");
    const std::size_t n = std::min({length, most, text.size() - at});
    std::memcpy(buffer, text.data() + at, n);
    at += n;
    return n;
  };
  return readThrough(reader, options);
}

TEST(WavepackCsvTeam, ShortReadsGiveWhatOnePassGives) {
  // Reads that end inside lines and blocks that need several reads to end a line.
  const std::string text = manyLines(300, 150, "5,x") + "7,8";
  const Outcome reference = readText(text, singlePass(CsvOptions{}));
  for (const std::size_t most : {1u, 3u, 10u, 4096u}) {
    for (const unsigned threads : {1u, 2u, 3u}) {
      SCOPED_TRACE(testing::Message() << "reads of " << most << ", threads " << threads);
      CsvOptions options;
      options.threads = threads;
      options.pieceBytes = 40;
      options.chunkBytes = 64;
      const Outcome got = readInReads(text, most, 0, options);
      EXPECT_EQ(got.failure, reference.failure);
      EXPECT_EQ(got.warnings, reference.warnings);
      ASSERT_EQ(got.pairs.size(), reference.pairs.size());
      for (std::size_t k = 0; k < got.pairs.size(); ++k)
        ASSERT_TRUE(got.pairs[k] == reference.pairs[k]) << "pair " << k;
    }
  }
}

TEST(WavepackCsvTeam, AReadFailureComesAfterTheLinesBeforeIt) {
  // Line 2001 holds an I beyond a double; the read fails later, or earlier, in the
  // file (past the look-ahead of the start). Whichever a single pass meets first is
  // the failure, however the threads interleave.
  const std::string text = manyLines(3000, 2000, "1e999,1");
  const std::size_t badLine = text.find("1e999");
  for (const unsigned threads : {1u, 2u, 4u}) {
    SCOPED_TRACE(testing::Message() << "threads " << threads);
    CsvOptions options;
    options.threads = threads;
    options.pieceBytes = 32;
    options.chunkBytes = 32;
    for (int round = 0; round < 20; ++round) {
      EXPECT_EQ(readInReads(text, 7, text.size() - 100, options).failure,
                "Number out of range in f.csv at line 2001");
      EXPECT_EQ(readInReads(text, 7, badLine - 200, options).failure, "read failed");
    }
  }
}

TEST(WavepackCsvTeam, ALongLineIsNumberedAfterTheLinesBeforeIt) {
  std::size_t served = 0;
  const std::string start = manyLines(2000, 0, "");
  const arbsuite::wavepack::ByteReader endless = [&](char* buffer, std::size_t length) {
    std::size_t n = 0;
    if (served < start.size()) {
      n = std::min(length, start.size() - served);
      std::memcpy(buffer, start.data() + served, n);
    } else {
      std::memset(buffer, '7', length);
      n = length;
    }
    served += n;
    return n;
  };
  Diagnostics diagnostics;
  CsvOptions options;
  options.threads = 2;
  options.pieceBytes = 1000;
  try {
    arbsuite::wavepack::readCsv(endless, "-", options, diagnostics);
    FAIL() << "read on";
  } catch (const std::length_error& e) {
    EXPECT_EQ(std::string(e.what()), "- line 2002 is longer than 64 MiB");
  }
  EXPECT_LE(served, start.size() + arbsuite::wavepack::kMaxLineBytes + options.chunkBytes);
}

TEST(WavepackCsvReports, HeadersAreSilentLaterLinesAreNamed) {
  const Outcome o =
      readText("Time,I,Q\nunit s,V,V\n0.5,1\n\ngarbage on line 5\n2,x\n3,4\ny,5\n", CsvOptions{});
  EXPECT_EQ(o.failure, "");
  EXPECT_EQ(o.warnings,
            (std::vector<std::string>{
                "f.csv line 5: fields 1 and 2 are not numbers, line skipped: \"garbage on line 5\"",
                "f.csv line 6: field 2 (Q) is not a number: \"2,x\"",
                "f.csv line 8: field 1 (I) is not a number: \"y,5\""}));
  // I and Q values are counted apart, as the two-column reader always paired them.
  ASSERT_EQ(o.pairs.size(), 3u);
  EXPECT_EQ(o.pairs[1].i, 2.0);
  EXPECT_EQ(o.pairs[1].q, 4.0);
}

TEST(WavepackCsvReports, APartialLineIsNamedBeforeTheLengthFailure) {
  const Outcome o = readText("1,2\n3,4\n5,\n", CsvOptions{});
  EXPECT_EQ(o.warnings,
            (std::vector<std::string>{"f.csv line 3: field 2 (Q) is not a number: \"5,\""}));
  EXPECT_EQ(o.failure,
            "Two rows of data length is not equal in f.csv\n"
            "f.csv line 3: field 2 (Q) is not a number: \"5,\"");
}

TEST(WavepackCsvReports, TheFirstFiveThenACount) {
  std::string text = "1,2\n";
  for (int k = 0; k < 12; ++k) text += "bad" + std::to_string(k) + "\n";
  text += "3,4\n";
  const Outcome o = readText(text, CsvOptions{});
  ASSERT_EQ(o.warnings.size(), 6u);
  EXPECT_EQ(o.warnings[0], "f.csv line 2: fields 1 and 2 are not numbers, line skipped: \"bad0\"");
  EXPECT_EQ(o.warnings[4], "f.csv line 6: fields 1 and 2 are not numbers, line skipped: \"bad4\"");
  EXPECT_EQ(o.warnings[5], "f.csv: 7 more lines with fields that are not numbers");
  EXPECT_EQ(o.pairs.size(), 2u);
}

TEST(WavepackCsvReports, ControlBytesAreEscapedAndLongLinesCut) {
  const std::string longLine(200, 'z');
  const Outcome o = readText("1,2\nbad\x01\"\\\n" + longLine + "\n", CsvOptions{});
  ASSERT_EQ(o.warnings.size(), 2u);
  EXPECT_EQ(o.warnings[0],
            "f.csv line 2: fields 1 and 2 are not numbers, line skipped: \"bad\\x01\\\"\\\\\"");
  EXPECT_EQ(o.warnings[1], "f.csv line 3: fields 1 and 2 are not numbers, line skipped: \"" +
                               std::string(80, 'z') + "\"...");
}

TEST(WavepackCsvReports, StrictMakesTheFirstWarningTheFailure) {
  const Outcome o = readText("I,Q\n1,2\nx\n3,4\n", CsvOptions{}, true);
  EXPECT_EQ(o.failure, "f.csv line 3: fields 1 and 2 are not numbers, line skipped: \"x\"");
  EXPECT_TRUE(o.pairs.empty());
  // Header and blank lines are never warnings, so strict reads such a file.
  EXPECT_EQ(readText("I,Q\n\n1,2\n\n3,4\n\n", CsvOptions{}, true).pairs.size(), 2u);
}

TEST(WavepackCsvReports, MoreFieldsThanReadAreNamedOnceUnlessChosen) {
  const Outcome o = readText("Time,I,Q\n0,0.1,0.2\n1,0.3,0.4\n", CsvOptions{});
  EXPECT_EQ(o.warnings, (std::vector<std::string>{
                            "f.csv line 2 has 3 fields: I is read from field 1 and Q from field 2 "
                            "(--columns chooses others; --delimiter and --decimal-comma read "
                            "other dialects)"}));
  // A European file read with the default dialect shows the same way.
  EXPECT_EQ(readText("-0,428571;-0,714286\n", CsvOptions{}).warnings.size(), 1u);
  // Trailing empty fields do not count.
  EXPECT_TRUE(readText("1,2,\n3,4, \n", CsvOptions{}).warnings.empty());
  CsvOptions chosen;
  chosen.fieldI = 2;
  chosen.fieldQ = 3;
  chosen.fieldsChosen = true;
  const Outcome c = readText("Time,I,Q\n0,0.1,0.2\n1,0.3,0.4\n", chosen);
  EXPECT_TRUE(c.warnings.empty());
  ASSERT_EQ(c.pairs.size(), 2u);
  EXPECT_EQ(c.pairs[1].i, 0.3);
  EXPECT_EQ(c.pairs[1].q, 0.4);
}

// One row per dialect: the text, the options and the pairs expected.
struct DialectCase {
  const char* name;
  std::string text;
  char delimiter;
  bool decimalComma;
  int fieldI;
  int fieldQ;
  std::vector<IqPair> pairs;
  std::size_t warnings;
};

void PrintTo(const DialectCase& c, std::ostream* os) { *os << c.name; }

class WavepackCsvDialects : public testing::TestWithParam<DialectCase> {};

TEST_P(WavepackCsvDialects, ReadTheValuesWritten) {
  const DialectCase& c = GetParam();
  CsvOptions options;
  options.dialect.delimiter = c.delimiter;
  options.dialect.decimalComma = c.decimalComma;
  options.fieldI = c.fieldI;
  options.fieldQ = c.fieldQ;
  options.fieldsChosen = true;
  const Outcome o = readText(c.text, options);
  EXPECT_EQ(o.failure, "");
  EXPECT_EQ(o.warnings.size(), c.warnings) << (o.warnings.empty() ? "" : o.warnings[0]);
  ASSERT_EQ(o.pairs.size(), c.pairs.size());
  for (std::size_t k = 0; k < c.pairs.size(); ++k) {
    EXPECT_EQ(o.pairs[k].i, c.pairs[k].i) << k;
    EXPECT_EQ(o.pairs[k].q, c.pairs[k].q) << k;
  }
}

INSTANTIATE_TEST_SUITE_P(
    WavepackDialects, WavepackCsvDialects,
    testing::Values(
        DialectCase{"semicolonDecimalComma",
                    "I;Q\n-0,428571;-0,714286\n1,5e3;2\n",
                    ';',
                    true,
                    1,
                    2,
                    {{-0.428571, -0.714286}, {1500, 2}},
                    0},
        DialectCase{"semicolonPoint", "1.5;2.5\n", ';', false, 1, 2, {{1.5, 2.5}}, 0},
        DialectCase{"tab", "I\tQ\n1\t2\n\t\n4\t5\n", '\t', false, 1, 2, {{1, 2}, {4, 5}}, 0},
        DialectCase{"tabDecimalComma", "1,25\t-2,5\n", '\t', true, 1, 2, {{1.25, -2.5}}, 0},
        // numpy.savetxt's default: '%.18e' and one space.
        DialectCase{"numpySavetxt",
                    "1.000000000000000000e+00 -2.500000000000000000e-01\n"
                    "3.000000000000000000e+00 4.000000000000000000e+00\n",
                    ' ',
                    false,
                    1,
                    2,
                    {{1, -0.25}, {3, 4}},
                    0},
        DialectCase{
            "runsOfBlanks", "   1 \t  2   \n\t3    4\n", ' ', false, 1, 2, {{1, 2}, {3, 4}}, 0},
        DialectCase{"timeIQ",
                    "Time,I,Q\n0,0.1,0.2\n1e-6,0.3,0.4\n",
                    ',',
                    false,
                    2,
                    3,
                    {{0.1, 0.2}, {0.3, 0.4}},
                    0},
        DialectCase{"swappedColumns", "1,2,3\n", ',', false, 3, 1, {{3, 1}}, 0},
        DialectCase{"spaceColumns", "t i q\n0 1 2\n", ' ', false, 3, 2, {{2, 1}}, 0},
        // A thousands separator, or a point in a decimal-comma file, is no number.
        DialectCase{"pointInDecimalComma", "1,5;2\n1.234,5;x\n", ';', true, 1, 2, {{1.5, 2}}, 1},
        DialectCase{"oneField", "x\n1\n2\n", ';', false, 1, 0, {{1, 0}, {2, 0}}, 0},
        DialectCase{"oneFieldAsQ", "5;6\n7;8\n", ';', false, 0, 2, {{0, 6}, {0, 8}}, 0}));

TEST(WavepackCsvNumbers, DecimalCommaReadsAsAPointWould) {
  const char* const fields[] = {
      "0,5",     "-1,25e3", "+2,", ",75", "1,2,3", "12345678901234567890,5",
      "1,5e999", "1,e5",    "1e",  "x"};
  for (const std::string field : fields) {
    std::string pointed = field;
    const std::size_t comma = pointed.find(',');
    if (comma != std::string::npos) pointed[comma] = '.';
    double expected = 0;
    double got = 0;
    const auto a = arbsuite::wavepack::scanNumber(pointed.data(), pointed.data() + pointed.size(),
                                                  expected, '.', ';');
    const auto b =
        arbsuite::wavepack::scanNumber(field.data(), field.data() + field.size(), got, ',', ';');
    EXPECT_EQ(a.value, b.value) << field;
    if (a.value == arbsuite::wavepack::FieldValue::notNumber) continue;
    EXPECT_EQ(a.end - pointed.data(), b.end - field.data()) << field;
    if (a.value == arbsuite::wavepack::FieldValue::number) {
      EXPECT_EQ(got, expected) << field;
    }
  }
}

TEST(WavepackCsvNumbers, WhiteSpaceOtherThanTheDelimiterIsSkipped) {
  double v = 0;
  const std::string tabbed = "\t5";
  EXPECT_EQ(arbsuite::wavepack::scanNumber(tabbed.data(), tabbed.data() + 2, v, '.', '\t').value,
            arbsuite::wavepack::FieldValue::notNumber);
  EXPECT_EQ(arbsuite::wavepack::scanNumber(tabbed.data(), tabbed.data() + 2, v, '.', ',').value,
            arbsuite::wavepack::FieldValue::number);
}

TEST(WavepackCsvFields, CountUpToTheLastNonBlankField) {
  arbsuite::wavepack::CsvDialect comma;
  arbsuite::wavepack::CsvDialect blanks{' ', false};
  EXPECT_EQ(arbsuite::wavepack::countFields("1,2,3", comma), 3u);
  EXPECT_EQ(arbsuite::wavepack::countFields("1,2,,", comma), 2u);
  EXPECT_EQ(arbsuite::wavepack::countFields("1,,3", comma), 3u);
  EXPECT_EQ(arbsuite::wavepack::countFields("", comma), 0u);
  EXPECT_EQ(arbsuite::wavepack::countFields("  1   2\t3  ", blanks), 3u);
}

TEST(WavepackCsvLimits, ALineLongerThanTheLimitIsRefused) {
  // A reader that never ends a line: refused once the limit is passed, not read on.
  std::size_t served = 0;
  const arbsuite::wavepack::ByteReader endless = [&](char* buffer, std::size_t length) {
    std::memset(buffer, '7', length);
    served += length;
    return length;
  };
  Diagnostics diagnostics;
  CsvOptions options;
  options.chunkBytes = std::size_t{8} << 20;
  try {
    arbsuite::wavepack::readCsv(endless, "-", options, diagnostics);
    FAIL() << "read on";
  } catch (const std::length_error& e) {
    EXPECT_EQ(std::string(e.what()), "- line 1 is longer than 64 MiB");
  }
  EXPECT_LE(served, arbsuite::wavepack::kMaxLineBytes + options.chunkBytes);
}

// The peak the reader hands with its pairs is the one findPeak finds in them, bit for
// bit, however the text is cut into blocks and threads; pairs realigned (I and Q
// counted apart across blocks) come without one, and the converter reads them.
TEST(WavepackCsvPeak, TheKnownPeakIsTheOneFindPeakFinds) {
  std::mt19937_64 random(3);
  std::string text = "I,Q\n";
  for (int k = 0; k < 3000; ++k) {
    text += std::to_string(static_cast<int>(random() % 2000) - 1000) + "." +
            std::to_string(random() % 1000000) + "," +
            std::to_string(static_cast<int>(random() % 2000) - 1000) + "e-3\n";
    if (k % 97 == 0) text += "1.5e3,-2000.25\n";
  }
  auto read = [](const std::string& text, CsvOptions options) {
    std::size_t at = 0;
    const arbsuite::wavepack::ByteReader reader = [&](char* buffer, std::size_t length) {
      const std::size_t n = std::min(length, text.size() - at);
      std::memcpy(buffer, text.data() + at, n);
      at += n;
      return n;
    };
    Diagnostics quiet(false);
    return arbsuite::wavepack::readCsv(reader, "f.csv", options, quiet);
  };
  for (const Cut& cut : kCuts) {
    if (cut.chunkBytes < 64) continue;  // a thread per chunk of a few bytes: too slow here
    CsvOptions options;
    options.threads = cut.threads;
    options.pieceBytes = cut.pieceBytes;
    options.chunkBytes = cut.chunkBytes;
    for (const bool single : {false, true}) {
      CsvOptions chosen = options;
      if (single) chosen.fieldQ = 0;
      arbsuite::wavepack::MemoryPairs pairs = read(text, chosen);
      ASSERT_TRUE(pairs.knownPeak().has_value());
      const std::optional<arbsuite::PeakScale> known = arbsuite::knownPeakScale(pairs);
      ASSERT_TRUE(known.has_value());
      const arbsuite::PeakScale found = arbsuite::findPeak(pairs);
      EXPECT_EQ(std::bit_cast<std::uint64_t>(known->peak),
                std::bit_cast<std::uint64_t>(found.peak));
      EXPECT_EQ(known->prescale, found.prescale);
    }
  }
  // Q missing on one line, given on a later one of another block: pairs realigned.
  CsvOptions small;
  small.threads = 2;
  small.pieceBytes = 16;
  small.chunkBytes = 64;
  const std::string realigned = text + "5,\n" + std::string(200, '\n') + ",7\n";
  const arbsuite::wavepack::MemoryPairs pairs = read(realigned, small);
  EXPECT_FALSE(pairs.knownPeak().has_value());
  // Values whose squares overflow need findPeak's scaled pass.
  arbsuite::wavepack::MemoryPairs huge = read("1.5e308,-1.5e308\n", small);
  ASSERT_TRUE(huge.knownPeak().has_value());
  EXPECT_FALSE(arbsuite::knownPeakScale(huge).has_value());
  EXPECT_EQ(arbsuite::findPeak(huge).prescale, 0.5);
}

}  // namespace
