// RC5-32/12/16 over groups of independent blocks with AVX2 and AVX-512, for the buffer mode.
#pragma once

#include <cstddef>
#include <cstdint>

#include "rc5.h"

namespace arbsuite::wavecrypt {

inline constexpr std::size_t kRc5Avx2GroupBlocks = 8;
inline constexpr std::size_t kRc5Avx512GroupBlocks = 16;

// Encrypts or decrypts `groups` groups of whole 8-byte blocks (8 blocks a group with AVX2, 16
// with AVX-512) from input to output. A group is read completely before it is written, and the
// groups are visited from the last one down when `backwards`, so output may be the input or
// overlap it as in the buffer mode. Only for a processor that offers the instruction set
// (arbsuite::detectedSimdLevel); on other targets they are never called.
void rc5GroupsAvx2(const Rc5Schedule& schedule, const std::uint8_t* input, std::uint8_t* output,
                   std::size_t groups, bool encrypt, bool backwards);
void rc5GroupsAvx512(const Rc5Schedule& schedule, const std::uint8_t* input, std::uint8_t* output,
                     std::size_t groups, bool encrypt, bool backwards);

}  // namespace arbsuite::wavecrypt
