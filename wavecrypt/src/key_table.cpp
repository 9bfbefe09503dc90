// Data-key draw from the library's enciphered key table (AfxgetRandKeyR5).
#include "key_table.h"

#include <cstring>

#include "enc_or_dec.h"
#include "private_rand.h"
#include "seed_counter.h"
#include "tables.h"
#include "wavecrypt.h"

namespace arbsuite::wavecrypt {
namespace {

constexpr std::uint32_t kCounterStepRange = 500;

}  // namespace

KeyDraw drawKeyIndex(std::uint32_t nowSeconds) {
  KeyDraw draw{};
  draw.seed = nowSeconds + seedCounter();
  advanceSeedCounter(1, false);
  seedRandom(draw.seed);
  const auto step = static_cast<std::uint32_t>(nextRandom()) % kCounterStepRange;
  advanceSeedCounter(step, true);
  draw.index = static_cast<std::uint32_t>(nextRandom()) % tables::kKeyTableEntries;
  return draw;
}

std::int32_t decipherTableKey(std::uint32_t index, std::uint8_t key[tables::kKeyBytes]) {
  std::uint8_t tableKey[tables::kKeyBytes];
  std::memcpy(tableKey, tables::kKeyTableKey, sizeof tableKey);
  std::uint8_t plain[tables::kKeyBytes] = {};
  std::uint32_t length = sizeof plain;
  std::int32_t status =
      encOrDec(kOperationRc2Variant, tables::kKeyTable[index % tables::kKeyTableEntries],
               tables::kKeyBytes, tableKey, plain, &length, kDirectionDecrypt);
  if (length != tables::kKeyBytes) status = kStatusRejected;
  std::memcpy(key, plain, sizeof plain);
  return status;
}

}  // namespace arbsuite::wavecrypt

extern "C" WAVECRYPT_API std::int32_t AfxgetRandKeyR5(void* key16) {
  if (key16 == nullptr) return arbsuite::wavecrypt::kStatusRejected;
  const arbsuite::wavecrypt::KeyDraw draw =
      arbsuite::wavecrypt::drawKeyIndex(arbsuite::wavecrypt::currentTimeSeconds());
  return arbsuite::wavecrypt::decipherTableKey(draw.index, static_cast<std::uint8_t*>(key16));
}
