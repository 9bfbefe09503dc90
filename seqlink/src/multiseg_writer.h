// crtMultiSegArb: writes the version-2 (multi-segment) .arb file; its energy sum and
// its piecewise encryption of the samples.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "arb_format.h"
#include "output_file.h"

namespace arbsuite::seqlink {

// Receives one encrypted piece of the samples; false when it cannot be written.
using PieceSink = std::function<bool(const std::uint8_t* piece, std::size_t length)>;

// The writer encrypts the samples in pieces of this many bytes into one reused
// buffer and writes each at once: each crypto call loads and releases the crypto
// library (a few hundred microseconds), so the pieces are large, but no second
// buffer of the data's size is needed.
inline constexpr std::size_t kCipherPieceLength = std::size_t{4} << 20;

// Encrypts samples handed over in any lengths in pieces of pieceLength bytes (rounded
// down to a whole cipher block, at least one), one crypto call each, handing each
// piece to sink as soon as it is encrypted; finish() encrypts the rest, padded with
// zeros to a whole block. The bytes are those of one call over all the samples.
class PieceEncryptor {
 public:
  PieceEncryptor(const std::uint8_t* key, std::size_t pieceLength, PieceSink sink);
  // SEQLINK_OK; SEQLINK_DATA_NO_MEMORY; SEQLINK_DATA_CANNOT_OPEN when sink returns
  // false; a crypto binding status.
  int add(const void* plain, std::uint64_t length);
  int finish();
  // Bytes added since the last whole piece: a caller whose next add holds the
  // piece's rest (pieceLength() - held()) and then whole pieces has every piece after
  // that encrypted straight from its samples, none copied.
  std::size_t held() const { return held_.size(); }
  std::size_t pieceLength() const { return pieceLength_; }

 private:
  int encrypt(const std::uint8_t* bytes, std::size_t length);

  const std::uint8_t* key_;
  std::size_t pieceLength_;
  PieceSink sink_;
  std::vector<std::uint8_t> held_;  // samples short of a whole piece
  std::unique_ptr<std::uint8_t[]> cipher_;
};

// Encrypts length bytes of plain samples under the 16-byte key in consecutive
// pieces of pieceLength bytes (rounded down to a whole cipher block, at least one),
// one crypto call each, and hands each piece to sink as soon as it is encrypted.
// The last piece is padded with zeros to a whole block: the bytes are those of one
// call over all the samples. Returns SEQLINK_OK; SEQLINK_DATA_NO_MEMORY;
// SEQLINK_DATA_CANNOT_OPEN when sink returns false; a crypto binding status (the
// pieces before it were handed on).
int encryptInPieces(const void* plain, std::uint64_t length, const std::uint8_t* key,
                    std::size_t pieceLength, const PieceSink& sink);

// What a multi-segment file holds before its samples: the encoded header, the info
// block and the data key the samples are encrypted under.
struct MultiSegmentLayout {
  arb::ArbHeader header{};  // wrapped key and CRC set by drawDataKey and sealMultiSegment
  arb::HeaderBytes headerBytes{};
  std::vector<std::uint8_t> block;
  std::array<std::uint8_t, arb::kDataKeyLength> dataKey{};
  std::uint64_t dataLength = 0;  // bytes of samples
};

// The checks, text header, info block and header fields of layoutMultiSegment,
// without its crypto steps; its statuses but the crypto binding's.
int describeMultiSegment(const char* names, const double* clockRates, const int* sampleCounts,
                         const double* energies, unsigned segmentCount, std::uint64_t totalSamples,
                         bool haveSamples, const std::function<long double()>& energy,
                         const char* outputFile, MultiSegmentLayout& layout);

// The key steps of layoutMultiSegment after describeMultiSegment: draws the data key
// and wraps it into the header. SEQLINK_OK or a crypto binding status.
int drawDataKey(MultiSegmentLayout& layout);

// The last step: the info block's CRC into the header, and the header encoded.
// SEQLINK_OK or a crypto binding status.
int sealMultiSegment(MultiSegmentLayout& layout);

// The checks of crtMultiSegArb on its arguments, then the text header, the info
// block, the key draw and wrap and the block's CRC, in that order. names holds
// SEQLINK_NAME_SLOT bytes per segment; haveSamples says whether the samples are
// there (for the null-buffer check); energy gives the whole join's signal energy,
// asked for once the arguments passed. Returns crtMultiSegArb's statuses.
int layoutMultiSegment(const char* names, const double* clockRates, const int* sampleCounts,
                       const double* energies, unsigned segmentCount, std::uint64_t totalSamples,
                       bool haveSamples, const std::function<long double()>& energy,
                       const char* outputFile, MultiSegmentLayout& layout);

// The file of a layout, its samples added in order in any lengths. The output is
// created at the first encrypted piece (so a crypto library that is missing or fails
// leaves nothing behind, not even in a FIFO), written under a temporary name and put
// in place by commit(); destroyed before that, it leaves nothing.
class MultiSegmentOutput {
 public:
  MultiSegmentOutput(const MultiSegmentLayout& layout, const char* outputFile);
  MultiSegmentOutput(const MultiSegmentOutput&) = delete;
  MultiSegmentOutput& operator=(const MultiSegmentOutput&) = delete;
  // Statuses of PieceEncryptor::add.
  int add(const void* samples, std::uint64_t length) { return pieces_.add(samples, length); }
  const PieceEncryptor& pieces() const { return pieces_; }
  // SEQLINK_OK, or SEQLINK_DATA_CANNOT_OPEN when the file cannot be written.
  int commit();

 private:
  bool begun();

  const MultiSegmentLayout& layout_;
  const char* outputFile_;
  arb::OutputFile out_;
  PieceEncryptor pieces_;
};

}  // namespace arbsuite::seqlink
