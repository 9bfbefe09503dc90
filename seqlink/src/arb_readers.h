// The readers of .arb files: description (sample count, clock, energy), the whole
// text header formatted for display, and the decrypted samples (ArbDataFile).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "arb_format.h"
#include "arb_source.h"

namespace arbsuite::seqlink {

// The segment name that stands for silence: the sample path gives zeros for it
// without touching the file system.
inline constexpr std::string_view kBlankName = "Blank";
// Bytes of a version-1 text header that readArbFileInf looks at.
inline constexpr std::size_t kInfTextLimit = 1024;
// Largest block between the header and the samples that the sample reader accepts.
inline constexpr std::size_t kHeaderBlockLimit = 10240;
// The sample reader decrypts in the caller's buffer, in one crypto call (each loads
// and releases the crypto library). An odd pair count ends in a block half made of
// padding, which does not fit there: reads of up to this many bytes then go through
// a buffer of their own in one call; longer ones decrypt that last block in a
// second call, rather than through a second buffer of the data's size.
inline constexpr std::uint64_t kStagedReadLimit = 1 << 20;

// readArbFileInf on an open source; same outputs and statuses.
int readInfFrom(arb::ByteSource& source, int* sampleCount, double* clock, double* energy);

// readArbFileAllInf on an open source; same outputs and statuses.
int readAllInfFrom(arb::ByteSource& source, char* text, int* length);

// The display form of a text header: the last item loses its closing brace, keys
// are padded to a common width, "{" becomes a space and "}" a line feed. Empty when
// the result would be longer than maxLength characters (checked before building it).
std::optional<std::string> formatTextForDisplay(
    std::string_view text, std::size_t maxLength = std::numeric_limits<std::size_t>::max());

// The sample reader of one .arb file; lives for one call.
class ArbDataFile {
 public:
  // Reads the header, checks the header CRC and unwraps the data key. Returns
  // SEQLINK_OK; SEQLINK_HEADER_CRC_MISMATCH (CRC mismatch, truncated header, or a
  // header block that starts before 208, ends past the file or is longer than
  // kHeaderBlockLimit bytes); SEQLINK_DATA_READ_ERROR; the crypto binding's statuses.
  int open(arb::ByteSource& source);

  // Reads pairs IQ pairs (2 x pairs values) into destination; pairs that the file
  // does not hold are zero. Returns SEQLINK_OK, SEQLINK_DATA_NO_MEMORY,
  // SEQLINK_DATA_READ_ERROR or a crypto binding status; after a failure the
  // requested pairs hold no cipher text.
  int readPairs(std::int16_t* destination, std::size_t pairs);
  // The same with another limit for the staged read of an odd pair count than
  // kStagedReadLimit (tests cross it with small files).
  int readPairs(std::int16_t* destination, std::size_t pairs, std::uint64_t stagedReadLimit);

  std::uint32_t sampleCount() const { return header_.sampleCount; }
  std::uint32_t dataOffset() const { return header_.dataOffset; }
  bool encrypted() const { return encrypted_; }

 private:
  // The piece reader shares the header checks, the key and the decryption.
  friend class ArbSampleStream;

  // Decrypts length bytes (a multiple of the block) in place, in one crypto call.
  int decrypt(std::uint8_t* data, std::uint64_t length);
  // The length cipher bytes from the data offset, read and decrypted in a buffer of
  // their own; produced: the bytes copied to out, at most its capacity.
  int readStaged(std::uint8_t* out, std::uint64_t capacity, std::uint64_t length,
                 std::uint64_t& produced);
  // inPlace cipher bytes read and decrypted in out, then the tail (0 or one block)
  // in a block of its own, of which the first half is copied; produced: the bytes
  // of out that hold samples.
  int readInPlace(std::uint8_t* out, std::uint64_t inPlace, std::uint64_t tail,
                  std::uint64_t& produced);

  arb::ByteSource* source_ = nullptr;
  arb::ArbHeader header_{};
  bool encrypted_ = true;
  std::array<std::uint8_t, arb::kDataKeyLength> dataKey_{};
};

// readArbFileData on an open source (no "Blank" handling): open and read.
int readSamplesFrom(arb::ByteSource& source, std::size_t pairs, std::int16_t* destination);

// The sample path of readArbFileData and of the segment loader: "Blank" gives
// zeros, anything else is opened as a file (SEQLINK_DATA_CANNOT_OPEN when it
// cannot be).
int readSamples(const char* path, std::size_t pairs, std::int16_t* destination);

}  // namespace arbsuite::seqlink
