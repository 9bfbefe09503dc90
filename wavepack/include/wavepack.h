/* wavepack: the packer that turns a raw file of 16-bit IQ samples into an
 * encrypted .arb waveform file. Exported by the wavepack executable and usable
 * from any program that links the wavepack_core library. */
#ifndef WAVEPACK_H
#define WAVEPACK_H

#include <stdint.h>

/* Default visibility where the packer's own objects are compiled (the wavepack
 * executable exports it); plain declarations for every other includer. */
#if defined(WAVEPACK_BUILDING)
#define WAVEPACK_API __attribute__((visibility("default")))
#else
#define WAVEPACK_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes of PackuserIQdata. */
#define WAVEPACK_OK 0
#define WAVEPACK_INPUT_FAILED 17  /* input missing, unreadable or not a regular file */
#define WAVEPACK_OUTPUT_FAILED 19 /* output could not be created, written or renamed */
#define WAVEPACK_BAD_PARAMETER 24 /* index out of range, or input too large for the format */
#define WAVEPACK_FORMAT_FAILED 25 /* a name or the text header could not be formatted */
#define WAVEPACK_CRYPTO_FAILED 26 /* the key draw, the key wrap or the cipher failed */

/* Largest input PackuserIQdata takes, in bytes: its size and the counts derived from
 * it fill 32-bit signed fields and text items. */
#define WAVEPACK_MAX_INPUT_BYTES 2147483647

/* Packs a raw sample file into a version-1 .arb file.
 *   inputPath        raw little-endian int16 samples I0, Q0, I1, Q1, ... (no header);
 *                    the number of pairs is its size / 4
 *   outputPath       .arb file to create; a regular file (or a new one) is written to
 *                    an unnamed temporary file in its folder and put in place at
 *                    success, so on failure no new file is left and an existing file
 *                    is kept unchanged. A symbolic link's target is replaced, the link
 *                    stays; a device or FIFO is written through; a replaced file keeps
 *                    its permissions (and owner and group where the process may); an
 *                    existing file the process may not open for writing, a folder or a
 *                    socket give WAVEPACK_OUTPUT_FAILED
 *   dataSource       index 0..7 into PRBS7, PRBS9, PRBS11, PRBS15, PRBS16, PRBS20,
 *                    PRBS21, UserData
 *   pairCount        unused (the count comes from the input size)
 *   symbolRate       symbol rate in Hz; Clock is symbolRate x overSampling
 *   modulationType   index 0..17 into 16QAM, 32QAM, 64QAM, 128QAM, 256QAM, 2ASK, 4ASK,
 *                    8ASK, 16ASK, 32ASK, BPSK, QPSK, Pi/4QPSK, Pi/4DQPSK, 8PSK, MSK,
 *                    2FSK, 4FSK
 *   filterType       index 0..3 into none, Raised cosine, Root raised cosine, Gauss Filter
 *   filterCoefficient, impulseLength, overSampling   written into the text header
 * Returns one of the WAVEPACK_ codes above. Inputs larger than WAVEPACK_MAX_INPUT_BYTES
 * are refused with WAVEPACK_BAD_PARAMETER. Not thread-safe (the key draw uses
 * process-wide state). */
WAVEPACK_API int32_t PackuserIQdata(const char* inputPath, const char* outputPath,
                                    uint32_t dataSource, int32_t pairCount, int32_t symbolRate,
                                    uint32_t modulationType, uint32_t filterType,
                                    double filterCoefficient, int32_t impulseLength,
                                    int32_t overSampling);

#ifdef __cplusplus
}
#endif

#endif /* WAVEPACK_H */
