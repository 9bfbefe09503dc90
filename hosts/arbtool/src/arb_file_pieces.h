// An .arb file's samples read in pieces through seqlink's piece reader, for the
// streamed dump and stats: the same checks and failures as readContent, in bounded
// memory.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "analysis_commands.h"
#include "sample_pieces.h"

namespace arbsuite::seqlink {
class ArbSampleStream;
}

namespace arbsuite::arbtool {

// readContent without the samples: path, count, clock, multi-segment flag and,
// withText, the display text, with its checks and failures (Failure kExitRead).
ArbContent readDescription(const std::string& path, bool withText = true);

// The pairs of a file that readDescription passed, a piece at a time. The
// constructor opens the file and checks its header (Failure kExitRead with
// readContent's message for the statuses of readArbFileData); forEach throws the
// same for a read or decryption that fails on the way.
class ArbFilePieces final : public analysis::SamplePieces {
 public:
  explicit ArbFilePieces(const ArbContent& described);
  ~ArbFilePieces() override;
  ArbFilePieces(const ArbFilePieces&) = delete;
  ArbFilePieces& operator=(const ArbFilePieces&) = delete;

  std::size_t samples() const override { return count_; }
  void forEach(const analysis::PieceVisitor& visit) override;
  // Reads only the pieces of the range (the samples decrypt block by block).
  void forEachIn(std::size_t first, std::size_t count,
                 const analysis::PieceVisitor& visit) override;

 private:
  std::string path_;
  std::size_t count_;
  std::unique_ptr<seqlink::ArbSampleStream> stream_;
};

}  // namespace arbsuite::arbtool
