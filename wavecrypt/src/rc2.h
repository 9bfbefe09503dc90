// The RC2 block cipher (RFC 2268) over a caller-given key-expansion table: the
// library's RC2 variant is RC2 with its own table in place of the RFC's PITABLE.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace arbsuite::wavecrypt {

// Key length and effective key bits of the library's variant.
inline constexpr std::size_t kRc2VariantKeyBytes = 16;
inline constexpr unsigned kRc2VariantEffectiveBits = 1024;

// Expanded key: 64 round words of 16 bits.
struct Rc2Schedule {
  std::array<std::uint16_t, 64> k;
};

// RFC 2268 key expansion, effective-length reduction step included, with every
// table lookup made in table (256 bytes). keyLength 1..128, effectiveBits 1..1024;
// throws std::invalid_argument outside those ranges.
Rc2Schedule rc2ExpandKey(const std::uint8_t* key, std::size_t keyLength, unsigned effectiveBits,
                         const std::uint8_t table[256]);

// One 8-byte block in place (four little-endian 16-bit words).
void rc2EncryptBlock(const Rc2Schedule& schedule, std::uint8_t block[8]);
void rc2DecryptBlock(const Rc2Schedule& schedule, std::uint8_t block[8]);

// The buffer mode of the variant: a 16-byte key at 1024 effective bits, expanded
// once over table; otherwise the same contract as rc5Buffer.
void rc2VariantBuffer(const std::uint8_t* input, std::uint32_t n,
                      const std::uint8_t key[kRc2VariantKeyBytes], const std::uint8_t table[256],
                      std::uint8_t* output, std::uint32_t* outputLength, bool encrypt);

}  // namespace arbsuite::wavecrypt
