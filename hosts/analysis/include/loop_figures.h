// How a stored waveform loops: the jump at its seam (last sample to first) and at the
// boundaries between segments, against the steps between neighbouring samples, and the
// spectral regrowth of the looped waveform. The seam figures are those of
// arbsuite::prep::seam and boundary, computed on the 16-bit codes in a few passes of
// bounded memory, so that the largest files are measured too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace arbsuite::analysis {

// The jump and its ratio to the 99th percentile (nearest rank) of the moduli of the
// steps between neighbouring samples. ratio is infinite when every step is 0 but the
// jump is not, 0 when both are.
struct SeamFigures {
  double jumpLsb = 0;
  double ratio = 0;
};

// Pairs iq (I0, Q0, I1, Q1, ...): from the last pair back to the first. None without
// samples.
std::optional<SeamFigures> seamOf(std::span<const std::int16_t> iq);

// From the last pair of before to the first of after, against the steps inside both.
// None when either is empty.
std::optional<SeamFigures> boundaryOf(std::span<const std::int16_t> before,
                                      std::span<const std::int16_t> after);

// The most pairs whose loop regrowth is measured: it takes the discrete Fourier
// transform of the whole period in double precision (16 bytes a pair, about 0.1 s a
// million pairs).
inline constexpr std::size_t kLoopRegrowthLimit = std::size_t{1} << 22;

// arbsuite::prep::loopRegrowthDb of the pairs; none without samples or for more than
// kLoopRegrowthLimit pairs.
std::optional<double> loopRegrowthOf(std::span<const std::int16_t> iq);
// The same of pairs the caller gives up: they are released once converted, so that
// the figure of a long waveform holds it once (as doubles, 16 bytes a pair).
std::optional<double> loopRegrowthOf(std::vector<std::int16_t>&& iq);

}  // namespace arbsuite::analysis
