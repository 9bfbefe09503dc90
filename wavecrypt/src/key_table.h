// The data-key draw: one of the 5000 keys of the enciphered key table, chosen by the
// private generator seeded from the time and the seed counter.
#pragma once

#include <cstdint>

#include "tables.h"

namespace arbsuite::wavecrypt {

struct KeyDraw {
  std::uint32_t seed;   // seed given to the generator
  std::uint32_t index;  // key-table entry, 0..4999
};

// Seeds the generator with nowSeconds + seed counter, adds one and then (first
// value mod 500) to the counter, with its reset rule, and picks the entry from the
// second value.
KeyDraw drawKeyIndex(std::uint32_t nowSeconds);

// Deciphers key-table entry index into key (tables::kKeyBytes). Returns kStatusOk,
// or kStatusRejected when the decipherment did not give a whole key.
std::int32_t decipherTableKey(std::uint32_t index, std::uint8_t key[tables::kKeyBytes]);

}  // namespace arbsuite::wavecrypt
