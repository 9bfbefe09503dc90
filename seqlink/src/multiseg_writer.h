// crtMultiSegArb: writes the version-2 (multi-segment) .arb file.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace seqlink {

// Signal energy of interleaved 16-bit values, summed exactly in integers (the
// "Value" of a multi-segment text header).
long double exactSignalEnergy(std::span<const std::int16_t> values);

// Writes head and body to path under a temporary name in the same folder and
// renames it over path once everything is written. A symbolic link at path is
// followed (its target is replaced); a replaced file keeps its permission bits, a
// new one gets 0666 less the umask. Returns false (leaving no temporary file and
// any existing file at path untouched) when a step fails.
bool replaceFileAtomically(const std::string& path, std::span<const std::uint8_t> head,
                           std::span<const std::uint8_t> body);

}  // namespace seqlink
