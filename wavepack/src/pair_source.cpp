// Pairs held in memory, and separate I and Q sources merged pair by pair.
#include "pair_source.h"

#include <algorithm>
#include <stdexcept>

namespace wavepack {

MemoryPairs::MemoryPairs(std::vector<IqPair> pairs) { append(std::move(pairs)); }

MemoryPairs::MemoryPairs(std::vector<std::vector<IqPair>> pieces) {
  for (auto& piece : pieces) append(std::move(piece));
}

void MemoryPairs::append(std::vector<IqPair> piece) {
  if (piece.empty()) return;
  starts_.push_back(size_);
  size_ += piece.size();
  pieces_.push_back(std::move(piece));
}

std::span<const IqPair> MemoryPairs::read(std::uint64_t start, std::span<IqPair> scratch) {
  if (start >= size_ || scratch.empty()) throw std::out_of_range("read beyond the pairs");
  // Reads go in order, so the piece is nearly always the cursor's or the next one.
  if (cursor_ >= starts_.size() || start < starts_[cursor_] ||
      start >= starts_[cursor_] + pieces_[cursor_].size()) {
    cursor_ = static_cast<std::size_t>(std::upper_bound(starts_.begin(), starts_.end(), start) -
                                       starts_.begin() - 1);
  }
  const std::vector<IqPair>& piece = pieces_[cursor_];
  const auto offset = static_cast<std::size_t>(start - starts_[cursor_]);
  const std::size_t n = std::min(scratch.size(), piece.size() - offset);
  return std::span<const IqPair>(piece).subspan(offset, n);
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
  cursor_ = 0;
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
  if (other_.size() < first.size()) other_.resize(first.size());
  const std::span<const IqPair> second =
      quadrature_->read(start, std::span(other_).first(first.size()));
  const std::size_t n = second.size();  // at most first.size()
  // `first` may be a view of the I source's storage: the sum goes to scratch.
  for (std::size_t k = 0; k < n; ++k) {
    scratch[k].i = first[k].i + second[k].i;
    scratch[k].q = first[k].q + second[k].q;
  }
  return scratch.first(n);
}

}  // namespace wavepack
