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
/* Size of one segment-name slot (names are zero-terminated, at most 255 characters);
 * also the size of the output-file buffer of readMultiSegConfig. */
#define SEQLINK_NAME_SLOT 256

/* Statuses of the exports: below 16 for the file description readers and the
 * segment configuration, 240 and above for the sample path and the crypto binding.
 * Each export lists the ones it returns. */
#define SEQLINK_OK 0
#define SEQLINK_CONFIG_CANNOT_OPEN 1     /* the segment configuration cannot be opened */
#define SEQLINK_BAD_ITEM 2               /* an item missing, empty or malformed; bad arguments */
#define SEQLINK_CONFIG_EMPTY 3           /* the segment configuration has no first line */
#define SEQLINK_FILE_CANNOT_OPEN 4       /* the .arb file cannot be opened */
#define SEQLINK_BAD_HEADER 7             /* bad version, a block outside the file, a missing item */
#define SEQLINK_NAME_TOO_LONG 8          /* a name of SEQLINK_NAME_SLOT characters or more */
#define SEQLINK_NO_MEMORY 9              /* out of memory, a null pointer, text that does not fit */
#define SEQLINK_MULTI_SEGMENT_REFUSED 15 /* a multi-segment file given to readArbFileInf */
#define SEQLINK_DATA_CANNOT_OPEN 240     /* a sample file or the output cannot be opened */
#define SEQLINK_HEADER_CRC_MISMATCH 241  /* header CRC mismatch or unreadable header block */
#define SEQLINK_DATA_NO_MEMORY 242       /* out of memory or bad arguments on the sample path */
#define SEQLINK_DATA_READ_ERROR 243      /* read error */
#define SEQLINK_CRYPTO_LOAD_FAILED 246   /* libwavecrypt.so cannot be loaded */
#define SEQLINK_CRYPTO_MISSING_FUNCTION 247 /* a crypto function is not exported */
#define SEQLINK_CRYPTO_CALL_FAILED 248      /* a crypto function reported failure */

