// Seed counter and clock of the key draw and the key wrap.
#include "seed_counter.h"

#include <ctime>

namespace arbsuite::wavecrypt {
namespace {

std::uint32_t gSeedCounter = 0;

}  // namespace

std::uint32_t seedCounter() { return gSeedCounter; }

void setSeedCounter(std::uint32_t value) { gSeedCounter = value; }

void advanceSeedCounter(std::uint32_t delta, bool applyLimit) {
  gSeedCounter += delta;
  if (applyLimit && gSeedCounter >= kSeedCounterLimit) gSeedCounter = 0;
}

std::uint32_t currentTimeSeconds() { return static_cast<std::uint32_t>(std::time(nullptr)); }

}  // namespace arbsuite::wavecrypt
