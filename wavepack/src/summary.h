// The figures of a converted waveform and the summary line the program prints
// after its success message.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace arbsuite::wavepack {

// Level statistics of 16-bit samples I0, Q0, I1, Q1, ...
struct SampleStatistics {
  std::uint64_t pairs = 0;
  // Exact: I^2 + Q^2 is at most 2^31, and an .arb file holds fewer than 2^29 pairs.
  std::uint64_t peakSquared = 0;  // largest I^2 + Q^2
  std::uint64_t sumSquared = 0;   // sum of I^2 + Q^2

  void add(std::span<const std::int16_t> samples);
};

// Full scale of the levels in dBFS: the 14-bit range the instrument plays.
inline constexpr double kFullScale = 8192.0;

// One line, for example
//   "Summary: 301 samples, clock 2500 Hz, duration 0.1204 s, peak -1.84 dBFS,
//    RMS -4.93 dBFS, crest factor 3.09 dB, read as CSV"
// (on one line). Peak and RMS are of the envelope sqrt(I^2 + Q^2) relative to
// kFullScale; an all-zero waveform is "silent" instead of the three levels.
std::string summaryLine(const SampleStatistics& stats, std::int32_t clock,
                        const std::string& format);

}  // namespace arbsuite::wavepack
