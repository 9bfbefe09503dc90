// Run-time binding of libwavecrypt.so: each call loads the library by name, looks
// up one function, calls it once and releases the library again. Nothing is cached,
// so an updated crypto library is picked up by the next call.
#pragma once

#include <cstdint>

namespace seqlink {

inline constexpr const char* kCryptoLibraryName = "libwavecrypt.so";

// EncOrDecOpt operations and directions used by this library.
inline constexpr int kOpDataCipher = 2;  // RC5 over 8-byte blocks, 16-byte data key
inline constexpr int kOpKeyWrap = 3;     // elliptic-curve wrap, 16 bytes <-> 84 bytes
inline constexpr int kEncrypt = 0;
inline constexpr int kDecrypt = 1;

// CRC-32 of length bytes into crc. Returns 0, 246 or 247.
int cryptoCrc32(const void* data, std::uint32_t length, std::uint32_t& crc);

// One EncOrDecOpt call; outputLength holds the capacity on entry and the bytes
// produced on return. Returns 0, 246, 247, or 248 when the low 16 bits of the
// crypto status are not zero.
int cryptoEncOrDec(int operation, const void* input, std::uint32_t inputLength, const void* key,
                   void* output, std::uint32_t* outputLength, int direction);

// Draws a 16-byte data key into key16. Returns 0, 246, 247 or 248.
int cryptoRandomKey(void* key16);

}  // namespace seqlink
