// Shaping-filter designers, the periodic pulse-shaping FIR and the digital modulation pipeline
// (runCDMModulation): data source and coding, mapping or FSK / differential modulation, then
// pulse shaping of the upsampled tracks.
#include "iqSynthFilter.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <new>
#include <numeric>
#include <stdexcept>
#include <string>
#include <vector>

#include "FilterHann.h"
#include "dataCoding.h"
#include "dataMapping.h"
#include "dataSrc.h"
#include "iqSynthCfg.h"
#include "iqSynthLog.h"

namespace {

constexpr const char* kSourceName = "iqSynthFilter.cpp";
constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;
constexpr double kLn2 = 0.69314718055994530942;
constexpr double kMinusTwoPiSquared = -19.739208802178716;
constexpr double kOnePlusTwoOverPi = 1.6366197723675815;
constexpr double kOneMinusTwoOverPi = 0.3633802276324186;
constexpr double kTwoPiTimesGmskBt = 1.8849555921538759;  // 2 * pi * 0.3
constexpr double kSinglePrecisionEpsilon = 1.1920928955078125e-7;
constexpr int kGaussLinSpan = 5;            // symbols of the linearized GMSK pulse
constexpr int kGaussLinGridPerSymbol = 20;  // integration points per sample period

// Memory-failure texts of the designers.
constexpr const char* kRisingCosAllocText =
    "can not allocate space for rising cosine FSK filter tap at ";
constexpr const char* kGaussianAllocText = "can not allocate space for Gaussian FSK filter tap at ";
constexpr const char* kRootRisingCosAllocText =
    "can not allocate space for root rising cosine FSK filter tap at ";

[[noreturn]] void throwBadValue(const std::string& text) {
  throw IqSynthCfgExcept(IQSYNTH_ERR_CFG_VALUE, text);
}

// Oversampling and span limits every design and every track length depends on.
void checkShapingLengths(const iqSynthCfg& cfg) {
  const int S = cfg.overSamplingRate;
  const int L = cfg.filterLengh;
  if (S < 1 || S > iqSynthCfg::kMaxOsr) {
    throwBadValue("overSamplingRate " + to_string(S) + " is outside 1.." +
                  to_string(iqSynthCfg::kMaxOsr));
  }
  if (L < 0 || L > iqSynthCfg::kMaxFilterLen) {
    throwBadValue("filterLengh " + to_string(L) + " is outside 0.." +
                  to_string(iqSynthCfg::kMaxFilterLen));
  }
  if (static_cast<long long>(S) * L > iqSynthCfg::kMaxFilterTaps) {
    throwBadValue("overSamplingRate x filterLengh " + to_string(S * L) + " is above " +
                  to_string(iqSynthCfg::kMaxFilterTaps));
  }
}

// Track length of a run, (sequenceLenth + filterLengh) * S, checked to fit the int fields.
std::size_t checkedTrackLength(const iqSynthCfg& cfg) {
  checkShapingLengths(cfg);
  if (cfg.sequenceLenth < 1) {
    throwBadValue("sequenceLenth " + to_string(cfg.sequenceLenth) + " is below 1");
  }
  const long long total = (static_cast<long long>(cfg.sequenceLenth) + cfg.filterLengh) *
                          static_cast<long long>(cfg.overSamplingRate);
  if (total > INT_MAX) {
    throwBadValue("sequenceLenth " + to_string(cfg.sequenceLenth) + " gives " + to_string(total) +
                  " samples, more than a run can hold");
  }
  return static_cast<std::size_t>(total);
}

void sizeTaps(std::valarray<double>& taps, std::size_t count, const char* allocText, int line) {
  try {
    taps.resize(count);
  } catch (const std::bad_alloc&) {
    throw IqSynthMemAllocExcept(allocText + to_string(line) + " in " + kSourceName);
  } catch (const std::length_error&) {
    throw IqSynthMemAllocExcept(allocText + to_string(line) + " in " + kSourceName);
  }
}

template <typename T>
void sizeTrack(std::valarray<T>& track, std::size_t count, const char* allocText, int line) {
  try {
    track.resize(count);
  } catch (const std::bad_alloc&) {
    throw IqSynthMemAllocExcept(allocText + std::string(kSourceName) + " at " + to_string(line));
  } catch (const std::length_error&) {
    throw IqSynthMemAllocExcept(allocText + std::string(kSourceName) + " at " + to_string(line));
  }
}

// The time grid of the span-L designers: M = S*L taps; N = M, or M + 1 when M is even, is the
// reported count; tap i sits at -L/2 + i*L/(N-1) symbol periods (0 when N = 1).
struct SpanGrid {
  std::size_t used;  // M
  int reported;      // N
  double first;
  double step;
  double at(std::size_t i) const {
    return reported == 1 ? 0.0 : first + static_cast<double>(i) * step;
  }
};

SpanGrid spanGrid(const iqSynthCfg& cfg) {
  const int L = cfg.filterLengh;
  const int M = cfg.overSamplingRate * L;
  if (M == 0) {
    throwBadValue("filterLengh 0 leaves the shaping filter type " +
                  to_string(cfg.shapingFilterType) + " without taps");
  }
  const int N = (M % 2 == 1) ? M : M + 1;
  return {static_cast<std::size_t>(M), N, -L / 2.0, N > 1 ? static_cast<double>(L) / (N - 1) : 0.0};
}

// Records the taps the host reads back: the M designed taps and, for an even M, the missing
// symmetric partner of the first tap.
void reportTaps(iqSynthCfg& cfg, const std::valarray<double>& taps, int reported) {
  const std::size_t used = taps.size();
  for (std::size_t i = 0; i < used; ++i) {
    cfg.filterCoef[i] = taps[i];
  }
  if (static_cast<std::size_t>(reported) == used + 1) {
    cfg.filterCoef[used] = taps[0];
  }
  cfg.filterTap = reported;
}

// Scales the taps to unit sum. A design whose taps are not finite or sum to zero would fill
// the waveform with NaN; it is refused, naming the setting that caused it.
void normaliseToUnitSum(std::valarray<double>& taps, const std::string& culprit) {
  double sum = 0.0;
  bool finite = true;
  for (double t : taps) {
    finite = finite && std::isfinite(t);
    sum += t;
  }
  if (!finite || sum == 0.0 || !std::isfinite(sum)) {
    throwBadValue(culprit + " gives shaping filter taps that are not finite or sum to 0");
  }
  taps /= sum;
}

std::string alphaBtCulprit(const iqSynthCfg& cfg) { return "AlphaBt " + to_string(cfg.AlphaBt); }

double sinc(double t) { return t == 0.0 ? 1.0 : std::sin(kPi * t) / (kPi * t); }

// One-symbol span of the half-sine and rectangle filters: N = S, or S + 1 for even S.
int oneSymbolReportedTaps(int S) { return (S % 2 == 1) ? S : S + 1; }

// Fills the lead-in (samples 0 .. lead-1) with the data (the last `data` samples of the track)
// extended periodically to the left, so the FIR starts in the state a looped playback leaves.
void fillCyclicLeadIn(std::valarray<double>& track, std::size_t data, std::size_t lead) {
  const std::size_t total = track.size();
  std::size_t unfilled = lead;
  std::size_t end = lead;  // one past the last sample still to fill
  while (unfilled > data) {
    for (std::size_t i = 0; i < data; ++i) {
      track[end - data + i] = track[total - data + i];
    }
    end -= data;
    unfilled -= data;
  }
  for (std::size_t i = 0; i < unfilled; ++i) {
    track[i] = track[total - unfilled + i];
  }
}

// ---- FIR kernels --------------------------------------------------------------------------
// Both kernels sum taps[k] * x[i - k] in ascending k, as a plain delay-line FIR does, and
// compute a block of outputs of constant width together: the fully unrolled inner loop keeps
// the block's sums in vector registers at -O2. Input samples that are zero are skipped, which
// changes no sum.

constexpr std::size_t kLane = 8;        // outputs per vector block
constexpr std::size_t kMaxStride = 32;  // widest polyphase block (the largest oversampling)
constexpr std::size_t kGridProbe = 8;   // non-zero samples looked at to guess the grid

// Polyphase FIR for an input that is non-zero only on the grid phase + b*stride. Output
// phase + b*stride + r (r < stride) is sum over j of h[j*stride + r] * sym[b - j]: one scaled
// row of taps per symbol in the filter's reach, M/stride products per output instead of M.
// rows holds those rows, W wide (zero-padded); sym points at symbol 0 and is readable back to
// symbol -(rowCount-1) (zeros). out receives outCount samples from the grid's phase on.
template <std::size_t W>
void polyphaseFir(const double* sym, std::size_t symbols, const double* rows, std::size_t rowCount,
                  std::size_t stride, double* out, std::size_t outCount) {
  for (std::size_t b = 0; b < symbols; ++b) {
    double acc[W] = {};
    const double* s = sym + b;
    for (std::size_t j = 0; j < rowCount; ++j) {
      const double v = *(s - j);
      const double* row = rows + j * W;
#pragma GCC unroll 32
      for (std::size_t q = 0; q < W; ++q) {
        acc[q] += v * row[q];
      }
    }
    const std::size_t base = b * stride;
    const std::size_t count = std::min(stride, outCount - base);
    for (std::size_t q = 0; q < count; ++q) {
      out[base + q] = acc[q];
    }
  }
}

// Largest stride of at most kMaxStride that divides g (g = 0: nothing constrains it).
std::size_t usableStride(std::size_t g) {
  if (g == 0) {
    return kMaxStride;
  }
  std::size_t d = std::min(g, kMaxStride);
  while (g % d != 0) {
    --d;
  }
  return d;
}

// gcd of the distances from phase to the non-zero samples after it: all of them (limit 0),
// or the first `limit` ones. 0 when there are none.
std::size_t gridSpacing(const std::valarray<double>& x, std::size_t phase, std::size_t limit) {
  std::size_t g = 0;
  std::size_t last = phase;
  std::size_t seen = 0;
  for (std::size_t i = phase + 1; i < x.size(); ++i) {
    if (x[i] == 0.0) {
      continue;
    }
    // Upsampled symbols arrive at a steady distance: only a change needs a gcd.
    if (g == 0 || i - last != g) {
      g = std::gcd(g, i - phase);
      if (g == 1) {
        return 1;
      }
    }
    last = i;
    if (limit != 0 && ++seen == limit) {
      break;
    }
  }
  return g;
}

// Copies x[phase + b*stride] to sym[b] and tells whether every other sample from phase on is
// zero (the sign bit is ignored: -0 adds nothing either).
bool gatherGrid(const std::valarray<double>& x, std::size_t phase, std::size_t stride,
                double* sym) {
  const std::size_t n = x.size();
  std::uint64_t offGrid = 0;
  std::size_t b = 0;
  for (std::size_t base = phase; base < n; base += stride, ++b) {
    sym[b] = x[base];
    const std::size_t end = std::min(base + stride, n);
    for (std::size_t i = base + 1; i < end; ++i) {
      offGrid |= std::bit_cast<std::uint64_t>(x[i]) << 1;
    }
  }
  return offGrid == 0;
}

// Polyphase pays one padded row of taps per stride outputs: worth it when that is less than
// the dense sum of M taps per output.
bool polyphasePays(std::size_t stride, std::size_t taps) {
  const std::size_t width = (stride + kLane - 1) / kLane * kLane;
  return stride > 1 && (taps + stride - 1) / stride * width < taps * stride;
}

void runPolyphase(std::valarray<double>& x, const std::valarray<double>& taps, std::size_t phase,
                  std::size_t stride, std::vector<double>& symBuffer) {
  const std::size_t n = x.size();
  const std::size_t M = taps.size();
  const std::size_t width = (stride + kLane - 1) / kLane * kLane;
  const std::size_t rowCount = (M + stride - 1) / stride;
  const std::size_t symbols = (n - phase + stride - 1) / stride;
  std::vector<double> rows(rowCount * width, 0.0);
  for (std::size_t k = 0; k < M; ++k) {
    rows[(k / stride) * width + k % stride] = taps[k];
  }
  // Nothing reaches the outputs before the first non-zero input.
  for (std::size_t i = 0; i < phase; ++i) {
    x[i] = 0.0;
  }
  const double* s = symBuffer.data() + (rowCount - 1);
  double* out = &x[phase];
  const std::size_t outCount = n - phase;
  switch (width) {
    case 8:
      polyphaseFir<8>(s, symbols, rows.data(), rowCount, stride, out, outCount);
      break;
    case 16:
      polyphaseFir<16>(s, symbols, rows.data(), rowCount, stride, out, outCount);
      break;
    case 24:
      polyphaseFir<24>(s, symbols, rows.data(), rowCount, stride, out, outCount);
      break;
    default:
      polyphaseFir<32>(s, symbols, rows.data(), rowCount, stride, out, outCount);
      break;
  }
}

// Tries the polyphase form on the grid (phase, stride): gathers the grid samples behind
// rowCount - 1 zeros of history and filters. False, with x untouched, when a sample off the
// grid is not zero.
bool tryPolyphase(std::valarray<double>& x, const std::valarray<double>& taps, std::size_t phase,
                  std::size_t stride) {
  const std::size_t rowCount = (taps.size() + stride - 1) / stride;
  const std::size_t symbols = (x.size() - phase + stride - 1) / stride;
  std::vector<double> symBuffer(rowCount - 1 + symbols, 0.0);
  if (!gatherGrid(x, phase, stride, symBuffer.data() + (rowCount - 1))) {
    return false;
  }
  runPolyphase(x, taps, phase, stride, symBuffer);
  return true;
}

void runDense(std::valarray<double>& x, const std::valarray<double>& taps) {
  const std::size_t n = x.size();
  const std::size_t M = taps.size();
  std::vector<double> padded(M + n, 0.0);  // M zeros of history, then the input
  std::copy(std::begin(x), std::end(x), padded.begin() + static_cast<std::ptrdiff_t>(M));
  firOverHistory(padded.data() + M, n, &taps[0], M, &x[0]);
}

// Logs the designed taps (runIQFilter only) and prints them on standard output.
void printTaps(const std::valarray<double>& taps) {
  std::cout << "size is " << taps.size() << '\n';
  for (std::size_t i = 0; i < taps.size(); ++i) {
    std::cout << i << "th is " << taps[i] << '\n';
  }
}

// Track length and lead-in of a pulse-shaping call; the track must hold the whole run.
void checkTrack(const iqSynthCfg& cfg, const std::valarray<double>& track, const char* name) {
  const std::size_t expected = checkedTrackLength(cfg);
  if (track.size() != expected) {
    throwBadValue(
        std::string(name) + " holds " + to_string(track.size()) +
        " samples, not (sequenceLenth + filterLengh) x overSamplingRate = " + to_string(expected));
  }
}

}  // namespace

