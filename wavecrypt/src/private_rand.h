// The key draw's and the wrap's own pseudo-random generator, with the contract of
// the C library's srand/rand (seeded per draw, values 0..32767). It is private so
// that the host's rand sequence is never disturbed.
#pragma once

#include <cstdint>

namespace arbsuite::wavecrypt {

inline constexpr int kRandomMax = 32767;

void seedRandom(std::uint32_t seed);

// Next value, 0..kRandomMax.
int nextRandom();

}  // namespace arbsuite::wavecrypt
