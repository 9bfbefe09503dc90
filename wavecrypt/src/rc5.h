// RC5-32/12/16: the cipher of the .arb sample data.
#pragma once

#include <array>
#include <cstdint>

#include "simd_level.h"

namespace arbsuite::wavecrypt {

inline constexpr int kRc5Rounds = 12;
inline constexpr int kRc5KeyBytes = 16;

// Expanded key: the 2 r + 2 = 26 round words S[0..25].
struct Rc5Schedule {
  std::array<std::uint32_t, 2 * kRc5Rounds + 2> s;
};

Rc5Schedule rc5ExpandKey(const std::uint8_t key[kRc5KeyBytes]);

// One 8-byte block in place (two little-endian 32-bit words A, B).
void rc5EncryptBlock(const Rc5Schedule& schedule, std::uint8_t block[8]);
void rc5DecryptBlock(const Rc5Schedule& schedule, std::uint8_t block[8]);

// The buffer mode: expands the key once, then processes every 8-byte block of the
// n input bytes (the last one zero-padded) into output, which must hold n rounded
// up to a multiple of 8 and may be the input or overlap it (the result is that of a
// copy of the input). Sets *outputLength (when non-null) to that rounded length.
// Runs the widest kernel the processor offers (detected once); every kernel gives
// the same bytes.
void rc5Buffer(const std::uint8_t* input, std::uint32_t n, const std::uint8_t key[kRc5KeyBytes],
               std::uint8_t* output, std::uint32_t* outputLength, bool encrypt);

// rc5Buffer with the kernels of `level` at most (lowered to what the processor offers):
// AVX-512 takes 16 blocks at a time, AVX2 8, the portable code 2, and the block
// functions above the last whole block and the tail. For the tests and benchmarks that
// compare the paths.
void rc5BufferAtLevel(arbsuite::SimdLevel level, const std::uint8_t* input, std::uint32_t n,
                      const std::uint8_t key[kRc5KeyBytes], std::uint8_t* output,
                      std::uint32_t* outputLength, bool encrypt);

}  // namespace arbsuite::wavecrypt
