/* Public C interface of libiqsynth, the IQ baseband synthesis library.
 * The host fills the process-wide synthesis configuration through the setters,
 * calls runIqSynth and reads results back through the getters. Setters store
 * what they are given without checks; values are validated during a run.
 *
 * Threads. The library keeps one process-wide configuration, one set of sample tracks and one
 * run log. runIqSynth and runMccwCarrierParamGen hold one process-wide lock for the whole
 * call: calls from several threads take turns, each using the configuration as it stands when
 * its turn comes. The setters and getters take no lock: call them from one thread, and never
 * while another thread is inside runIqSynth or runMccwCarrierParamGen.
 *
 * Environment.
 *   IQSYNTH_RUN_LOG  Read once, when the library loads. Unset: the run log is "iqSynthRun.log"
 *                    in the working folder. A path: the log is that file. Either is truncated
 *                    at load and collects every run of the process; when it cannot be opened,
 *                    "can not open the log file" is printed and the runs go on without it.
 *                    Set and empty: no log at all; no file is created, and the list dumps and
 *                    per-sample lines are not even formatted.
 *   IQSYNTH_STDOUT   Read once, when the library loads. "0": the library writes nothing to
 *                    standard output (the load line "start iqsynth from global", the per-symbol
 *                    PRBS and mapping lines, the filter taps, "net H is", "mccwMaxFreq is",
 *                    "can not open the log file"). Any other value, or unset: those lines.
 *   GSL_RNG_SEED     Read at every run that makes noise (IQSYNTH_WORKING_MODE_AWGN, or noise
 *                    added with setSigAddNoiseIsEnable), so a host may setenv it before each
 *                    run; runs without noise ignore it. A decimal number s from 0 to 4294967295
 *                    (digits only) is the run's seed; unset or empty, s is the calendar time in
 *                    seconds; any other text fails the run with -IQSYNTH_ERR_CFG_VALUE. The run
 *                    log names the seed: "INFO : noise seed is <s> (from GSL_RNG_SEED)", or
 *                    "INFO : noise seed is <s> (from the calendar time; GSL_RNG_SEED=<s> repeats
 *                    the noise)". The same seed and configuration give the same samples; a host
 *                    that must know a run's seed picks it and sets GSL_RNG_SEED itself.
 *                    Derivation: generator k is GSL's gsl_rng_mt19937 set with
 *                    gsl_rng_set(r, (4 s + k) mod 2^32) (GSL itself replaces a seed of 0 by 4357),
 *                    drawing one gsl_ran_gaussian_ziggurat(r, sigma) per sample from its start:
 *                    k = 0 gives the I and k = 1 the Q samples of a white record; k = 2 and k = 3
 *                    give the I and Q samples of a band-limited record before its filter (the
 *                    circular 1999-tap Hann-windowed sinc of the noise bandwidth). A record is
 *                    white when it has at most 2000 samples or when its noise bandwidth
 *                    B*ratio + 0.0001*(fs - B*ratio) exceeds the sample rate fs. sigma is 3.4076
 *                    in IQSYNTH_WORKING_MODE_AWGN; for added noise it is
 *                    sqrt((fs / B) * P * 0.5 / 10^(CNR / 10)), P the mean signal power. */
#ifndef IQSYNTH_H
#define IQSYNTH_H

#include <stdbool.h>

#if defined(IQSYNTH_BUILDING)
#define IQSYNTH_API __attribute__((visibility("default")))
#else
#define IQSYNTH_API
#endif

/* ---- Named values ----------------------------------------------------------------------
 * The values the setters take and the run reports, as plain integer constants a C host can
 * use in switch statements and static tables. */

/* Working modes (setWorkingMode): what a run produces. Any other value produces no samples. */
#define IQSYNTH_WORKING_MODE_DIGITAL 1 /* digitally modulated signal */
#define IQSYNTH_WORKING_MODE_AWGN 3    /* band-limited Gaussian noise only */
#define IQSYNTH_WORKING_MODE_MCCW 5    /* comb of unmodulated carriers */

