// The CSV line and field parser (see csv_line_parser.h) and the count of a line's
// fields.
#include "csv_line_parser.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "huge_pages.h"
#include "quantizer.h"

namespace arbsuite::wavepack {

namespace csv {

namespace {

// Number of lines (a last line without a line feed counts). It sizes a piece's
// pairs up front, so they are never copied while growing; vectorised because it is
// a full extra pass over the text.
std::size_t countLines(const char* p, const char* const end) {
  std::size_t lines = 0;
  const bool unterminated = p < end && end[-1] != '\n';
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
  return lines + (unterminated ? 1 : 0);
}

// Reserves room for `count` pairs, on huge pages where the system offers them, and
// has the system map their pages at once: one call instead of a page fault for
// every 4 KiB page that the pairs fill (almost every line counted holds a pair).
void reservePairs(std::vector<IqPair>& pairs, std::size_t count) {
  pairs.reserve(count);
  arb::adviseHugePages(pairs.data(), count * sizeof(IqPair));
#if defined(MADV_POPULATE_WRITE)
  constexpr std::uintptr_t kPage = 4096;
  const auto begin = reinterpret_cast<std::uintptr_t>(pairs.data());
  const std::uintptr_t first = (begin + kPage - 1) & ~(kPage - 1);
  const std::uintptr_t last = (begin + count * sizeof(IqPair)) & ~(kPage - 1);
  if (last > first + 16 * kPage)  // a refusal (older kernels) changes nothing
    ::madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
#endif
}

bool isBlankLine(const char* b, const char* e) {
  for (; b < e; ++b)
    if (!isStreamSpace(*b)) return false;
  return true;
}

// The first character of a number the plain-pair line takes without skipping
// anything before it ('+' and white space are left to the general parser).
// Without branches: a digit and a '-' alternate at random in such files.
bool startsPlainNumber(char c) {
  return (static_cast<unsigned char>(c - '0') < 10) | (c == '-') | (c == '.');
}

}  // namespace

PieceParser::PieceParser(const CsvOptions& options, bool plainPairs)
    : split_{options.dialect.delimiter, options.dialect.decimalComma ? ',' : '.',
             options.dialect.delimiter == ' '},
      fieldI_(options.fieldI),
      fieldQ_(options.fieldQ),
      dual_(options.fieldI > 0 && options.fieldQ > 0),
      checkExtra_(!options.fieldsChosen),
      complexForm_(options.fieldI == 1 && options.fieldQ == 2 && !options.dialect.decimalComma) {
  const int a = fieldI_ > 0 ? fieldI_ : fieldQ_;
  const int b = dual_ ? fieldQ_ : 0;
  first_ = b > 0 ? std::min(a, b) : a;
  second_ = b > 0 ? std::max(a, b) : 0;
  plainPairs_ = plainPairs && fieldI_ == 1 && fieldQ_ == 2 && split_.delimiter == ',' &&
                split_.decimalPoint == '.';
}

void PieceParser::parse(Piece& piece) const {
  reservePairs(piece.pairs, countLines(piece.begin, piece.end));
  RunBuffer run;
  const char* p = piece.begin;
  while (p < piece.end) {
    if (plainPairs_) {
      // Runs store whole pairs: only while every I value so far has its Q value.
      if (piece.countI == piece.countQ) {
        p = readPlainRun(piece, p, run);
        if (p == piece.end) break;
      }
      if (const char* next = readPlainPair(piece, p)) {
        p = next;
        continue;
      }
    }
    const void* nl = std::memchr(p, '\n', static_cast<std::size_t>(piece.end - p));
    const char* lineEnd = nl ? static_cast<const char*>(nl) : piece.end;
    const char* next = lineEnd + 1;
    if (lineEnd > p && lineEnd[-1] == '\r') --lineEnd;
    ++piece.lines;
    if (!parseLine(piece, p, lineEnd)) break;  // a failure that ends the reading
    p = next;
  }
  notePeak(piece);
}

namespace {

// The pair of two plain fields, each value as plainValue makes it.
[[gnu::always_inline]] inline void storePlainPair(IqPair& pair, const PlainDigits& i,
                                                  const PlainDigits& q) {
#if defined(__SSE2__)
  // Both divisions in one instruction: each lane is the same correctly rounded
  // IEEE division as plainValue's.
  const __m128d mantissas = _mm_set_pd(static_cast<double>(static_cast<std::int64_t>(q.mantissa)),
                                       static_cast<double>(static_cast<std::int64_t>(i.mantissa)));
  const __m128d powers = _mm_set_pd(kPowersOfTen[q.fraction], kPowersOfTen[i.fraction]);
  const __m128i signs =
      _mm_set_epi64x(static_cast<long long>(q.sign), static_cast<long long>(i.sign));
  _mm_storeu_pd(&pair.i, _mm_or_pd(_mm_div_pd(mantissas, powers), _mm_castsi128_pd(signs)));
#else
  pair = {plainValue(i), plainValue(q)};
#endif
}

#if defined(__SSE2__)
// Text from a line's start that the line-feed search and the fields' 8-byte loads
// can reach (32 bytes searched; fields end before the line feed): with this much
// left, no load needs a check against the text's end.
constexpr std::ptrdiff_t kReach = 64;

// Plain lines while kReach bytes of text are left. The line feed of each line is
// found first, among its first 32 bytes, so that the next line's start does not
// wait for the parsing of this one's fields (a chain of dependent loads): the lines'
// fields are parsed side by side. A line is taken when its fields end right before
// its CR LF or LF. A line without a line feed in its first 32 bytes ends the search
// (of the plain lines, those of 33 to 35 bytes: the loop after this one takes them).
[[gnu::always_inline]] inline const char* plainLinesByLineFeed(const char* p, const char* const end,
                                                               IqPair* out, std::size_t room,
                                                               std::size_t& n) {
  const __m128i lineFeed = _mm_set1_epi8('\n');
  for (; n < room && end - p >= kReach; ++n) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    const auto feeds =
        static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(low, lineFeed))) |
        static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(high, lineFeed))) << 16;
    if (feeds == 0) break;
    const char* const lineEnd = p + std::countr_zero(feeds);
    PlainDigits i;
    PlainDigits q;
    const char* iEnd = plainDigits(p, lineEnd, i);
    if (iEnd == nullptr || *iEnd != ',') break;
    // Q's digits may end at the line feed itself.
    const char* qEnd = plainDigits(iEnd + 1, lineEnd + 1, q);
    if (qEnd == nullptr) break;
    qEnd += *qEnd == '\r';
    if (qEnd != lineEnd) break;
    storePlainPair(out[n], i, q);
    p = lineEnd + 1;
  }
  return p;
}
#endif

