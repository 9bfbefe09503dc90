/* Public C interface of libiqsynth, the IQ baseband synthesis library.
 * The host fills the process-wide synthesis configuration through the setters,
 * calls runIqSynth and reads results back through the getters. Setters store
 * what they are given without checks; values are validated during a run. The
 * library keeps one global state and is called from one thread at a time. */
#ifndef IQSYNTH_H
#define IQSYNTH_H

#include <stdbool.h>

#if defined(IQSYNTH_BUILDING) || defined(iqsynth_EXPORTS)
#define IQSYNTH_API __attribute__((visibility("default")))
#else
#define IQSYNTH_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Scalar settings: each setter stores its argument, each getter returns the field. */
/* roll-off / bandwidth-time product */
IQSYNTH_API void setAlphaBt(double alphaBt);
IQSYNTH_API double getAlphaBt(void);
/* symbol coding: 1 none, 2 diff, 4 gray+diff, 5 gray, 6 diff from one */
IQSYNTH_API void setCodingType(int codingType);
IQSYNTH_API int getCodingType(void);
/* data source: 0 zeros, 1 ones, 2 pattern, 3 file, 4 PRBS */
IQSYNTH_API void setDataSrc(int dataSrc);
IQSYNTH_API int getDataSrc(void);
/* modulation: family in bits 16 and up, bits per symbol below */
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
/* PRBS register length: 9, 11, 15, 16, 20, 21 or 23 */
IQSYNTH_API void setPrbs(int order);
IQSYNTH_API int getPrbs(void);
/* number of data symbols */
IQSYNTH_API void setSequenceLenth(int symbols);
IQSYNTH_API int getSequenceLenth(void);
/* shaping filter: 2, 3, 5, 6, 7, 8 (user taps), 9, 10 */
IQSYNTH_API void setShapingFilterType(int type);
IQSYNTH_API int getShapingFilterType(void);
/* symbols per second */
IQSYNTH_API void setSymbolRate(double hz);
IQSYNTH_API double getSymbolRate(void);
/* valid characters of the user pattern, at most 2048 */
IQSYNTH_API void setUsrListSize(int characters);
IQSYNTH_API int getUsrListSize(void);
/* working mode: 1 digital, 3 noise only, 5 multi-carrier CW */
IQSYNTH_API void setWorkingMode(int mode);
IQSYNTH_API int getWorkingMode(void);
/* user pattern holds hex digits, else '0'/'1' */
IQSYNTH_API void setDataFormatIsHex(bool isHex);
IQSYNTH_API bool isDataFormatIsHex(void);
IQSYNTH_API void setFskPhaseCorrectEnable(bool enable);
IQSYNTH_API bool isFskPhaseCorrectEnable(void);
IQSYNTH_API void setPowerRampEnable(bool enable);
/* ramp shape: 1 linear, 2 cosine, 3 step */
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
/* mccwCarrierItem entries */
IQSYNTH_API void setMccwCarrierSAmp(const double* dB);
/* mccwCarrierItem entries */
IQSYNTH_API void setMccwCarrierPhase(const double* radians);
/* mccwCarrierItem flags, 1 on */
IQSYNTH_API void setMccwCarrierEn(const char* enable);

/* User constellation: set the type to 0xE0000, then the size M (a power of two,
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
 * the sample rate; call it before a multi-carrier run to size the host arrays. */
IQSYNTH_API void runMccwCarrierParamGen(void);

/* The run: writes 14-bit samples into pIDat and pQDat, each owned by the caller
 * and sized for the run's sample count (sequenceLenth x overSamplingRate for a
 * digital run). Returns 0, or the negated error number of the failure. */
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