// ---- Shaping filter design ------------------------------------------------------------------

bool almostEqualRelative(double a, double b) {
  const double diff = std::fabs(a - b);
  const double largest = std::max(std::fabs(a), std::fabs(b));
  return diff <= largest * kSinglePrecisionEpsilon;
}

int genShapingFilter(iqSynthCfg& cfg, std::valarray<double>& taps) {
  using Cfg = iqSynthCfg;
  switch (cfg.shapingFilterType) {
    case Cfg::FILTER_GAUSSIAN_LINEARIZED:
      return genGaussianLinearizedFilter(cfg, taps);
    case Cfg::FILTER_GAUSSIAN_PURE:
      return genGaussianPureFilter(cfg, taps);
    case Cfg::FILTER_RECT:
      return genRectFilter(cfg, taps);
    case Cfg::FILTER_RISING_COS:
      return genRisingCosFilter(cfg, taps);
    case Cfg::FILTER_ROOT_RISING_COS:
      return genRootRisingCosFilter(cfg, taps);
    case Cfg::FILTER_USR:
      return genUsrFilter(cfg, taps);
    case Cfg::FILTER_GAUSSIAN_FSK:
      return genGaussianFSKFilter(cfg, taps);
    case Cfg::FILTER_HALF_SIN:
      return genHalfSinFilter(cfg, taps);
    default:
      throw IqSynthCfgExcept(IQSYNTH_ERR_FILTER_TYPE, "not exist filter type");
  }
}

