// An .arb file's samples read in pieces through seqlink's piece reader, for the
// streamed dump, stats and plot of arbtool and the Python module's stats: the same
// checks and failures as readContent, in bounded memory.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "arb_read.h"
#include "sample_pieces.h"

namespace arbsuite::seqlink {
class ArbSampleStream;
}

namespace arbsuite {

// The pairs of a file that describedContent passed, a piece at a time. The
// constructor opens the file and checks its header (Failure kExitRead with
// readContent's message for the statuses of readArbFileData); forEach throws the
// same for a read or decryption that fails on the way.
class ArbFilePieces final : public SamplePieces {
 public:
  explicit ArbFilePieces(const ArbContent& described);
  ~ArbFilePieces() override;
  ArbFilePieces(const ArbFilePieces&) = delete;
  ArbFilePieces& operator=(const ArbFilePieces&) = delete;

  std::size_t samples() const override { return count_; }
  void forEach(const PieceVisitor& visit) override;
  // Reads only the pieces of the range (the samples decrypt block by block).
  void forEachIn(std::size_t first, std::size_t count, const PieceVisitor& visit) override;

 private:
  std::string path_;
  std::size_t count_;
  std::unique_ptr<seqlink::ArbSampleStream> stream_;
};

}  // namespace arbsuite
