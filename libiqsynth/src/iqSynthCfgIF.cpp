// Exported configuration interface of libiqsynth: the setters, getters, limits
// and read-back functions over the global record gIqSynthCfg. Setters store
// without checks; array copies are bounded by the capacities of the record.
// The run itself, runIqSynth, is in iqSynthRun.cpp.
#include <algorithm>
#include <cmath>
#include <limits>

#include "dataMapping.h"
#include "iqSynthCfg.h"
#include "iqsynth.h"

namespace {

using arbsuite::iqsynth::clampCount;
using arbsuite::iqsynth::ConstelMap;
using arbsuite::iqsynth::iqSynthCfg;

iqSynthCfg& cfg() { return gIqSynthCfg; }

// Copies count elements (clamped to 0..capacity) from src into dst.
template <typename T>
void copyClamped(T* dst, const T* src, long long count, int capacity) {
  const long long n = std::clamp<long long>(count, 0, capacity);
  if (n > 0 && src != nullptr && dst != nullptr) {
    std::copy_n(src, static_cast<std::size_t>(n), dst);
  }
}

// Number of user taps the setter copies: overSamplingRate x filterLength, none
// when either count is negative.
long long userTapCount() {
  if (cfg().overSamplingRate < 0 || cfg().filterLength < 0) {
    return 0;
  }
  return static_cast<long long>(cfg().overSamplingRate) * cfg().filterLength;
}

}  // namespace

