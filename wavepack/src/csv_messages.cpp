// The merger of the pieces and the texts of the CSV reader's warnings and failures
// (see csv_messages.h).
#include "csv_messages.h"

#include <algorithm>
#include <stdexcept>

#include "csv_number.h"

namespace arbsuite::wavepack::csv {

namespace {

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

}  // namespace

void Merger::add(std::vector<Piece>& pieces) {
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
    peak_ = std::max(peak_, piece.peak);
    peakKnown_ = peakKnown_ && piece.peakPairs == piece.pairs.size();
    storage_.push_back(std::move(piece.pairs));
  }
  if (std::max(countI_, countQ_) > kMaxPairs)
    throw std::length_error("Too many IQ pairs in " + name_ + ": an .arb file holds at most " +
                            std::to_string(kMaxPairs));
}

MemoryPairs Merger::finish(Diagnostics& diagnostics) {
  reportLines(diagnostics);
  const std::string noData = "No data found in " + name_;
  // The pieces' peaks are those of the pairs as they stand unless they are realigned.
  auto withPeak = [&](MemoryPairs pairs) {
    if (peakKnown_) pairs.setKnownPeak(peak_);
    return pairs;
  };
  if (!dual()) {
    if (countI_ == 0) throw std::out_of_range(noData);
    return withPeak(MemoryPairs(std::move(storage_)));
  }
  if (countI_ == 0) throw std::out_of_range(noData + " first row" + cause(NoteKind::iNotNumber));
  if (failLaterLine_ != 0) throwOutOfRange(failLaterLine_);
  if (countQ_ == 0) throw std::out_of_range(noData + " second row" + cause(NoteKind::qNotNumber));
  if (countI_ != countQ_)
    throw std::length_error("Two rows of data length is not equal in " + name_ +
                            cause(countI_ > countQ_ ? NoteKind::qNotNumber : NoteKind::iNotNumber));
  if (balanced_) return withPeak(MemoryPairs(std::move(storage_)));
  return MemoryPairs(realign());
}

void Merger::throwOutOfRange(std::uint64_t line) const {
  throw std::range_error("Number out of range in " + name_ + " at line " + std::to_string(line));
}

void Merger::addNotes(const NoteList& notes) {
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

void Merger::merge(LineMark& into, LineMark& from) const {
  if (from.count == 0) return;
  if (into.count == 0) {
    into.line = lineOffset_ + from.line;
    into.text = std::move(from.text);
  }
  into.count += from.count;
}

std::string Merger::cause(NoteKind kind) const {
  const std::optional<LineNote>& note = firstUnpaired_[kind == NoteKind::qNotNumber];
  const LineNote* shown = note ? &*note : notes_.empty() ? nullptr : &notes_.front();
  if (shown == nullptr) return "";
  const std::string text = hint(shown->text);
  return "\n" + describe(*shown) + (text.empty() ? "" : "\n" + name_ + ": " + text);
}

std::string Merger::lacking(const LineNote& note, const char* component, int field) const {
  // Fields as the delimiters make them (an empty field after "5," counts).
  const std::size_t fields =
      options_.dialect.delimiter == ' '
          ? countFields(note.text, options_.dialect)
          : 1 + static_cast<std::size_t>(
                    std::count(note.text.begin(), note.text.end(), options_.dialect.delimiter));
  const std::string where = name_ + " line " + std::to_string(note.line) + " ";
  if (fields < static_cast<std::size_t>(field))
    return where + "has " + std::to_string(fields) + (fields == 1 ? " field" : " fields") + ": " +
           component + " is read from field " + std::to_string(field) + ": " + quoteLine(note.text);
  return where.substr(0, where.size() - 1) + ": field " + std::to_string(field) + " (" + component +
         ") is not a number: " + quoteLine(note.text);
}

std::string Merger::describe(const LineNote& note) const {
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

void Merger::reportLines(Diagnostics& diagnostics) const {
  if (extraLine_ != 0) {
    const std::size_t fields = countFields(extraText_, options_.dialect);
    std::string message = name_ + " line " + std::to_string(extraLine_) + " has " +
                          std::to_string(fields) + " fields: ";
    if (dual())
      message += "I is read from field " + std::to_string(options_.fieldI) + " and Q from field " +
                 std::to_string(options_.fieldQ);
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
    std::string message = name_ + " line " + std::to_string(hex_.line) +
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
    if (!text.empty()) diagnostics.warn(name_ + ": " + text);
  }
}

std::string Merger::hint(const std::string& text) const {
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
    return "its lines hold values separated by " + std::string(other.what) +
           ", not by the delimiter; " + option;
  }
  return "";
}

bool Merger::startsWithTwoNumbers(const std::string& text, char delimiter,
                                  char decimalPoint) const {
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

std::vector<IqPair> Merger::realign() {
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

}  // namespace arbsuite::wavepack::csv
