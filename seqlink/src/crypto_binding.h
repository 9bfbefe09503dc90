// Run-time binding of libwavecrypt.so: each call loads the library by name, looks
// up one function, calls it once and releases the library again. Nothing is cached,
// so an updated crypto library is picked up by the next call. Operations,
// directions and lengths are the names of wavecrypt.h (WAVECRYPT_OP_RC5,
// WAVECRYPT_DECRYPT, WAVECRYPT_WRAPPED_BYTES...).
#pragma once

#include <cstdint>

namespace arbsuite::seqlink {

inline constexpr const char* kCryptoLibraryName = "libwavecrypt.so";

// AfxGetCrcU32: CRC-32 of length bytes into crc. Returns SEQLINK_OK,
// SEQLINK_CRYPTO_LOAD_FAILED or SEQLINK_CRYPTO_MISSING_FUNCTION.
int cryptoCrc32(const void* data, std::uint32_t length, std::uint32_t& crc);

// One EncOrDecOpt call; outputLength holds the capacity on entry and the bytes
// produced on return. Returns SEQLINK_OK, SEQLINK_CRYPTO_LOAD_FAILED,
// SEQLINK_CRYPTO_MISSING_FUNCTION, or SEQLINK_CRYPTO_CALL_FAILED when the crypto
// status is not WAVECRYPT_OK.
int cryptoEncOrDec(int operation, const void* input, std::uint32_t inputLength, const void* key,
                   void* output, std::uint32_t* outputLength, int direction);

// AfxgetRandKeyR5: draws a WAVECRYPT_KEY_BYTES data key into key. Same statuses as
// cryptoEncOrDec.
int cryptoRandomKey(void* key);

}  // namespace arbsuite::seqlink