extern "C" {

IQSYNTH_API void setAlphaBt(double alphaBt) { cfg().AlphaBt = alphaBt; }
IQSYNTH_API double getAlphaBt(void) { return cfg().AlphaBt; }
IQSYNTH_API void setCodingType(int codingType) {
  cfg().codingType = static_cast<iqSynthCfg::CodingType_t>(codingType);
}
IQSYNTH_API int getCodingType(void) { return cfg().codingType; }
IQSYNTH_API void setDataSrc(int dataSrc) {
  cfg().dataSrc = static_cast<iqSynthCfg::DataSrc_t>(dataSrc);
}
IQSYNTH_API int getDataSrc(void) { return cfg().dataSrc; }
IQSYNTH_API void setDigiModulatingType(int type) {
  cfg().digiModulatingType = static_cast<iqSynthCfg::DigiModulatingType_t>(type);
}
IQSYNTH_API int getDigiModulatingType(void) { return cfg().digiModulatingType; }
IQSYNTH_API void setFilterLengh(int symbols) { cfg().filterLength = symbols; }
IQSYNTH_API int getFilterLengh(void) { return cfg().filterLength; }
IQSYNTH_API void setMaxFskDev(double hz) { cfg().maxFskDev = hz; }
IQSYNTH_API double getMaxFskDev(void) { return cfg().maxFskDev; }
IQSYNTH_API void setMaxAskDepth(double scale) { cfg().maxAskDepth = scale; }
IQSYNTH_API double getMaxAskDepth(void) { return cfg().maxAskDepth; }
IQSYNTH_API void setOverSamplingRate(int samplesPerSymbol) {
  cfg().overSamplingRate = samplesPerSymbol;
}
IQSYNTH_API int getOverSamplingRate(void) { return cfg().overSamplingRate; }
IQSYNTH_API void setPrbs(int order) { cfg().prbs = static_cast<iqSynthCfg::Prbs_t>(order); }
IQSYNTH_API int getPrbs(void) { return cfg().prbs; }
IQSYNTH_API void setSequenceLenth(int symbols) { cfg().sequenceLength = symbols; }
IQSYNTH_API int getSequenceLenth(void) { return cfg().sequenceLength; }
IQSYNTH_API void setShapingFilterType(int type) {
  cfg().shapingFilterType = static_cast<iqSynthCfg::ShapingFilterType_t>(type);
}
IQSYNTH_API int getShapingFilterType(void) { return cfg().shapingFilterType; }
IQSYNTH_API void setSymbolRate(double hz) { cfg().symbolRate = hz; }
IQSYNTH_API double getSymbolRate(void) { return cfg().symbolRate; }
IQSYNTH_API void setUsrListSize(int characters) { cfg().usrListSize = characters; }
IQSYNTH_API int getUsrListSize(void) { return cfg().usrListSize; }
IQSYNTH_API void setWorkingMode(int mode) {
  cfg().workingMode = static_cast<iqSynthCfg::workingMode_t>(mode);
}
IQSYNTH_API int getWorkingMode(void) { return cfg().workingMode; }
IQSYNTH_API void setDataFormatIsHex(bool isHex) { cfg().dataFormatIsHex = isHex; }
IQSYNTH_API bool isDataFormatIsHex(void) { return cfg().dataFormatIsHex; }
IQSYNTH_API void setFskPhaseCorrectEnable(bool enable) { cfg().fskPhaseCorrectEnable = enable; }
IQSYNTH_API bool isFskPhaseCorrectEnable(void) { return cfg().fskPhaseCorrectEnable; }
IQSYNTH_API void setPowerRampEnable(bool enable) { cfg().powerRampEnable = enable; }
IQSYNTH_API void setPowerRampFunc(int func) {
  cfg().powerRampFunc = static_cast<iqSynthCfg::powerRampFunc_t>(func);
}
IQSYNTH_API void setPowerRampTime(double symbols) { cfg().powerRampTime = symbols; }

IQSYNTH_API void setPowerRampItem(int rows) { cfg().powerRampItem = rows; }
IQSYNTH_API void setSigAddNoiseIsEnable(int enable) { cfg().sigAddNoiseIsEnable = enable != 0; }
IQSYNTH_API void setNoiseSampleRate(double hz) { cfg().noiseSampleRate = hz; }
IQSYNTH_API void setNoiseSeqLength(int samples) { cfg().noiseSeqLength = samples; }
IQSYNTH_API void setNoiseSystemBandwidth(double hz) { cfg().noiseSystemBandwidth = hz; }
IQSYNTH_API void setBandWidthRatio(double ratio) { cfg().bandWidthRatio = ratio; }
IQSYNTH_API void setNoiseCNR(double dB) { cfg().noiseCNR = dB; }
IQSYNTH_API void setMccwCarrierItem(int carriers) { cfg().mccwCarrierItem = carriers; }
IQSYNTH_API void setMccwCarrierSpacing(double hz) { cfg().mccwCarrierSpacing = hz; }
IQSYNTH_API void setMccwOptCrestFactorEn(int enable) { cfg().mccwOptCrestFactorEn = enable; }
IQSYNTH_API void setMccwOptCrestFactorMode(int mode) { cfg().mccwOptCrestFactorMode = mode; }

// A null text leaves an empty string rather than crashing.
IQSYNTH_API void setInstallPath(const char* text) { cfg().installPath = text ? text : ""; }
IQSYNTH_API void setDataFileList(const char* path) { cfg().dataFileList = path ? path : ""; }
IQSYNTH_API void setCtrlFileList(const char* text) { cfg().ctrlFileList = text ? text : ""; }
IQSYNTH_API void setIqFilePathName(const char* text) { cfg().iqFilePathName = text ? text : ""; }
IQSYNTH_API void setTmpFilePathName(const char* text) { cfg().tmpFilePathName = text ? text : ""; }

IQSYNTH_API void setUsrList(const char* list) {
  copyClamped(cfg().usrList, list, cfg().usrListSize, iqSynthCfg::kMaxUsrListSize);
}
IQSYNTH_API void setShapingFilterCoef(const double* taps) {
  copyClamped(cfg().usrFilterCoef, taps, userTapCount(), iqSynthCfg::kMaxFilterTaps);
}
IQSYNTH_API void setPowerRampStartSymbol(const int* symbols) {
  copyClamped(cfg().powerRampStartSymbol, symbols, cfg().powerRampItem,
              iqSynthCfg::kMaxPowerRampItems);
}
IQSYNTH_API void setPowerRampAttenuation(const double* dB) {
  copyClamped(cfg().powerRampAtten, dB, cfg().powerRampItem, iqSynthCfg::kMaxPowerRampItems);
}
IQSYNTH_API void setMccwCarrierSAmp(const double* dB) {
  copyClamped(cfg().mccwCarrierAmp, dB, cfg().mccwCarrierItem, iqSynthCfg::kMaxMccwCarriers);
}
IQSYNTH_API void setMccwCarrierPhase(const double* radians) {
  copyClamped(cfg().mccwCarrierPhase, radians, cfg().mccwCarrierItem, iqSynthCfg::kMaxMccwCarriers);
}
IQSYNTH_API void setMccwCarrierEn(const char* enable) {
  copyClamped(cfg().mccwCarrierEn, enable, cfg().mccwCarrierItem, iqSynthCfg::kMaxMccwCarriers);
}

IQSYNTH_API void setUsrModulatingSymbolItem(int points) {
  int bits = 0;
  while (points > 1) {
    points >>= 1;
    ++bits;
  }
  cfg().digiModulatingType =
      static_cast<iqSynthCfg::DigiModulatingType_t>(cfg().digiModulatingType | bits);
}

IQSYNTH_API void setUsrModulatingConstelMap(const double* points) {
  const int count = clampCount(arbsuite::iqsynth::modPointCount(cfg().digiModulatingType),
                               iqSynthCfg::kMaxConstelPoints);
  cfg().usrConstelMap.clear();
  if (points == nullptr) {
    return;
  }
  cfg().usrConstelMap.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    cfg().usrConstelMap.emplace_back(points[2 * i], points[2 * i + 1]);
  }
}

