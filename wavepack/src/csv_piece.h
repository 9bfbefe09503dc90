// What parsing one piece of CSV text finds: its pairs, counts and the lines it
// notes for the warnings; the line parser fills a Piece and the merger reads it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "csv_reader.h"

namespace arbsuite::wavepack::csv {

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

// Bytes of a noted line its message quotes; one more is kept, to show it was cut.
inline constexpr std::size_t kNoteTextBytes = 80;

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
  // The largest modulus (peakModulus) of the piece's first peakPairs pairs: those
  // are complete, and the peak is taken while they are still in the caches.
  double peak = 0.0;
  std::uint64_t peakPairs = 0;
};

}  // namespace arbsuite::wavepack::csv