int genHalfSinFilter(iqSynthCfg& cfg, std::valarray<double>& taps) {
  checkShapingLengths(cfg);
  const int S = cfg.overSamplingRate;
  const int N = oneSymbolReportedTaps(S);
  sizeTaps(taps, static_cast<std::size_t>(S), kRisingCosAllocText, __LINE__);
  for (int i = 0; i < S; ++i) {
    const double t = N > 1 ? static_cast<double>(i) / (N - 1) : 0.0;
    taps[static_cast<std::size_t>(i)] = std::sin(kPi * t);
    wrLog("sample time is");
    wrLog(to_string(t));
    wrLog("coef is");
    wrLog(to_string(taps[static_cast<std::size_t>(i)]));
  }
  reportTaps(cfg, taps, N);
  normaliseToUnitSum(taps, "overSamplingRate " + to_string(S) + " with the half-sine filter");
  wrLog("filter is ");
  ite_print(taps);
  return 0;
}

int genRectFilter(iqSynthCfg& cfg, std::valarray<double>& taps) {
  checkShapingLengths(cfg);
  const int S = cfg.overSamplingRate;
  sizeTaps(taps, static_cast<std::size_t>(S), kRisingCosAllocText, __LINE__);
  taps = 1.0;
  reportTaps(cfg, taps, oneSymbolReportedTaps(S));
  normaliseToUnitSum(taps, "overSamplingRate " + to_string(S));
  return 0;
}

