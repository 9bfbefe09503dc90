// GNU Radio metadata headers: the dictionary that file_meta_sink serialises with
// pmt::serialize before each data segment, inline in the data file or one after
// another in a detached .hdr file. Parsed from bytes in memory, so that the parser
// can be fuzzed without a disk.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

namespace arbsuite::wavepack {

// The tags of pmt::serialize that a header holds (each value starts with one).
// Numbers are big-endian; a symbol is a 16-bit length and its characters; a
// pair is its first then its second element, so that a dictionary (a list of
// (key . value) pairs) is PAIR, PAIR key value, PAIR, PAIR key value, ..., NUL.
enum class PmtTag : std::uint8_t {
  trueValue = 0x00,
  falseValue = 0x01,
  symbol = 0x02,
  int32 = 0x03,
  real = 0x04,     // a double
  complex = 0x05,  // two doubles
  nil = 0x06,      // the empty list, the end of a dictionary
  pair = 0x07,
  vector = 0x08,         // 32-bit length, then the elements
  uniformVector = 0x0a,  // element type, 32-bit length, padding length, padding, elements
  uint64 = 0x0b,
  tuple = 0x0c,  // 32-bit length, then the elements
  int64 = 0x0d,
};

// The data types of GNU Radio's gr_file_types (the "type" field).
enum class GnuRadioType : std::int64_t {
  byte = 0,
  shortInt = 1,
  integer = 2,
  longInt = 3,
  longLong = 4,
  floatSingle = 5,
  floatDouble = 6,
};

// GNU Radio's name of a data type ("float"), or "unknown".
const char* gnuRadioTypeName(std::int64_t type);

// Bytes of the dictionary as file_meta_sink writes it (METADATA_HEADER_SIZE): the
// header length ("strt") is this plus the bytes of the extra dictionary after it.
inline constexpr std::uint64_t kGnuRadioHeaderBytes = 149;

// The header version file_meta_sink writes (METADATA_VERSION).
inline constexpr std::int64_t kGnuRadioHeaderVersion = 0;

// The fields of one header.
struct GnuRadioHeader {
  std::int64_t version = 0;
  double rate = 0;            // "rx_rate": the sample rate, Hz
  std::int64_t itemSize = 0;  // "size": bytes of one item
  std::int64_t type = 0;      // "type": a GnuRadioType
  bool complex = false;       // "cplx": the items are complex
  std::uint64_t start = 0;    // "strt": bytes from the header's first byte to its data
  std::uint64_t bytes = 0;    // "bytes": bytes of data in the segment
  std::uint64_t length = 0;   // bytes of the dictionary itself (extras may follow)
};

// A header that is not well formed or holds a value no recording has; the text
// names the field or the byte (counted from the header's first byte). `truncated`:
// the bytes end inside the dictionary, so that more of them may complete it.
class GnuRadioHeaderError : public std::runtime_error {
 public:
  explicit GnuRadioHeaderError(const std::string& what, bool truncated = false)
      : std::runtime_error(what), truncated_(truncated) {}
  bool truncated() const { return truncated_; }

 private:
  bool truncated_;
};

// Whether `bytes` (the first bytes of a file) start like a serialised header: a
// dictionary whose first key is one of the header's field names.
bool looksLikeGnuRadioHeader(std::span<const std::uint8_t> bytes);

// Parses the header dictionary at the start of `bytes` (which may go on beyond
// it: the extras and the data follow). Throws GnuRadioHeaderError for a
// dictionary that ends early or is not well formed, a missing field ("version",
// "rx_rate", "rx_time", "size", "type", "cplx", "strt" or "bytes"), a field of
// the wrong kind, a version other than kGnuRadioHeaderVersion, a sample rate
// that is not a positive finite number, an item size below 1, a data type
// outside gr_file_types, and a "strt" shorter than the dictionary.
GnuRadioHeader parseGnuRadioHeader(std::span<const std::uint8_t> bytes);

}  // namespace arbsuite::wavepack
