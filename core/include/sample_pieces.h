// A waveform's samples handed out a piece at a time, in order, so that the exports
// and figures of the largest files run in bounded memory; the pieces come from a
// file reader above the analysis or from samples already in memory.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

namespace arbsuite {

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
  // forEach of the pairs first ... first + count - 1 only (within samples()). This
  // one reads from the first pair on and hands out the range's parts; a source that
  // can start anywhere does better.
  virtual void forEachIn(std::size_t first, std::size_t count, const PieceVisitor& visit) {
    std::size_t position = 0;
    forEach([&](std::span<const std::int16_t> piece) {
      const std::size_t pairs = piece.size() / 2;
      const std::size_t from = std::max(first, position);
      const std::size_t to = std::min(first + count, position + pairs);
      if (from < to) visit(piece.subspan(2 * (from - position), 2 * (to - from)));
      position += pairs;
    });
  }
};

// The pairs first ... first + count - 1 of another source (within its samples()).
class RangePieces final : public SamplePieces {
 public:
  RangePieces(SamplePieces& whole, std::size_t first, std::size_t count)
      : whole_(whole), first_(first), count_(count) {}
  std::size_t samples() const override { return count_; }
  void forEach(const PieceVisitor& visit) override { whole_.forEachIn(first_, count_, visit); }

 private:
  SamplePieces& whole_;
  std::size_t first_;
  std::size_t count_;
};

// Samples in memory as pieces of piecePairs pairs (the last one shorter).
class SpanPieces final : public SamplePieces {
 public:
  explicit SpanPieces(std::span<const std::int16_t> iq, std::size_t piecePairs = 1 << 20)
      : iq_(iq.first(iq.size() / 2 * 2)), piecePairs_(piecePairs > 0 ? piecePairs : 1) {}
  std::size_t samples() const override { return iq_.size() / 2; }
  void forEach(const PieceVisitor& visit) override { forEachIn(0, samples(), visit); }
  void forEachIn(std::size_t first, std::size_t count, const PieceVisitor& visit) override {
    const std::span<const std::int16_t> range = iq_.subspan(2 * first, 2 * count);
    for (std::size_t at = 0; at < range.size(); at += 2 * piecePairs_) {
      visit(range.subspan(at, std::min(2 * piecePairs_, range.size() - at)));
    }
  }

 private:
  std::span<const std::int16_t> iq_;
  std::size_t piecePairs_;
};

}  // namespace arbsuite
