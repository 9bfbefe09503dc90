// The CSV reader (see csv_reader.h). Numbers are read with std::from_chars but
// accepted exactly as stream extraction of a double accepts them, so that a file
// reads the same as with a stream reader at a fraction of its cost.
#include "csv_reader.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "huge_pages.h"
#include "input_stream.h"
#include "parallel.h"

namespace wavepack {

namespace {

bool isStreamSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

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

// A decimal-comma number copied for from_chars, character for character: the first
// ',' becomes '.', and a '.' or a second ',' becomes a character no number holds.
std::string commaToken(const char* first, const char* last) {
  std::string token;
  bool pointSeen = false;
  for (const char* c = first; c < last; ++c) {
    const char ch = *c;
    if (isDigit(ch) || ch == 'e' || ch == 'E' || ch == '+' || ch == '-') {
      token += ch;
    } else if (ch == ',' && !pointSeen) {
      pointSeen = true;
      token += '.';
    } else if (ch == ',' || ch == '.') {
      token += 'x';
    } else {
      break;
    }
  }
  return token;
}

// Slow path of scanNumber: from_chars on the text from `numberBegin` (its sign
// included); `last` bounds the field's line.
NumberScan scanWithFromChars(const char* numberBegin, const char* last, double& value,
                             char decimalPoint) {
  std::string commaCopy;
  const char* tokenBegin = numberBegin;
  const char* tokenEnd = last;
  if (decimalPoint != '.') {
    commaCopy = commaToken(numberBegin, last);
    tokenBegin = commaCopy.data();
    tokenEnd = tokenBegin + commaCopy.size();
  }
  double v = 0.0;
  const auto [end, ec] = std::from_chars(tokenBegin, tokenEnd, v, std::chars_format::general);
  if (ec == std::errc::invalid_argument) return {};
  // Stream extraction takes an 'e' after a mantissa as the start of an exponent and
  // fails when no digits follow; from_chars would stop before it and succeed.
  if (end < tokenEnd && (*end == 'e' || *end == 'E') &&
      std::find_if(tokenBegin, end, [](char c) { return c == 'e' || c == 'E'; }) == end)
    return {};
  const char* const sourceEnd = numberBegin + (end - tokenBegin);
  if (decimalPoint != '.' && sourceEnd < last && *sourceEnd == '.') return {};
  if (ec == std::errc::result_out_of_range) {
    v = strtodToken(tokenBegin, end);
    if (std::isinf(v)) return {FieldValue::overflow, sourceEnd};
    // Underflow: stream extraction keeps strtod's nearest value.
  }
  value = v;
  return {FieldValue::number, sourceEnd};
}

// Bytes kept readable, and zero, after the text the pieces parse: the number scanner
// of the pieces loads 8 bytes at a time from any position before the end of a line.
constexpr std::size_t kReadSlack = 16;

std::uint64_t load8(const char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// Number of leading decimal digits among the 8 bytes of a little-endian word (the
// first character in its lowest byte). A byte is a digit when its high nibble is 3
// and adding 6 keeps it so; carries only run from a non-digit upwards, past the
// first non-digit, so they never change the count.
unsigned digitRun(std::uint64_t word) {
  constexpr std::uint64_t kHighNibbles = 0xF0F0F0F0F0F0F0F0ull;
  constexpr std::uint64_t kThrees = 0x3030303030303030ull;
  const std::uint64_t high = (word & kHighNibbles) ^ kThrees;
  const std::uint64_t low = ((word + 0x0606060606060606ull) & kHighNibbles) ^ kThrees;
  const std::uint64_t nonDigits = high | low;
  return nonDigits == 0 ? 8 : static_cast<unsigned>(std::countr_zero(nonDigits)) / 8;
}

// The value of the first n (1 to 8) digit characters of a little-endian word: the
// digits are moved to the top bytes (the rest become leading zeros), then combined
// pairwise, by fours and by eights with three multiplications.
std::uint64_t digitsValue(std::uint64_t word, unsigned n) {
  std::uint64_t v = (word - 0x3030303030303030ull) << (8 * (8 - n));
  v = v * 10 + (v >> 8);
  v = ((v & 0x000000FF000000FFull) * (100 + (1000000ull << 32)) +
       ((v >> 16) & 0x000000FF000000FFull) * (1 + (10000ull << 32))) >>
      32;
  return v;
}

// The digits of a decimal at p with fewer than 8 digits before and after the point,
// read 8 bytes at a time; false, leaving nothing set, for anything longer. Needs 8
// readable bytes after every position before `last` (the pieces' slack).
bool shortDecimal(const char* p, const char* last, char decimalPoint, std::uint64_t& mantissa,
                  int& digits, int& fraction, const char*& end) {
  const std::uint64_t whole = load8(p);
  const unsigned wholeDigits = std::min<unsigned>(digitRun(whole), static_cast<unsigned>(last - p));
  if (wholeDigits == 8) return false;
  std::uint64_t value = wholeDigits > 0 ? digitsValue(whole, wholeDigits) : 0;
  const char* q = p + wholeDigits;
  unsigned fractionDigits = 0;
  if (q < last && *q == decimalPoint) {
    ++q;
    const std::uint64_t part = load8(q);
    fractionDigits = std::min<unsigned>(digitRun(part), static_cast<unsigned>(last - q));
    if (fractionDigits == 8) return false;
    if (fractionDigits > 0)
      value = value * static_cast<std::uint64_t>(kPowersOfTen[fractionDigits]) +
              digitsValue(part, fractionDigits);
    q += fractionDigits;
  }
  mantissa = value;
  digits = static_cast<int>(wholeDigits + fractionDigits);
  fraction = static_cast<int>(fractionDigits);
  end = q;
  return true;
}

// Chunks at least this large are read ahead on a thread of their own.
constexpr std::size_t kReadAheadBytes = std::size_t{1} << 20;

// Text read from the input, with kReadSlack zero bytes after what it holds; left
// uninitialised otherwise, so that pages the reads never reach are never touched.
class TextBuffer {
 public:
  char* data() const { return data_.get(); }
  char* end() const { return data_.get() + held_; }
  std::size_t held() const { return held_; }
  void clear() { held_ = 0; }
  // Makes room for `more` bytes after those held.
  void reserve(std::size_t more) {
    if (capacity_ >= held_ + more) return;
    const std::size_t grown = std::max(held_ + more, 2 * capacity_);
    std::unique_ptr<char[]> larger(new char[grown + kReadSlack]);
    if (held_ > 0) std::memcpy(larger.get(), data_.get(), held_);
    data_ = std::move(larger);
    capacity_ = grown;
  }
  // Counts `n` more bytes as held (written at end()).
  void grow(std::size_t n) {
    held_ += n;
    std::memset(data_.get() + held_, 0, kReadSlack);
  }

 private:
  std::unique_ptr<char[]> data_;
  std::size_t capacity_ = 0;
  std::size_t held_ = 0;
};

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

// Reserves room for `count` pairs, on huge pages where the system offers them.
void reservePairs(std::vector<IqPair>& pairs, std::size_t count) {
  pairs.reserve(count);
  arb::adviseHugePages(pairs.data(), count * sizeof(IqPair));
}

template <bool Padded>
NumberScan scanNumberIn(const char* first, const char* last, double& value, char decimalPoint,
                        char delimiter) {
  const char* p = first;
  while (p < last && isStreamSpace(*p) && *p != delimiter) ++p;
  const char* numberBegin = p;
  bool negative = false;
  if (p < last && *p == '+') {
    ++p;
    numberBegin = p;  // from_chars takes no '+'; a second sign after it is refused below
  } else if (p < last && *p == '-') {
    ++p;
    negative = true;
  }
  // Only digits or a point may start the mantissa: this refuses "inf", "nan" and
  // doubled signs, which from_chars or strtod would otherwise take.
  if (p == last || !(isDigit(*p) || *p == decimalPoint)) return {};
  // Nor is a hexadecimal number one (a stream would read the "0" before its 'x').
  if (*p == '0' && last - p > 1 && (p[1] == 'x' || p[1] == 'X')) return {};

  // Fast path for the common plain decimal of at most 15 significant digits and no
  // exponent: mantissa and power of ten are exact doubles, so one IEEE division
  // gives the correctly rounded value, the same that from_chars and strtod give.
  const char* q = p;
  std::uint64_t mantissa = 0;
  int digits = 0;
  int fraction = 0;
  bool read = false;
  if constexpr (Padded && std::endian::native == std::endian::little)
    read = shortDecimal(p, last, decimalPoint, mantissa, digits, fraction, q);
  if (!read) {
    for (; q < last && isDigit(*q) && digits <= kFastDigits; ++q, ++digits)
      mantissa = mantissa * 10 + static_cast<unsigned>(*q - '0');
    if (q < last && *q == decimalPoint) {
      for (++q; q < last && isDigit(*q) && digits <= kFastDigits; ++q, ++digits, ++fraction)
        mantissa = mantissa * 10 + static_cast<unsigned>(*q - '0');
    }
  }
  const bool moreDigits = q < last && (isDigit(*q) || *q == decimalPoint);
  const bool exponent = q < last && (*q == 'e' || *q == 'E');
  if (digits > 0 && digits <= kFastDigits && !moreDigits && !exponent) {
    if (decimalPoint != '.' && q < last && *q == '.') return {};
    const double magnitude = static_cast<double>(mantissa) / kPowersOfTen[fraction];
    value = negative ? -magnitude : magnitude;
    return {FieldValue::number, q};
  }
  return scanWithFromChars(numberBegin, last, value, decimalPoint);
}

// How the fields of a line are told apart.
struct Splitter {
  char delimiter;  // ' ' for runs of blanks
  char decimalPoint;
  bool blanks;

  // The delimiter at or after p that ends the current field, or null.
  const char* delimiterFrom(const char* p, const char* e) const {
    if (blanks) {
      while (p < e && !isBlank(*p)) ++p;
    } else {
      while (p < e && *p != delimiter) ++p;
    }
    return p < e ? p : nullptr;
  }
  // The start of the field after the delimiter at d, or null when none follows.
  const char* fieldAfter(const char* d, const char* e) const {
    if (!blanks) return d + 1;
    while (d < e && isBlank(*d)) ++d;
    return d < e ? d : nullptr;
  }
  // Whether [p, e) holds anything but white space and delimiters.
  bool holdsContent(const char* p, const char* e) const {
    for (; p < e; ++p)
      if (!isStreamSpace(*p) && *p != delimiter) return true;
    return false;
  }
};

bool isBlankLine(const char* b, const char* e) {
  for (; b < e; ++b)
    if (!isStreamSpace(*b)) return false;
  return true;
}

enum class NoteKind {
  noNumber,    // no field that is read holds a number: the line is skipped
  iNotNumber,  // the I field is not a number, the Q field is
  qNotNumber,  // the Q field is not a number, the I field is
};

struct LineNote {
  std::uint64_t line;  // piece-local until merged
  NoteKind kind;
  std::string text;
};

constexpr std::size_t kNoteTextBytes = 80;

// The first kReportedLines notes, how many there were, and the first line that
// lacks I and the first that lacks Q (kept past the reported ones: a failure names
// them however many lines were noted before).
struct NoteList {
  std::vector<LineNote> first;
  std::uint64_t count = 0;
  std::optional<LineNote> firstLacking[2];  // [0]: I, [1]: Q
  void add(std::uint64_t line, NoteKind kind, const char* b, const char* e) {
    const bool lacking = kind != NoteKind::noNumber;
    std::optional<LineNote>& lack = firstLacking[kind == NoteKind::qNotNumber];
    if (first.size() < kReportedLines || (lacking && !lack)) {
      LineNote note{line, kind, std::string(b, std::min<std::size_t>(e - b, kNoteTextBytes + 1))};
      if (lacking && !lack) lack = note;
      if (first.size() < kReportedLines) first.push_back(std::move(note));
    }
    ++count;
  }
};

// The first line of a kind and how many there were.
struct LineMark {
  std::uint64_t line = 0;  // 0: none
  std::string text;
  std::uint64_t count = 0;
  void add(std::uint64_t at, const char* b, const char* e) {
    if (count++ == 0) {
      line = at;
      text.assign(b, std::min<std::size_t>(e - b, kNoteTextBytes + 1));
    }
  }
};

// One piece of text and what parsing it found; lines are numbered from 1 in it.
struct Piece {
  const char* begin = nullptr;
  const char* end = nullptr;
  std::vector<IqPair> pairs;  // (I value k, Q value k) of the piece
  std::uint64_t countI = 0;   // I values, or the values of the one field a file gives
  std::uint64_t countQ = 0;
  std::uint64_t lines = 0;
  bool hasData = false;
  NoteList beforeData;  // no-number lines before the piece's first data line
  NoteList afterData;
  std::uint64_t failNowLine = 0;    // a value beyond a double that fails at once
  std::uint64_t failLaterLine = 0;  // a Q value beyond a double (two fields)
  std::uint64_t extraLine = 0;      // first data line with more fields than are read
  std::string extraText;
  LineMark decimalComma;           // numbers followed by ",digits" (no decimal comma set)
  LineMark hex;                    // lines with a hexadecimal number
  std::uint64_t complexLines = 0;  // lines of numpy's complex form (a+bj)
  std::uint64_t quotedLines = 0;   // lines with a quoted number
};

class PieceParser {
 public:
  explicit PieceParser(const CsvOptions& options)
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
  }

  void parse(Piece& piece) const {
    reservePairs(piece.pairs, countLines(piece.begin, piece.end));
    const char* p = piece.begin;
    while (p < piece.end) {
      const void* nl = std::memchr(p, '\n', static_cast<std::size_t>(piece.end - p));
      const char* lineEnd = nl ? static_cast<const char*>(nl) : piece.end;
      const char* next = lineEnd + 1;
      if (lineEnd > p && lineEnd[-1] == '\r') --lineEnd;
      ++piece.lines;
      if (!parseLine(piece, p, lineEnd)) return;  // a failure that ends the reading
      p = next;
    }
  }

 private:
  struct Field {
    FieldValue value = FieldValue::notNumber;
    double number = 0.0;
  };

  // How a line's fields were read, beyond their values.
  struct LineForm {
    bool extra = false;         // more non-blank fields follow those read
    bool decimalComma = false;  // a number is followed by ",digits"
    bool quoted = false;        // a number was read from between double quotes
    bool hex = false;           // a field holds a hexadecimal number (not read)
  };

  // Reads the fields of one line; false after a value that fails at once.
  bool parseLine(Piece& piece, const char* b, const char* e) const {
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
      (piece.hasData ? piece.afterData : piece.beforeData)
          .add(piece.lines, NoteKind::noNumber, b, e);
    }
    return true;
  }

