// crtMultiSegArb: writes the version-2 (multi-segment) .arb file; its energy sum and
// its piecewise encryption of the samples.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

namespace seqlink {

// Signal energy of interleaved 16-bit values, summed exactly in integers (the
// "Value" of a multi-segment text header).
long double exactSignalEnergy(std::span<const std::int16_t> values);

// Receives one encrypted piece of the samples; false when it cannot be written.
using PieceSink = std::function<bool(const std::uint8_t* piece, std::size_t length)>;

// The writer encrypts the samples in pieces of this many bytes into one reused
// buffer and writes each at once: each crypto call loads and releases the crypto
// library (a few hundred microseconds), so the pieces are large, but no second
// buffer of the data's size is needed.
inline constexpr std::size_t kCipherPieceLength = std::size_t{4} << 20;

// Encrypts length bytes of plain samples under the 16-byte key in consecutive
// pieces of pieceLength bytes (rounded down to a whole cipher block, at least one),
// one crypto call each, and hands each piece to sink as soon as it is encrypted.
// The last piece is padded with zeros to a whole block: the bytes are those of one
// call over all the samples. Returns SEQLINK_OK; SEQLINK_DATA_NO_MEMORY;
// SEQLINK_DATA_CANNOT_OPEN when sink returns false; a crypto binding status (the
// pieces before it were handed on).
int encryptInPieces(const void* plain, std::uint64_t length, const std::uint8_t* key,
                    std::size_t pieceLength, const PieceSink& sink);

}  // namespace seqlink