int genGaussianFSKFilter(iqSynthCfg& cfg, std::valarray<double>& taps) {
  checkShapingLengths(cfg);
  const SpanGrid grid = spanGrid(cfg);
  sizeTaps(taps, grid.used, kGaussianAllocText, __LINE__);
  // Frequency pulse of GFSK: a one-symbol rectangle convolved with a Gaussian of this BT.
  const double k = std::sqrt(2.0) * kPi * cfg.AlphaBt / std::sqrt(kLn2);
  for (std::size_t i = 0; i < grid.used; ++i) {
    const double t = grid.at(i);
    taps[i] = 0.5 * (std::erfc(k * (t - 0.5)) - std::erfc(k * (t + 0.5)));
  }
  reportTaps(cfg, taps, grid.reported);
  normaliseToUnitSum(taps, alphaBtCulprit(cfg));
  return 0;
}

int genGaussianPureFilter(iqSynthCfg& cfg, std::valarray<double>& taps) {
  checkShapingLengths(cfg);
  const SpanGrid grid = spanGrid(cfg);
  sizeTaps(taps, grid.used, kGaussianAllocText, __LINE__);
  const double bt = cfg.AlphaBt;
  for (std::size_t i = 0; i < grid.used; ++i) {
    const double t = grid.at(i);
    taps[i] = bt * std::exp(kMinusTwoPiSquared * bt * bt * t * t / kLn2);
  }
  reportTaps(cfg, taps, grid.reported);
  normaliseToUnitSum(taps, alphaBtCulprit(cfg));
  return 0;
}

