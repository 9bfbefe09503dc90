// The CSV line parser's plain-pair path ("I,Q" lines read in runs, each line's feed
// found before its fields) against the general line parser: on random pieces mixing
// plain lines with every kind of line the general parser handles, on every digit
// count, at the ends of runs and of the text, both must find the same; and the peak
// a piece takes while it parses against the peak of all its pairs.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "csv_line_parser.h"
#include "quantizer.h"

namespace {

namespace csv = arbsuite::wavepack::csv;
using arbsuite::wavepack::CsvOptions;

// `after`: the bytes that follow the piece in its buffer (the start of the next
// block's line in the reader), then the zero slack.
csv::Piece parsePiece(const std::string& text, const CsvOptions& options, bool plainPairs,
                      const std::string& after = "") {
  static std::vector<char> buffer;
  buffer.assign(text.begin(), text.end());
  buffer.insert(buffer.end(), after.begin(), after.end());
  buffer.resize(text.size() + after.size() + csv::kReadSlack, '\0');
  csv::Piece piece;
  piece.begin = buffer.data();
  piece.end = buffer.data() + text.size();
  csv::PieceParser(options, plainPairs).parse(piece);
  piece.begin = piece.end = nullptr;  // the buffer is reused
  return piece;
}

void expectSameNotes(const csv::NoteList& a, const csv::NoteList& b) {
  EXPECT_EQ(a.count, b.count);
  ASSERT_EQ(a.first.size(), b.first.size());
  for (std::size_t k = 0; k < a.first.size(); ++k) {
    EXPECT_EQ(a.first[k].line, b.first[k].line);
    EXPECT_EQ(a.first[k].kind, b.first[k].kind);
    EXPECT_EQ(a.first[k].text, b.first[k].text);
  }
  for (int c = 0; c < 2; ++c) {
    ASSERT_EQ(a.firstLacking[c].has_value(), b.firstLacking[c].has_value());
    if (a.firstLacking[c]) {
      EXPECT_EQ(a.firstLacking[c]->line, b.firstLacking[c]->line);
      EXPECT_EQ(a.firstLacking[c]->text, b.firstLacking[c]->text);
    }
  }
}

void expectSamePiece(const csv::Piece& a, const csv::Piece& b) {
  ASSERT_EQ(a.pairs.size(), b.pairs.size());
  for (std::size_t k = 0; k < a.pairs.size(); ++k) {
    EXPECT_EQ(std::bit_cast<std::uint64_t>(a.pairs[k].i),
              std::bit_cast<std::uint64_t>(b.pairs[k].i))
        << "pair " << k;
    EXPECT_EQ(std::bit_cast<std::uint64_t>(a.pairs[k].q),
              std::bit_cast<std::uint64_t>(b.pairs[k].q))
        << "pair " << k;
  }
  EXPECT_EQ(a.countI, b.countI);
  EXPECT_EQ(a.countQ, b.countQ);
  EXPECT_EQ(a.lines, b.lines);
  EXPECT_EQ(a.hasData, b.hasData);
  expectSameNotes(a.beforeData, b.beforeData);
  expectSameNotes(a.afterData, b.afterData);
  EXPECT_EQ(a.failNowLine, b.failNowLine);
  EXPECT_EQ(a.failLaterLine, b.failLaterLine);
  EXPECT_EQ(a.extraLine, b.extraLine);
  EXPECT_EQ(a.extraText, b.extraText);
  EXPECT_EQ(a.decimalComma.line, b.decimalComma.line);
  EXPECT_EQ(a.decimalComma.count, b.decimalComma.count);
  EXPECT_EQ(a.hex.line, b.hex.line);
  EXPECT_EQ(a.hex.count, b.hex.count);
  EXPECT_EQ(a.complexLines, b.complexLines);
  EXPECT_EQ(a.quotedLines, b.quotedLines);
}

// A random field: mostly plain decimals, and each form the scanner treats apart.
std::string randomField(std::mt19937_64& random) {
  auto pick = [&](unsigned n) { return static_cast<unsigned>(random() % n); };
  static const char* const odd[] = {"+1.5",
                                    " 2",
                                    "3 ",
                                    "\t4",
                                    "1e5",
                                    "1e",
                                    "-1E-3",
                                    "1e400",
                                    "-1e400",
                                    "1e-400",
                                    ".5",
                                    "5.",
                                    "-.5",
                                    ".",
                                    "-",
                                    "x",
                                    "I",
                                    "inf",
                                    "nan",
                                    "0x1A",
                                    "\"1.5\"",
                                    "1.5V",
                                    "00012.5000",
                                    "1.2.3",
                                    "",
                                    "0",
                                    "-0",
                                    "0.1000000000000000055511151231257827",
                                    "12345678901234567890",
                                    "123456789012345",
                                    "4.9e-324",
                                    "1,5"};
  if (pick(4) == 0) return odd[pick(sizeof odd / sizeof *odd)];
  std::string field = pick(2) ? "-" : "";
  for (unsigned k = 1 + pick(pick(5) == 0 ? 18 : 3); k > 0; --k)
    field += static_cast<char>('0' + pick(10));
  if (pick(5)) {
    field += '.';
    for (unsigned k = pick(pick(5) == 0 ? 20 : 9); k > 0; --k)
      field += static_cast<char>('0' + pick(10));
  }
  return field;
}

std::string randomLine(std::mt19937_64& random) {
  auto pick = [&](unsigned n) { return static_cast<unsigned>(random() % n); };
  switch (pick(12)) {
    case 0:
      return "";
    case 1:
      return pick(2) ? "I,Q" : "  \t";
    case 2:
      return "(" + randomField(random) + "+" + randomField(random) + "j)";
    case 3:
      return randomField(random);
    case 4:
      return randomField(random) + "," + randomField(random) + "," + randomField(random);
    case 5:
      return randomField(random) + ",";
    case 6:
      return randomField(random) + ";" + randomField(random);
    default:
      return randomField(random) + "," + randomField(random);
  }
}

TEST(WavepackCsvPlainPairs, RandomPiecesGiveWhatTheGeneralParserGives) {
  std::mt19937_64 random(20240611);
  auto pick = [&](unsigned n) { return static_cast<unsigned>(random() % n); };
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    const unsigned lines = 1 + pick(40);
    for (unsigned k = 0; k < lines; ++k) {
      text += pick(8) == 0 ? randomLine(random) : randomField(random) + "," + randomField(random);
      switch (pick(10)) {
        case 0:
          text += "\r\n";
          break;
        case 1:
          text += "\r\r\n";
          break;
        case 2:
          text += "\r";
          break;
        default:
          text += "\n";
          break;
      }
    }
    if (pick(3) == 0) text.pop_back();  // a last line without its line feed
    for (const bool chosen : {false, true}) {
      CsvOptions options;
      options.fieldsChosen = chosen;
      SCOPED_TRACE("text:\n" + text);
      const csv::Piece plain = parsePiece(text, options, true);
      const csv::Piece general = parsePiece(text, options, false);
      expectSamePiece(plain, general);
      if (testing::Test::HasFailure()) return;
    }
  }
}

