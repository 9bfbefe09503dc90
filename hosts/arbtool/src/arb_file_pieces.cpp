// The description of an .arb file as readContent reads it, and its samples through
// seqlink's ArbSampleStream (see arb_file_pieces.h).
#include "arb_file_pieces.h"

#include "arb_read.h"
#include "seqlink.h"
#include "seqlink_stream.h"

namespace arbsuite::arbtool {
ArbContent readDescription(const std::string& path, bool withText) {
  return describedContent(path, withText);
}

ArbFilePieces::ArbFilePieces(const ArbContent& described)
    : path_(described.path),
      count_(described.count),
      stream_(std::make_unique<seqlink::ArbSampleStream>()) {
  const int status = stream_->open(path_.c_str(), count_);
  if (status != SEQLINK_OK) throw readDataFailure(path_, status);
}

ArbFilePieces::~ArbFilePieces() = default;

void ArbFilePieces::forEach(const analysis::PieceVisitor& visit) {
  stream_->rewind();
  std::span<const std::int16_t> piece;
  for (;;) {
    const int status = stream_->next(piece);
    if (status != SEQLINK_OK) throw readDataFailure(path_, status);
    if (piece.empty()) return;
    visit(piece);
  }
}

}  // namespace arbsuite::arbtool