/* Modulation types (setDigiModulatingType): the family in bits 16 and up, the bits per
 * symbol (log2 of the constellation size) in the low 16 bits. */
#define IQSYNTH_MOD_BITS_MASK 0xFFFF      /* bits-per-symbol part of a type */
#define IQSYNTH_MOD_FAMILY_MASK (~0xFFFF) /* family part of a type */
#define IQSYNTH_MOD_FAMILY_QAM 0x00000
#define IQSYNTH_MOD_QAM16 0x00004
#define IQSYNTH_MOD_QAM32 0x00005 /* cross constellation */
#define IQSYNTH_MOD_QAM64 0x00006
#define IQSYNTH_MOD_QAM128 0x00007 /* cross constellation */
#define IQSYNTH_MOD_QAM256 0x00008
#define IQSYNTH_MOD_FAMILY_FSK 0x30000 /* continuous-phase FSK */
#define IQSYNTH_MOD_FSK2 0x30001
#define IQSYNTH_MOD_FSK4 0x30002
#define IQSYNTH_MOD_FSK8 0x30003
#define IQSYNTH_MOD_FSK16 0x30004
#define IQSYNTH_MOD_FAMILY_PSK 0x90000
#define IQSYNTH_MOD_BPSK 0x90001
#define IQSYNTH_MOD_QPSK 0x90002
#define IQSYNTH_MOD_8PSK 0x90003
#define IQSYNTH_MOD_FAMILY_DPSK 0xA0000 /* differential PSK */
#define IQSYNTH_MOD_PI4_DQPSK 0xA0002   /* pi/4 differential QPSK */
#define IQSYNTH_MOD_PI8_D8PSK 0xA0003   /* pi/8 differential 8PSK */
#define IQSYNTH_MOD_FAMILY_OQPSK 0xB0000
#define IQSYNTH_MOD_OQPSK 0xB0002 /* QPSK with Q delayed by half a symbol */
#define IQSYNTH_MOD_FAMILY_ASK 0xC0000
#define IQSYNTH_MOD_ASK 0xC0001 /* on/off keying, scaled by setMaxAskDepth */
#define IQSYNTH_MOD_FAMILY_EDGE 0xD0000
#define IQSYNTH_MOD_EDGE_8PSK 0xD0003 /* 8PSK rotated by 3*pi/8 per symbol */
/* User constellation: IQSYNTH_MOD_USER, then setUsrModulatingSymbolItem adds log2 of its size. */
#define IQSYNTH_MOD_FAMILY_USER 0xE0000
#define IQSYNTH_MOD_USER 0xE0000

/* Shaping filters (setShapingFilterType). */
#define IQSYNTH_FILTER_GAUSSIAN_LINEARIZED 2 /* linearised GMSK pulse, BT 0.3, 5 symbols */
#define IQSYNTH_FILTER_GAUSSIAN 3            /* Gaussian impulse response, AlphaBt is BT */
#define IQSYNTH_FILTER_RECT 5                /* rectangle of one symbol */
#define IQSYNTH_FILTER_RC 6                  /* raised cosine, AlphaBt is the roll-off */
#define IQSYNTH_FILTER_RRC 7                 /* root raised cosine, AlphaBt is the roll-off */
#define IQSYNTH_FILTER_USER 8                /* the taps given by setShapingFilterCoef */
#define IQSYNTH_FILTER_GAUSSIAN_FSK 9        /* Gaussian frequency pulse of GFSK, AlphaBt is BT */
#define IQSYNTH_FILTER_HALF_SINE 10          /* half sine of one symbol */

/* Data sources (setDataSrc). */
#define IQSYNTH_DATA_SRC_ALL_ZERO 0
#define IQSYNTH_DATA_SRC_ALL_ONE 1
#define IQSYNTH_DATA_SRC_PATTERN 2 /* the user pattern of setUsrList */
#define IQSYNTH_DATA_SRC_FILE 3    /* the data list file of setDataFileList */
#define IQSYNTH_DATA_SRC_PRBS 4    /* the PRBS of setPrbs */