IQSYNTH_API int getFilterTap(void) { return cfg().filterTap; }
IQSYNTH_API void getFilterCoef(double* out, int n) {
  copyClamped(out, cfg().filterCoef, n, iqSynthCfg::kMaxReportedTaps);
}
IQSYNTH_API void getSymbolMap(char* out, int n) {
  copyClamped(out, cfg().symbolMap, n, iqSynthCfg::kMaxConstelPoints);
}

IQSYNTH_API int getConstelMap(double* out) {
  const ConstelMap* points = arbsuite::iqsynth::constelMapFor(cfg(), cfg().digiModulatingType);
  if (points == nullptr) {
    return 1;
  }
  // The caller provides room for 256 points.
  const int count =
      static_cast<int>(std::min<std::size_t>(points->size(), iqSynthCfg::kMaxConstelPoints));
  if (out != nullptr) {
    for (int i = 0; i < count; ++i) {
      out[2 * i] = (*points)[static_cast<std::size_t>(i)].real();
      out[2 * i + 1] = (*points)[static_cast<std::size_t>(i)].imag();
    }
  }
  return count;
}

IQSYNTH_API const char* getUserList(void) { return cfg().usrList; }
IQSYNTH_API double getNoiseBandWidth(void) { return cfg().noiseBandWidth; }
IQSYNTH_API double getNoiseLvlSysBW(void) { return cfg().noiseLvlSysBW; }
IQSYNTH_API double getNoiseLvlTotalBW(void) { return cfg().noiseLvlTotalBW; }
IQSYNTH_API double getSigLvlPep(void) { return cfg().sigLvlPep; }
IQSYNTH_API double getCarrierLvldB(void) { return cfg().carrierLvldB; }
IQSYNTH_API double getSigLvldB(void) { return cfg().sigLvldB; }
IQSYNTH_API int getMccwCarrierSample(void) { return cfg().mccwCarrierSample; }
IQSYNTH_API double getMccwCarrierSampleFreq(void) { return cfg().mccwCarrierSampleFreq; }

IQSYNTH_API int getMaxFilterLen(void) { return iqSynthCfg::kMaxFilterLen; }
IQSYNTH_API int getMaxOsr(void) { return iqSynthCfg::kMaxOsr; }
IQSYNTH_API int getMaxUsrListSize(void) { return iqSynthCfg::kMaxUsrListSize; }

}  // extern "C"

// C++ linkage: these three are exported under their decorated names.
IQSYNTH_API bool isPowerRampEnable() { return cfg().powerRampEnable; }
IQSYNTH_API int getPowerRampFunc() { return cfg().powerRampFunc; }
// Truncates toward zero; NaN reads as 0 and values beyond the int range saturate.
IQSYNTH_API int getPowerRampTime() {
  const double t = cfg().powerRampTime;
  if (std::isnan(t)) {
    return 0;
  }
  if (t >= static_cast<double>(std::numeric_limits<int>::max())) {
    return std::numeric_limits<int>::max();
  }
  if (t <= static_cast<double>(std::numeric_limits<int>::min())) {
    return std::numeric_limits<int>::min();
  }
  return static_cast<int>(t);
}
