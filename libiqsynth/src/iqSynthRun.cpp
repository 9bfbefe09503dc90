// The run driver runIqSynth: produces the tracks of the working mode, applies power ramping,
// noise, envelope normalisation and the OQPSK delay, quantises into the host's arrays and turns
// every exception of a run into a negative status; a digital run without ramping and noise
// reads its data window from the symbols block by block instead. Also the multi-carrier
// parameter step.
#include "iqSynthRun.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
#include "iqSynthFilter.h"
#include "iqSynthLog.h"
#include "iqsynth.h"
#include "mulCarrierCW.h"
#include "powerRamping.h"

namespace arbsuite::iqsynth {
namespace {

constexpr double kEnvelopePeak = 0.9;    // envelope peak after normalisation
constexpr double kQuantScale = 32768.0;  // full scale of the 16-bit product
constexpr int kOutputShift = 2;          // 16-bit product to 14-bit sample

// Held for the whole of runIqSynth and runMccwCarrierParamGen: a run uses the one record,
// the process-wide tracks and the one log, so calls from several threads take turns.
std::mutex gRunMutex;

// The samples a run hands on: count samples of each track of the run from offset on (the
// data window of a digital run, the whole tracks otherwise). The later stages work on it in
// place, so the long tracks of a digital run are never copied.
struct SampleWindow {
  const SampleTracks* tracks = nullptr;
  std::size_t offset = 0;
  std::size_t count = 0;
  double* i() const { return count > 0 ? &tracks->i[offset] : nullptr; }
  double* q() const { return count > 0 ? &tracks->q[offset] : nullptr; }
};

// The digital mode: the data window of the pipeline's full tracks. With shaped given, the
// pipeline may leave the tracks empty and set shaped up instead (the window is then empty and
// shaped->count() holds its length).
SampleWindow produceDigital(iqSynthCfg& c, const SampleTracks& tracks, DataWindowShaper* shaped) {
  const long long samples = static_cast<long long>(c.sequenceLength) * c.overSamplingRate;
  if (samples < 0 || samples > INT_MAX) {
    throwCfgValue("sequenceLenth " + to_string(c.sequenceLength) + " x overSamplingRate " +
                  to_string(c.overSamplingRate) + " is not a usable sample count");
  }
  c.sampleLength = static_cast<int>(samples);
  runCDMModulation(c, tracks, shaped);
  if (shaped != nullptr && shaped->count() > 0) {
    tracks.i.resize(0);
    tracks.q.resize(0);
    return {&tracks};
  }

  const std::size_t offset = static_cast<std::size_t>(std::max(c.sampleOffset, 0));
  const std::size_t length = static_cast<std::size_t>(c.sampleLength);
  if (c.sampleOffset < 0 || offset + length > tracks.i.size() ||
      offset + length > tracks.q.size()) {
    throwCfgValue("the modulated tracks do not hold the data window of sampleOffset " +
                  to_string(c.sampleOffset) + " and sampleLength " + to_string(c.sampleLength));
  }
  return {&tracks, offset, length};
}

// The multi-carrier mode: sampleLength = mccwCarrierSample, tracks of that size.
void produceMultiCarrier(iqSynthCfg& c, const SampleTracks& tracks) {
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
  resizeOrThrow(tracks.i, length, "resize iMapDat is error in ");
  resizeOrThrow(tracks.q, length, "resize qMapDat is error in ");
  runMulCarrierCW(c, tracks.i, tracks.q);
}

// Adds noise at noiseCNR to the window in place; the noise work arrays are the
// only extra memory.
void addNoiseToWindow(iqSynthCfg& c, const SampleWindow& w) {
  const double fs = c.symbolRate * c.overSamplingRate;
  checkNoiseSettings(fs, "symbolRate x overSamplingRate", c.noiseSystemBandwidth, c.bandWidthRatio);
  if (!std::isfinite(c.noiseCNR)) {
    throwCfgValue("noiseCNR " + to_string(c.noiseCNR) + " is not a finite ratio in dB");
  }
  if (w.count == 0) {
    return;  // nothing to add noise to
  }
  const int n = static_cast<int>(w.count);
  const std::unique_ptr<double[]> noiseI(new (std::nothrow) double[w.count]);
  if (!noiseI) {
    throw IqSynthError::memAlloc("malloc space for iNoise is error in " + siteFileAtLine());
  }
  const std::unique_ptr<double[]> noiseQ(new (std::nothrow) double[w.count]);
  if (!noiseQ) {
    throw IqSynthError::memAlloc("malloc space for qNoise is error in " + siteFileAtLine());
  }
  const int rc = awgnAddNoise(noiseI.get(), noiseQ.get(), w.i(), w.q(), n, c.noiseSystemBandwidth,
                              c.bandWidthRatio, &c.noiseBandWidth, fs, c.noiseCNR, &c.carrierLvldB,
                              &c.sigLvldB, &c.noiseLvlSysBW, &c.noiseLvlTotalBW, &c.sigLvlPep);
  if (rc != kSignalOk) {
    throw IqSynthError(IqSynthError::Kind::Awgn, rc | IQSYNTH_ERR_NOISE_BASE,
                       "AWGN ADD noise is error");
  }
}

// The envelope normalisation: every sample is divided by divisor when divide is set, so that
// the envelope peak becomes 0.9 (0.9 x maxAskDepth for ASK).
struct Normalisation {
  bool divide = false;
  double divisor = 1.0;
  double apply(double x) const { return divide ? x / divisor : x; }
};

// The largest envelope power of samples given a stretch at a time, and whether all of them
// were finite. The maximum does not depend on the order of the samples.
class EnvelopeScan {
 public:
  void add(const double* iDat, const double* qDat, std::size_t count) {
    constexpr double kLargest = std::numeric_limits<double>::max();
    // Four running maxima keep the loop from waiting on one comparison chain; locals, so that
    // they stay in registers.
    double peaks[4] = {m_peaks[0], m_peaks[1], m_peaks[2], m_peaks[3]};
    bool finite = m_finite;
    std::size_t k = 0;
    for (; k + 4 <= count; k += 4) {
      for (std::size_t j = 0; j < 4; ++j) {
        const double power = iDat[k + j] * iDat[k + j] + qDat[k + j] * qDat[k + j];
        finite &= power <= kLargest;  // false for inf and NaN
        peaks[j] = std::max(peaks[j], power);
      }
    }
    for (; k < count; ++k) {
      const double power = iDat[k] * iDat[k] + qDat[k] * qDat[k];
      finite &= power <= kLargest;
      peaks[0] = std::max(peaks[0], power);
    }
    std::copy(peaks, peaks + 4, m_peaks);
    m_finite = finite;
  }