int genRisingCosFilter(iqSynthCfg& cfg, std::valarray<double>& taps) {
  checkShapingLengths(cfg);
  const SpanGrid grid = spanGrid(cfg);
  sizeTaps(taps, grid.used, kRisingCosAllocText, __LINE__);
  const double alpha = cfg.AlphaBt;
  for (std::size_t i = 0; i < grid.used; ++i) {
    const double t = grid.at(i);
    if (almostEqualRelative(std::fabs(alpha * t), 0.5)) {
      // t = +-1/(2 alpha): the limit of the 0/0 quotient.
      taps[i] = kPi / 4.0 * sinc(t);
    } else {
      const double d = 2.0 * alpha * t;
      taps[i] = sinc(t) * std::cos(kPi * alpha * t) / (1.0 - d * d);
    }
  }
  reportTaps(cfg, taps, grid.reported);
  normaliseToUnitSum(taps, alphaBtCulprit(cfg));
  return 0;
}

int genRootRisingCosFilter(iqSynthCfg& cfg, std::valarray<double>& taps) {
  checkShapingLengths(cfg);
  const SpanGrid grid = spanGrid(cfg);
  sizeTaps(taps, grid.used, kRootRisingCosAllocText, __LINE__);
  const double alpha = cfg.AlphaBt;
  for (std::size_t i = 0; i < grid.used; ++i) {
    const double t = grid.at(i);
    if (t == 0.0) {
      taps[i] = 1.0 - alpha + 4.0 * alpha / kPi;
    } else if (almostEqualRelative(std::fabs(t), 1.0 / (4.0 * alpha))) {
      // t = +-1/(4 alpha): the limit of the 0/0 quotient.
      const double a = kPi / (4.0 * alpha);
      taps[i] = alpha / std::sqrt(2.0) *
                (kOnePlusTwoOverPi * std::sin(a) + kOneMinusTwoOverPi * std::cos(a));
    } else {
      const double d = 4.0 * alpha * t;
      taps[i] = (std::sin(kPi * t * (1.0 - alpha)) +
                 4.0 * alpha * t * std::cos(kPi * t * (1.0 + alpha))) /
                (kPi * t * (1.0 - d * d));
    }
  }
  reportTaps(cfg, taps, grid.reported);
  normaliseToUnitSum(taps, alphaBtCulprit(cfg));
  return 0;
}

int genUsrFilter(iqSynthCfg& cfg, std::valarray<double>& taps) {
  checkShapingLengths(cfg);
  const std::size_t M =
      static_cast<std::size_t>(cfg.overSamplingRate) * static_cast<std::size_t>(cfg.filterLengh);
  if (M == 0) {
    throwBadValue("filterLengh 0 leaves the user shaping filter without taps");
  }
  sizeTaps(taps, M, kRisingCosAllocText, __LINE__);
  for (std::size_t i = 0; i < M; ++i) {
    taps[i] = cfg.usrFilterCoef[i];
    cfg.filterCoef[i] = cfg.usrFilterCoef[i];
  }
  // filterTap keeps the count of the previous design: the host gave the taps itself.
  normaliseToUnitSum(taps, "usrFilterCoef");
  return 0;
}

