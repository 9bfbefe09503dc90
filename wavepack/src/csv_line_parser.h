// The parsing of CSV lines and their fields: a piece of whole lines is read line
// by line into its pairs and the lines it notes.
#pragma once

#include <array>
#include <vector>

#include "csv_number.h"
#include "csv_piece.h"
#include "csv_reader.h"

namespace arbsuite::wavepack::csv {

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

class PieceParser {
 public:
  // With `plainPairs` false, every line is read by the general line parser (the
  // tests compare the two).
  explicit PieceParser(const CsvOptions& options, bool plainPairs = true);

  void parse(Piece& piece) const;

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
  bool parseLine(Piece& piece, const char* b, const char* e) const;

  // The line at b when it is the common "I,Q" of two numbers, each starting with a
  // digit, a sign '-' or a point, and ends with a line feed (CR LF too) before the
  // piece's end: its pair is stored and the next line's start returned. Null, with
  // nothing changed, for any other line: the general parser then reads it.
  const char* readPlainPair(Piece& piece, const char* b) const;

  // Stores I and Q of a line as pair countI and pair countQ.
  static void storePair(Piece& piece, double i, double q);

  // Pairs a run of plain lines gathers before they are appended to the piece's pairs.
  static constexpr std::size_t kRunPairs = 256;
  using RunBuffer = std::array<IqPair, kRunPairs>;

  // The run of plain "I,Q" lines from b on (each with plainDigits' fields, ended by
  // LF or CR LF before the piece's end), when the piece's I and Q counts are equal:
  // their pairs are gathered in `run` and appended to the piece's a run at a time.
  // Returns the start of the first line that is not of this form, or the piece's end.
  const char* readPlainRun(Piece& piece, const char* b, RunBuffer& run) const;

  // Adds the pairs that are complete (both values read) and not yet counted to the
  // piece's peak.
  void notePeak(Piece& piece) const;

  void noteData(Piece& piece, bool extra, const char* b, const char* e) const;

  // numpy's text form of a complex value, "(a+bj)", alone on its line (savetxt of a
  // complex vector): I is a and Q is b.
  bool readComplex(const char* b, const char* e, Field& re, Field& im) const;

  // One field at `field`: a number, or a number between double quotes.
  NumberScan readField(const char* field, const char* e, double& value, char noSkip,
                       LineForm& form) const;

  // The fields first_ and second_ (when set) of the line [b, e), in that order; extra
  // is set when every field read is a number and more non-blank fields follow.
  void readFields(const char* b, const char* e, Field& low, Field& high, LineForm& form) const;

  Splitter split_;
  int fieldI_;
  int fieldQ_;
  bool dual_;
  bool checkExtra_;
  bool complexForm_;
  int first_ = 0;
  int second_ = 0;
  bool plainPairs_;  // fields 1 and 2, ',' and '.': lines are first tried as plain pairs
};

}  // namespace arbsuite::wavepack::csv
