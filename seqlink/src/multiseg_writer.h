// crtMultiSegArb: writes the version-2 (multi-segment) .arb file.
#pragma once

#include <cstdint>
#include <span>

namespace seqlink {

// Signal energy of interleaved 16-bit values, summed exactly in integers (the
// "Value" of a multi-segment text header).
long double exactSignalEnergy(std::span<const std::int16_t> values);

}  // namespace seqlink