int genGaussianLinearizedFilter(iqSynthCfg& cfg, std::valarray<double>& taps) {
  checkShapingLengths(cfg);
  const int S = cfg.overSamplingRate;
  // Main pulse C0 of the Laurent decomposition of GMSK with BT = 0.3.
  // 1. GMSK frequency pulse over 4 symbols, 20 points per sample period.
  const int points = 4 * kGaussLinGridPerSymbol * S;  // intervals of the integration grid
  const double dt = 1.0 / (kGaussLinGridPerSymbol * S);
  const double c = kTwoPiTimesGmskBt / (std::sqrt(kLn2) * std::sqrt(2.0));
  std::vector<double> g(static_cast<std::size_t>(points) + 1);
  for (int m = 0; m <= points; ++m) {
    const double t = m * dt;
    g[static_cast<std::size_t>(m)] = 0.25 * (std::erfc(c * (t - 2.5)) - std::erfc(c * (t - 1.5)));
  }
  // 2. Phase pulse q at every sample by the trapezoid rule (0 .. 0.5).
  const int samples = 4 * S;
  std::vector<double> q(static_cast<std::size_t>(samples) + 1, 0.0);
  double area = 0.0;
  for (int j = 1; j <= samples; ++j) {
    for (int m = kGaussLinGridPerSymbol * (j - 1); m < kGaussLinGridPerSymbol * j; ++m) {
      area += (g[static_cast<std::size_t>(m)] + g[static_cast<std::size_t>(m) + 1]) / 2.0;
    }
    q[static_cast<std::size_t>(j)] = area * dt;
  }
  // 3. The Laurent function over 8 symbols: rising half, then its mirror.
  std::vector<double> s(static_cast<std::size_t>(2 * samples) + 1);
  for (int j = 0; j <= samples; ++j) {
    s[static_cast<std::size_t>(j)] = std::sin(kPi * q[static_cast<std::size_t>(j)]);
  }
  for (int j = samples + 1; j <= 2 * samples; ++j) {
    s[static_cast<std::size_t>(j)] =
        std::sin(kPi / 2.0 - kPi * q[static_cast<std::size_t>(j - samples)]);
  }
  // 4. C0 = product of four shifted copies, over 5 symbols.
  const std::size_t count = static_cast<std::size_t>(kGaussLinSpan * S);
  sizeTaps(taps, count, kGaussianAllocText, __LINE__);
  const std::size_t shift = static_cast<std::size_t>(S);
  for (std::size_t r = 0; r < count; ++r) {
    taps[r] = s[r] * s[r + shift] * s[r + 2 * shift] * s[r + 3 * shift];
    std::cout << " the " << r << "th coef is " << taps[r] << '\n';
  }
  cfg.filterTap = kGaussLinSpan * S + 1;
  return 0;
}

// ---- Pulse shaping --------------------------------------------------------------------------

int filteringDat2(iqSynthCfg& /*cfg*/, std::valarray<double>& x, std::valarray<double> taps) {
  if (x.size() == 0) {
    return 0;
  }
  if (taps.size() == 0) {
    x = 0.0;
    return 0;
  }
  try {
    std::size_t phase = 0;
    while (phase < x.size() && x[phase] == 0.0) {
      ++phase;
    }
    if (phase == x.size()) {
      return 0;  // all zero in, all zero out
    }
    // Guess the grid from the first few non-zero samples; check it while gathering, and
    // fall back to the grid of all of them when the guess was too coarse.
    std::size_t stride = usableStride(gridSpacing(x, phase, kGridProbe));
    if (polyphasePays(stride, taps.size()) && tryPolyphase(x, taps, phase, stride)) {
      return 0;
    }
    stride = usableStride(gridSpacing(x, phase, 0));
    if (polyphasePays(stride, taps.size()) && tryPolyphase(x, taps, phase, stride)) {
      return 0;
    }
    runDense(x, taps);
  } catch (const std::bad_alloc&) {
    throw IqSynthMemAllocExcept("can not allocate the filter work buffer in " +
                                std::string(kSourceName) + " at " + to_string(__LINE__));
  }
  return 0;
}

int runIQFilter(iqSynthCfg& cfg, std::valarray<double>& iTrack, std::valarray<double>& qTrack) {
  checkTrack(cfg, iTrack, "I track");
  checkTrack(cfg, qTrack, "Q track");
  std::valarray<double> taps;
  genShapingFilter(cfg, taps);
  const std::size_t S = static_cast<std::size_t>(cfg.overSamplingRate);
  const std::size_t data = static_cast<std::size_t>(cfg.sequenceLenth) * S;
  const std::size_t lead = static_cast<std::size_t>(cfg.filterLengh) * S;
  fillCyclicLeadIn(iTrack, data, lead);
  fillCyclicLeadIn(qTrack, data, lead);
  wrLog("Print Filter coef at line " + to_string(__LINE__) + " in file " + kSourceName);
  ite_print(taps);
  printTaps(taps);
  filteringDat2(cfg, iTrack, taps);
  return filteringDat2(cfg, qTrack, taps);
}

int runFilter(iqSynthCfg& cfg, std::valarray<double>& track) {
  checkTrack(cfg, track, "track");
  std::valarray<double> taps;
  genShapingFilter(cfg, taps);
  const std::size_t S = static_cast<std::size_t>(cfg.overSamplingRate);
  fillCyclicLeadIn(track, static_cast<std::size_t>(cfg.sequenceLenth) * S,
                   static_cast<std::size_t>(cfg.filterLengh) * S);
  printTaps(taps);
  return filteringDat2(cfg, track, taps);
}

// ---- Digital modulation pipeline --------------------------------------------------------------

