// Linear congruential generator with the multiplier, increment and output bits of
// the classic C run-time rand: state = state * 214013 + 2531011, value = bits 16..30.
#include "private_rand.h"

namespace arbsuite::wavecrypt {
namespace {

std::uint32_t gRandomState = 1;  // as after srand(1), the C library's initial state

}  // namespace

void seedRandom(std::uint32_t seed) { gRandomState = seed; }

int nextRandom() {
  gRandomState = gRandomState * 214013u + 2531011u;
  return static_cast<int>((gRandomState >> 16) & 0x7FFFu);
}

}  // namespace arbsuite::wavecrypt
