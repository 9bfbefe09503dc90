// An .arb file's samples through seqlink's ArbSampleStream (see arb_file_pieces.h).
#include "arb_file_pieces.h"

#include <algorithm>

#include "arb_read.h"
#include "seqlink.h"
#include "seqlink_stream.h"

namespace arbsuite {

ArbFilePieces::ArbFilePieces(const ArbContent& described)
    : path_(described.path),
      count_(described.count),
      stream_(std::make_unique<seqlink::ArbSampleStream>()) {
  const int status = stream_->open(path_.c_str(), count_);
  if (status != SEQLINK_OK) throw readDataFailure(path_, status);
}

ArbFilePieces::~ArbFilePieces() = default;

void ArbFilePieces::forEach(const PieceVisitor& visit) { forEachIn(0, count_, visit); }

void ArbFilePieces::forEachIn(std::size_t first, std::size_t count, const PieceVisitor& visit) {
  stream_->seek(first);
  std::span<const std::int16_t> piece;
  for (std::size_t left = count; left > 0;) {
    const int status = stream_->next(piece);
    if (status != SEQLINK_OK) throw readDataFailure(path_, status);
    if (piece.empty()) return;
    const std::size_t pairs = std::min(piece.size() / 2, left);
    visit(piece.first(2 * pairs));
    left -= pairs;
  }
}

}  // namespace arbsuite
