// The distribution of the instantaneous power I^2 + Q^2 of IQ samples, kept as a
// histogram fine enough to read CCDF levels to a small fraction of a decibel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace arbsuite::analysis {

class PowerDistribution {
 public:
  // iq: interleaved I, Q values; peakPower: their largest I^2 + Q^2 (from
  // measureLevels), which sets the bin width.
  PowerDistribution(std::span<const std::int16_t> iq, std::uint64_t peakPower);

  // The same, the samples handed over a piece at a time: add each piece (of whole
  // pairs), then finish() once, before any level is read.
  explicit PowerDistribution(std::uint64_t peakPower);
  void add(std::span<const std::int16_t> iq);
  void finish();

  std::size_t samples() const { return samples_; }

  // The power (LSB^2) of the m-th strongest sample, m = ceil(fraction x samples):
  // the level that the given fraction of the samples reach. fraction in (0, 1];
  // 0 without samples. Exact while the peak power is below 65,536 LSB^2; above,
  // the mean power of the samples in the m-th strongest sample's bin, which is
  // 1/65,536 of the peak power wide (exact again when they all have one power).
  double powerReachedBy(double fraction) const;

  // The fraction of the samples whose power is above power (LSB^2), the samples
  // of a bin taken as all at its mean power (exact while the peak power is below
  // 65,536 LSB^2).
  double fractionAbove(double power) const;

 private:
  void checkFinished() const;  // throws std::logic_error before finish()

  unsigned shift_ = 0;  // bin = power >> shift_
  std::size_t samples_ = 0;
  std::vector<std::uint64_t> above_;  // above_[b]: samples in the bins after b
  std::vector<std::uint32_t> counts_;
  std::vector<std::uint64_t> sums_;  // sums_[b]: total power of the samples in bin b
};

}  // namespace arbsuite::analysis
