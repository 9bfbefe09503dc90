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

// measureLevels of samples handed over a piece at a time (each of whole pairs): the
// same exact sums, so the same figures.
class LevelMeter {
 public:
  void add(std::span<const std::int16_t> iq);
  Levels levels() const;

 private:
  std::size_t samples_ = 0;
  std::int64_t sumI_ = 0;
  std::int64_t sumQ_ = 0;
  std::uint64_t sumPower_ = 0;
  std::uint32_t peak_ = 0;
  std::size_t clipped_ = 0;
};

}  // namespace arbsuite::analysis