/* PRBS orders (setPrbs): the shift register length. */
#define IQSYNTH_PRBS9 9
#define IQSYNTH_PRBS11 11
#define IQSYNTH_PRBS15 15
#define IQSYNTH_PRBS16 16
#define IQSYNTH_PRBS20 20
#define IQSYNTH_PRBS21 21
#define IQSYNTH_PRBS23 23

/* Symbol codings (setCodingType). Any other value leaves the symbols as they are. */
#define IQSYNTH_CODING_NONE 1
#define IQSYNTH_CODING_DIFF 2          /* running sum modulo M from 0 */
#define IQSYNTH_CODING_GRAY_DIFF 4     /* Gray code, then the running sum */
#define IQSYNTH_CODING_GRAY 5          /* Gray code */
#define IQSYNTH_CODING_DIFF_FROM_ONE 6 /* running sum modulo M from 1 */

/* Power ramp shapes (setPowerRampFunc). */
#define IQSYNTH_RAMP_LINEAR 1
#define IQSYNTH_RAMP_COSINE 2 /* raised cosine */
#define IQSYNTH_RAMP_STEP 3   /* the level jumps at the start symbol */

/* Error numbers. runIqSynth returns the negated number of the failure: -IQSYNTH_ERR_MOD_TYPE
 * for an unknown modulation type, for example. */
#define IQSYNTH_ERR_INVALID_ARGUMENT 16     /* std::invalid_argument raised inside a run */
#define IQSYNTH_ERR_MEM_ALLOC 0x10001       /* memory ran out */
#define IQSYNTH_ERR_FILE_OPEN 0x20001       /* the data list file cannot be opened */
#define IQSYNTH_ERR_FILE_FORMAT 0x20002     /* the data list file's format word or data is wrong */
#define IQSYNTH_ERR_FILTER_TYPE 0x40001     /* unknown shaping filter */
#define IQSYNTH_ERR_MOD_TYPE 0x40002        /* modulation type not supported */
#define IQSYNTH_ERR_DATA_SRC 0x40003        /* unknown data source */
#define IQSYNTH_ERR_POWER_RAMP_MODE 0x40004 /* unknown power ramp shape */
#define IQSYNTH_ERR_CFG_VALUE 0x40005       /* a setting the run cannot use (lengths, rates, ...) */
#define IQSYNTH_ERR_UNEXPECTED 0xA0001      /* any other failure inside the library */
/* Noise generation failed: IQSYNTH_ERR_NOISE_BASE ORed with the noise routine's code, which
 * is 2 (IQSYNTH_ERR_NOISE) whenever no noise could be made. */
#define IQSYNTH_ERR_NOISE_BASE 0xF000
#define IQSYNTH_ERR_NOISE 0xF002

