/* wavecrypt: the crypto services of the .arb waveform format (CRC-32, data keys,
 * RC5 sample encryption, the RC2-variant key-table cipher and the elliptic-curve
 * wrap of the data key). Plain C interface; every buffer belongs to the caller. */
#ifndef WAVECRYPT_H
#define WAVECRYPT_H

#include <stdint.h>

/* Default visibility where the library's own objects are compiled (the shared
 * library, and the wavepack executable that carries them); plain declarations for
 * every other includer. */
#if defined(WAVECRYPT_BUILDING)
#define WAVECRYPT_API __attribute__((visibility("default")))
#else
#define WAVECRYPT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Statuses of AfxgetRandKeyR5 and EncOrDecOpt: a signed 16-bit value returned in a
 * 32-bit integer; callers look at the low 16 bits only. */
#define WAVECRYPT_OK 0
#define WAVECRYPT_REJECTED (-1)

/* Operations of EncOrDecOpt. */
#define WAVECRYPT_OP_RC2_VARIANT 1 /* RC2 variant, the library's own key-table cipher */
#define WAVECRYPT_OP_RC5 2         /* RC5-32/12/16, the sample-data cipher */
#define WAVECRYPT_OP_KEY_WRAP 3    /* elliptic-curve wrap (16 -> 84) / unwrap (84 -> 16) */

/* Directions of EncOrDecOpt (only the low 8 bits of the argument count). */
#define WAVECRYPT_ENCRYPT 0
#define WAVECRYPT_DECRYPT 1

#define WAVECRYPT_KEY_BYTES 16     /* data key and cipher key length */
#define WAVECRYPT_WRAPPED_BYTES 84 /* wrapped data key length */

/* CRC-32 (reflected polynomial 0x04C11DB7, initial value 0xFFFFFFFF, final
 * complement; the CRC of zlib, gzip and IEEE 802.3).
 *   data    the bytes to check, length bytes, owned by the caller
 *   length  number of bytes
 * Returns the CRC; 0 for an empty input and for a null data pointer. */
WAVECRYPT_API uint32_t AfxGetCrcU32(const void* data, uint32_t length);

/* Draws a 16-byte data key from the library's table of 5000 stored keys; the choice
 * is seeded from the calendar time in seconds and a process-wide counter, so two
 * draws in the same second still differ in seed. Not thread-safe.
 *   key16   output, 16 bytes, owned by the caller
 * Returns 0, or -1 when the key could not be produced (also when key16 is null;
 * nothing is written then). */
WAVECRYPT_API int32_t AfxgetRandKeyR5(void* key16);

/* Encrypts, decrypts, wraps or unwraps one buffer.
 *   operation     1: RC2 variant, 2: RC5-32/12/16 (both ECB over 8-byte blocks, the
 *                 last partial block zero-padded), 3: key wrap; anything else: -1
 *   input         input bytes (the output may be the same buffer for operations 1, 2)
 *   inputLength   n, bytes of input; operation 3 needs 16 to wrap, 84 to unwrap
 *   key           16-byte key for operations 1 and 2 (must be non-null there);
 *                 ignored by operation 3 (pass null)
 *   output        output bytes, owned by the caller
 *   outputLength  on entry the capacity of output, on return the bytes produced:
 *                 operations 1, 2 need and produce n rounded up to a multiple of 8;
 *                 wrap needs at least 84 and produces 84, unwrap needs at least 16
 *                 and produces 16
 *   direction     low 8 bits: 0 encrypts / wraps, any other value decrypts for
 *                 operations 1, 2; for operation 3, 1 unwraps and any value other
 *                 than 0 and 1 does nothing (status 0, output and length untouched)
 * Returns 0 on success, -1 for a rejected call (a null pointer, a wrong length, a
 * short capacity or an unknown operation); a rejected call writes nothing. */
WAVECRYPT_API int32_t EncOrDecOpt(int32_t operation, const void* input, uint32_t inputLength,
                                  const void* key, void* output, uint32_t* outputLength,
                                  int32_t direction);

#ifdef __cplusplus
}
#endif

#endif /* WAVECRYPT_H */
