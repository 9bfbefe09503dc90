// What the analysis works on: the interleaved 16-bit IQ samples of a waveform, as
// .arb files store them, with their sample clock and, for a multi-segment file,
// its table of segments. The analysis never reads files itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace arbsuite::analysis {

// A full-scale modulus in LSB: 0 dBFS. The 14-bit samples lie within the rails
// kRailLow..kRailHigh; a sample on or beyond a rail has been clipped.
inline constexpr double kFullScale = 8192.0;
inline constexpr int kRailLow = -8192;
inline constexpr int kRailHigh = 8191;

// One segment of a multi-segment waveform: count pairs from pair start on.
struct Segment {
  std::string name;
  std::size_t start = 0;
  std::size_t count = 0;
  double clockHz = 0;
};

struct Waveform {
  std::span<const std::int16_t> iq;  // I0, Q0, I1, Q1, ...; an even number of values
  // The sample clock in hertz; none when the segments play at different clocks
  // (or the file gives no usable clock).
  std::optional<double> clockHz;
  std::vector<Segment> segments;  // empty for a single waveform

  std::size_t samples() const { return iq.size() / 2; }
  // Segment index as a waveform of its own (no segments, the segment's clock).
  // The index and the segment's range must lie within the waveform.
  Waveform segment(std::size_t index) const;
};

// The common clock of the segments, or none when they differ, or none is positive.
std::optional<double> commonClock(const std::vector<Segment>& segments);

}  // namespace arbsuite::analysis
