// The CSV line parser's plain-pair path ("I,Q" lines read without looking for the
// line's end first) against the general line parser: on random pieces mixing plain
// lines with every kind of line the general parser handles, both must find the same.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "csv_line_parser.h"

namespace {

namespace csv = arbsuite::wavepack::csv;
using arbsuite::wavepack::CsvOptions;

csv::Piece parsePiece(const std::string& text, const CsvOptions& options, bool plainPairs) {
  static std::vector<char> buffer;
  buffer.assign(text.begin(), text.end());
  buffer.resize(text.size() + csv::kReadSlack, '\0');
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

}  // namespace
