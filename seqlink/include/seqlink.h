/* seqlink: reads .arb waveform files for a host application and joins several
 * .arb files into one multi-segment (version-2) .arb file.
 * The library binds libwavecrypt.so at run time, around every single crypto call. */
#ifndef SEQLINK_H
#define SEQLINK_H

#include <stdint.h>

#if defined(SEQLINK_BUILDING)
#define SEQLINK_API __attribute__((visibility("default")))
#else
#define SEQLINK_API
#endif

/* Capacity of the caller's text buffer of readArbFileAllInf, terminator included. */
#define SEQLINK_TEXT_CAPACITY 20480
/* Size of one segment-name slot (names are zero-terminated, at most 255 characters). */
#define SEQLINK_NAME_SLOT 256

#ifdef __cplusplus
extern "C" {
#endif

/* Reads the description of a single-waveform .arb file.
 * path: file to read. sampleCount (out): the header's sample-pair count, stored as
 * soon as it is read, also when a later step fails. clock (out): sample clock in Hz
 * from the "Clock" item. energy (out): signal energy from the "Value" item.
 * Returns 0; 4 the file cannot be opened; 7 version <= 0, a header whose offsets or
 * lengths do not fit the file, or a missing Clock/Value item; 9 out of memory or a
 * null output pointer; 15 a multi-segment file (its sample count is still stored). */
SEQLINK_API int readArbFileInf(const char* path, int* sampleCount, double* clock, double* energy);

/* Appends the text header of an .arb file, one " key: value" line per item with the
 * keys padded to a common width, to the zero-terminated string already in text.
 * text: caller buffer of SEQLINK_TEXT_CAPACITY bytes. length (out): formatted
 * length + 1. Returns 0; 4 cannot open; 7 bad version or a header whose offsets or
 * lengths do not fit the file; 9 out of memory, a null pointer, or the result does
 * not fit in SEQLINK_TEXT_CAPACITY bytes (the caller's text is then unchanged). */
SEQLINK_API int readArbFileAllInf(const char* path, char* text, int* length);

/* Reads sampleCount decrypted IQ pairs (I, Q interleaved, 2 x sampleCount values)
 * into samples, as stored. The path "Blank" gives zeros without touching the file
 * system. Pairs the file does not hold are zero. Returns 0; 240 cannot open;
 * 241 header CRC mismatch, or a header block that is truncated, longer than
 * 10,240 bytes or starts before offset 208; 242 out of memory, a negative count or a
 * null buffer; 243 read error; 246 libwavecrypt.so cannot be loaded; 247 a crypto
 * function is missing; 248 a crypto function reported failure. */
SEQLINK_API int readArbFileData(const char* path, int sampleCount, short* samples);

/* Reads a one-line segment configuration file and keeps it for outputIQDataAndInf.
 * outputFile: caller buffer of SEQLINK_NAME_SLOT bytes, receives the "OUTPUT FILE"
 * value. segmentCount, totalSamples (out): number of segments and their total of
 * sample pairs, for sizing the buffers of outputIQDataAndInf and crtMultiSegArb.
 * Returns 0; 1 cannot open; 2 a required item missing or empty, a malformed segment
 * item, a negative sample count, a total that overflows int, or a null pointer;
 * 3 empty file; 8 output file name of 256 characters or more. After a failure the
 * kept configuration is empty and outputIQDataAndInf refuses to run. */
SEQLINK_API int readMultiSegConfig(const char* path, char* outputFile, int* segmentCount,
                                   int* totalSamples);

/* Fills the caller's buffers from the configuration kept by readMultiSegConfig:
 * samples (2 x total pairs values): joined, level-adjusted IQ data; names
 * (SEQLINK_NAME_SLOT bytes per segment); clockRates, sampleCounts, energies (one per
 * segment). Returns 0; 2 malformed segment item, unknown mode, no configuration or a
 * null buffer; 8 name of 256 characters or more; 240-248 from the sample reader. */
SEQLINK_API int outputIQDataAndInf(short* samples, char* names, double* clockRates,
                                   int* sampleCounts, double* energies);

/* Writes the version-2 multi-segment .arb file outputFile from the buffers that
 * outputIQDataAndInf filled. names: segmentCount slots of SEQLINK_NAME_SLOT bytes;
 * samples: 2 x totalSamples values. reserved is ignored. The file is written under a
 * temporary name beside outputFile and renamed at success, so a failure leaves no
 * partial file and never destroys an existing one. Returns 0; 2 inconsistent
 * arguments (null buffers, negative counts, counts not adding up to totalSamples,
 * data too long for a 32-bit file length); 8 a name slot without terminator;
 * 240 the output cannot be created or written; 242 the text header does not fit, or
 * out of memory; 246, 247, 248 crypto binding as for readArbFileData. */
SEQLINK_API int crtMultiSegArb(const char* names, const double* clockRates, const int* sampleCounts,
                               const double* energies, unsigned segmentCount, const short* samples,
                               unsigned totalSamples, uint32_t reserved, const char* outputFile);

#ifdef __cplusplus
}
#endif

#endif /* SEQLINK_H */
