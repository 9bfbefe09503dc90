// The process-wide seed counter shared by the key draw and the key wrap: added to
// the calendar time so that two draws or wraps in the same second use different
// seeds. Not locked; the library is called from one thread at a time.
#pragma once

#include <cstdint>

namespace arbsuite::wavecrypt {

// A counter at or above this value after an update starts again at 0.
inline constexpr std::uint32_t kSeedCounterLimit = 0xFFFFFE0Bu;

std::uint32_t seedCounter();
void setSeedCounter(std::uint32_t value);

// Adds delta (modulo 2^32); with applyLimit, a result of kSeedCounterLimit or more
// becomes 0.
void advanceSeedCounter(std::uint32_t delta, bool applyLimit);

// The calendar time in seconds, truncated to 32 bits.
std::uint32_t currentTimeSeconds();

}  // namespace arbsuite::wavecrypt