// A plain field written independently of the parser: a sign, `whole` digits, and a
// point with `fraction` digits (none without the point).
std::string digitField(std::mt19937_64& random, bool negative, int whole, int fraction,
                       bool point) {
  std::string field = negative ? "-" : "";
  for (int k = 0; k < whole; ++k) field += static_cast<char>('0' + random() % 10);
  if (point) field += '.';
  for (int k = 0; k < fraction; ++k) field += static_cast<char>('0' + random() % 10);
  return field;
}

// The pairs strtod makes of "I,Q" lines, a line at a time.
std::vector<std::pair<double, double>> strtodPairs(const std::vector<std::string>& lines) {
  std::vector<std::pair<double, double>> pairs;
  for (const std::string& line : lines) {
    char* end = nullptr;
    const double i = std::strtod(line.c_str(), &end);
    const double q = std::strtod(end + 1, nullptr);
    pairs.emplace_back(i, q);
  }
  return pairs;
}

void expectPairsAre(const csv::Piece& piece, const std::vector<std::pair<double, double>>& pairs) {
  ASSERT_EQ(piece.pairs.size(), pairs.size());
  for (std::size_t k = 0; k < pairs.size(); ++k) {
    ASSERT_EQ(std::bit_cast<std::uint64_t>(piece.pairs[k].i),
              std::bit_cast<std::uint64_t>(pairs[k].first))
        << "pair " << k;
    ASSERT_EQ(std::bit_cast<std::uint64_t>(piece.pairs[k].q),
              std::bit_cast<std::uint64_t>(pairs[k].second))
        << "pair " << k;
  }
}