// Up to `room` plain lines from p on into `out`; returns the start of the first line
// not read, and the count of lines read in `read`.
[[gnu::always_inline]] inline const char* plainLines(const char* p, const char* const end,
                                                     IqPair* out, std::size_t room,
                                                     std::size_t& read) {
  std::size_t n = 0;
#if defined(__SSE2__)
  p = plainLinesByLineFeed(p, end, out, room, n);
#endif
  for (; n < room && p < end; ++n) {
    PlainDigits i;
    PlainDigits q;
    const char* iEnd = plainDigits(p, end, i);
    if (iEnd == nullptr || *iEnd != ',' || end - iEnd < 2) break;
    const char* qEnd = plainDigits(iEnd + 1, end, q);
    if (qEnd == nullptr) break;
    qEnd += *qEnd == '\r';  // before `end`: plainDigits saw a character after the digits
    if (qEnd == end || *qEnd != '\n') break;
    storePlainPair(out[n], i, q);
    p = qEnd + 1;
  }
  read = n;
  return p;
}

}  // namespace

const char* PieceParser::readPlainRun(Piece& piece, const char* b, RunBuffer& run) const {
  const char* p = b;
  for (;;) {
    std::size_t read = 0;
    p = plainLines(p, piece.end, run.data(), run.size(), read);
    if (read == 0) return p;
    piece.pairs.insert(piece.pairs.end(), run.begin(), run.begin() + read);
    piece.countI += read;
    piece.countQ += read;
    piece.lines += read;
    piece.hasData = true;
    notePeak(piece);
    if (read < run.size()) return p;
  }
}

void PieceParser::notePeak(Piece& piece) const {
  const std::uint64_t complete =
      dual_ ? std::min(piece.countI, piece.countQ) : std::uint64_t{piece.pairs.size()};
  if (complete <= piece.peakPairs) return;
  const std::span<const IqPair> pairs =
      std::span<const IqPair>(piece.pairs).subspan(piece.peakPairs, complete - piece.peakPairs);
  piece.peak = std::max(piece.peak, peakModulus(pairs));
  piece.peakPairs = complete;
}

