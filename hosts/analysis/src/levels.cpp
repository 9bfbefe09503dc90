// One pass over the samples with exact integer sums (a 2^30-pair waveform of
// full-scale samples stays far below 2^63), converted to means at the end.
#include "levels.h"

#include <algorithm>

#include "analysed_waveform.h"

namespace arbsuite::analysis {

Levels measureLevels(std::span<const std::int16_t> iq) {
  Levels levels;
  levels.samples = iq.size() / 2;
  std::int64_t sumI = 0;
  std::int64_t sumQ = 0;
  std::uint64_t sumPower = 0;
  std::uint32_t peak = 0;
  std::size_t clipped = 0;
  const std::int16_t* v = iq.data();
  for (std::size_t k = 0; k < levels.samples; ++k) {
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
  if (levels.samples > 0) {
    const auto n = static_cast<double>(levels.samples);
    levels.meanPower = static_cast<double>(sumPower) / n;
    levels.dcI = static_cast<double>(sumI) / n;
    levels.dcQ = static_cast<double>(sumQ) / n;
  }
  levels.peakPower = peak;
  levels.clipped = clipped;
  return levels;
}

}  // namespace arbsuite::analysis