// Every count of 0 to 8 digits before and after the point, with and without a sign
// or a point, as I and as Q, in texts long enough for the line-feed search and in
// short ones (the end of a piece, read without it): strtod's values, and what the
// general parser finds (the 8-digit and digitless fields are its to read).
TEST(WavepackCsvPlainPairs, EveryDigitCountReadsAsStrtod) {
  std::mt19937_64 random(7);
  for (int whole = 0; whole <= 8; ++whole) {
    for (int fraction = 0; fraction <= 8; ++fraction) {
      for (int form = 0; form < 8; ++form) {
        const bool negative = form & 1;
        const bool point = (form & 2) != 0 || fraction > 0;
        const bool asQ = (form & 4) != 0;
        std::vector<std::string> lines;
        std::string text;
        for (int k = 0; k < 40; ++k) {
          const std::string field = digitField(random, negative, whole, fraction, point);
          const std::string other = digitField(random, random() % 2, 1, 6, true);
          lines.push_back(asQ ? other + "," + field : field + "," + other);
          text += lines.back() + (k % 3 == 0 ? "\r\n" : "\n");
        }
        SCOPED_TRACE(testing::Message()
                     << whole << " whole and " << fraction << " fraction digits, form " << form);
        const CsvOptions options;
        for (const std::size_t length : {text.size(), std::size_t{50}, std::size_t{20}}) {
          const std::string piece = text.substr(0, text.rfind('\n', length - 1) + 1);
          expectSamePiece(parsePiece(piece, options, true), parsePiece(piece, options, false));
        }
        if (whole + fraction == 0 || whole == 8 || fraction == 8) continue;
        const csv::Piece plain = parsePiece(text, options, true);
        expectPairsAre(plain, strtodPairs(lines));
        if (testing::Test::HasFailure()) return;
      }
    }
  }
}

// Fields and lines the plain path leaves to the general parser, alone, among plain
// lines, and as the last line of the text with or without its line feed.
TEST(WavepackCsvPlainPairs, OtherFormsFallBackToTheGeneralParser) {
  const char* const lines[] = {"+1.5,2",
                               "1.5,+2",
                               " 1,2",
                               "1, 2",
                               "1,2 ",
                               "1e3,2",
                               "1,2e-3",
                               "1.5V,2",
                               "1,2.5V",
                               "0x1A,2",
                               "1,2,3",
                               "1,2,",
                               "1,2\r",
                               "1,2\r\r",
                               "1;2",
                               "1,,2",
                               ",1",
                               "1,",
                               "-,1",
                               "1,-",
                               ".,1",
                               "1,.",
                               "--1,2",
                               "1,--2",
                               "1.2.3,4",
                               "12345678,1",
                               "1,12345678",
                               "1.12345678,2",
                               "(1+2j)",
                               "\"1\",2",
                               "1e400,2",
                               "1,1e400",
                               "inf,1",
                               "1,nan",
                               "I,Q",
                               "",
                               "123456789012345.5,1",
                               "1,0.1000000000000000055511151231257827"};
  const std::string plain = "-0.246485,0.103675\n1234567.1234567,-7654321.7654321\n";
  std::string many;
  for (int k = 0; k < 10; ++k) many += plain;
  for (const char* line : lines) {
    SCOPED_TRACE(std::string("line '") + line + "'");
    for (const bool chosen : {false, true}) {
      CsvOptions options;
      options.fieldsChosen = chosen;
      for (const std::string& text :
           {std::string(line) + "\n", many + line + "\n" + many, many + line + "\r\n" + plain,
            many + line, plain + line, std::string(line)}) {
        expectSamePiece(parsePiece(text, options, true), parsePiece(text, options, false));
        if (testing::Test::HasFailure()) return;
      }
    }
  }
}

