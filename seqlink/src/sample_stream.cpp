// ArbSampleStream: the sample reader's header checks and key, then the data read
// and decrypted a piece at a time into one or two buffers of the piece's size.
#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <optional>

#include "arb_readers.h"
#include "file_source.h"
#include "seqlink.h"
#include "seqlink_stream.h"

namespace arbsuite::seqlink {

struct ArbSampleStream::State {
  std::optional<FileSource> source;  // none for "Blank"
  ArbDataFile file;
  std::size_t piecePairs = kStreamPiecePairs;
  // The cipher blocks of a piece: a piece starting in the middle of a block needs
  // one more block than its pairs fill. Not zeroed when allocated: every byte a piece
  // hands out is read, decrypted or cleared first.
  std::unique_ptr<std::uint8_t[]> buffers[2];
  std::size_t bufferLength = 0;
  unsigned bufferCount = 1;
  unsigned current = 0;  // the buffer the next piece goes into
  // Bytes of sample data (from the data offset) that the file holds and that
  // readArbFileData takes from it: whole cipher blocks inside the file and inside
  // one crypto call when the data is encrypted; anything after reads as zero.
  std::uint64_t usable = 0;
};

ArbSampleStream::ArbSampleStream() = default;
ArbSampleStream::~ArbSampleStream() = default;

int ArbSampleStream::open(const char* path, std::uint64_t pairs, std::size_t piecePairs,
                          PieceBuffers buffers) {
  // The old buffers are kept for this file when they have its size: no fresh pages to
  // fault in and clear for each file of a join.
  std::unique_ptr<State> old = std::move(state_);
  pairs_ = 0;
  position_ = 0;
  if (path == nullptr) return SEQLINK_DATA_CANNOT_OPEN;
  auto state = std::make_unique<State>();
  state->piecePairs = std::max<std::size_t>(piecePairs, 2);
  state->bufferCount = buffers == PieceBuffers::Two ? 2 : 1;
  state->bufferLength = state->piecePairs * arb::kBytesPerPair + arb::kCipherBlockLength;
  if (old && old->bufferLength == state->bufferLength) {
    state->buffers[0] = std::move(old->buffers[0]);
    state->buffers[1] = std::move(old->buffers[1]);
  }
  old.reset();
  if (path != kBlankName) {
    state->source.emplace(path);
    if (!state->source->isOpen()) return SEQLINK_DATA_CANNOT_OPEN;
    const int status = state->file.open(*state->source);
    if (status != SEQLINK_OK) return status;
    const std::uint64_t offset = state->file.dataOffset();
    const std::uint64_t size = state->source->size();
    const std::uint64_t available = offset <= size ? size - offset : 0;
    state->usable = state->file.encrypted()
                        ? std::min(arb::roundDownToBlock(available),
                                   arb::roundDownToBlock(std::numeric_limits<std::uint32_t>::max()))
                        : available;
  }
  for (unsigned k = 0; k < state->bufferCount; ++k) {
    if (!state->buffers[k]) {
      state->buffers[k].reset(new (std::nothrow) std::uint8_t[state->bufferLength]);
      if (!state->buffers[k]) return SEQLINK_DATA_NO_MEMORY;
    }
  }
  state_ = std::move(state);
  pairs_ = pairs;
  return SEQLINK_OK;
}

int ArbSampleStream::next(std::span<const std::int16_t>& piece, std::uint64_t maxPairs) {
  piece = {};
  if (!state_ || position_ >= pairs_) return SEQLINK_OK;
  State& s = *state_;
  const std::uint64_t count = std::min<std::uint64_t>(
      {pairs_ - position_, s.piecePairs, std::max<std::uint64_t>(maxPairs, 1)});
  const std::uint64_t first = position_ * arb::kBytesPerPair;
  const std::uint64_t last = first + count * arb::kBytesPerPair;
  std::uint8_t* buffer = s.buffers[s.current].get();
  std::uint64_t skip = 0;  // bytes before the piece's first pair in the buffer

  if (!s.source) {
    std::memset(buffer, 0, static_cast<std::size_t>(last - first));
  } else if (!s.file.encrypted()) {
    const std::uint64_t length = first < s.usable ? std::min(last, s.usable) - first : 0;
    const long long got =
        s.source->readAt(s.file.dataOffset() + first, buffer, static_cast<std::size_t>(length));
    if (got < 0) return SEQLINK_DATA_READ_ERROR;
    std::memset(buffer + got, 0,
                static_cast<std::size_t>(last - first) - static_cast<std::size_t>(got));
  } else {
    const std::uint64_t blockStart = arb::roundDownToBlock(first);
    const std::uint64_t blockEnd = arb::roundUpToBlock(last);
    skip = first - blockStart;
    const std::uint64_t length =
        blockStart < s.usable ? std::min(blockEnd, s.usable) - blockStart : 0;
    const long long got = s.source->readAt(s.file.dataOffset() + blockStart, buffer,
                                           static_cast<std::size_t>(length));
    if (got < 0) return SEQLINK_DATA_READ_ERROR;
    const std::uint64_t whole = arb::roundDownToBlock(static_cast<std::uint64_t>(got));
    const int status = s.file.decrypt(buffer, whole);
    if (status != SEQLINK_OK) {
      std::memset(buffer, 0, s.bufferLength);  // no cipher text is left behind
      return status;
    }
    std::memset(buffer + whole, 0, static_cast<std::size_t>(blockEnd - blockStart - whole));
  }

  auto* values = reinterpret_cast<std::int16_t*>(buffer + skip);
  if constexpr (std::endian::native == std::endian::big) {
    for (std::size_t i = 0; i < 2 * count; ++i) {
      values[i] = static_cast<std::int16_t>(arb::loadU16(buffer + skip + 2 * i));
    }
  }
  piece = {values, static_cast<std::size_t>(2 * count)};
  position_ += count;
  s.current = (s.current + 1) % s.bufferCount;
  return SEQLINK_OK;
}

}  // namespace arbsuite::seqlink
