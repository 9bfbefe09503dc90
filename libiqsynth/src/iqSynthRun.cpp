// The run driver runIqSynth: produces the tracks of the working mode, applies power ramping,
// noise, envelope normalisation and the OQPSK delay, quantises into the host's arrays and turns
// every exception of a run into a negative status. Also the multi-carrier parameter step.
#include "iqSynthRun.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <complex>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <valarray>
#include <vector>

#include "awgn.h"
#include "cdmModulation.h"
#include "dataMapping.h"
#include "iqSynthCfg.h"
#include "iqSynthLog.h"
#include "iqsynth.h"
#include "mulCarrierCW.h"
#include "powerRamping.h"

namespace iqsynth {
namespace {

constexpr double kEnvelopePeak = 0.9;    // envelope peak after normalisation
constexpr double kQuantScale = 32768.0;  // full scale of the 16-bit product
constexpr int kOutputShift = 2;          // 16-bit product to 14-bit sample

// Held for the whole of runIqSynth and runMccwCarrierParamGen: a run uses the one record,
// the process-wide tracks and the one log, so calls from several threads take turns.
std::mutex gRunMutex;

// The digital mode: the pipeline's full tracks cut to the data window.
void produceDigital(iqSynthCfg& c) {
  const long long samples = static_cast<long long>(c.sequenceLenth) * c.overSamplingRate;
  if (samples < 0 || samples > INT_MAX) {
    throwCfgValue("sequenceLenth " + to_string(c.sequenceLenth) + " x overSamplingRate " +
                  to_string(c.overSamplingRate) + " is not a usable sample count");
  }
  c.sampleLength = static_cast<int>(samples);
  runCDMModulation();

  const std::size_t offset = static_cast<std::size_t>(std::max(c.sampleOffset, 0));
  const std::size_t length = static_cast<std::size_t>(c.sampleLength);
  if (c.sampleOffset < 0 || offset + length > iMapDat.size() || offset + length > qMapDat.size()) {
    throwCfgValue("the modulated tracks do not hold the data window of sampleOffset " +
                  to_string(c.sampleOffset) + " and sampleLength " + to_string(c.sampleLength));
  }
  std::valarray<double>* const tracks[2] = {&iMapDat, &qMapDat};
  for (std::valarray<double>* track : tracks) {
    std::valarray<double> window;
    try {
      window = std::valarray<double>((*track)[std::slice(offset, length, 1)]);
    } catch (const std::bad_alloc&) {
      throw IqSynthMemAllocExcept("resize tmpBuf is error in " + siteFileAtLine());
    }
    *track = std::move(window);
  }
}

// The multi-carrier mode: sampleLength = mccwCarrierSample, tracks of that size.
void produceMultiCarrier(iqSynthCfg& c) {
  if (c.mccwCarrierItem < 1 || c.mccwCarrierItem > iqSynthCfg::kMaxMccwCarriers) {
    throwCfgValue("mccwCarrierItem " + to_string(c.mccwCarrierItem) + " is outside 1.." +
                  to_string(iqSynthCfg::kMaxMccwCarriers));
  }
  if (c.mccwCarrierSample < 1) {
    throwCfgValue("mccwCarrierSample " + to_string(c.mccwCarrierSample) +
                  " must be at least 1 (run runMccwCarrierParamGen first)");
  }
  c.sampleLength = c.mccwCarrierSample;
  const std::size_t length = static_cast<std::size_t>(c.sampleLength);
  resizeOrThrow(iMapDat, length, "resize iMapDat is error in ");
  resizeOrThrow(qMapDat, length, "resize qMapDat is error in ");
  runMulCarrierCW(c, iMapDat, qMapDat);
}

// Adds noise at noiseCNR to the tracks in place; the noise work arrays are the
// only extra memory. The stage covers the samples the tracks hold.
void addNoiseToTracks(iqSynthCfg& c) {
  const double fs = c.symbolRate * c.overSamplingRate;
  checkNoiseSettings(c, fs, "symbolRate x overSamplingRate");
  if (!std::isfinite(c.noiseCNR)) {
    throwCfgValue("noiseCNR " + to_string(c.noiseCNR) + " is not a finite ratio in dB");
  }
  const std::size_t length = std::min(iMapDat.size(), qMapDat.size());
  if (length == 0) {
    return;  // nothing to add noise to
  }
  const int n = static_cast<int>(length);
  const std::unique_ptr<double[]> noiseI(new (std::nothrow) double[length]);
  if (!noiseI) {
    throw IqSynthMemAllocExcept("malloc space for iNoise is error in " + siteFileAtLine());
  }
  const std::unique_ptr<double[]> noiseQ(new (std::nothrow) double[length]);
  if (!noiseQ) {
    throw IqSynthMemAllocExcept("malloc space for qNoise is error in " + siteFileAtLine());
  }
  const int rc =
      awgnAddNoise(noiseI.get(), noiseQ.get(), &iMapDat[0], &qMapDat[0], n, c.noiseSystemBandwidth,
                   c.bandWidthRatio, &c.noiseBandWidth, fs, c.noiseCNR, &c.carrierLvldB,
                   &c.sigLvldB, &c.noiseLvlSysBW, &c.noiseLvlTotalBW, &c.sigLvlPep);
  if (rc != kSignalOk) {
    throw IqSynthAwgnExcept(rc | IQSYNTH_ERR_NOISE_BASE, "AWGN ADD noise is error");
  }
}

// Scales the tracks so that the envelope peak is 0.9 (0.9 x maxAskDepth for ASK).
// Samples that are not finite, or whose envelope power overflows, cannot be scaled into
// the output (they would leave it all zero): the run fails with IQSYNTH_ERR_CFG_VALUE.
void normaliseEnvelope(const iqSynthCfg& c) {
  double peakPower = 0.0;
  bool finite = true;
  for (std::size_t k = 0; k < iMapDat.size(); ++k) {
    const double power = iMapDat[k] * iMapDat[k] + qMapDat[k] * qMapDat[k];
    finite = finite && power <= std::numeric_limits<double>::max();  // false for inf and NaN
    peakPower = std::max(peakPower, power);
  }
  if (!finite) {
    throwCfgValue("the samples of workingMode " + to_string(c.workingMode) +
                  " are not finite or their envelope power overflows: the levels, the "
                  "constellation or the filter taps are too large");
  }
  double peak = std::sqrt(peakPower) / kEnvelopePeak;
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
    throw IqSynthMemAllocExcept("Alloc qMapDat temporary buffer is error in " + siteFileAtLine());
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
  iqSynthCfg& c = gIqSynthCfg;
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
    throwCfgValue("the I and Q tracks differ in length");
  }

