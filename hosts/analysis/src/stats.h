// The figures of `arbtool stats`: levels, crest factor, CCDF, DC offset, clipping
// and occupied bandwidth of a waveform and of each of its segments.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "waveform.h"

namespace analysis {

// The fractions of samples at which the CCDF is read (10 %, 1 %, 0.1 %, 0.01 %),
// and their names as JSON keys.
inline constexpr std::array<double, 4> kCcdfFractions = {0.1, 0.01, 0.001, 0.0001};
inline constexpr std::array<const char*, 4> kCcdfNames = {"10", "1", "0.1", "0.01"};

// The share of the power inside the occupied bandwidth.
inline constexpr double kOccupiedShare = 0.99;

// Figures that a waveform may not have are empty: decibels of a silent waveform,
// the DC offset of no samples, the bandwidth without a clock or with too few
// samples for a spectrum.
struct Stats {
  std::size_t samples = 0;
  std::optional<double> clockHz;
  std::optional<double> durationS;
  double peak = 0;                              // largest modulus, LSB
  std::optional<double> peakDbfs;               // 20 log10(peak / 8192)
  std::optional<double> rmsDbfs;                // 10 log10(mean power / 8192^2)
  std::optional<double> paprDb;                 // peak power over mean power
  std::array<std::optional<double>, 4> ccdfDb;  // dB above mean power, per kCcdfFractions
  std::optional<double> dcI;                    // LSB
  std::optional<double> dcQ;                    // LSB
  std::size_t clipped = 0;                      // pairs with I or Q on or beyond a rail
  std::optional<double> obwHz;                  // 99 % occupied bandwidth
};

struct SegmentStats {
  std::string name;
  Stats stats;
};

struct StatsReport {
  Stats whole;
  std::vector<SegmentStats> segments;  // one per segment of a multi-segment waveform
};

// Figures of samples at clockHz (none: unknown or mixed clocks).
Stats measure(std::span<const std::int16_t> iq, std::optional<double> clockHz);

// The whole waveform and each of its segments. The duration of a waveform whose
// segments play at different clocks is the sum of theirs.
StatsReport measureWaveform(const Waveform& waveform);

}  // namespace analysis