const char* PieceParser::readPlainPair(Piece& piece, const char* b) const {
  // Numbers end before ',', CR or LF, which none of them holds: read up to the
  // piece's end they end where they end read up to the line's end. The piece's
  // text has the scanner's slack after it.
  const char* const end = piece.end;
  if (!startsPlainNumber(*b)) return nullptr;
  double i = 0;
  const char* iEnd = plainDecimal(b, end, i);
  if (iEnd == nullptr) {
    const NumberScan first = scanNumberIn<true>(b, end, i, '.', ',');
    if (first.value != FieldValue::number) return nullptr;
    iEnd = first.end;
  }
  if (end - iEnd < 2 || *iEnd != ',' || !startsPlainNumber(iEnd[1])) return nullptr;
  double q = 0;
  const char* lineEnd = plainDecimal(iEnd + 1, end, q);
  if (lineEnd == nullptr) {
    const NumberScan second = scanNumberIn<true>(iEnd + 1, end, q, '.', ',');
    if (second.value != FieldValue::number) return nullptr;
    lineEnd = second.end;
  }
  if (lineEnd < end && *lineEnd == '\r') ++lineEnd;
  if (lineEnd == end || *lineEnd != '\n') return nullptr;
  ++piece.lines;
  storePair(piece, i, q);
  piece.hasData = true;
  return lineEnd + 1;
}

void PieceParser::storePair(Piece& piece, double i, double q) {
  // I value k and Q value k form pair k even when they come from different lines,
  // as two separate passes over the file would pair them.
  if (piece.countI == piece.pairs.size()) piece.pairs.emplace_back();
  piece.pairs[piece.countI++].i = i;
  if (piece.countQ == piece.pairs.size()) piece.pairs.emplace_back();
  piece.pairs[piece.countQ++].q = q;
}

bool PieceParser::parseLine(Piece& piece, const char* b, const char* e) const {
  Field low;
  Field high;
  LineForm form;
  if (complexForm_ && readComplex(b, e, low, high)) {
    ++piece.complexLines;
  } else {
    readFields(b, e, low, high, form);
  }
  const bool extra = form.extra;
  if (form.decimalComma) piece.decimalComma.add(piece.lines, b, e);
  if (form.quoted) ++piece.quotedLines;
  if (form.hex) piece.hex.add(piece.lines, b, e);
  const bool iIsLow = !dual_ || fieldI_ < fieldQ_;
  if (!dual_) {
    if (low.value == FieldValue::overflow) {
      piece.failNowLine = piece.lines;
      return false;
    }
    if (low.value == FieldValue::number) {
      piece.pairs.push_back(fieldI_ > 0 ? IqPair{low.number, 0.0} : IqPair{0.0, low.number});
      ++piece.countI;
      noteData(piece, extra, b, e);
    } else if (!isBlankLine(b, e)) {
      (piece.hasData ? piece.afterData : piece.beforeData)
          .add(piece.lines, NoteKind::noNumber, b, e);
    }
    return true;
  }
  const Field& i = iIsLow ? low : high;
  const Field& q = iIsLow ? high : low;
  if (i.value == FieldValue::overflow) {
    piece.failNowLine = piece.lines;
    return false;
  }
  if (q.value == FieldValue::overflow && piece.failLaterLine == 0)
    piece.failLaterLine = piece.lines;
  const bool gotI = i.value == FieldValue::number;
  const bool gotQ = q.value == FieldValue::number;
  // I value k and Q value k form pair k even when they come from different lines,
  // as two separate passes over the file would pair them.
  if (gotI) {
    if (piece.countI == piece.pairs.size()) piece.pairs.emplace_back();
    piece.pairs[piece.countI++].i = i.number;
  }
  if (gotQ) {
    if (piece.countQ == piece.pairs.size()) piece.pairs.emplace_back();
    piece.pairs[piece.countQ++].q = q.number;
  }
  if (gotI && gotQ) {
    noteData(piece, extra, b, e);
  } else if (gotI || gotQ) {
    piece.hasData = true;
    if (q.value != FieldValue::overflow)
      piece.afterData.add(piece.lines, gotI ? NoteKind::qNotNumber : NoteKind::iNotNumber, b, e);
  } else if (q.value != FieldValue::overflow && !isBlankLine(b, e)) {
    (piece.hasData ? piece.afterData : piece.beforeData).add(piece.lines, NoteKind::noNumber, b, e);
  }
  return true;
}

