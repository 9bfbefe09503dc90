// The middle step of a multi-segment build: joins the configured segments'
// samples, applying the clock-rate and level modes, into the host's buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace seqlink {

// Levels at or below this are treated as silence; also the tolerance of "same level".
inline constexpr double kLevelFloor = 0.00001;

// Fills pairs IQ pairs at destination from the segment name ("Blank" or an .arb
// file) and, when a target RMS level is given, rescales them to it and updates
// energy (the segment's signal energy; on entry the configured one). A segment
// without pairs has no level and is left as it is. Returns SEQLINK_OK or a status of
// the sample reader (readSamples).
int loadSegmentSamples(std::int16_t* destination, std::size_t pairs, std::optional<double> target,
                       double& energy, const std::string& name);

}  // namespace seqlink
