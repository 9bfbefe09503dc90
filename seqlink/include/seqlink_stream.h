// The samples of one .arb file handed out in pieces, in order, for the suite's own
// programs: the same checks, statuses and values as readArbFileData, in bounded
// memory. Internal to the suite (not installed with seqlink.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace arbsuite::seqlink {

// Pairs in a piece unless the caller asks for others: 4 MiB of samples, big enough
// that each crypto call (which loads and releases the crypto library) is cheap
// against its work.
inline constexpr std::size_t kStreamPiecePairs = std::size_t{1} << 20;

// How many piece buffers a stream takes turns with: with two, a piece stays valid
// until the call after next, so that one thread can read the next piece while
// another still works on the last.
enum class PieceBuffers { One, Two };

// Keeps libwavecrypt.so loaded while it lives. Every crypto call still loads and
// releases the library by name; under a hold the load only counts a reference,
// where it otherwise maps and relocates the library afresh each time (about 0.2 ms,
// with the loader's lock held against the other thread's calls). For a program
// that makes many calls, a join or a dump making two for every 4 MiB; a library
// updated on disk meanwhile is used once the hold ends. A library that cannot be
// loaded is no failure here: the calls report it as they always have.
class CryptoLibraryHold {
 public:
  CryptoLibraryHold();
  ~CryptoLibraryHold();
  CryptoLibraryHold(const CryptoLibraryHold&) = delete;
  CryptoLibraryHold& operator=(const CryptoLibraryHold&) = delete;

  bool holding() const { return handle_ != nullptr; }

 private:
  void* handle_;
};

// The samples decrypt block by block (8-byte blocks, each on its own), so a piece
// needs only its own blocks: the last block of a piece that ends in the middle of
// one is read again as the first of the next.
class ArbSampleStream {
 public:
  ArbSampleStream();
  ~ArbSampleStream();
  ArbSampleStream(const ArbSampleStream&) = delete;
  ArbSampleStream& operator=(const ArbSampleStream&) = delete;

  // Opens path as readArbFileData(path, pairs, ...) does: "Blank" is silence;
  // SEQLINK_DATA_CANNOT_OPEN for a path that cannot be opened or is no regular
  // file; the header checks and key unwrap with readArbFileData's statuses
  // (SEQLINK_HEADER_CRC_MISMATCH, SEQLINK_DATA_READ_ERROR, the crypto statuses).
  // pairs: the pairs to hand out (pairs the file does not hold are zero).
  // piecePairs (at least 2): the largest piece; buffers: how long a piece stays
  // valid (see next). The buffers of the last open are kept when their size fits,
  // so that a stream opened on one file after another allocates them once.
  // Returns SEQLINK_OK or a status.
  int open(const char* path, std::uint64_t pairs, std::size_t piecePairs = kStreamPiecePairs,
           PieceBuffers buffers = PieceBuffers::One);

  // The next piece (interleaved I, Q; an even number of values, at most 2 x
  // piecePairs), valid until the next call (PieceBuffers::One) or the call after
  // that (PieceBuffers::Two); empty after the last. Returns SEQLINK_OK,
  // SEQLINK_DATA_READ_ERROR or a crypto status (the piece is then empty).
  int next(std::span<const std::int16_t>& piece) { return next(piece, pairs_); }
  // The same with a piece of at most maxPairs pairs (at least 1).
  int next(std::span<const std::int16_t>& piece, std::uint64_t maxPairs);

  // Back to the first pair, for another pass.
  void rewind() { position_ = 0; }
  // To pair `pair` (the end when beyond it): the next piece starts there.
  void seek(std::uint64_t pair) { position_ = pair < pairs_ ? pair : pairs_; }

  std::uint64_t pairs() const { return pairs_; }
  std::uint64_t position() const { return position_; }  // pairs handed out so far

 private:
  struct State;
  std::unique_ptr<State> state_;
  std::uint64_t pairs_ = 0;
  std::uint64_t position_ = 0;
};

}  // namespace arbsuite::seqlink