void PieceParser::noteData(Piece& piece, bool extra, const char* b, const char* e) const {
  piece.hasData = true;
  if (extra && piece.extraLine == 0) {
    piece.extraLine = piece.lines;
    piece.extraText.assign(b, e);
  }
}

bool PieceParser::readComplex(const char* b, const char* e, Field& re, Field& im) const {
  const char* p = b;
  while (p < e && isBlank(*p)) ++p;
  if (p == e || *p != '(') return false;
  const NumberScan real = scanNumberIn<true>(p + 1, e, re.number, '.', ' ');
  if (real.value != FieldValue::number || real.end == e || (*real.end != '+' && *real.end != '-'))
    return false;
  const NumberScan imag = scanNumberIn<true>(real.end, e, im.number, '.', ' ');
  if (imag.value != FieldValue::number || e - imag.end < 2 ||
      (imag.end[0] != 'j' && imag.end[0] != 'J') || imag.end[1] != ')' ||
      !isBlankLine(imag.end + 2, e))
    return false;
  re.value = FieldValue::number;
  im.value = FieldValue::number;
  return true;
}

NumberScan PieceParser::readField(const char* field, const char* e, double& value, char noSkip,
                                  LineForm& form) const {
  const char* p = field;
  while (p < e && isBlank(*p) && *p != noSkip) ++p;
  if (p < e && *p == '"') {
    NumberScan scan = scanNumberIn<true>(p + 1, e, value, split_.decimalPoint, noSkip);
    if (scan.value != FieldValue::number) return scan;
    if (scan.end == e || *scan.end != '"') return {};
    form.quoted = true;
    ++scan.end;
    return scan;
  }
  const NumberScan scan = scanNumberIn<true>(field, e, value, split_.decimalPoint, noSkip);
  if (scan.value == FieldValue::notNumber) {
    if (*p == '+' || *p == '-') ++p;
    form.hex = form.hex || (e - p > 1 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X'));
  }
  // "0,5" read with a decimal point is 0 followed by ",5": a decimal comma.
  if (scan.value == FieldValue::number && split_.decimalPoint == '.' && split_.delimiter != ',' &&
      e - scan.end > 1 && scan.end[0] == ',' && isDigit(scan.end[1]))
    form.decimalComma = true;
  return scan;
}

void PieceParser::readFields(const char* b, const char* e, Field& low, Field& high,
                             LineForm& form) const {
  const char* field = b;
  if (split_.blanks) {
    while (field < e && isBlank(*field)) ++field;
    if (field == e) return;
  }
  int number = 1;
  const char* scanFrom = field;
  const char noSkip = split_.blanks ? ' ' : split_.delimiter;
  for (int pass = 0; pass < 2; ++pass) {
    const int wanted = pass == 0 ? first_ : second_;
    if (wanted == 0) break;
    while (number < wanted) {
      const char* d = split_.delimiterFrom(scanFrom, e);
      field = d ? split_.fieldAfter(d, e) : nullptr;
      if (field == nullptr) return;  // the line has too few fields
      scanFrom = field;
      ++number;
    }
    Field& out = pass == 0 ? low : high;
    const NumberScan scan = readField(field, e, out.number, noSkip, form);
    out.value = scan.value;
    if (scan.value == FieldValue::number) scanFrom = scan.end;
  }
  if (checkExtra_ && low.value == FieldValue::number &&
      (second_ == 0 || high.value == FieldValue::number)) {
    const char* d = split_.delimiterFrom(scanFrom, e);
    form.extra = d != nullptr && split_.holdsContent(d, e);
  }
}

}  // namespace csv

std::size_t countFields(std::string_view line, const CsvDialect& dialect) {
  const bool blanks = dialect.delimiter == ' ';
  std::size_t fields = 0;
  std::size_t lastContent = 0;
  std::size_t k = 0;
  while (k <= line.size()) {
    if (blanks) {
      while (k < line.size() && csv::isBlank(line[k])) ++k;
      if (k == line.size()) break;
    }
    std::size_t end = k;
    while (end < line.size() &&
           (blanks ? !csv::isBlank(line[end]) : line[end] != dialect.delimiter))
      ++end;
    ++fields;
    for (std::size_t j = k; j < end; ++j) {
      if (!csv::isStreamSpace(line[j])) {
        lastContent = fields;
        break;
      }
    }
    k = end + 1;
  }
  return lastContent;
}

}  // namespace arbsuite::wavepack
