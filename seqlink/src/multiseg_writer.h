// crtMultiSegArb: writes the version-2 (multi-segment) .arb file.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace seqlink {

// Signal energy of interleaved 16-bit values, summed exactly in integers (the
// "Value" of a multi-segment text header).
long double exactSignalEnergy(std::span<const std::int16_t> values);

// Writes bytes to path under a temporary name in the same folder and renames it
// over path once everything is written. Returns false (leaving no temporary file
// and any existing file at path untouched) when a step fails.
bool replaceFileAtomically(const std::string& path, std::span<const std::uint8_t> head,
                           std::span<const std::uint8_t> body);

}  // namespace seqlink
