// One pass over the samples with exact integer sums (a 2^30-pair waveform of
// full-scale samples stays far below 2^63), converted to means at the end.
#include "levels.h"

#include <algorithm>

#include "analysed_waveform.h"

namespace arbsuite::analysis {

void LevelMeter::add(std::span<const std::int16_t> iq) {
  const std::size_t pairs = iq.size() / 2;
  std::int64_t sumI = 0;
  std::int64_t sumQ = 0;
  std::uint64_t sumPower = 0;
  std::uint32_t peak = peak_;
  std::size_t clipped = 0;
  const std::int16_t* v = iq.data();
  for (std::size_t k = 0; k < pairs; ++k) {
    const std::int32_t i = v[2 * k];
    const std::int32_t q = v[2 * k + 1];
    // Each square is at most 2^30, so the sum fits an unsigned 32-bit number.
    const std::uint32_t power =
        static_cast<std::uint32_t>(i * i) + static_cast<std::uint32_t>(q * q);
    sumI += i;
    sumQ += q;
    sumPower += power;
    peak = std::max(peak, power);
    clipped += (i <= kRailLow || i >= kRailHigh || q <= kRailLow || q >= kRailHigh) ? 1 : 0;
  }
  samples_ += pairs;
  sumI_ += sumI;
  sumQ_ += sumQ;
  sumPower_ += sumPower;
  peak_ = peak;
  clipped_ += clipped;
}

Levels LevelMeter::levels() const {
  Levels levels;
  levels.samples = samples_;
  if (samples_ > 0) {
    const auto n = static_cast<double>(samples_);
    levels.meanPower = static_cast<double>(sumPower_) / n;
    levels.dcI = static_cast<double>(sumI_) / n;
    levels.dcQ = static_cast<double>(sumQ_) / n;
  }
  levels.peakPower = peak_;
  levels.clipped = clipped_;
  return levels;
}

Levels measureLevels(std::span<const std::int16_t> iq) {
  LevelMeter meter;
  meter.add(iq);
  return meter.levels();
}

}  // namespace arbsuite::analysis
