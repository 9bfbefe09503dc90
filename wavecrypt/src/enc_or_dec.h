// The crypto entry behind the exported EncOrDecOpt, callable inside the library
// without going through the exported symbol.
#pragma once

#include <cstdint>

#include "wavecrypt.h"

namespace arbsuite::wavecrypt {

// The operations, statuses and directions of wavecrypt.h under the library's own names.
enum Operation : std::int32_t {
  kOperationRc2Variant = WAVECRYPT_OP_RC2_VARIANT,
  kOperationRc5 = WAVECRYPT_OP_RC5,
  kOperationKeyWrap = WAVECRYPT_OP_KEY_WRAP,
};

inline constexpr std::int32_t kStatusOk = WAVECRYPT_OK;
inline constexpr std::int32_t kStatusRejected = WAVECRYPT_REJECTED;

// Only the low 8 bits of the direction argument count.
inline constexpr std::uint8_t kDirectionEncrypt = WAVECRYPT_ENCRYPT;
inline constexpr std::uint8_t kDirectionDecrypt = WAVECRYPT_DECRYPT;

// Same arguments and statuses as EncOrDecOpt (see wavecrypt.h).
std::int32_t encOrDec(std::int32_t operation, const void* input, std::uint32_t inputLength,
                      const void* key, void* output, std::uint32_t* outputLength,
                      std::int32_t direction) noexcept;

}  // namespace arbsuite::wavecrypt
