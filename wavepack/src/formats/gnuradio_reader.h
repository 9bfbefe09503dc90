// GNU Radio metadata files, as file_meta_sink writes them: a header before each
// segment of data, inline in the data file, or detached in a .hdr file beside it
// (the headers one after another, the data file plain samples). The headers give
// the datatype and the sample rate; the segments are read in order, straight from
// the data file.
#pragma once

#include <cstdint>
#include <string>

#include "diagnostics.h"
#include "input_data.h"
#include "input_stream.h"
#include "raw_reader.h"

namespace arbsuite::wavepack {

// The extension of a detached header file: GNU Radio names it after the data file.
inline constexpr std::string_view kGnuRadioHeaderExtension = ".hdr";

// Bytes of a header read at first (room for the dictionary), and the most read
// when its dictionary goes on (far more than tags add); a longer one is refused.
inline constexpr std::uint64_t kGnuRadioHeaderRead = 1024;
inline constexpr std::uint64_t kMaxGnuRadioHeaderRead = std::uint64_t{1} << 20;

// The files of a recording given by `path`.
struct GnuRadioFiles {
  std::string data;
  std::string headers;  // `data` itself when the headers are inline
  bool detached = false;
};

// A path ending in .hdr (any case) is a detached header of the data file named
// without it; a path whose name + ".hdr" is a file has that detached header;
// otherwise the headers are inline.
GnuRadioFiles gnuRadioFiles(const std::string& path);

// Whether the regular file `input` starts with a GNU Radio header (reads its first
// bytes); false for standard input.
bool startsWithGnuRadioHeader(InputStream& input);

// Reads the recording given by `path` (see gnuRadioFiles) as `role`: complex
// items, or items of two values (I and Q), for RawRole::iq; real items of one
// value for -i and -q. Throws, naming the file, the header (counted from 1) and
// its field: a header that is not well formed or lacks a field, a version,
// sample rate, item size or data type wavepack does not read (little-endian byte,
// short, int, float and double), a header that differs from the first in its
// format or sample rate, a "strt" or "bytes" beyond the end of the file, a
// segment that is not a whole number of items, bytes that no header describes,
// no data at all, and too many pairs.
InputData readGnuRadio(const std::string& path, RawRole role, Diagnostics& diagnostics);

}  // namespace arbsuite::wavepack
