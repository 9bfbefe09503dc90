// The merging of what the pieces of a CSV text found, in file order, into the pairs
// of the whole file, and the warnings and failures the reader gives about its lines.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "csv_piece.h"
#include "csv_reader.h"

namespace arbsuite::wavepack::csv {

// Everything the pieces found, merged in file order.
class Merger {
 public:
  Merger(const std::string& name, const CsvOptions& options) : name_(name), options_(options) {}

  // Adds the pieces of one chunk; throws at once for a value that fails at once.
  void add(std::vector<Piece>& pieces);

  std::uint64_t lines() const { return lineOffset_; }

  MemoryPairs finish(Diagnostics& diagnostics);

 private:
  bool dual() const { return options_.fieldI > 0 && options_.fieldQ > 0; }

  [[noreturn]] void throwOutOfRange(std::uint64_t line) const;

  void addNotes(const NoteList& notes);

  void merge(LineMark& into, LineMark& from) const;

  // The second line of a failure kept in its historical words: the first line that
  // lacks the component (`kind`), and why.
  std::string cause(NoteKind kind) const;

  // The field a component is read from, and the count of fields of a line.
  std::string lacking(const LineNote& note, const char* component, int field) const;

  std::string describe(const LineNote& note) const;

  void reportLines(Diagnostics& diagnostics) const;

  // For a line that did not parse: "its lines hold values separated by ...; --delimiter
  // X reads them" when it holds no delimiter but starts with two numbers that another
  // delimiter separates (tab, semicolon, blanks: the usual signs of a file of another
  // dialect read as CSV), else "".
  std::string hint(const std::string& text) const;

  // Whether a line starts with two numbers separated by `delimiter` (' ': any blanks),
  // with the file's decimal sign or the one given.
  bool startsWithTwoNumbers(const std::string& text, char delimiter,
                            char decimalPoint = '\0') const;

  // Pairs of pieces whose I and Q counts differ: value k of each column goes to
  // pair k of the whole file, as a single pass pairs them.
  std::vector<IqPair> realign();

  const std::string& name_;
  const CsvOptions& options_;
  std::uint64_t lineOffset_ = 0;
  bool seenData_ = false;
  std::uint64_t countI_ = 0;
  std::uint64_t countQ_ = 0;
  bool balanced_ = true;
  double peak_ = 0.0;      // the largest peak of the pieces
  bool peakKnown_ = true;  // every piece's peak covers all its pairs
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

}  // namespace arbsuite::wavepack::csv
