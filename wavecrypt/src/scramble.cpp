// Scramble and unscramble of the 84-byte wrapped key.
#include "scramble.h"

#include "tables.h"

namespace arbsuite::wavecrypt {
namespace {

std::uint8_t rotateRight(std::uint8_t value, int count) {
  count &= 7;
  return static_cast<std::uint8_t>((value >> count) | (value << ((8 - count) & 7)));
}

std::uint8_t rotateLeft(std::uint8_t value, int count) {
  count &= 7;
  return static_cast<std::uint8_t>((value << count) | (value >> ((8 - count) & 7)));
}

}  // namespace

ScrambleTables builtInScramble() {
  return {tables::kScramblePermutation, tables::kScrambleInverse, tables::kScrambleRotation};
}

void scramble(const ScrambleTables& tables, const std::uint8_t input[kScrambleBytes],
              std::uint8_t output[kScrambleBytes]) {
  for (std::size_t i = 0; i < kScrambleBytes; ++i) {
    const std::size_t source = tables.permutation[i] % kScrambleBytes;
    output[i] = rotateRight(input[source], tables.rotation[source]);
  }
}

void unscramble(const ScrambleTables& tables, const std::uint8_t input[kScrambleBytes],
                std::uint8_t output[kScrambleBytes]) {
  for (std::size_t i = 0; i < kScrambleBytes; ++i) {
    output[i] = rotateLeft(input[tables.inverse[i] % kScrambleBytes], tables.rotation[i]);
  }
}

}  // namespace arbsuite::wavecrypt
