// Level figures of IQ samples, measured in one pass: peak and mean power, DC
// offset and clipping.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace arbsuite::analysis {

struct Levels {
  std::size_t samples = 0;      // IQ pairs
  std::uint64_t peakPower = 0;  // largest I^2 + Q^2, LSB^2
  double meanPower = 0;         // mean of I^2 + Q^2, LSB^2 (0 without samples)
  double dcI = 0;               // mean of I, LSB
  double dcQ = 0;               // mean of Q, LSB
  std::size_t clipped = 0;      // pairs with I or Q on or beyond a rail (-8192, +8191)
};

// iq: interleaved I, Q values (a trailing odd value is ignored).
Levels measureLevels(std::span<const std::int16_t> iq);

}  // namespace arbsuite::analysis
