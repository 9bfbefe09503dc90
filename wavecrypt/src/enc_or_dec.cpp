// EncOrDecOpt: the single crypto entry (RC2 variant, RC5, key wrap).
#include <cstdint>

#include "wavecrypt.h"

extern "C" WAVECRYPT_API std::int32_t EncOrDecOpt(std::int32_t /*operation*/, const void* /*input*/,
                                                  std::uint32_t /*inputLength*/, const void* /*key*/,
                                                  void* /*output*/, std::uint32_t* /*outputLength*/,
                                                  std::int32_t /*direction*/) {
  return WAVECRYPT_REJECTED;  // not yet available
}