namespace {

enum class Chain { MappingFullLog, MappingShortLog, Fsk, Differential };

// The processing chain of a modulation type; refuses families outside the pipeline and the
// members whose symbols the FSK or differential modulators cannot handle.
Chain chainFor(int digiModulatingType, int family) {
  const int bits = modBitsOf(digiModulatingType);
  switch (family) {
    case iqSynthCfg::MOD_FAMILY_QAM:
    case iqSynthCfg::MOD_FAMILY_PSK:
    case iqSynthCfg::MOD_FAMILY_OQPSK:
    case iqSynthCfg::MOD_FAMILY_EDGE:
    case iqSynthCfg::MOD_FAMILY_USER:
      return Chain::MappingFullLog;
    case iqSynthCfg::MOD_FAMILY_ASK:
      return Chain::MappingShortLog;
    case iqSynthCfg::MOD_FAMILY_FSK:
      // One tone (0 bits) would divide the deviation by zero; more than 8 bits outgrow symbolMap.
      if ((bits & 0xFF) >= 1 && (bits & 0xFF) <= 8) {
        return Chain::Fsk;
      }
      break;
    case iqSynthCfg::MOD_FAMILY_DPSK:
      // The phase tables hold 8 increments: symbols of more than 3 bits would index past them.
      if (bits <= 3) {
        return Chain::Differential;
      }
      break;
    default:
      break;
  }
  throw IqSynthCfgExcept(IQSYNTH_ERR_MOD_TYPE,
                         "Not processing modulating type" + to_string(__LINE__));
}

void runMappingChain(iqSynthCfg& cfg, std::size_t total, int offset, bool fullLog) {
  std::valarray<short> data;
  sizeTrack(data, total, "resize _valarray error ", __LINE__);
  wrLog("INFO : Allocate memory for data source");
  runDataSrc(cfg, data, offset);
  wrLog("run bpsk size is " + to_string(data.size()));
  wrLog("INFO : Running to Data source");
  runDataCoding(cfg, data, offset);
  wrLog("INFO : Running to Data coding");
  if (fullLog) {
    wrLog("Print Data coding   at line " + to_string(__LINE__) + " in file " + kSourceName);
    ite_print(data);
  }
  mapDat.resize(0);
  sizeTrack(iMapDat, total, "resize iMapDat is error in ", __LINE__);
  wrLog("INFO : Allocate memory for I channel data");
  sizeTrack(qMapDat, total, "resize QMapDat is error in ", __LINE__);
  wrLog("INFO : Allocate memory for Q channel data");
  wrLog("INFO : Begin IQ MApping");
  runDataIQMapping(cfg, data, iMapDat, qMapDat, offset);
  wrLog("INFO : Running to IQ mapping");
  if (fullLog) {
    wrLog("Print iMapDat at line " + to_string(__LINE__) + " in file " + kSourceName);
    ite_print(iMapDat);
    wrLog("Print qMapDat at line " + to_string(__LINE__) + " in file " + kSourceName);
    ite_print(qMapDat);
  }
  data.resize(0);  // the symbols are mapped: leave the memory to the filter
  runIQFilter(cfg, iMapDat, qMapDat);
  wrLog("INFO : Running to IQ filter");
}

// Modulation index per level step: the outermost level (M - 1) reaches maxFskDev.
double fskIndex(const iqSynthCfg& cfg) {
  const int tones = 1 << (modBitsOf(cfg.digiModulatingType) & 0xFF);
  const double h = (cfg.maxFskDev / cfg.symbolRate) / (tones - 1);
  if (!std::isfinite(h)) {
    if (cfg.symbolRate == 0.0 || !std::isfinite(cfg.symbolRate)) {
      throwBadValue("symbolRate " + to_string(cfg.symbolRate) + " gives no FSK modulation index");
    }
    throwBadValue("maxFskDev " + to_string(cfg.maxFskDev) + " gives no FSK modulation index");
  }
  return h;
}

void runFskChain(iqSynthCfg& cfg, std::size_t total, int offset) {
  const double h = fskIndex(cfg);
  const std::size_t S = static_cast<std::size_t>(cfg.overSamplingRate);
  const std::size_t first = static_cast<std::size_t>(offset);

  std::valarray<short> data;
  sizeTrack(data, total, "resize _valarray MapDat is error in ", __LINE__);
  wrLog("INFO : Allocate memory for data source");
  runDataSrc(cfg, data, offset);
  wrLog("INFO : Running to Data source");
  // The occupancy flags index the FSK level list by raw symbol value, so mark before coding.
  const std::size_t end = first + static_cast<std::size_t>(cfg.sampleLength);
  for (std::size_t k = first; k < end; k += S) {
    const int symbol = data[k];
    if (symbol >= 0 && symbol < iqSynthCfg::kMaxConstelPoints) {
      cfg.symbolMap[symbol] = 1;
    }
  }
  runDataCoding(cfg, data, offset);
  wrLog("INFO : Running to Data coding");

  sizeTrack(mapDat, total, "resize mapDat is error in ", __LINE__);
  sizeTrack(iMapDat, total, "resize iMapDat is error in ", __LINE__);
  wrLog("INFO : Allocate memory for I channel data");
  sizeTrack(qMapDat, total, "resize qMapDat is error in ", __LINE__);
  wrLog("INFO : Allocate memory for Q channel data");

  wrLog("INFO : Start casting");
  for (std::size_t j = first; j < total; ++j) {
    mapDat[j] = data[j];
  }
  data.resize(0);
  wrLog("INFO : Start filtering");
  runFilter(cfg, mapDat);
  wrLog("INFO : Running to IQ filter");

  std::cout << "net H is " << h << '\n';
  wrLog("begin fsk modulation");
  wrLog("filterTap is" + to_string(offset) + " , size is " + to_string(iMapDat.size()));
  // Continuous phase: each sample's frequency level is added before its angle is taken, so
  // the first data sample already carries its own advance.
  double levelSum = 0.0;
  for (std::size_t s = first; s < total; ++s) {
    levelSum += mapDat[s];
    const double angle = kTwoPi * h * levelSum;
    iMapDat[s] = std::cos(angle);
    qMapDat[s] = std::sin(angle);
  }
  wrLog("INFO : Running to FSK modulation");
}

void runDifferentialChain(iqSynthCfg& cfg, std::size_t total, int offset) {
  std::valarray<short> data;
  sizeTrack(data, total, "resize _valarray is error in ", __LINE__);
  wrLog("INFO : Allocate memory for data source");
  runDataSrc(cfg, data, offset);
  wrLog("run bpsk size is " + to_string(data.size()));
  runDataCoding(cfg, data, offset);

  mapDat.resize(0);
  sizeTrack(iMapDat, total, "resize iMapDat is error in ", __LINE__);
  wrLog("INFO : Allocate memory for I channel data");
  sizeTrack(qMapDat, total, "resize qMapDat is error in ", __LINE__);
  wrLog("INFO : Allocate memory for Q channel data");
  wrLog("INFO : Begin IQ MApping");

  const bool quarter = cfg.digiModulatingType == iqSynthCfg::MOD_PI4_DQPSK;
  const std::vector<short>& delta = quarter ? pi4DqpskDelta : pi8DqpskDelta;
  const long long positions = quarter ? 8 : 16;
  const double step = quarter ? kPi / 4.0 : kPi / 8.0;
  const std::size_t S = static_cast<std::size_t>(cfg.overSamplingRate);
  long long phaseSum = 0;  // in steps; the reference phase before the first symbol is 0
  for (std::size_t p = static_cast<std::size_t>(offset); p < total; p += S) {
    const int symbol = data[p];
    if (symbol < 0 || static_cast<std::size_t>(symbol) >= delta.size()) {
      throwBadValue("symbol value " + to_string(symbol) + " at sample " + to_string(p) +
                    " has no phase increment for digiModulatingType " +
                    to_string(cfg.digiModulatingType));
    }
    phaseSum += delta[static_cast<std::size_t>(symbol)];
    wrLog(to_string(p) + " phasesum is " + to_string(phaseSum));
    // The angle of the reduced position equals phaseSum * step and stays exact for long runs.
    const long long position = ((phaseSum % positions) + positions) % positions;
    iMapDat[p] = std::cos(static_cast<double>(position) * step);
    qMapDat[p] = std::sin(static_cast<double>(position) * step);
    cfg.symbolMap[position] = 1;
  }
  wrLog("INFO : Running to IQ mapping");
  data.resize(0);
  runIQFilter(cfg, iMapDat, qMapDat);
  wrLog("INFO : Running to IQ filter");
}

}  // namespace

