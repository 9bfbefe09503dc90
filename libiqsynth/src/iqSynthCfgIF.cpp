// Exported configuration interface of libiqsynth: the setters, getters, limits
// and read-back functions over the global record gIqSynthCfg. Setters store
// without checks; array copies are bounded by the capacities of the record.
#include <algorithm>
#include <cmath>
#include <limits>

#include "dataMapping.h"
#include "iqSynthCfg.h"
#include "iqSynthLog.h"

namespace {

iqSynthCfg& cfg() { return gIqSynthCfg; }

// Copies count elements (clamped to 0..capacity) from src into dst.
template <typename T>
void copyClamped(T* dst, const T* src, long long count, int capacity) {
  const long long n = std::clamp<long long>(count, 0, capacity);
  if (n > 0 && src != nullptr && dst != nullptr) {
    std::copy_n(src, static_cast<std::size_t>(n), dst);
  }
}

// Number of user taps the setter copies: overSamplingRate x filterLengh, none
// when either count is negative.
long long userTapCount() {
  if (cfg().overSamplingRate < 0 || cfg().filterLengh < 0) {
    return 0;
  }
  return static_cast<long long>(cfg().overSamplingRate) * cfg().filterLengh;
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
IQSYNTH_API void setFilterLengh(int symbols) { cfg().filterLengh = symbols; }
IQSYNTH_API int getFilterLengh(void) { return cfg().filterLengh; }
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
IQSYNTH_API void setSequenceLenth(int symbols) { cfg().sequenceLenth = symbols; }
IQSYNTH_API int getSequenceLenth(void) { return cfg().sequenceLenth; }
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
  const int count =
      clampCount(modPointCount(cfg().digiModulatingType), iqSynthCfg::kMaxConstelPoints);
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
  const ConstelMap* points = constelMapFor(cfg(), cfg().digiModulatingType);
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

// ===========================================================================
// Run driver: runIqSynth and the multi-carrier parameter step.
// Produces the tracks of the working mode, applies ramping, noise, envelope
// normalisation and the OQPSK delay, quantises into the host's arrays and
// turns every exception of a run into a negative status.
// ===========================================================================
#include <charconv>
#include <climits>
#include <complex>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <valarray>
#include <vector>

#include "awgn.h"
#include "iqSynthFilter.h"
#include "iqSynthRun.h"
#include "mulCarrierCW.h"
#include "powerRamping.h"

namespace {

constexpr const char* kDriverSourceFile = "iqSynthCfgIF.cpp";
constexpr double kEnvelopePeak = 0.9;    // envelope peak after normalisation
constexpr double kQuantScale = 32768.0;  // full scale of the 16-bit product
constexpr int kOutputShift = 2;          // 16-bit product to 14-bit sample

std::string driverWhere(int line) {
  return std::string(kDriverSourceFile) + " at " + to_string(line);
}
std::string driverLineInFile(int line) { return to_string(line) + " in file " + kDriverSourceFile; }

[[noreturn]] void rejectSetting(const std::string& text) {
  throw IqSynthCfgExcept(IQSYNTH_ERR_CFG_VALUE, text);
}

// Appends "<index><label><value>" lines to the log, many lines to an entry:
// a run logs one line per output sample.
void logIndexedLines(const char* label, const std::size_t count, auto valueAt) {
  logLines(count, [&](std::string& out, std::size_t i) {
    appendLogText(out, i);
    out += label;
    appendLogText(out, valueAt(i));
  });
}

// The digital mode: the pipeline's full tracks cut to the data window.
void produceDigital(iqSynthCfg& c) {
  const long long samples = static_cast<long long>(c.sequenceLenth) * c.overSamplingRate;
  if (samples < 0 || samples > INT_MAX) {
    rejectSetting("sequenceLenth " + to_string(c.sequenceLenth) + " x overSamplingRate " +
                  to_string(c.overSamplingRate) + " is not a usable sample count");
  }
  c.sampleLength = static_cast<int>(samples);
  runCDMModulation();

  const std::size_t offset = static_cast<std::size_t>(std::max(c.sampleOffset, 0));
  const std::size_t length = static_cast<std::size_t>(c.sampleLength);
  if (c.sampleOffset < 0 || offset + length > iMapDat.size() || offset + length > qMapDat.size()) {
    rejectSetting("the modulated tracks do not hold the data window of sampleOffset " +
                  to_string(c.sampleOffset) + " and sampleLength " + to_string(c.sampleLength));
  }
  std::valarray<double>* const tracks[2] = {&iMapDat, &qMapDat};
  for (std::valarray<double>* track : tracks) {
    std::valarray<double> window;
    try {
      window = std::valarray<double>((*track)[std::slice(offset, length, 1)]);
    } catch (const std::bad_alloc&) {
      throw IqSynthMemAllocExcept("resize tmpBuf is error in " + driverWhere(__LINE__));
    }
    *track = std::move(window);
  }
}

// The multi-carrier mode: sampleLength = mccwCarrierSample, tracks of that size.
void produceMultiCarrier(iqSynthCfg& c) {
  if (c.mccwCarrierItem < 1 || c.mccwCarrierItem > iqSynthCfg::kMaxMccwCarriers) {
    rejectSetting("mccwCarrierItem " + to_string(c.mccwCarrierItem) + " is outside 1.." +
                  to_string(iqSynthCfg::kMaxMccwCarriers));
  }
  if (c.mccwCarrierSample < 1) {
    rejectSetting("mccwCarrierSample " + to_string(c.mccwCarrierSample) +
                  " must be at least 1 (run runMccwCarrierParamGen first)");
  }
  c.sampleLength = c.mccwCarrierSample;
  const std::size_t length = static_cast<std::size_t>(c.sampleLength);
  try {
    iMapDat.resize(length);
  } catch (const std::bad_alloc&) {
    throw IqSynthMemAllocExcept("resize iMapDat is error in " + driverWhere(__LINE__));
  }
  try {
    qMapDat.resize(length);
  } catch (const std::bad_alloc&) {
    throw IqSynthMemAllocExcept("resize qMapDat is error in " + driverWhere(__LINE__));
  }
  runMulCarrierCW(c, iMapDat, qMapDat);
}

// Adds noise at noiseCNR to the tracks in place; the noise work arrays are the
// only extra memory. The stage covers the samples the tracks hold.
void addNoiseToTracks(iqSynthCfg& c) {
  const double fs = c.symbolRate * c.overSamplingRate;
  checkNoiseSettings(c, fs, "symbolRate x overSamplingRate");
  if (!std::isfinite(c.noiseCNR)) {
    rejectSetting("noiseCNR " + to_string(c.noiseCNR) + " is not a finite ratio in dB");
  }
  const std::size_t length = std::min(iMapDat.size(), qMapDat.size());
  if (length == 0) {
    return;  // nothing to add noise to
  }
  const int n = static_cast<int>(length);
  const std::unique_ptr<double[]> noiseI(new (std::nothrow) double[length]);
  if (!noiseI) {
    throw IqSynthMemAllocExcept("malloc space for iNoise is error in " + driverWhere(__LINE__));
  }
  const std::unique_ptr<double[]> noiseQ(new (std::nothrow) double[length]);
  if (!noiseQ) {
    throw IqSynthMemAllocExcept("malloc space for qNoise is error in " + driverWhere(__LINE__));
  }
  const int rc =
      awgnAddNoise(noiseI.get(), noiseQ.get(), &iMapDat[0], &qMapDat[0], n, c.noiseSystemBandwidth,
                   c.bandWidthRatio, &c.noiseBandWidth, fs, c.noiseCNR, &c.carrierLvldB,
                   &c.sigLvldB, &c.noiseLvlSysBW, &c.noiseLvlTotalBW, &c.sigLvlPep);
  if (rc != kNoiseOk) {
    throw IqSynthAwgnExcept(rc | IQSYNTH_ERR_NOISE_BASE, "AWGN ADD noise is error");
  }
}

// Scales the tracks so that the envelope peak is 0.9 (0.9 x maxAskDepth for ASK).
void normaliseEnvelope(const iqSynthCfg& c) {
  double peak = 0.0;
  for (std::size_t k = 0; k < iMapDat.size(); ++k) {
    peak = std::max(peak, std::sqrt(iMapDat[k] * iMapDat[k] + qMapDat[k] * qMapDat[k]));
  }
  peak = peak / kEnvelopePeak;
  if (c.digiModulatingType == iqSynthCfg::MOD_ASK) {
    peak = peak / c.maxAskDepth;
  }
  if (peak != 0.0) {
    iMapDat /= peak;
    qMapDat /= peak;
  }
}

// OQPSK: Q delayed circularly by half a symbol, overSamplingRate / 2 samples.
void delayOqpskQ(const iqSynthCfg& c) {
  const long long n = static_cast<long long>(qMapDat.size());
  if (n == 0) {
    return;
  }
  const long long delay = ((c.overSamplingRate / 2) % n + n) % n;
  if (delay == 0) {
    return;
  }
  try {
    qMapDat = qMapDat.cshift(static_cast<int>(-delay));
  } catch (const std::bad_alloc&) {
    throw IqSynthMemAllocExcept("Alloc qMapDat temporary buffer is error in " +
                                driverWhere(__LINE__));
  }
}

double largestValue(const std::valarray<double>& track) {
  return track.size() == 0 ? 0.0 : track.max();
}

void logConstellation(const iqSynthCfg& c) {
  wrLog("print constelMap");
  std::vector<std::complex<double>> points;
  if (constelMapFor(c, c.digiModulatingType) != nullptr) {
    double buffer[2 * iqSynthCfg::kMaxConstelPoints];
    const int count = std::clamp(getConstelMap(buffer), 0, iqSynthCfg::kMaxConstelPoints);
    for (int k = 0; k < count; ++k) {
      points.emplace_back(buffer[2 * k], buffer[2 * k + 1]);
    }
  }
  ite_print(points);
}

int runIqSynthStages(short* pIDat, short* pQDat) {
  iqSynthCfg& c = cfg();
  c.genParaMsg();
  wrLog(c.paraMsg);

  switch (c.workingMode) {
    case iqSynthCfg::WORKING_MODE_AWGN:
      runAWGN();
      break;
    case iqSynthCfg::WORKING_MODE_MCCW:
      produceMultiCarrier(c);
      break;
    case iqSynthCfg::WORKING_MODE_DIGITAL:
      produceDigital(c);
      break;
    default:
      // Nothing is produced: tracks left by a failed run must not reach the host.
      iMapDat.resize(0);
      qMapDat.resize(0);
      break;
  }
  if (iMapDat.size() != qMapDat.size()) {
    rejectSetting("the I and Q tracks differ in length");
  }

  if (c.powerRampEnable) {
    runPowerRamping(c, iMapDat, qMapDat);
  }
  if (c.sigAddNoiseIsEnable) {
    addNoiseToTracks(c);
  }
  normaliseEnvelope(c);

  wrLog("the qMapDat before rotate is : at line " + driverLineInFile(__LINE__));
  if (c.digiModulatingType == iqSynthCfg::MOD_OQPSK) {
    delayOqpskQ(c);
  }
  wrLog("idat max is " + to_string(largestValue(iMapDat)));
  wrLog("qdat max is " + to_string(largestValue(qMapDat)));

  // Quantised into buffers of the run first: the host's arrays are written only
  // once nothing can fail any more.
  const std::size_t count = iMapDat.size();
  if (count > 0 && (pIDat == nullptr || pQDat == nullptr)) {
    rejectSetting("pIDat and pQDat must be arrays of " + to_string(count) + " samples");
  }
  std::vector<short> outI;
  std::vector<short> outQ;
  try {
    outI.resize(count);
    outQ.resize(count);
  } catch (const std::bad_alloc&) {
    throw IqSynthMemAllocExcept("resize output buffer is error in " + driverWhere(__LINE__));
  }
  for (std::size_t k = 0; k < count; ++k) {
    outI[k] = quantiseSample(iMapDat[k]);
    outQ[k] = quantiseSample(qMapDat[k]);
  }

  writeSampleLog(outI.data(), outQ.data(), count);

  iMapDat.resize(0);
  qMapDat.resize(0);
  wrLog("INFO : Running to end ");

  logConstellation(c);
  logIndexedLines("th mapbuf is ", iqSynthCfg::kMaxConstelPoints,
                  [&](std::size_t k) { return static_cast<int>(c.symbolMap[k]); });

  if (count > 0) {
    std::memcpy(pIDat, outI.data(), count * sizeof(short));
    std::memcpy(pQDat, outQ.data(), count * sizeof(short));
  }
  return 0;
}

}  // namespace

short quantiseSample(double value) {
  if (std::isnan(value)) {
    return 0;
  }
  const double product = std::trunc(value * kQuantScale);
  int v = 0;
  if (product >= 32767.0) {
    v = 32767;
  } else if (product <= -32768.0) {
    v = -32768;
  } else {
    v = static_cast<int>(product);
  }
  return static_cast<short>(v >> kOutputShift);
}

void writeSampleLog(const short* iDat, const short* qDat, std::size_t count) {
  wrLog("the output pIDat is : at line " + driverLineInFile(__LINE__));
  logIndexedLines("th pIDat is ", count, [&](std::size_t k) { return iDat[k]; });
  wrLog("the output pQDat is : at line " + driverLineInFile(__LINE__));
  logIndexedLines("th pQDat is ", count, [&](std::size_t k) { return qDat[k]; });
}

extern "C" {

IQSYNTH_API void runMccwCarrierParamGen(void) { genMulCarrierCWParam(cfg()); }

IQSYNTH_API int runIqSynth(short* pIDat, short* pQDat) {
  int status = 0;
  try {
    status = runIqSynthStages(pIDat, pQDat);
  } catch (const IqSynthMemAllocExcept& e) {
    wrLog(e.what());
    status = -IQSYNTH_ERR_MEM_ALLOC;
  } catch (const IqSynthFileExcept& e) {
    wrLog(e.what());
    status = -e.errNo();
  } catch (const IqSynthCfgExcept& e) {
    wrLog(e.what());
    status = -e.errNo();
  } catch (const IqSynthAwgnExcept& e) {
    wrLog(e.what());
    status = -e.errNo();
  } catch (const std::invalid_argument& e) {
    wrLog(e.what());
    status = -IQSYNTH_ERR_INVALID_ARGUMENT;
  } catch (...) {
    wrLog("not expected Error");
    status = -IQSYNTH_ERR_UNEXPECTED;
  }
  // Every entry of the run is on disk when the host gets the status.
  flushLog();
  return status;
}

}  // extern "C"