// Runs of 255 to 257 and 511 to 513 lines (the run buffer holds 256), pieces that
// end at every byte of their last lines, and bytes after the piece that a load past
// its end reads (digits, signs, points, line ends of the next block's line): the
// pairs and lines of the general parser.
TEST(WavepackCsvPlainPairs, RunAndTextEndsGiveWhatTheGeneralParserGives) {
  std::mt19937_64 random(11);
  const std::string afters[] = {"", "12345678901234567890", "-.5\n", "\r\n1,2\n", ",,,,,,,,,,"};
  for (const int count : {1, 2, 3, 255, 256, 257, 511, 512, 513}) {
    std::string text;
    for (int k = 0; k < count; ++k) {
      // Lines of 3 to 35 bytes, the longest plain ones at the end among them.
      const int whole = k % 8;
      const int fraction = (k / 8) % 8;
      text += digitField(random, random() % 2, whole == 0 && fraction == 0 ? 1 : whole, fraction,
                         fraction > 0) +
              "," + digitField(random, random() % 2, 7 - whole, 7 - fraction, true) +
              (k % 5 == 0 ? "\r\n" : "\n");
    }
    text += "-1234567.1234567,-7654321.7654321\r\n";
    for (std::size_t cut = text.size() > 80 ? text.size() - 80 : 0; cut <= text.size(); ++cut) {
      const std::string piece = text.substr(0, cut);
      for (const std::string& after : afters) {
        SCOPED_TRACE(testing::Message()
                     << count << " lines cut at " << cut << ", then '" << after << "'");
        const CsvOptions options;
        expectSamePiece(parsePiece(piece, options, true, after),
                        parsePiece(piece, options, false, after));
        if (testing::Test::HasFailure()) return;
      }
    }
  }
}

// The peak a piece takes run by run is the peak of all its pairs, bit for bit, with
// general lines between the runs, values beyond the squares' safe range, and one
// field; a piece whose I and Q counts differ covers only its complete pairs.
TEST(WavepackCsvPlainPairs, ThePeakTakenWhileParsingIsThatOfAllPairs) {
  std::mt19937_64 random(5);
  auto pick = [&](unsigned n) { return static_cast<unsigned>(random() % n); };
  for (int round = 0; round < 300; ++round) {
    std::string text;
    const unsigned lines = 1 + pick(round % 10 == 0 ? 3000 : 300);
    for (unsigned k = 0; k < lines; ++k) {
      switch (pick(20)) {
        case 0:
          text += "1e-200,-3e-201\n";
          break;
        case 1:
          text += round % 3 == 0 ? "1.5e300,-2e300\n" : "2.5e-3,1\n";
          break;
        case 2:
          text += randomLine(random) + "\n";
          break;
        default:
          text += randomField(random) + "," + randomField(random) + "\n";
          break;
      }
    }
    SCOPED_TRACE("text:\n" + text);
    for (const bool single : {false, true}) {
      CsvOptions options;
      if (single) options.fieldQ = 0;
      const csv::Piece piece = parsePiece(text, options, true);
      const std::size_t complete =
          single ? piece.pairs.size() : std::min(piece.countI, piece.countQ);
      ASSERT_EQ(piece.peakPairs, complete);
      // The reference: the largest std::hypot, pair by pair.
      double reference = 0.0;
      for (std::size_t k = 0; k < complete; ++k)
        reference = std::max(reference, std::hypot(piece.pairs[k].i, piece.pairs[k].q));
      ASSERT_EQ(std::bit_cast<std::uint64_t>(piece.peak), std::bit_cast<std::uint64_t>(reference));
      ASSERT_EQ(std::bit_cast<std::uint64_t>(piece.peak),
                std::bit_cast<std::uint64_t>(arbsuite::peakModulus(
                    std::span<const arbsuite::IqPair>(piece.pairs).first(complete))));
    }
  }
}

}  // namespace
