// Signal energy of 16-bit samples (the "Value" of the text headers) summed exactly
// in integers: the writer's sum over all samples and the level scaling's sum over
// a rescaled segment.
#pragma once

#include <cstdint>
#include <span>

namespace seqlink {

// The sum of v^2 over the values, exact (v^2 <= 2^30, so 2^33 values fit in 64 bits).
std::uint64_t sumOfSquares(std::span<const std::int16_t> values);

// arb::signalEnergy(values) (the sum of (v / 8192)^2 in doubles, in order), given
// sumOfSquares(values): every term is v^2 x 2^-26 exactly, so while the whole sum
// stays below 2^53 every partial sum is a multiple of 2^-26 below 2^27, which a
// double holds exactly, and the result is sum x 2^-26 whatever the order. Larger
// sums round on the way and are summed again in order.
double orderedSignalEnergy(std::uint64_t sum, std::span<const std::int16_t> values);

}  // namespace seqlink
