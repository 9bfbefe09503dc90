// The data-key draw: one of the 5000 keys of the enciphered key table, chosen by the
// private generator seeded from the time and the seed counter.
#pragma once

#include <cstdint>

namespace wavecrypt {

struct KeyDraw {
  std::uint32_t seed;   // seed given to the generator
  std::uint32_t index;  // key-table entry, 0..4999
};

// Seeds the generator with nowSeconds + seed counter, adds one and then (first
// value mod 500) to the counter, with its reset rule, and picks the entry from the
// second value.
KeyDraw drawKeyIndex(std::uint32_t nowSeconds);

// Deciphers key-table entry index into key (16 bytes). Returns 0, or -1 when the
// decipherment did not give 16 bytes.
std::int32_t decipherTableKey(std::uint32_t index, std::uint8_t key[16]);

}  // namespace wavecrypt
