// EncOrDecOpt: argument checks and dispatch to the RC2 variant, RC5 and the key
// wrap. Every check runs before any output byte is written.
#include "enc_or_dec.h"

#include <cstring>

#include "block_mode.h"
#include "key_wrap.h"
#include "rc2.h"
#include "rc5.h"
#include "seed_counter.h"
#include "tables.h"
#include "wavecrypt.h"

namespace arbsuite::wavecrypt {
namespace {

// The cipher keys are the data keys the library hands out.
static_assert(kRc5KeyBytes == WAVECRYPT_KEY_BYTES && kRc2VariantKeyBytes == WAVECRYPT_KEY_BYTES);

std::int32_t runBlockCipher(std::int32_t operation, const std::uint8_t* input, std::uint32_t n,
                            const std::uint8_t* key, std::uint8_t* output,
                            std::uint32_t* outputLength, std::uint8_t direction) {
  if (input == nullptr || key == nullptr || output == nullptr || outputLength == nullptr) {
    return kStatusRejected;
  }
  if (*outputLength < paddedLength(n)) return kStatusRejected;
  const bool encrypt = direction == kDirectionEncrypt;
  if (operation == kOperationRc5) {
    rc5Buffer(input, n, key, output, outputLength, encrypt);
  } else {
    rc2VariantBuffer(input, n, key, tables::kRc2SubstitutionTable, output, outputLength, encrypt);
  }
  return kStatusOk;
}

std::int32_t runKeyWrap(const std::uint8_t* input, std::uint32_t n, std::uint8_t* output,
                        std::uint32_t* outputLength, std::uint8_t direction) {
  if (input == nullptr || output == nullptr || outputLength == nullptr) return kStatusRejected;
  if (direction == kDirectionDecrypt) {
    if (n != kWrappedBytes || *outputLength < kDataKeyBytes) return kStatusRejected;
    std::uint8_t key[kDataKeyBytes];
    const std::uint32_t produced = unwrapDataKey(input, key);
    if (produced > 0) std::memcpy(output, key, produced);
    *outputLength = produced;
    return kStatusOk;
  }
  if (direction == kDirectionEncrypt) {
    if (n != kDataKeyBytes || *outputLength < kWrappedBytes) return kStatusRejected;
    std::uint8_t wrapped[kWrappedBytes];
    wrapDataKey(input, wrapped, currentTimeSeconds());
    std::memcpy(output, wrapped, kWrappedBytes);
    *outputLength = kWrappedBytes;
    return kStatusOk;
  }
  return kStatusOk;  // any other direction: nothing to do
}

}  // namespace

std::int32_t encOrDec(std::int32_t operation, const void* input, std::uint32_t inputLength,
                      const void* key, void* output, std::uint32_t* outputLength,
                      std::int32_t direction) noexcept {
  const auto* in = static_cast<const std::uint8_t*>(input);
  auto* out = static_cast<std::uint8_t*>(output);
  const auto directionByte = static_cast<std::uint8_t>(direction & 0xFF);
  try {
    switch (operation) {
      case kOperationRc2Variant:
      case kOperationRc5:
        return runBlockCipher(operation, in, inputLength, static_cast<const std::uint8_t*>(key),
                              out, outputLength, directionByte);
      case kOperationKeyWrap:
        return runKeyWrap(in, inputLength, out, outputLength, directionByte);
      default:
        return kStatusRejected;
    }
  } catch (...) {
    // Only the wrap allocates (multiple-precision integers); it writes its output
    // last, so a failure leaves the caller's buffers untouched.
    return kStatusRejected;
  }
}

}  // namespace arbsuite::wavecrypt

extern "C" WAVECRYPT_API std::int32_t EncOrDecOpt(std::int32_t operation, const void* input,
                                                  std::uint32_t inputLength, const void* key,
                                                  void* output, std::uint32_t* outputLength,
                                                  std::int32_t direction) {
  return arbsuite::wavecrypt::encOrDec(operation, input, inputLength, key, output, outputLength,
                                       direction);
}