int runCDMModulation() {
  iqSynthCfg& cfg = gIqSynthCfg;
  cfg.modulationFamily = modFamilyOf(cfg.digiModulatingType);
  wrLog("run here" + to_string(__LINE__));
  std::fill(std::begin(cfg.symbolMap), std::end(cfg.symbolMap), 0);
  const Chain chain = chainFor(cfg.digiModulatingType, cfg.modulationFamily);

  // Every length is checked before a track is sized.
  const std::size_t total = checkedTrackLength(cfg);
  const int offset = cfg.filterLengh * cfg.overSamplingRate;
  cfg.sampleOffset = offset;
  // The stages place and code symbols over sampleLength samples: keep it equal to the data.
  cfg.sampleLength = cfg.sequenceLenth * cfg.overSamplingRate;
  if (chain == Chain::Fsk) {
    fskIndex(cfg);
  }

  switch (chain) {
    case Chain::MappingFullLog:
      runMappingChain(cfg, total, offset, true);
      break;
    case Chain::MappingShortLog:
      runMappingChain(cfg, total, offset, false);
      break;
    case Chain::Fsk:
      runFskChain(cfg, total, offset);
      break;
    case Chain::Differential:
      runDifferentialChain(cfg, total, offset);
      break;
  }
  return 0;
}