  void noteData(Piece& piece, bool extra, const char* b, const char* e) const {
    piece.hasData = true;
    if (extra && piece.extraLine == 0) {
      piece.extraLine = piece.lines;
      piece.extraText.assign(b, e);
    }
  }

  // numpy's text form of a complex value, "(a+bj)", alone on its line (savetxt of a
  // complex vector): I is a and Q is b.
  bool readComplex(const char* b, const char* e, Field& re, Field& im) const {
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

  // One field at `field`: a number, or a number between double quotes.
  NumberScan readField(const char* field, const char* e, double& value, char noSkip,
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

  // The fields first_ and second_ (when set) of the line [b, e), in that order; extra
  // is set when every field read is a number and more non-blank fields follow.
  void readFields(const char* b, const char* e, Field& low, Field& high, LineForm& form) const {
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

  Splitter split_;
  int fieldI_;
  int fieldQ_;
  bool dual_;
  bool checkExtra_;
  bool complexForm_;
  int first_ = 0;
  int second_ = 0;
};

// Splits [begin, end) (whole lines) into at most `count` pieces of at least
// `minBytes`, each ending after a line feed (the last one at `end`).
std::vector<Piece> splitPieces(const char* begin, const char* end, unsigned count,
                               std::size_t minBytes) {
  const auto total = static_cast<std::size_t>(end - begin);
  const std::size_t pieces = std::max<std::size_t>(
      1, std::min<std::size_t>(count, total / std::max<std::size_t>(1, minBytes)));
  std::vector<Piece> result;
  const char* start = begin;
  for (std::size_t k = 1; k <= pieces && start < end; ++k) {
    const char* cut = end;
    if (k < pieces) {
      const char* target = begin + total / pieces * k;
      if (target < start) target = start;
      const void* nl = std::memchr(target, '\n', static_cast<std::size_t>(end - target));
      cut = nl ? static_cast<const char*>(nl) + 1 : end;
    }
    Piece piece;
    piece.begin = start;
    piece.end = cut;
    result.push_back(std::move(piece));
    start = cut;
  }
  return result;
}

void parseInParallel(std::vector<Piece>& pieces, const PieceParser& parser) {
  runParts(static_cast<unsigned>(pieces.size()),
           [&](unsigned part) { parser.parse(pieces[part]); });
}

// Printable text of a line for a message: control bytes escaped, long lines cut.
std::string quoteLine(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  const std::size_t n = std::min(text.size(), kNoteTextBytes);
  for (std::size_t k = 0; k < n; ++k) {
    const auto c = static_cast<unsigned char>(text[k]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7f) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  out += text.size() > kNoteTextBytes ? "\"..." : "\"";
  return out;
}

// Everything the pieces found, merged in file order.
class Merger {
 public:
  Merger(const std::string& name, const CsvOptions& options) : name_(name), options_(options) {}

  // Adds the pieces of one chunk; throws at once for a value that fails at once.
  void add(std::vector<Piece>& pieces) {
    for (Piece& piece : pieces) {
      if (piece.failNowLine != 0) throwOutOfRange(lineOffset_ + piece.failNowLine);
      if (failLaterLine_ == 0 && piece.failLaterLine != 0)
        failLaterLine_ = lineOffset_ + piece.failLaterLine;
      if (extraLine_ == 0 && piece.extraLine != 0) {
        extraLine_ = lineOffset_ + piece.extraLine;
        extraText_ = std::move(piece.extraText);
      }
      merge(decimalComma_, piece.decimalComma);
      merge(hex_, piece.hex);
      complexLines_ += piece.complexLines;
      quotedLines_ += piece.quotedLines;
      if (seenData_) addNotes(piece.beforeData);  // header lines only before any data
      addNotes(piece.afterData);
      seenData_ = seenData_ || piece.hasData;
      lineOffset_ += piece.lines;
      countI_ += piece.countI;
      countQ_ += piece.countQ;
      balanced_ = balanced_ && (!dual() || piece.countI == piece.countQ);
      pieceCounts_.push_back({piece.countI, piece.countQ});
      storage_.push_back(std::move(piece.pairs));
    }
    if (std::max(countI_, countQ_) > kMaxPairs)
      throw std::length_error("Too many IQ pairs in " + name_ + ": an .arb file holds at most " +
                              std::to_string(kMaxPairs));
  }

  std::uint64_t lines() const { return lineOffset_; }

  MemoryPairs finish(Diagnostics& diagnostics) {
    reportLines(diagnostics);
    const std::string noData = "No data found in " + name_;
    if (!dual()) {
      if (countI_ == 0) throw std::out_of_range(noData);
      return MemoryPairs(std::move(storage_));
    }
    if (countI_ == 0) throw std::out_of_range(noData + " first row" + cause(NoteKind::iNotNumber));
    if (failLaterLine_ != 0) throwOutOfRange(failLaterLine_);
    if (countQ_ == 0) throw std::out_of_range(noData + " second row" + cause(NoteKind::qNotNumber));
    if (countI_ != countQ_)
      throw std::length_error(
          "Two rows of data length is not equal in " + name_ +
          cause(countI_ > countQ_ ? NoteKind::qNotNumber : NoteKind::iNotNumber));
    if (balanced_) return MemoryPairs(std::move(storage_));
    return MemoryPairs(realign());
  }

 private:
  bool dual() const { return options_.fieldI > 0 && options_.fieldQ > 0; }

  [[noreturn]] void throwOutOfRange(std::uint64_t line) const {
    throw std::range_error("Number out of range in " + name_ + " at line " + std::to_string(line));
  }

  void addNotes(const NoteList& notes) {
    for (const LineNote& note : notes.first)
      if (notes_.size() < kReportedLines)
        notes_.push_back({lineOffset_ + note.line, note.kind, note.text});
    for (int k = 0; k < 2; ++k) {
      const std::optional<LineNote>& lack = notes.firstLacking[k];
      if (lack && !firstUnpaired_[k])
        firstUnpaired_[k] = LineNote{lineOffset_ + lack->line, lack->kind, lack->text};
    }
    noteCount_ += notes.count;
  }

  void merge(LineMark& into, LineMark& from) const {
    if (from.count == 0) return;
    if (into.count == 0) {
      into.line = lineOffset_ + from.line;
      into.text = std::move(from.text);
    }
    into.count += from.count;
  }

  // The second line of a failure kept in its historical words: the first line that
  // lacks the component (`kind`), and why.
  std::string cause(NoteKind kind) const {
    const std::optional<LineNote>& note = firstUnpaired_[kind == NoteKind::qNotNumber];
    if (note) return "\n" + describe(*note) + hint(note->text);
    if (!notes_.empty()) return "\n" + describe(notes_.front()) + hint(notes_.front().text);
    return "";
  }

  // The field a component is read from, and the count of fields of a line.
  std::string lacking(const LineNote& note, const char* component, int field) const {
    // Fields as the delimiters make them (an empty field after "5," counts).
    const std::size_t fields =
        options_.dialect.delimiter == ' '
            ? countFields(note.text, options_.dialect)
            : 1 + static_cast<std::size_t>(
                      std::count(note.text.begin(), note.text.end(), options_.dialect.delimiter));
    const std::string where = name_ + " line " + std::to_string(note.line) + " ";
    if (fields < static_cast<std::size_t>(field))
      return where + "has " + std::to_string(fields) + (fields == 1 ? " field" : " fields") + ": " +
             component + " is read from field " + std::to_string(field) + ": " +
             quoteLine(note.text);
    return where.substr(0, where.size() - 1) + ": field " + std::to_string(field) + " (" +
           component + ") is not a number: " + quoteLine(note.text);
  }

  std::string describe(const LineNote& note) const {
    const std::string where = name_ + " line " + std::to_string(note.line) + ": ";
    const std::string text = ": " + quoteLine(note.text);
    switch (note.kind) {
      case NoteKind::iNotNumber:
        return lacking(note, "I", options_.fieldI);
      case NoteKind::qNotNumber:
        return lacking(note, "Q", options_.fieldQ);
      case NoteKind::noNumber:
        break;
    }
    if (dual())
      return where + "fields " + std::to_string(options_.fieldI) + " and " +
             std::to_string(options_.fieldQ) + " are not numbers, line skipped" + text;
    const int field = options_.fieldI > 0 ? options_.fieldI : options_.fieldQ;
    return where + "field " + std::to_string(field) + " is not a number, line skipped" + text;
  }

  void reportLines(Diagnostics& diagnostics) const {
    if (extraLine_ != 0) {
      const std::size_t fields = countFields(extraText_, options_.dialect);
      std::string message = name_ + " line " + std::to_string(extraLine_) + " has " +
                            std::to_string(fields) + " fields: ";
      if (dual())
        message += "I is read from field " + std::to_string(options_.fieldI) +
                   " and Q from field " + std::to_string(options_.fieldQ);
      else
        message += "field " +
                   std::to_string(options_.fieldI > 0 ? options_.fieldI : options_.fieldQ) +
                   " is read";
      // A spreadsheet's export where the comma is the decimal sign ("1,5;-0,25")
      // splits at every decimal comma: say what reads it.
      if (options_.dialect.delimiter == ',' && !options_.dialect.decimalComma &&
          startsWithTwoNumbers(extraText_, ';', ','))
        message +=
            ": its values look separated by semicolons with decimal commas; "
            "--delimiter ';' --decimal-comma reads them";
      diagnostics.warn(message +
                       " (--columns chooses others; --delimiter and --decimal-comma "
                       "read other dialects)");
    }
    if (complexLines_ != 0)
      diagnostics.note(name_ + ": " + std::to_string(complexLines_) +
                       (complexLines_ == 1 ? " line" : " lines") +
                       " in numpy's complex form (a+bj), read as I = a and Q = b");
    if (quotedLines_ != 0)
      diagnostics.note(name_ + ": " + std::to_string(quotedLines_) +
                       (quotedLines_ == 1 ? " line holds" : " lines hold") +
                       " numbers between double quotes, read as numbers");
    if (decimalComma_.count != 0) {
      std::string message = name_ + " line " + std::to_string(decimalComma_.line) +
                            ": a number followed by a comma and digits, a decimal comma, is "
                            "cut at the comma: " +
                            quoteLine(decimalComma_.text);
      if (decimalComma_.count > 1)
        message += " (" + std::to_string(decimalComma_.count) + " lines so)";
      diagnostics.warn(message + "; --decimal-comma reads decimal commas");
    }
    if (hex_.count != 0) {
      std::string message =
          name_ + " line " + std::to_string(hex_.line) +
          ": hexadecimal numbers are not read as numbers: " + quoteLine(hex_.text);
      if (hex_.count > 1) message += " (" + std::to_string(hex_.count) + " lines so)";
      diagnostics.warn(message);
    }
    for (const LineNote& note : notes_) diagnostics.warn(describe(note));
    if (noteCount_ > notes_.size())
      diagnostics.warn(name_ + ": " + std::to_string(noteCount_ - notes_.size()) +
                       " more lines with fields that are not numbers");
    if (!notes_.empty()) {
      const std::string text = hint(notes_.front().text);
      if (!text.empty()) diagnostics.warn(name_ + text.substr(1));
    }
  }

  // For a line that did not parse: "\n: its lines hold values separated by ...; --delimiter
  // X reads them" when it holds no delimiter but starts with two numbers that another
  // delimiter separates (tab, semicolon, blanks: the usual signs of a file of another
  // dialect read as CSV), else "".
  std::string hint(const std::string& text) const {
    if (text.find(options_.dialect.delimiter) != std::string::npos) return "";
    struct Other {
      char delimiter;
      const char* what;
      const char* option;
    };
    static constexpr Other kOthers[] = {
        {'\t', "tabs", "--delimiter tab"},
        {';', "semicolons", "--delimiter ';'"},
        {' ', "blanks", "--delimiter space reads them (numpy.savetxt's default form)"}};
    for (const Other& other : kOthers) {
      if (other.delimiter == options_.dialect.delimiter ||
          !startsWithTwoNumbers(text, other.delimiter))
        continue;
      const std::string option = other.delimiter == ' ' ? std::string(other.option)
                                                        : std::string(other.option) + " reads them";
      return "\n: its lines hold values separated by " + std::string(other.what) +
             ", not by the delimiter; " + option;
    }
    return "";
  }

  // Whether a line starts with two numbers separated by `delimiter` (' ': any blanks),
  // with the file's decimal sign or the one given.
  bool startsWithTwoNumbers(const std::string& text, char delimiter,
                            char decimalPoint = '\0') const {
    if (decimalPoint == '\0') decimalPoint = options_.dialect.decimalComma ? ',' : '.';
    const char* p = text.data();
    const char* const e = p + text.size();
    for (int field = 0; field < 2; ++field) {
      while (p < e && (*p == ' ' || (delimiter == ' ' && *p == '\t'))) ++p;
      double value = 0;
      const NumberScan scan = scanNumber(p, e, value, decimalPoint, delimiter);
      if (scan.value != FieldValue::number) return false;
      p = scan.end;
      if (field == 1) break;
      if (delimiter == ' ') {
        if (p == e || !isBlank(*p)) return false;
      } else {
        while (p < e && *p == ' ') ++p;
        if (p == e || *p != delimiter) return false;
        ++p;
      }
    }
    return true;
  }

  // Pairs of pieces whose I and Q counts differ: value k of each column goes to
  // pair k of the whole file, as a single pass pairs them.
  std::vector<IqPair> realign() {
    std::vector<IqPair> all(static_cast<std::size_t>(countI_));
    std::uint64_t atI = 0;
    std::uint64_t atQ = 0;
    for (std::size_t k = 0; k < storage_.size(); ++k) {
      const auto [countI, countQ] = pieceCounts_[k];
      for (std::uint64_t j = 0; j < countI; ++j) all[atI + j].i = storage_[k][j].i;
      for (std::uint64_t j = 0; j < countQ; ++j) all[atQ + j].q = storage_[k][j].q;
      atI += countI;
      atQ += countQ;
      std::vector<IqPair>().swap(storage_[k]);
    }
    return all;
  }

  const std::string& name_;
  const CsvOptions& options_;
  std::uint64_t lineOffset_ = 0;
  bool seenData_ = false;
  std::uint64_t countI_ = 0;
  std::uint64_t countQ_ = 0;
  bool balanced_ = true;
  std::uint64_t failLaterLine_ = 0;
  std::uint64_t extraLine_ = 0;
  std::string extraText_;
  std::vector<LineNote> notes_;
  std::uint64_t noteCount_ = 0;
  std::optional<LineNote> firstUnpaired_[2];  // the first lines lacking I, and Q
  LineMark decimalComma_;
  LineMark hex_;
  std::uint64_t complexLines_ = 0;
  std::uint64_t quotedLines_ = 0;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> pieceCounts_;
  std::vector<std::vector<IqPair>> storage_;
};

// The bytes of the text as the pieces parse them: the start of the file is read
// ahead (a fixed length, so that what is found there does not depend on the reads'
// sizes) and checked before anything is parsed. A UTF-8 byte-order mark is dropped;
// UTF-16 text and binary data are refused with what they look like; a text whose
// lines end with a lone CR (classic Mac OS) has each CR read as a line feed.
class TextStart {
 public:
  static constexpr std::size_t kLookAhead = 4096;

  TextStart(const ByteReader& reader, const std::string& name, Diagnostics& diagnostics)
      : reader_(reader) {
    start_.resize(kLookAhead);
    std::size_t held = 0;
    while (held < start_.size()) {
      const std::size_t n = reader_(start_.data() + held, start_.size() - held);
      if (n == 0) break;
      held += n;
    }
    start_.resize(held);
    check(name, diagnostics);
  }

  std::size_t read(char* buffer, std::size_t length) {
    std::size_t n = 0;
    if (at_ < start_.size()) {
      n = std::min(length, start_.size() - at_);
      std::memcpy(buffer, start_.data() + at_, n);
      at_ += n;
      // The rest of the first buffer from the file, as if nothing had been read ahead.
      if (n < length && start_.size() == kLookAhead) n += reader_(buffer + n, length - n);
    } else {
      n = reader_(buffer, length);
    }
    if (crLineEnds_) std::replace(buffer, buffer + n, '\r', '\n');
    return n;
  }

 private:
  void check(const std::string& name, Diagnostics& diagnostics) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(start_[k]); };
    if (start_.size() >= 2 &&
        ((byte(0) == 0xFF && byte(1) == 0xFE) || (byte(0) == 0xFE && byte(1) == 0xFF)))
      throw std::runtime_error(name + " is UTF-16 text (it starts with the byte-order mark of " +
                               (byte(0) == 0xFF ? "UTF-16LE" : "UTF-16BE") +
                               "); save it as UTF-8 or ASCII text, e.g. with "
                               "iconv -f UTF-16 -t UTF-8");
    if (start_.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) at_ = 3;
    const std::size_t nul = start_.find('\0');
    if (nul != std::string::npos) {
      // ASCII text in UTF-16 without a mark: every other byte is NUL.
      std::size_t evenNul = 0;
      std::size_t oddNul = 0;
      for (std::size_t k = 0; k < start_.size(); ++k) (k % 2 ? oddNul : evenNul) += byte(k) == 0;
      const std::size_t half = start_.size() / 2;
      if (half >= 2 && (oddNul >= half * 9 / 10 || evenNul >= half * 9 / 10) &&
          std::min(oddNul, evenNul) == 0)
        throw std::runtime_error(name +
                                 " looks like UTF-16 text (every other byte is NUL); save "
                                 "it as UTF-8 or ASCII text, e.g. with iconv -f UTF-16 "
                                 "-t UTF-8");
      throw std::runtime_error(
          name + " holds NUL bytes (the first at byte " + std::to_string(nul + 1) +
          "): it looks like binary data, not CSV text. Give its format with --format: cf32_le, "
          "cf64_le, ci32_le, ci16_le, ci8, cu8 (or _be for big-endian), sigmf, mat or wav");
    }
    const std::string_view text = std::string_view(start_).substr(at_);
    if (text.find('\n') == std::string_view::npos && text.find('\r') != std::string_view::npos) {
      crLineEnds_ = true;
      diagnostics.note(name +
                       " ends its lines with a lone CR (classic Mac OS text): each CR is "
                       "read as a line end");
    }
  }

  const ByteReader& reader_;
  std::string start_;
  std::size_t at_ = 0;
  bool crLineEnds_ = false;
};

}  // namespace

NumberScan scanNumber(const char* first, const char* last, double& value, char decimalPoint,
                      char delimiter) {
  return scanNumberIn<false>(first, last, value, decimalPoint, delimiter);
}

std::size_t countFields(std::string_view line, const CsvDialect& dialect) {
  const bool blanks = dialect.delimiter == ' ';
  std::size_t fields = 0;
  std::size_t lastContent = 0;
  std::size_t k = 0;
  while (k <= line.size()) {
    if (blanks) {
      while (k < line.size() && isBlank(line[k])) ++k;
      if (k == line.size()) break;
    }
    std::size_t end = k;
    while (end < line.size() && (blanks ? !isBlank(line[end]) : line[end] != dialect.delimiter))
      ++end;
    ++fields;
    for (std::size_t j = k; j < end; ++j) {
      if (!isStreamSpace(line[j])) {
        lastContent = fields;
        break;
      }
    }
    k = end + 1;
  }
  return lastContent;
}

MemoryPairs readCsv(const ByteReader& source, const std::string& name, const CsvOptions& options,
                    Diagnostics& diagnostics) {
  TextStart start(source, name, diagnostics);
  const ByteReader reader = [&](char* buffer, std::size_t length) {
    return start.read(buffer, length);
  };
  const PieceParser parser(options);
  Merger merger(name, options);
  const unsigned threads = threadCount(options.threads);
  const std::size_t chunk = std::max<std::size_t>(options.chunkBytes, 1);
  // Large chunks are read ahead, the next while the pieces of this one are parsed.
  const bool readAhead = chunk >= kReadAheadBytes;
  TextBuffer current;
  TextBuffer next;
  current.reserve(chunk);
  std::size_t n = reader(current.end(), chunk);
  current.grow(n);
  bool atEnd = n == 0;
  for (;;) {
    std::size_t cut = current.held();
    if (!atEnd) {
      const void* nl = ::memrchr(current.data(), '\n', current.held());
      if (nl == nullptr) {
        // One line longer than the chunk: read on, within bounds.
        if (current.held() > kMaxLineBytes)
          throw std::length_error(name + " line " + std::to_string(merger.lines() + 1) +
                                  " is longer than " + std::to_string(kMaxLineBytes >> 20) +
                                  " MiB");
        current.reserve(chunk);
        n = reader(current.end(), chunk);
        current.grow(n);
        atEnd = n == 0;
        continue;
      }
      cut = static_cast<std::size_t>(static_cast<const char*>(nl) - current.data()) + 1;
    }
    // The unfinished last line starts the next buffer.
    if (!atEnd) {
      const std::size_t carry = current.held() - cut;
      next.clear();
      next.reserve(carry + chunk);
      std::memcpy(next.end(), current.data() + cut, carry);
      next.grow(carry);
    }
    std::size_t nextRead = 0;
    std::exception_ptr readFailure;
    std::thread filler;
    auto fill = [&] {
      try {
        nextRead = reader(next.end(), chunk);
      } catch (...) {
        readFailure = std::current_exception();
      }
    };
    if (!atEnd && readAhead) filler = std::thread(fill);
    std::vector<Piece> pieces;
    try {
      pieces = splitPieces(current.data(), current.data() + cut, threads, options.pieceBytes);
      parseInParallel(pieces, parser);
    } catch (...) {
      if (filler.joinable()) filler.join();
      throw;
    }
    if (filler.joinable()) filler.join();
    // A failure of these lines comes before one of reading further, as in one pass.
    merger.add(pieces);
    if (atEnd) break;
    if (!readAhead) fill();
    if (readFailure) std::rethrow_exception(readFailure);
    next.grow(nextRead);
    atEnd = nextRead == 0;
    std::swap(current, next);
  }
  return merger.finish(diagnostics);
}

MemoryPairs readCsv(InputStream& input, const CsvOptions& options, Diagnostics& diagnostics) {
  CsvOptions sized = options;
  // No buffer larger than the file: one more byte sees its end.
  if (input.size())
    sized.chunkBytes = static_cast<std::size_t>(
        std::min<std::uint64_t>(options.chunkBytes, std::max<std::uint64_t>(*input.size(), 1) + 1));
  std::uint64_t total = 0;
  const ByteReader reader = [&](char* buffer, std::size_t length) {
    const std::size_t n = input.read(buffer, length);
    total += n;
    if (n == 0) input.checkComplete(total);
    return n;
  };
  return readCsv(reader, input.path(), sized, diagnostics);
}

}  // namespace wavepack