#ifdef __cplusplus
extern "C" {
#endif

/* Scalar settings: each setter stores its argument, each getter returns the field. */
/* roll-off / bandwidth-time product */
IQSYNTH_API void setAlphaBt(double alphaBt);
IQSYNTH_API double getAlphaBt(void);
/* symbol coding: IQSYNTH_CODING_NONE 1, _DIFF 2, _GRAY_DIFF 4, _GRAY 5, _DIFF_FROM_ONE 6 */
IQSYNTH_API void setCodingType(int codingType);
IQSYNTH_API int getCodingType(void);
/* data source: IQSYNTH_DATA_SRC_ALL_ZERO 0, _ALL_ONE 1, _PATTERN 2, _FILE 3, _PRBS 4 */
IQSYNTH_API void setDataSrc(int dataSrc);
IQSYNTH_API int getDataSrc(void);
/* modulation: family in bits 16 and up, bits per symbol below (IQSYNTH_MOD_QPSK, ...) */
IQSYNTH_API void setDigiModulatingType(int type);
IQSYNTH_API int getDigiModulatingType(void);
/* filter length in symbols, at most 128 */
IQSYNTH_API void setFilterLengh(int symbols);
IQSYNTH_API int getFilterLengh(void);
/* FSK peak deviation in Hz */
IQSYNTH_API void setMaxFskDev(double hz);
IQSYNTH_API double getMaxFskDev(void);
/* ASK output scale factor */
IQSYNTH_API void setMaxAskDepth(double scale);
IQSYNTH_API double getMaxAskDepth(void);
/* samples per symbol, at most 32 */
IQSYNTH_API void setOverSamplingRate(int samplesPerSymbol);
IQSYNTH_API int getOverSamplingRate(void);
/* PRBS register length: 9, 11, 15, 16, 20, 21 or 23 (IQSYNTH_PRBS9, ...) */
IQSYNTH_API void setPrbs(int order);
IQSYNTH_API int getPrbs(void);
/* number of data symbols */
IQSYNTH_API void setSequenceLenth(int symbols);
IQSYNTH_API int getSequenceLenth(void);
/* shaping filter: 2, 3, 5, 6, 7, 8 (user taps), 9, 10 (IQSYNTH_FILTER_RRC, ...) */
IQSYNTH_API void setShapingFilterType(int type);
IQSYNTH_API int getShapingFilterType(void);
/* symbols per second */
IQSYNTH_API void setSymbolRate(double hz);
IQSYNTH_API double getSymbolRate(void);
/* valid characters of the user pattern, at most 2048 */
IQSYNTH_API void setUsrListSize(int characters);
IQSYNTH_API int getUsrListSize(void);
/* working mode: IQSYNTH_WORKING_MODE_DIGITAL 1, _AWGN 3 (noise only), _MCCW 5 (multi-carrier
 * CW) */
IQSYNTH_API void setWorkingMode(int mode);
IQSYNTH_API int getWorkingMode(void);
/* user pattern holds hex digits, else '0'/'1' */
IQSYNTH_API void setDataFormatIsHex(bool isHex);
IQSYNTH_API bool isDataFormatIsHex(void);
IQSYNTH_API void setFskPhaseCorrectEnable(bool enable);
IQSYNTH_API bool isFskPhaseCorrectEnable(void);
IQSYNTH_API void setPowerRampEnable(bool enable);
/* ramp shape: IQSYNTH_RAMP_LINEAR 1, _COSINE 2, _STEP 3 */
IQSYNTH_API void setPowerRampFunc(int func);
/* ramp duration in symbols */
IQSYNTH_API void setPowerRampTime(double symbols);

/* Setters without a getter. */
/* rows of the ramp table, at most 32 */
IQSYNTH_API void setPowerRampItem(int rows);
/* non-zero adds noise to the signal */
IQSYNTH_API void setSigAddNoiseIsEnable(int enable);
IQSYNTH_API void setNoiseSampleRate(double hz);
IQSYNTH_API void setNoiseSeqLength(int samples);
IQSYNTH_API void setNoiseSystemBandwidth(double hz);
IQSYNTH_API void setBandWidthRatio(double ratio);
IQSYNTH_API void setNoiseCNR(double dB);
/* number of carriers, at most 8192 */
IQSYNTH_API void setMccwCarrierItem(int carriers);
IQSYNTH_API void setMccwCarrierSpacing(double hz);
IQSYNTH_API void setMccwOptCrestFactorEn(int enable);
IQSYNTH_API void setMccwOptCrestFactorMode(int mode);

/* Text settings: zero-terminated texts, copied. */
IQSYNTH_API void setInstallPath(const char* text);
/* data list file of the file source */
IQSYNTH_API void setDataFileList(const char* path);
IQSYNTH_API void setCtrlFileList(const char* text);
IQSYNTH_API void setIqFilePathName(const char* text);
IQSYNTH_API void setTmpFilePathName(const char* text);

/* Array settings: the element count is the count field set beforehand (copies
 * stop at the capacity; a negative count copies nothing). The caller owns the
 * arrays; they are copied. */
/* usrListSize characters */
IQSYNTH_API void setUsrList(const char* list);
/* overSamplingRate x filterLengh taps */
IQSYNTH_API void setShapingFilterCoef(const double* taps);
/* powerRampItem entries */
IQSYNTH_API void setPowerRampStartSymbol(const int* symbols);
/* powerRampItem entries */
IQSYNTH_API void setPowerRampAttenuation(const double* dB);
/* mccwCarrierItem entries. The amplitudes 10^(dB/20) of the enabled carriers must add up to
 * at most sqrt(DBL_MAX / mccwCarrierSample) (about 3000 dB for one carrier); a run past that,
 * or with an enabled carrier's level NaN, fails with -IQSYNTH_ERR_CFG_VALUE naming the field
 * (mccwCarrierAmp[k]) in the run log. -inf dB is a silent carrier. */
IQSYNTH_API void setMccwCarrierSAmp(const double* dB);
/* mccwCarrierItem entries; an enabled carrier's phase must be finite (else -IQSYNTH_ERR_CFG_VALUE
 * naming mccwCarrierPhase[k]) */
IQSYNTH_API void setMccwCarrierPhase(const double* radians);
/* mccwCarrierItem flags, 1 on */
IQSYNTH_API void setMccwCarrierEn(const char* enable);

/* User constellation: set the type to IQSYNTH_MOD_USER (0xE0000), then the size M (a power of two,
 * at most 256), then M points as (real, imaginary) pairs of doubles. */
IQSYNTH_API void setUsrModulatingSymbolItem(int points);
IQSYNTH_API void setUsrModulatingConstelMap(const double* points);

/* Read-back of run results. */
IQSYNTH_API int getFilterTap(void);
/* first n taps (at most 4097) */
IQSYNTH_API void getFilterCoef(double* out, int n);
/* first n occurrence flags (at most 256) */
IQSYNTH_API void getSymbolMap(char* out, int n);
/* Writes the current constellation as (real, imaginary) pairs into out (room for
 * 256 pairs suffices) and returns the point count; returns 1 and writes nothing
 * when the current modulation type has no constellation. */
IQSYNTH_API int getConstelMap(double* out);
/* the 2048-character pattern held */
IQSYNTH_API const char* getUserList(void);
IQSYNTH_API double getNoiseBandWidth(void);
IQSYNTH_API double getNoiseLvlSysBW(void);
IQSYNTH_API double getNoiseLvlTotalBW(void);
IQSYNTH_API double getSigLvlPep(void);
IQSYNTH_API double getCarrierLvldB(void);
IQSYNTH_API double getSigLvldB(void);
IQSYNTH_API int getMccwCarrierSample(void);
IQSYNTH_API double getMccwCarrierSampleFreq(void);

/* Capacities: 128 symbols of filter, oversampling 32, 2048 pattern characters. */
IQSYNTH_API int getMaxFilterLen(void);
IQSYNTH_API int getMaxOsr(void);
IQSYNTH_API int getMaxUsrListSize(void);

/* Multi-carrier parameters: fills the carrier frequencies, the sample count and
 * the sample rate; call it before a multi-carrier run to size the host arrays.
 * Holds the process-wide run lock (see Threads above). */
IQSYNTH_API void runMccwCarrierParamGen(void);

/* The run: writes 14-bit samples into pIDat and pQDat, each owned by the caller
 * and sized for the run's sample count (sequenceLenth x overSamplingRate for a
 * digital run). Returns 0, or the negated error number of the failure (-IQSYNTH_ERR_...);
 * nothing is written to the arrays then, and the run log holds the reason. Samples that
 * cannot be scaled into the output (not finite, or an envelope power that overflows: carrier
 * levels far too high, a huge user constellation or taps) fail with -IQSYNTH_ERR_CFG_VALUE.
 * Holds the process-wide run lock (see Threads above). */
IQSYNTH_API int runIqSynth(short* pIDat, short* pQDat);

#ifdef __cplusplus
} /* extern "C" */

/* These three getters have C++ linkage and are exported under their decorated names. */
IQSYNTH_API bool isPowerRampEnable();
IQSYNTH_API int getPowerRampFunc();
/* the stored duration truncated toward zero */
IQSYNTH_API int getPowerRampTime();
#endif

#endif /* IQSYNTH_H */
