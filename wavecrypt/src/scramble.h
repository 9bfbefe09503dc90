// The fixed byte scramble of a wrapped key: per-byte right rotation, then a
// permutation of the 84 positions.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tables.h"

namespace arbsuite::wavecrypt {

using tables::kScrambleBytes;

struct ScrambleTables {
  const std::uint8_t* permutation;  // P, 84 entries
  const std::uint8_t* inverse;      // P^-1, 84 entries
  const std::uint8_t* rotation;     // R, 84 counts of 1..6
};

// The library's built-in tables.
ScrambleTables builtInScramble();

// output[i] = input[P[i]] rotated right by R[P[i]] bits. output must not alias input.
void scramble(const ScrambleTables& tables, const std::uint8_t input[kScrambleBytes],
              std::uint8_t output[kScrambleBytes]);

// The inverse: output[i] = input[P^-1[i]] rotated left by R[i] bits.
void unscramble(const ScrambleTables& tables, const std::uint8_t input[kScrambleBytes],
                std::uint8_t output[kScrambleBytes]);

}  // namespace arbsuite::wavecrypt
