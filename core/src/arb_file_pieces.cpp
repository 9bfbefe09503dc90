// An .arb file's samples through seqlink's ArbSampleStream (see arb_file_pieces.h).
#include "arb_file_pieces.h"

#include <algorithm>

#include "arb_read.h"
#include "read_ahead.h"
#include "seqlink.h"
#include "seqlink_stream.h"

namespace arbsuite {

ArbFilePieces::ArbFilePieces(const ArbContent& described)
    : path_(described.path),
      count_(described.count),
      stream_(std::make_unique<seqlink::ArbSampleStream>()) {
  // Two buffers: a piece stays valid while the next one is read into the other.
  const int status =
      stream_->open(path_.c_str(), count_, seqlink::kStreamPiecePairs, seqlink::PieceBuffers::Two);
  if (status != SEQLINK_OK) throw readDataFailure(path_, status);
}

ArbFilePieces::~ArbFilePieces() = default;

void ArbFilePieces::forEach(const PieceVisitor& visit) { forEachIn(0, count_, visit); }

void ArbFilePieces::forEachIn(std::size_t first, std::size_t count, const PieceVisitor& visit) {
  stream_->seek(first);
  if (count <= seqlink::kStreamPiecePairs) {
    // One piece: nothing to overlap.
    std::span<const std::int16_t> piece;
    const int status = stream_->next(piece);
    if (status != SEQLINK_OK) throw readDataFailure(path_, status);
    const std::size_t pairs = std::min(piece.size() / 2, count);
    if (pairs > 0) visit(piece.first(2 * pairs));
    return;
  }

  // While the caller works on one piece, a second thread reads and decrypts the next
  // into the stream's other buffer, so that a pass over a large file takes about the
  // longer of the two jobs rather than their sum.
  struct Slot {
    std::span<const std::int16_t> values;
    int status = SEQLINK_OK;
  };
  Slot slots[2];
  std::size_t left = count;
  arb::readAhead(
      [&](unsigned k) {
        std::span<const std::int16_t> piece;
        const int status = stream_->next(piece);
        const std::size_t pairs = std::min(piece.size() / 2, left);
        left -= pairs;
        slots[k] = Slot{piece.first(2 * pairs), status};
        return status != SEQLINK_OK || pairs == 0 || left == 0;
      },
      [&](unsigned k) {
        if (slots[k].status != SEQLINK_OK) throw readDataFailure(path_, slots[k].status);
        if (!slots[k].values.empty()) visit(slots[k].values);
        return true;
      });
}

}  // namespace arbsuite
