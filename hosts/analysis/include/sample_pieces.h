// A waveform's samples handed out a piece at a time, in order, so that the exports
// and figures of the largest files run in bounded memory; the pieces come from a
// file reader above the analysis or from samples already in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

namespace arbsuite::analysis {

using PieceVisitor = std::function<void(std::span<const std::int16_t>)>;

class SamplePieces {
 public:
  virtual ~SamplePieces() = default;
  // IQ pairs in all.
  virtual std::size_t samples() const = 0;
  // Calls visit with every piece from the first pair on (interleaved I, Q; an even
  // number of values, valid during the call only); may be called again for another
  // pass. Throws what reading the samples throws, and what visit throws.
  virtual void forEach(const PieceVisitor& visit) = 0;
};

// Samples in memory as pieces of piecePairs pairs (the last one shorter).
class SpanPieces final : public SamplePieces {
 public:
  explicit SpanPieces(std::span<const std::int16_t> iq, std::size_t piecePairs = 1 << 20)
      : iq_(iq.first(iq.size() / 2 * 2)), piecePairs_(piecePairs > 0 ? piecePairs : 1) {}
  std::size_t samples() const override { return iq_.size() / 2; }
  void forEach(const PieceVisitor& visit) override {
    for (std::size_t first = 0; first < iq_.size(); first += 2 * piecePairs_) {
      visit(iq_.subspan(first, std::min(2 * piecePairs_, iq_.size() - first)));
    }
  }

 private:
  std::span<const std::int16_t> iq_;
  std::size_t piecePairs_;
};

}  // namespace arbsuite::analysis
