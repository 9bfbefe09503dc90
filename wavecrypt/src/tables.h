// The library's built-in secret material, generated once by tools/wavecrypt and
// committed as source (generated/*.cpp). Sizes and forms are fixed here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "wavecrypt.h"

namespace arbsuite::wavecrypt::tables {

inline constexpr std::size_t kKeyTableEntries = 5000;
inline constexpr std::size_t kKeyBytes = WAVECRYPT_KEY_BYTES;  // the stored data keys
inline constexpr std::size_t kScalarEntries = 500;
inline constexpr std::size_t kScrambleBytes = WAVECRYPT_WRAPPED_BYTES;  // the wrapped key
inline constexpr std::size_t kStoredDigitSlots = 8;

// A constant multiple-precision integer: 28-bit digits, least significant first,
// of which the first `used` are significant.
struct StoredInteger {
  std::uint32_t used;
  std::uint32_t digits[kStoredDigitSlots];
};

// Key of the RC2 variant under which the key table is enciphered.
extern const std::uint8_t kKeyTableKey[kKeyBytes];
// The RC2 variant's key-expansion table (not a permutation).
extern const std::uint8_t kRc2SubstitutionTable[256];
// 5000 candidate data keys, each enciphered with the RC2 variant under kKeyTableKey.
extern const std::uint8_t kKeyTable[kKeyTableEntries][kKeyBytes];

// Curve y^2 = x^3 + A x + b over the integers modulo p; B is stored with the
// parameters but enters no formula. Q = K G.
extern const StoredInteger kCurveP;
extern const StoredInteger kCurveA;
extern const StoredInteger kCurveB;
extern const StoredInteger kBaseX;
extern const StoredInteger kBaseY;
extern const StoredInteger kPublicX;
extern const StoredInteger kPublicY;
extern const StoredInteger kPrivateKey;
// Ephemeral scalars of the wrap, 100-bit numbers.
extern const StoredInteger kEphemeralScalars[kScalarEntries];

// Byte scramble of the wrapped key: a permutation of the 84 positions, its inverse
// and the right-rotation count (1..6) of each byte.
extern const std::uint8_t kScramblePermutation[kScrambleBytes];
extern const std::uint8_t kScrambleInverse[kScrambleBytes];
extern const std::uint8_t kScrambleRotation[kScrambleBytes];

}  // namespace arbsuite::wavecrypt::tables
