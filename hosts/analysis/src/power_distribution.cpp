// Histogram of I^2 + Q^2 with at most 65,536 bins scaled to the peak power: one
// pass over the samples, then every level is read from the counts.
#include "power_distribution.h"

#include <bit>
#include <cmath>
#include <stdexcept>

namespace arbsuite::analysis {
namespace {

constexpr unsigned kBinBits = 16;  // at most 2^16 bins

}  // namespace

PowerDistribution::PowerDistribution(std::span<const std::int16_t> iq, std::uint64_t peakPower)
    : PowerDistribution(peakPower) {
  add(iq);
  finish();
}

PowerDistribution::PowerDistribution(std::uint64_t peakPower) {
  const unsigned width = static_cast<unsigned>(std::bit_width(peakPower));
  shift_ = width > kBinBits ? width - kBinBits : 0;
  const std::size_t bins = static_cast<std::size_t>(peakPower >> shift_) + 1;
  counts_.assign(bins, 0);
  sums_.assign(bins, 0);
}

void PowerDistribution::add(std::span<const std::int16_t> iq) {
  const std::size_t pairs = iq.size() / 2;
  const std::size_t bins = counts_.size();
  const std::int16_t* v = iq.data();
  for (std::size_t k = 0; k < pairs; ++k) {
    const std::int32_t i = v[2 * k];
    const std::int32_t q = v[2 * k + 1];
    const std::uint32_t power =
        static_cast<std::uint32_t>(i * i) + static_cast<std::uint32_t>(q * q);
    const std::size_t bin = power >> shift_;
    // A caller's peak below the true one would index past the end; count such
    // samples in the last bin instead.
    const std::size_t b = bin < bins ? bin : bins - 1;
    ++counts_[b];
    sums_[b] += power;
  }
  samples_ += pairs;
}

void PowerDistribution::checkFinished() const {
  if (above_.size() != counts_.size()) {
    throw std::logic_error("a power distribution read before its samples were finished");
  }
}

void PowerDistribution::finish() {
  const std::size_t bins = counts_.size();
  above_.assign(bins, 0);
  std::uint64_t running = 0;
  for (std::size_t b = bins; b-- > 0;) {
    above_[b] = running;
    running += counts_[b];
  }
}

double PowerDistribution::powerReachedBy(double fraction) const {
  checkFinished();
  if (samples_ == 0) return 0;
  const double wanted = std::ceil(fraction * static_cast<double>(samples_) - 1e-9);
  const std::uint64_t m = wanted < 1 ? 1 : static_cast<std::uint64_t>(wanted);
  for (std::size_t b = counts_.size(); b-- > 0;) {
    if (above_[b] + counts_[b] >= m) {
      return static_cast<double>(sums_[b]) / static_cast<double>(counts_[b]);
    }
  }
  return 0;
}

double PowerDistribution::fractionAbove(double power) const {
  checkFinished();
  if (samples_ == 0) return 0;
  if (power < 0) return 1;
  const double scaled = std::ldexp(power, -static_cast<int>(shift_));
  if (scaled >= static_cast<double>(counts_.size())) return 0;
  const auto bin = static_cast<std::size_t>(scaled);
  // The samples of a bin count as all at its mean power, as powerReachedBy has them.
  std::uint64_t count = above_[bin];
  if (counts_[bin] > 0 &&
      power * static_cast<double>(counts_[bin]) < static_cast<double>(sums_[bin])) {
    count += counts_[bin];
  }
  return static_cast<double>(count) / static_cast<double>(samples_);
}

}  // namespace arbsuite::analysis
