// The description of an .arb file as readContent reads it, and its samples through
// seqlink's ArbSampleStream (see arb_file_pieces.h).
#include "arb_file_pieces.h"

#include "arb_read.h"
#include "seqlink.h"
#include "seqlink_status_words.h"
#include "seqlink_stream.h"

namespace arbsuite::arbtool {
namespace {

// readContent's failure for a status of the sample reader.
Failure readDataFailure(const std::string& path, int status) {
  return Failure{kExitRead,
                 path + ": " + statusWords(SeqlinkCall::ReadData, status) + " (status " +
                     std::to_string(status) + ")",
                 status};
}

}  // namespace

ArbContent readDescription(const std::string& path, bool withText) {
  ArbContent content;
  content.path = path;
  int infoStatus = 0;
  const int count = sampleCountOf(path, &content.clockHz, nullptr, &infoStatus);
  content.count = static_cast<std::size_t>(count);
  content.multiSegment = infoStatus == SEQLINK_MULTI_SEGMENT_REFUSED;
  if (withText) content.displayText = descriptionOf(path);
  return content;
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
