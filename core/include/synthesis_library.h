// libiqsynth.so as the hosts use it (iqsynth, the Python module): loaded at run
// time, once the environment the library reads at load (run log, standard output)
// is set, and reached through one table of the functions the synthesis run calls.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <vector>

#include "iqsynth.h"

namespace arbsuite::iqsynth_host {

// The library could not be loaded, or lacks a function (iqsynth exits with its status
// kExitInternal).
struct LibraryError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Every exported function of iqsynth.h that the synthesis run calls, by its own name.
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

// The file name the library is loaded by.
inline constexpr const char* kLibraryName = "libiqsynth.so";

// Library files to try, in order, when the loader's own search finds none.
using LibraryCandidates = std::vector<std::filesystem::path>;

// libiqsynth.so in the lib folders beside the running program's bin folder: "lib"
// as in the build tree, and the installation's library folder.
LibraryCandidates besideTheProgram();

// Loads libiqsynth.so (once per process; later calls return the same table): by name
// in the loader's ordinary order (LD_LIBRARY_PATH, then the RUNPATH of the object
// that holds this code: the program's $ORIGIN/../lib, or a host module's own), else
// the first of the candidates that loads. Throws LibraryError naming the library or
// the missing function.
const SynthesisLibrary& loadSynthesisLibrary(const LibraryCandidates& candidates);

// Whether loadSynthesisLibrary has loaded the library in this process.
bool synthesisLibraryLoaded();

}  // namespace arbsuite::iqsynth_host
