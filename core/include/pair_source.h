// The IQ pairs of a conversion as the quantiser sees them: a sequence it walks
// block by block, twice (once for the peak, once to quantise). Readers that hold
// the pairs in memory hand out views of their storage; raw files are decoded block
// by block from the file, so they never need the whole input in memory.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "arb_format.h"
#include "arb_pack.h"

namespace arbsuite {

// Most IQ pairs an .arb file can hold: the packer's 32-bit size and count fields
// take at most kMaxPackedBytes bytes of samples.
inline constexpr std::uint64_t kMaxPairs = kMaxPackedBytes / arb::kBytesPerPair;

// One complex sample.
struct IqPair {
  double i = 0.0;
  double q = 0.0;
};

class PairSource {
 public:
  virtual ~PairSource() = default;

  // Number of pairs.
  virtual std::uint64_t size() const = 0;

  // Pairs from `start` on (start < size()): at least one and at most
  // scratch.size(), either a view of the source's own storage or `scratch` filled.
  // The view stays valid while the source lives. Several threads may read at once,
  // each with its own scratch. Throws the reader's failures.
  virtual std::span<const IqPair> read(std::uint64_t start, std::span<IqPair> scratch) = 0;

  // The largest modulus of the pairs, as peakModulus gives it over all of them, when
  // the source found it already (a reader that took it while the pairs were made).
  virtual std::optional<double> knownPeak() const { return std::nullopt; }
};

// Pairs the caller holds (not owned).
class PairSpan final : public PairSource {
 public:
  explicit PairSpan(std::span<const IqPair> pairs) : pairs_(pairs) {}
  std::uint64_t size() const override { return pairs_.size(); }
  std::span<const IqPair> read(std::uint64_t start, std::span<IqPair> scratch) override {
    const auto offset = static_cast<std::size_t>(start);
    return pairs_.subspan(offset, std::min(scratch.size(), pairs_.size() - offset));
  }

 private:
  std::span<const IqPair> pairs_;
};

// Pairs held in memory as consecutive pieces (one piece for a plain vector).
class MemoryPairs final : public PairSource {
 public:
  MemoryPairs() = default;
  explicit MemoryPairs(std::vector<IqPair> pairs);
  explicit MemoryPairs(std::vector<std::vector<IqPair>> pieces);

  // Appends a piece (empty pieces are dropped); the known peak, if any, is dropped.
  void append(std::vector<IqPair> piece);

  std::uint64_t size() const override { return size_; }
  std::span<const IqPair> read(std::uint64_t start, std::span<IqPair> scratch) override;

  // The peak modulus of all the pairs held now, found by their maker.
  void setKnownPeak(double peak) { knownPeak_ = peak; }
  std::optional<double> knownPeak() const override { return knownPeak_; }

  // The pairs as one vector (moved out when there is a single piece).
  std::vector<IqPair> release();

 private:
  std::vector<std::vector<IqPair>> pieces_;
  std::vector<std::uint64_t> starts_;  // index of the first pair of each piece
  std::uint64_t size_ = 0;
  std::optional<double> knownPeak_;
};

// Pair k is (I of pair k of `inPhase`, Q of pair k of `quadrature`) added, as the
// converter merges separate I and Q files. Both sources have the same size.
class MergedPairs final : public PairSource {
 public:
  MergedPairs(std::unique_ptr<PairSource> inPhase, std::unique_ptr<PairSource> quadrature);
  std::uint64_t size() const override { return inPhase_->size(); }
  std::span<const IqPair> read(std::uint64_t start, std::span<IqPair> scratch) override;

 private:
  std::unique_ptr<PairSource> inPhase_;
  std::unique_ptr<PairSource> quadrature_;
};

}  // namespace arbsuite

// The readers and the program of wavepack name these in their own namespace.
namespace arbsuite::wavepack {
using arbsuite::IqPair;
using arbsuite::kMaxPairs;
using arbsuite::MemoryPairs;
using arbsuite::MergedPairs;
using arbsuite::PairSource;
using arbsuite::PairSpan;
}  // namespace arbsuite::wavepack