  if (c.powerRampEnable) {
    runPowerRamping(c, iMapDat, qMapDat);
  }
  if (c.sigAddNoiseIsEnable) {
    addNoiseToTracks(c);
  }
  normaliseEnvelope(c);

  wrLog("the qMapDat before rotate is : at line " + siteLineInFile());
  if (c.digiModulatingType == iqSynthCfg::MOD_OQPSK) {
    delayOqpskQ(c);
  }
  wrLog("idat max is " + to_string(largestValue(iMapDat)));
  wrLog("qdat max is " + to_string(largestValue(qMapDat)));

  // Quantised into buffers of the run first: the host's arrays are written only
  // once nothing can fail any more.
  const std::size_t count = iMapDat.size();
  if (count > 0 && (pIDat == nullptr || pQDat == nullptr)) {
    throwCfgValue("pIDat and pQDat must be arrays of " + to_string(count) + " samples");
  }
  std::vector<short> outI;
  std::vector<short> outQ;
  resizeOrThrow(outI, count, "resize output buffer is error in ");
  resizeOrThrow(outQ, count, "resize output buffer is error in ");
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
  wrLog("the output pIDat is : at line " + siteLineInFile());
  logIndexedLines("th pIDat is ", count, [&](std::size_t k) { return iDat[k]; });
  wrLog("the output pQDat is : at line " + siteLineInFile());
  logIndexedLines("th pQDat is ", count, [&](std::size_t k) { return qDat[k]; });
}

}  // namespace iqsynth

extern "C" {

IQSYNTH_API void runMccwCarrierParamGen(void) {
  const std::lock_guard lock(iqsynth::gRunMutex);
  iqsynth::genMulCarrierCWParam(gIqSynthCfg);
}

IQSYNTH_API int runIqSynth(short* pIDat, short* pQDat) {
  using namespace iqsynth;
  const std::lock_guard lock(gRunMutex);
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
