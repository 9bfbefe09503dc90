// Pairs held in memory, and separate I and Q sources merged pair by pair.
#include "pair_source.h"

#include <algorithm>
#include <stdexcept>

namespace arbsuite {

MemoryPairs::MemoryPairs(std::vector<IqPair> pairs) { append(std::move(pairs)); }

MemoryPairs::MemoryPairs(std::vector<std::vector<IqPair>> pieces) {
  for (auto& piece : pieces) append(std::move(piece));
}

void MemoryPairs::append(std::vector<IqPair> piece) {
  if (piece.empty()) return;
  knownPeak_.reset();
  starts_.push_back(size_);
  size_ += piece.size();
  pieces_.push_back(std::move(piece));
}

std::span<const IqPair> MemoryPairs::read(std::uint64_t start, std::span<IqPair> scratch) {
  if (start >= size_ || scratch.empty()) throw std::out_of_range("read beyond the pairs");
  const auto piece = static_cast<std::size_t>(
      std::upper_bound(starts_.begin(), starts_.end(), start) - starts_.begin() - 1);
  const std::vector<IqPair>& pairs = pieces_[piece];
  const auto offset = static_cast<std::size_t>(start - starts_[piece]);
  const std::size_t n = std::min(scratch.size(), pairs.size() - offset);
  return std::span<const IqPair>(pairs).subspan(offset, n);
}

std::vector<IqPair> MemoryPairs::release() {
  std::vector<IqPair> all;
  if (pieces_.size() == 1) {
    all = std::move(pieces_.front());
  } else {
    all.reserve(static_cast<std::size_t>(size_));
    for (auto& piece : pieces_) {
      all.insert(all.end(), piece.begin(), piece.end());
      std::vector<IqPair>().swap(piece);  // the copy replaces it piece by piece
    }
  }
  pieces_.clear();
  starts_.clear();
  size_ = 0;
  knownPeak_.reset();
  return all;
}

MergedPairs::MergedPairs(std::unique_ptr<PairSource> inPhase,
                         std::unique_ptr<PairSource> quadrature)
    : inPhase_(std::move(inPhase)), quadrature_(std::move(quadrature)) {
  if (inPhase_->size() != quadrature_->size())
    throw std::logic_error("merged sources of different sizes");
}

std::span<const IqPair> MergedPairs::read(std::uint64_t start, std::span<IqPair> scratch) {
  const std::span<const IqPair> first = inPhase_->read(start, scratch);
  thread_local std::vector<IqPair> other;  // each reading thread has its own
  if (other.size() < first.size()) other.resize(first.size());
  const std::span<const IqPair> second =
      quadrature_->read(start, std::span(other).first(first.size()));
  const std::size_t n = second.size();  // at most first.size()
  // `first` may be a view of the I source's storage: the sum goes to scratch.
  for (std::size_t k = 0; k < n; ++k) {
    scratch[k].i = first[k].i + second[k].i;
    scratch[k].q = first[k].q + second[k].q;
  }
  return scratch.first(n);
}

}  // namespace arbsuite