#ifdef __cplusplus
extern "C" {
#endif

/* Reads the description of a single-waveform .arb file.
 * path: file to read. sampleCount (out): the header's sample-pair count, stored as
 * soon as it is read, also when a later step fails. clock (out): sample clock in Hz
 * from the "Clock" item. energy (out): signal energy from the "Value" item.
 * Returns SEQLINK_OK; SEQLINK_FILE_CANNOT_OPEN (also for a path that is not a regular
 * file: no reader waits on a FIFO or device); SEQLINK_BAD_HEADER for version <= 0,
 * a header whose offsets or lengths do not fit the file, or a missing Clock/Value
 * item; SEQLINK_NO_MEMORY for out of memory or a null output pointer;
 * SEQLINK_MULTI_SEGMENT_REFUSED for a multi-segment file (its sample count is still
 * stored). */
SEQLINK_API int readArbFileInf(const char* path, int* sampleCount, double* clock, double* energy);

/* Appends the text header of an .arb file, one " key: value" line per item with the
 * keys padded to a common width, to the zero-terminated string already in text.
 * text: caller buffer of SEQLINK_TEXT_CAPACITY bytes. length (out): formatted
 * length + 1. Returns SEQLINK_OK; SEQLINK_FILE_CANNOT_OPEN; SEQLINK_BAD_HEADER for a
 * bad version or a header whose offsets or lengths do not fit the file;
 * SEQLINK_NO_MEMORY for out of memory, a null pointer, or a result that does not fit
 * in SEQLINK_TEXT_CAPACITY bytes (the caller's text is then unchanged). */
SEQLINK_API int readArbFileAllInf(const char* path, char* text, int* length);

/* Reads sampleCount decrypted IQ pairs (I, Q interleaved, 2 x sampleCount values)
 * into samples, as stored. The path "Blank" gives zeros without touching the file
 * system. Pairs the file does not hold are zero. Returns SEQLINK_OK;
 * SEQLINK_DATA_CANNOT_OPEN; SEQLINK_HEADER_CRC_MISMATCH for a header CRC mismatch, or a
 * header block that is truncated, longer than 10,240 bytes or starts before offset
 * 208; SEQLINK_DATA_NO_MEMORY for out of memory, a negative count or a null buffer;
 * SEQLINK_DATA_READ_ERROR; SEQLINK_CRYPTO_LOAD_FAILED, SEQLINK_CRYPTO_MISSING_FUNCTION,
 * SEQLINK_CRYPTO_CALL_FAILED from the crypto binding. */
SEQLINK_API int readArbFileData(const char* path, int sampleCount, short* samples);

/* Longest first line readMultiSegConfig reads, in bytes: a multi-segment file holds
 * at most 69 segments (its info block has 20,480 bytes), and a line holding 69
 * segment items and the eight other items, each of at most 4,096 bytes (a 255-byte
 * name and numbers written out even with hundreds of digits), stays within it. */
#define SEQLINK_CONFIG_LINE_LIMIT (77 * 4096)

/* Reads a one-line segment configuration file and keeps it for outputIQDataAndInf.
 * outputFile: caller buffer of SEQLINK_NAME_SLOT bytes, receives the "OUTPUT FILE"
 * value. segmentCount, totalSamples (out): number of segments and their total of
 * sample pairs, for sizing the buffers of outputIQDataAndInf and crtMultiSegArb.
 * Returns SEQLINK_OK; SEQLINK_CONFIG_CANNOT_OPEN, also for a path that is not a
 * regular file (refused before anything is read); SEQLINK_BAD_ITEM for a required
 * item missing or empty, a malformed segment item, a negative sample count, a total
 * that overflows int, a first line longer than SEQLINK_CONFIG_LINE_LIMIT bytes, or a
 * null pointer; SEQLINK_CONFIG_EMPTY for an empty file;
 * SEQLINK_NAME_TOO_LONG for an output file name of 256 characters or more. After a
 * failure the kept configuration is empty and outputIQDataAndInf refuses to run. */
SEQLINK_API int readMultiSegConfig(const char* path, char* outputFile, int* segmentCount,
                                   int* totalSamples);

/* Fills the caller's buffers from the configuration kept by readMultiSegConfig:
 * samples (2 x total pairs values): joined, level-adjusted IQ data; names
 * (SEQLINK_NAME_SLOT bytes per segment); clockRates, sampleCounts, energies (one per
 * segment). Returns SEQLINK_OK; SEQLINK_BAD_ITEM for a malformed segment item, an
 * unknown mode, no configuration or a null buffer; SEQLINK_NAME_TOO_LONG for a name of
 * 256 characters or more; SEQLINK_DATA_CANNOT_OPEN ... SEQLINK_CRYPTO_CALL_FAILED from
 * the sample reader, as for readArbFileData. */
SEQLINK_API int outputIQDataAndInf(short* samples, char* names, double* clockRates,
                                   int* sampleCounts, double* energies);

/* Writes the version-2 multi-segment .arb file outputFile from the buffers that
 * outputIQDataAndInf filled. names: segmentCount slots of SEQLINK_NAME_SLOT bytes;
 * samples: 2 x totalSamples values. reserved is ignored. A regular output (or a new
 * one) is written to an unnamed temporary file in its folder and put in place at
 * success, so a failure or an interrupt leaves no partial file and never destroys an
 * existing one; a replaced file keeps its permissions (and owner and group where the
 * process may). A symbolic link's target is replaced and the link stays; a device or
 * FIFO is written through. Returns SEQLINK_OK; SEQLINK_BAD_ITEM, before anything is
 * written, for inconsistent arguments (null buffers, negative counts, counts not
 * adding up to totalSamples, data too long for a 32-bit file length), a clock rate or
 * energy that is negative or not finite, or a name holding a brace or a line break;
 * SEQLINK_NAME_TOO_LONG for a name slot without terminator; SEQLINK_DATA_CANNOT_OPEN
 * when the output cannot be created or written (also an existing file the process
 * may not open for writing, a folder or a socket); SEQLINK_DATA_NO_MEMORY when the text
 * header does not fit, or out of memory; SEQLINK_CRYPTO_LOAD_FAILED,
 * SEQLINK_CRYPTO_MISSING_FUNCTION, SEQLINK_CRYPTO_CALL_FAILED from the crypto binding. */
SEQLINK_API int crtMultiSegArb(const char* names, const double* clockRates, const int* sampleCounts,
                               const double* energies, unsigned segmentCount, const short* samples,
                               unsigned totalSamples, uint32_t reserved, const char* outputFile);

#ifdef __cplusplus
}
#endif

#endif /* SEQLINK_H */
