// The crypto entry behind the exported EncOrDecOpt, callable inside the library
// without going through the exported symbol.
#pragma once

#include <cstdint>

namespace wavecrypt {

enum Operation : std::int32_t {
  kOperationRc2Variant = 1,
  kOperationRc5 = 2,
  kOperationKeyWrap = 3,
};

inline constexpr std::int32_t kStatusOk = 0;
inline constexpr std::int32_t kStatusRejected = -1;

// Same arguments and statuses as EncOrDecOpt (see wavecrypt.h).
std::int32_t encOrDec(std::int32_t operation, const void* input, std::uint32_t inputLength,
                      const void* key, void* output, std::uint32_t* outputLength,
                      std::int32_t direction) noexcept;

}  // namespace wavecrypt