  // The divisor of the samples: their largest envelope over 0.9 (and over maxAskDepth for
  // ASK); no division when that is 0. Samples that are not finite, or whose envelope power
  // overflows, cannot be scaled into the output (they would leave it all zero): the run
  // fails with IQSYNTH_ERR_CFG_VALUE.
  Normalisation normalisation(const iqSynthCfg& c) const {
    if (!m_finite) {
      throwCfgValue("the samples of workingMode " + to_string(c.workingMode) +
                    " are not finite or their envelope power overflows: the levels, the "
                    "constellation or the filter taps are too large");
    }
    // The square root is monotonic: the root of the largest power is the largest envelope.
    const double peakPower =
        std::max(std::max(m_peaks[0], m_peaks[1]), std::max(m_peaks[2], m_peaks[3]));
    double peak = std::sqrt(peakPower) / kEnvelopePeak;
    if (c.digiModulatingType == iqSynthCfg::MOD_ASK) {
      peak = peak / c.maxAskDepth;
    }
    return {peak != 0.0, peak};
  }

 private:
  double m_peaks[4] = {0.0, 0.0, 0.0, 0.0};
  bool m_finite = true;
};

Normalisation envelopeNormalisation(const iqSynthCfg& c, const SampleWindow& w) {
  EnvelopeScan scan;
  scan.add(w.i(), w.q(), w.count);
  return scan.normalisation(c);
}

// OQPSK delays Q circularly by half a symbol, overSamplingRate / 2 samples: output sample k
// takes Q sample (k - delay) mod count. 0 for every other type.
std::size_t oqpskDelay(const iqSynthCfg& c, std::size_t count) {
  if (c.digiModulatingType != iqSynthCfg::MOD_OQPSK || count == 0) {
    return 0;
  }
  const long long n = static_cast<long long>(count);
  return static_cast<std::size_t>(((c.overSamplingRate / 2) % n + n) % n);
}

// Calls visit(outputIndex, sourceIndex) for every sample of a track delayed circularly by
// delay samples, in output order.
template <typename Visit>
void forDelayed(std::size_t count, std::size_t delay, Visit visit) {
  for (std::size_t k = 0; k < delay; ++k) {
    visit(k, count - delay + k);
  }
  for (std::size_t k = delay; k < count; ++k) {
    visit(k, k - delay);
  }
}

// The largest normalised sample of a track (delayed by delay samples), found as
// std::valarray::max finds it: the first element that no later one exceeds. 0 when empty.
double largestNormalised(const double* track, std::size_t count, std::size_t delay,
                         const Normalisation& norm) {
  if (count == 0) {
    return 0.0;
  }
  auto firstLargest = [&](auto valueOf) {
    bool first = true;
    double largest = 0.0;
    forDelayed(count, delay, [&](std::size_t, std::size_t source) {
      const double v = valueOf(track[source]);
      if (first || largest < v) {
        largest = v;
        first = false;
      }
    });
    return largest;
  };
  // A correctly rounded division by a positive number keeps the order of any two samples (or
  // makes them equal), so the first largest quotient has the value of the quotient of the
  // first largest sample: one division instead of one per sample. Only a quotient of zero
  // could differ in its sign (a smaller negative sample that comes first may give -0).
  if (!norm.divide || norm.divisor > 0.0) {
    const double quotient = norm.apply(firstLargest([](double x) { return x; }));
    if (quotient != 0.0) {
      return quotient;
    }
  }
  return firstLargest([&](double x) { return norm.apply(x); });
}

void logConstellation(const iqSynthCfg& c) {
  wrLog("print constelMap");
  std::vector<std::complex<double>> points;
  // The points getConstelMap reports: the list of the type, at most 256 of them.
  if (const ConstelMap* map = constelMapFor(c, c.digiModulatingType)) {
    const std::size_t count =
        std::min<std::size_t>(map->size(), static_cast<std::size_t>(iqSynthCfg::kMaxConstelPoints));
    points.assign(map->begin(), map->begin() + static_cast<std::ptrdiff_t>(count));
  }
  ite_print(points);
}

// The closing log entries of a run: the host's samples, the constellation and the symbol map.
// Logging never fails a run: the entries are lost when memory runs out.
void logRunEnd(const iqSynthCfg& c, const short* pIDat, const short* pQDat, std::size_t count) {
  try {
    writeSampleLog(pIDat, pQDat, count);
    wrLog("INFO : Running to end ");
    logConstellation(c);
    logIndexedLines("th mapbuf is ", iqSynthCfg::kMaxConstelPoints,
                    [&](std::size_t k) { return static_cast<int>(c.symbolMap[k]); });
  } catch (const std::bad_alloc&) {
  }
}

// The first largest of values seen in order, as largestNormalised finds it.
struct FirstLargest {
  bool first = true;
  double largest = 0.0;
  void add(const double* v, std::size_t count) {
    for (std::size_t k = 0; k < count; ++k) {
      if (first || largest < v[k]) {
        largest = v[k];
        first = false;
      }
    }
  }
};

// Window samples shaped, normalised and quantised a block at a time: small enough that a block
// stays in the first-level cache between being shaped and being read.
constexpr std::size_t kShapedBlock = 1024;

// Samples source .. source+count-1 of one track of the shaped window, normalised and quantised
// into out (when out is given), their first largest normalised value into largest (when given).
template <typename Shape>
void quantiseShaped(Shape shape, std::size_t source, std::size_t count, const Normalisation& norm,
                    short* out, FirstLargest* largest) {
  double block[kShapedBlock];
  for (std::size_t done = 0; done < count; done += kShapedBlock) {
    const std::size_t n = std::min(kShapedBlock, count - done);
    shape(source + done, n, block);
    if (largest != nullptr) {
      for (std::size_t k = 0; k < n; ++k) {
        block[k] = norm.apply(block[k]);
      }
      largest->add(block, n);
      if (out != nullptr) {
        quantiseSamples(block, n, false, 1.0, out + done);
      }
    } else if (out != nullptr) {
      quantiseSamples(block, n, norm.divide, norm.divisor, out + done);
    }
  }
}

// The stages after the modulation for a digital run without power ramping and noise, whose
// window the pipeline left to shaped: one pass over the window finds the envelope peak, a
// second shapes it again and quantises it straight into the host's arrays. The window is never
// held whole; the log and the samples are those of the track form.
void finishShapedWindow(const iqSynthCfg& c, const DataWindowShaper& shaped, short* pIDat,
                        short* pQDat) {
  const std::size_t count = shaped.count();
  const auto shapeI = [&](std::size_t first, std::size_t n, double* out) {
    shaped.shapeI(first, n, out);
  };
  const auto shapeQ = [&](std::size_t first, std::size_t n, double* out) {
    shaped.shapeQ(first, n, out);
  };
  EnvelopeScan scan;
  {
    double iBlock[kShapedBlock];
    double qBlock[kShapedBlock];
    for (std::size_t first = 0; first < count; first += kShapedBlock) {
      const std::size_t n = std::min(kShapedBlock, count - first);
      shapeI(first, n, iBlock);
      shapeQ(first, n, qBlock);
      scan.add(iBlock, qBlock, n);
    }
  }
  const Normalisation norm = scan.normalisation(c);

  wrLog("the qMapDat before rotate is : at line " + siteLineInFile());
  const std::size_t delay = oqpskDelay(c, count);
  const bool log = logEnabled();
  // The arrays are written only when both are there: a run refused for a missing one leaves
  // the other as it was.
  const bool write = pIDat != nullptr && pQDat != nullptr;
  FirstLargest iLargest;
  FirstLargest qLargest;
  if (write || log) {
    quantiseShaped(shapeI, 0, count, norm, write ? pIDat : nullptr, log ? &iLargest : nullptr);
    // Q delayed: its last delay samples come first.
    quantiseShaped(shapeQ, count - delay, delay, norm, write ? pQDat : nullptr,
                   log ? &qLargest : nullptr);
    quantiseShaped(shapeQ, 0, count - delay, norm, write ? pQDat + delay : nullptr,
                   log ? &qLargest : nullptr);
  }
  if (log) {
    wrLog("idat max is " + to_string(iLargest.largest));
    wrLog("qdat max is " + to_string(qLargest.largest));
  }
  if (!write) {
    throwCfgValue("pIDat and pQDat must be arrays of " + to_string(count) + " samples");
  }
  logRunEnd(c, pIDat, pQDat, count);
}

// One run on the record c and the working tracks: the stages in order, each handed what it
// reads and writes; the host's arrays are written last.
int runIqSynthStages(iqSynthCfg& c, const SampleTracks& tracks, short* pIDat, short* pQDat) {
  c.genParaMsg();
  wrLog(c.paraMsg);

  SampleWindow window{&tracks};
  // Power ramping and noise change the window in place: only without them is the window
  // shaped from the symbols block by block.
  DataWindowShaper shaped;
  const bool shapeFromSymbols = !c.powerRampEnable && !c.sigAddNoiseIsEnable;
  switch (c.workingMode) {
    case iqSynthCfg::WORKING_MODE_AWGN:
      runAWGN(noiseOnlySettingsOf(c), noiseOnlyLevelsOf(c), tracks.i, tracks.q);
      window.count = tracks.i.size();
      break;
    case iqSynthCfg::WORKING_MODE_MCCW:
      produceMultiCarrier(c, tracks);
      window.count = tracks.i.size();
      break;
    case iqSynthCfg::WORKING_MODE_DIGITAL:
      window = produceDigital(c, tracks, shapeFromSymbols ? &shaped : nullptr);
      break;
    default:
      // Nothing is produced: tracks left by a failed run must not reach the host.
      tracks.i.resize(0);
      tracks.q.resize(0);
      break;
  }
  if (shaped.count() > 0) {
    finishShapedWindow(c, shaped, pIDat, pQDat);
    return 0;
  }
  if (tracks.i.size() != tracks.q.size()) {
    throwCfgValue("the I and Q tracks differ in length");
  }

  if (c.powerRampEnable) {
    runPowerRamping(c, window.i(), window.q(), window.count);
  }
  if (c.sigAddNoiseIsEnable) {
    addNoiseToWindow(c, window);
  }
  const Normalisation norm = envelopeNormalisation(c, window);

  wrLog("the qMapDat before rotate is : at line " + siteLineInFile());
  const std::size_t count = window.count;
  const std::size_t delay = oqpskDelay(c, count);
  if (logEnabled()) {
    wrLog("idat max is " + to_string(largestNormalised(window.i(), count, 0, norm)));
    wrLog("qdat max is " + to_string(largestNormalised(window.q(), count, delay, norm)));
  }

  // Quantised straight into the host's arrays: nothing after this can fail the run (the log
  // entries that follow are lost rather than fail it when memory runs out).
  if (count > 0 && (pIDat == nullptr || pQDat == nullptr)) {
    throwCfgValue("pIDat and pQDat must be arrays of " + to_string(count) + " samples");
  }
  quantiseSamples(window.i(), count, norm.divide, norm.divisor, pIDat);
  // Q delayed: its last delay samples come first.
  quantiseSamples(window.q() + (count - delay), delay, norm.divide, norm.divisor, pQDat);
  quantiseSamples(window.q(), count - delay, norm.divide, norm.divisor, pQDat + delay);
  tracks.i.resize(0);
  tracks.q.resize(0);
  logRunEnd(c, pIDat, pQDat, count);
  return 0;
}

}  // namespace

short quantiseSample(double value) {
  // The product truncated toward zero and saturated to 16 bits: the comparisons with the
  // integer limits give the same result as comparing the truncated product.
  const double product = value * kQuantScale;
  int v = 0;
  if (product >= 32767.0) {
    v = 32767;
  } else if (product <= -32768.0) {
    v = -32768;
  } else if (product == product) {  // not NaN
    v = static_cast<int>(product);  // truncates toward zero
  }
  return static_cast<short>(v >> kOutputShift);
}

void quantiseSamples(const double* src, std::size_t count, bool divide, double divisor,
                     short* out) {
  // Two samples at a time where SSE2 is there: the same division, the product truncated
  // toward zero and saturated by the clamp, NaN giving 0.
  std::size_t k = 0;
#if defined(__SSE2__)
  const __m128d divisors = _mm_set1_pd(divisor);
  const __m128d scale = _mm_set1_pd(kQuantScale);
  const __m128d lowest = _mm_set1_pd(-32768.0);
  const __m128d highest = _mm_set1_pd(32767.0);
  for (; k + 2 <= count; k += 2) {
    __m128d x = _mm_loadu_pd(src + k);
    if (divide) {
      x = _mm_div_pd(x, divisors);
    }
    const __m128d product = _mm_mul_pd(x, scale);
    const __m128d notNan = _mm_cmpeq_pd(product, product);
    const __m128d clamped = _mm_and_pd(_mm_min_pd(_mm_max_pd(product, lowest), highest), notNan);
    const __m128i shifted = _mm_srai_epi32(_mm_cvttpd_epi32(clamped), kOutputShift);
    const int packed = _mm_cvtsi128_si32(_mm_packs_epi32(shifted, shifted));
    std::memcpy(out + k, &packed, sizeof packed);
  }
#endif
  for (; k < count; ++k) {
    out[k] = quantiseSample(divide ? src[k] / divisor : src[k]);
  }
}

int runStatusOf(const IqSynthError& error) {
  switch (error.kind()) {
    case IqSynthError::Kind::MemAlloc:
      return -IQSYNTH_ERR_MEM_ALLOC;
    case IqSynthError::Kind::Config:
    case IqSynthError::Kind::Awgn:
    case IqSynthError::Kind::File:
      break;
  }
  return -error.errNo();
}

void writeSampleLog(const short* iDat, const short* qDat, std::size_t count) {
  wrLog("the output pIDat is : at line " + siteLineInFile());
  logIndexedLines("th pIDat is ", count, [&](std::size_t k) { return iDat[k]; });
  wrLog("the output pQDat is : at line " + siteLineInFile());
  logIndexedLines("th pQDat is ", count, [&](std::size_t k) { return qDat[k]; });
}

}  // namespace arbsuite::iqsynth

extern "C" {

IQSYNTH_API void runMccwCarrierParamGen(void) {
  const std::lock_guard lock(arbsuite::iqsynth::gRunMutex);
  arbsuite::iqsynth::genMulCarrierCWParam(gIqSynthCfg);
}

IQSYNTH_API int runIqSynth(short* pIDat, short* pQDat) {
  using namespace arbsuite::iqsynth;
  const std::lock_guard lock(gRunMutex);
  int status = 0;
  try {
    // The one place the process-wide record and tracks are named for a run.
    const SampleTracks tracks{iMapDat, qMapDat, mapDat};
    status = runIqSynthStages(gIqSynthCfg, tracks, pIDat, pQDat);
  } catch (const IqSynthError& e) {
    wrLog(e.what());
    status = runStatusOf(e);
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
