// Elliptic-curve ElGamal wrap of a 16-byte data key into 84 bytes and the unwrap
// with the built-in private key. Wire form: the coordinates C2.x, C2.y, C1.x, C1.y,
// each as 28-bit digit groups of 4 big-endian bytes ended by 0xFF, zero-padded to
// 84 bytes, then scrambled.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bigint.h"
#include "ec_curve.h"
#include "scramble.h"
#include "tables.h"
#include "wavecrypt.h"

namespace arbsuite::wavecrypt {

inline constexpr std::size_t kDataKeyBytes = WAVECRYPT_KEY_BYTES;
inline constexpr std::size_t kWrappedBytes = WAVECRYPT_WRAPPED_BYTES;
// Bytes of the key taken into the first and the second message integer.
inline constexpr std::size_t kFirstPartBytes = 10;
inline constexpr std::size_t kSecondPartBytes = kDataKeyBytes - kFirstPartBytes;
// Appended to each message part so that trailing zero and 0xFF bytes survive.
inline constexpr std::uint8_t kMessageTerminator = 0xFF;
// Added to the seed of the ephemeral-scalar choice.
inline constexpr std::uint32_t kWrapSeedOffset = 987;

struct WrapParameters {
  Curve curve;
  Point base;         // G
  Point publicKey;    // Q = K G
  BigInt privateKey;  // K
};

BigInt toBigInt(const tables::StoredInteger& stored);

// The built-in curve, base point and key pair (built on first use).
const WrapParameters& builtInWrapParameters();

// Seeds the private generator with nowSeconds + seed counter + 987, advances the
// counter by one (with its reset rule) and returns the scalar-table index 0..499.
std::uint32_t chooseEphemeralIndex(std::uint32_t nowSeconds);

// Serialises a non-negative value at out: its 28-bit digit groups, least
// significant first, 4 big-endian bytes each, then 0xFF. Returns the bytes written;
// throws std::length_error when they would exceed capacity.
std::size_t serialiseInteger(const BigInt& value, std::uint8_t* out, std::size_t capacity);

// Reads one serialised integer from buffer[position..length): 4-byte groups until a
// group that starts with 0xFF (consumed) or the end of the buffer; a group cut off
// by the end reads as if zero-padded. Advances position.
BigInt parseInteger(const std::uint8_t* buffer, std::size_t length, std::size_t& position);

// Curve step of the wrap with ephemeral scalar k: ciphertext (C2.x, C2.y, C1.x,
// C1.y) serialised into the zero-filled 84 bytes. Returns the bytes used (at most 84).
std::size_t encryptDataKey(const WrapParameters& parameters, const BigInt& k,
                           const std::uint8_t key[kDataKeyBytes],
                           std::uint8_t ciphertext[kWrappedBytes]);

// Curve step of the unwrap. Returns 16 with the key written, or 0 (nothing written)
// when C2.x is zero.
std::uint32_t decryptDataKey(const WrapParameters& parameters,
                             const std::uint8_t ciphertext[kWrappedBytes],
                             std::uint8_t key[kDataKeyBytes]);

// Whole wrap with the built-in parameters and scramble, the ephemeral scalar chosen
// from nowSeconds and the seed counter.
void wrapDataKey(const std::uint8_t key[kDataKeyBytes], std::uint8_t wrapped[kWrappedBytes],
                 std::uint32_t nowSeconds);

// Whole unwrap; returns the bytes produced (16, or 0 when C2.x is zero).
std::uint32_t unwrapDataKey(const std::uint8_t wrapped[kWrappedBytes],
                            std::uint8_t key[kDataKeyBytes]);

}  // namespace arbsuite::wavecrypt
