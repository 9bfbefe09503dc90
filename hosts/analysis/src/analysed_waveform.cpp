// Views of one segment and the clock that a segment table implies.
#include "analysed_waveform.h"

#include <stdexcept>

namespace arbsuite::analysis {

Waveform Waveform::segment(std::size_t index) const {
  if (index >= segments.size()) throw std::out_of_range("segment index out of range");
  const Segment& s = segments[index];
  if (s.start > samples() || s.count > samples() - s.start) {
    throw std::out_of_range("segment " + std::to_string(index) + " lies beyond the samples");
  }
  Waveform part;
  part.iq = iq.subspan(2 * s.start, 2 * s.count);
  if (s.clockHz > 0) part.clockHz = s.clockHz;
  return part;
}

std::optional<double> commonClock(const std::vector<Segment>& segments) {
  if (segments.empty()) return std::nullopt;
  const double clock = segments.front().clockHz;
  if (!(clock > 0)) return std::nullopt;
  for (const Segment& s : segments) {
    if (s.clockHz != clock) return std::nullopt;
  }
  return clock;
}

}  // namespace arbsuite::analysis
