// The converter's original readers, as the driver and the tests call them: one CSV
// column, a two-column CSV file, raw little-endian doubles. They read comma-separated
// text and doubles only and report nothing but failures; the command line reaches
// the other formats and dialects through the readers they wrap. Failures are thrown
// as standard exceptions whose text is the message the user sees.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "csv_reader.h"
#include "pair_source.h"

namespace arbsuite::wavepack {

// Parses the field starting at `first` (`last` is the end of its line): leading
// white space is skipped, an optional sign ('+' or '-'), decimal digits with an
// optional point and exponent are read, and whatever follows is ignored. "inf",
// "nan" and hexadecimal forms are not numbers; "1e" (an exponent without digits)
// is not a number. Values that underflow are kept as the nearest double.
FieldValue parseCsvField(const char* first, const char* last, double& value);

// Reads column 1 or 2 of a CSV file: every line whose field in that column parses
// adds (v, 0) when asI, else (0, v); other lines are skipped.
// Throws std::runtime_error("Open " + path + " failed") when the file cannot be read,
// std::out_of_range("No data found in " + path) when no line adds a pair, and
// std::range_error naming the file and line for a number that overflows a double.
std::vector<IqPair> readCsvColumn(const std::string& path, int column, bool asI);

// Reads I from column 1 and Q from column 2 of one CSV file. The two columns are
// counted independently (as two passes over the file would count them), read in a
// single pass. Throws the readCsvColumn failures, the no-data one with " first row"
// or " second row" appended, and "Two rows of data length is not equal in " + path.
std::vector<IqPair> readCsvDual(const std::string& path);

// Reads little-endian IEEE-754 doubles; a trailing part of fewer than 8 bytes is
// ignored. asI only: (v, 0); asQ only: (0, v); both: interleaved I, Q.
// Throws "Open ... failed", "There is no data in " + path, "Binary data in " + path +
// " length is odd", and a std::range_error naming the file for NaN or infinity.
std::vector<IqPair> readBinarySamples(const std::string& path, bool asI, bool asQ);

// All pairs of a source in one vector.
std::vector<IqPair> readAllPairs(PairSource& source);

}  // namespace arbsuite::wavepack
