// The figures of `arbtool stats`: levels, crest factor, CCDF, DC offset, clipping,
// occupied bandwidth and how the waveform loops, of a waveform and of each of its
// segments, and the jumps at the boundaries between segments.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "analysed_waveform.h"

namespace arbsuite::analysis {

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
  // The jump from the last sample to the first, LSB, and its ratio to the 99th
  // percentile of the steps between neighbours (infinite when every step is 0).
  std::optional<double> seamLsb;
  std::optional<double> seamRatio;
  // Power outside the 99 % band of the looped waveform's periodic spectrum against that
  // of a Welch spectrum of its inside, dB (none above kLoopRegrowthLimit samples).
  std::optional<double> loopRegrowthDb;
};

struct SegmentStats {
  std::string name;
  Stats stats;
};

// The jump from the last sample of segment `from` to the first of segment from + 1,
// against the steps inside both.
struct BoundaryStats {
  std::size_t from = 0;
  double seamLsb = 0;
  double seamRatio = 0;  // infinite when every step inside both is 0
};

struct StatsReport {
  Stats whole;
  std::vector<SegmentStats> segments;     // one per segment of a multi-segment waveform
  std::vector<BoundaryStats> boundaries;  // one per pair of neighbouring segments
};

// Figures of samples at clockHz (none: unknown or mixed clocks).
Stats measure(std::span<const std::int16_t> iq, std::optional<double> clockHz);

// The whole waveform and each of its segments. The duration of a waveform whose
// segments play at different clocks is the sum of theirs.
StatsReport measureWaveform(const Waveform& waveform);

}  // namespace arbsuite::analysis
