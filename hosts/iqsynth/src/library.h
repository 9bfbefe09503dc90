// libiqsynth.so as iqsynth uses it: loaded at run time, once the environment the
// library reads at load (run log, standard output) is set, and reached through
// one table of the functions the program calls.
#pragma once

#include <stdexcept>

#include "iqsynth.h"

namespace iqsynth_host {

// The library could not be loaded, or lacks a function (exit status kExitInternal).
struct LibraryError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Every exported function of iqsynth.h that the program calls, by its own name.
#define IQSYNTH_HOST_FUNCTIONS(X) \
  X(setWorkingMode)               \
  X(setDigiModulatingType)        \
  X(setSequenceLenth)             \
  X(setSymbolRate)                \
  X(setOverSamplingRate)          \
  X(setFilterLengh)               \
  X(setShapingFilterType)         \
  X(setAlphaBt)                   \
  X(setShapingFilterCoef)         \
  X(setUsrModulatingSymbolItem)   \
  X(setUsrModulatingConstelMap)   \
  X(setDataSrc)                   \
  X(setPrbs)                      \
  X(setDataFormatIsHex)           \
  X(setUsrListSize)               \
  X(setUsrList)                   \
  X(setDataFileList)              \
  X(setCodingType)                \
  X(setMaxFskDev)                 \
  X(setMaxAskDepth)               \
  X(setPowerRampEnable)           \
  X(setPowerRampFunc)             \
  X(setPowerRampTime)             \
  X(setPowerRampItem)             \
  X(setPowerRampStartSymbol)      \
  X(setPowerRampAttenuation)      \
  X(setSigAddNoiseIsEnable)       \
  X(setNoiseCNR)                  \
  X(setNoiseSystemBandwidth)      \
  X(setBandWidthRatio)            \
  X(setNoiseSampleRate)           \
  X(setNoiseSeqLength)            \
  X(setMccwCarrierItem)           \
  X(setMccwCarrierSpacing)        \
  X(setMccwCarrierSAmp)           \
  X(setMccwCarrierPhase)          \
  X(setMccwCarrierEn)             \
  X(setMccwOptCrestFactorEn)      \
  X(runMccwCarrierParamGen)       \
  X(getMccwCarrierSample)         \
  X(getMccwCarrierSampleFreq)     \
  X(runIqSynth)                   \
  X(getFilterTap)                 \
  X(getNoiseBandWidth)            \
  X(getNoiseLvlSysBW)             \
  X(getNoiseLvlTotalBW)           \
  X(getSigLvlPep)                 \
  X(getCarrierLvldB)              \
  X(getSigLvldB)

// Pointers with the signatures of iqsynth.h; the functions are looked up by name,
// never linked, so that nothing of the library runs before the program has set its
// environment (and --help runs without it).
struct SynthesisLibrary {
#define IQSYNTH_HOST_POINTER(name) decltype(&::name) name = nullptr;
  IQSYNTH_HOST_FUNCTIONS(IQSYNTH_HOST_POINTER)
#undef IQSYNTH_HOST_POINTER
};

// Loads libiqsynth.so (once per process; later calls return the same table): by name
// in the loader's ordinary order (LD_LIBRARY_PATH, then the program's RUNPATH
// $ORIGIN/../lib), else from the lib folder beside the program's own bin folder.
// Throws LibraryError naming the library or the missing function.
const SynthesisLibrary& loadSynthesisLibrary();

}  // namespace iqsynth_host
