// Data-key draw from the library's enciphered key table.
#include <cstdint>

#include "wavecrypt.h"

extern "C" WAVECRYPT_API std::int32_t AfxgetRandKeyR5(void* /*key16*/) {
  return WAVECRYPT_REJECTED;  // not yet available
}
