// The CSV reader of the converter: one or two numeric fields per line, in the
// dialects the command line names, parsed on every core. Each thread of a team
// reads the next block of whole lines with read(2) and parses it, and the blocks
// are merged in file order; pairs, warnings, failures and the line numbers in them
// are those of a single pass from the first line to the last.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "diagnostics.h"
#include "pair_source.h"

namespace arbsuite::wavepack {

class InputStream;

// Result of reading one field the way `std::istream >> double` reads it.
enum class FieldValue {
  number,     // parsed; the value is set
  notNumber,  // extraction would fail: the line adds nothing
  overflow,   // a number too large for a double: refused as bad input
};

struct NumberScan {
  FieldValue value = FieldValue::notNumber;
  const char* end = nullptr;  // first character after the number (when it is one)
};

// Parses the field starting at `first` (`last` is the end of its line). White
// space other than `delimiter` is skipped, then an optional sign, decimal digits
// with an optional `decimalPoint` and exponent are read; whatever follows is
// ignored, except that with a decimal comma a '.' right after the digits makes
// the field no number (a thousands separator or a decimal point of another
// dialect). "inf", "nan" and hexadecimal forms are not numbers, nor is "1e" (an
// exponent without digits). Values that underflow are kept as the nearest double.
NumberScan scanNumber(const char* first, const char* last, double& value, char decimalPoint = '.',
                      char delimiter = ',');

struct CsvDialect {
  // ',' ';' or '\t' separate fields one by one; ' ' stands for any run of blanks
  // (spaces and tabs), with blanks at the start and end of a line ignored.
  char delimiter = ',';
  // The decimal separator is ',' (only with a delimiter other than ',').
  bool decimalComma = false;
};

struct CsvOptions {
  CsvDialect dialect;
  // 1-based fields of I and Q; 0 for a component the file does not hold (a
  // separate I or Q file reads one field). Both set: pairs are formed as the
  // two-column reader forms them, I value k with Q value k, each counted apart.
  int fieldI = 1;
  int fieldQ = 2;
  // The fields were chosen on the command line: lines with more fields are
  // then expected and not reported.
  bool fieldsChosen = false;
  // Threads (0: one per core), and the bytes of the blocks they read and parse
  // each in turn when there are several (a block ends after the first line feed
  // past them); a file of one block is parsed by one thread.
  unsigned threads = 0;
  std::size_t pieceBytes = std::size_t{1} << 20;
  // Bytes read at a time by one thread (and the block of one thread). Every thread
  // holds one block buffer: small ones stay in the caches and bound the memory
  // beside the pairs.
  std::size_t chunkBytes = std::size_t{4} << 20;
};

// Lines that were reported, at most this many one by one; the rest are counted.
inline constexpr std::size_t kReportedLines = 5;
// A line longer than this is refused (bounds what a pipe can make the reader hold).
inline constexpr std::size_t kMaxLineBytes = std::size_t{64} << 20;

// Source of the bytes: fills the buffer, returns the count, 0 at the end.
using ByteReader = std::function<std::size_t(char* buffer, std::size_t length)>;

// Reads the pairs. `name` is the file's name in messages.
// Leading lines that hold no number (headers) and blank lines anywhere are
// skipped silently. Every later line that does not give each field it reads,
// and (without fieldsChosen) a line with more fields than are read, is reported
// through `diagnostics` (the first kReportedLines, then a count).
// Throws, with the texts of the two-column and column readers:
//   "Number out of range in <name> at line <n>"  for an I value beyond a double
//     (at once), and for a Q value after the no-data check of I;
//   "No data found in <name>" (one field) or with " first row" / " second row";
//   "Two rows of data length is not equal in <name>";
//   "Too many IQ pairs in <name>: an .arb file holds at most 536870911" as soon
//     as more pairs were read; "<name> line <n> is longer than 64 MiB".
MemoryPairs readCsv(const ByteReader& reader, const std::string& name, const CsvOptions& options,
                    Diagnostics& diagnostics);

// The same from an opened file; also throws its read and changed-file failures.
MemoryPairs readCsv(InputStream& input, const CsvOptions& options, Diagnostics& diagnostics);

// Number of fields of a line in a dialect, up to its last non-blank field.
std::size_t countFields(std::string_view line, const CsvDialect& dialect);

}  // namespace arbsuite::wavepack
