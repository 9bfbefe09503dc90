// Shaping-filter designers and the periodic pulse shaping of the upsampled symbol tracks: the
// lead-in is filled cyclically so that the kept window is one period of a looped waveform.
#include "iqSynthFilter.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <iostream>
#include <limits>
#include <new>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

#include "firKernel.h"
#include "iqSynthCfg.h"
#include "iqSynthLog.h"

namespace iqsynth {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kLn2 = std::numbers::ln2;
constexpr double kMinusTwoPiSquared = -2.0 * kPi * kPi;
constexpr double kOnePlusTwoOverPi = 1.0 + 2.0 / kPi;
constexpr double kOneMinusTwoOverPi = 1.0 - 2.0 / kPi;
constexpr double kGmskBt = 0.3;  // bandwidth-time product of the linearised GMSK pulse
constexpr double kTwoPiTimesGmskBt = 2.0 * kPi * kGmskBt;
constexpr double kSinglePrecisionEpsilon = std::numeric_limits<float>::epsilon();  // 2^-23
constexpr int kGaussLinSpan = 5;            // symbols of the linearized GMSK pulse
constexpr int kGaussLinGridPerSymbol = 20;  // integration points per sample period

// Memory-failure texts of the designers.
constexpr const char* kRisingCosAllocText =
    "can not allocate space for rising cosine FSK filter tap at ";
constexpr const char* kGaussianAllocText = "can not allocate space for Gaussian FSK filter tap at ";
constexpr const char* kRootRisingCosAllocText =
    "can not allocate space for root rising cosine FSK filter tap at ";

// Oversampling and span limits every design and every track length depends on.
void checkShapingLengths(const iqSynthCfg& cfg) {
  const int S = cfg.overSamplingRate;
  const int L = cfg.filterLengh;
  if (S < 1 || S > iqSynthCfg::kMaxOsr) {
    throwCfgValue("overSamplingRate " + to_string(S) + " is outside 1.." +
                  to_string(iqSynthCfg::kMaxOsr));
  }
  if (L < 0 || L > iqSynthCfg::kMaxFilterLen) {
    throwCfgValue("filterLengh " + to_string(L) + " is outside 0.." +
                  to_string(iqSynthCfg::kMaxFilterLen));
  }
  if (static_cast<long long>(S) * L > iqSynthCfg::kMaxFilterTaps) {
    throwCfgValue("overSamplingRate x filterLengh " + to_string(S * L) + " is above " +
                  to_string(iqSynthCfg::kMaxFilterTaps));
  }
}

// Sizes the tap array of a design; an allocation failure names the filter and the site.
void sizeTaps(std::valarray<double>& taps, std::size_t count, const char* allocText,
              SourceSite site = SourceSite::current()) {
  try {
    taps.resize(count);
  } catch (const std::bad_alloc&) {
    throw IqSynthError::memAlloc(allocText + siteLineIn(site));
  } catch (const std::length_error&) {
    throw IqSynthError::memAlloc(allocText + siteLineIn(site));
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
    throwCfgValue("filterLengh 0 leaves the shaping filter type " +
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
    throwCfgValue(culprit + " gives shaping filter taps that are not finite or sum to 0");
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

// Prints the designed taps on standard output (unless it is switched off).
void printTaps(const std::valarray<double>& taps) {
  if (!stdoutEnabled()) {
    return;
  }
  std::cout << "size is " << taps.size() << '\n';
  for (std::size_t i = 0; i < taps.size(); ++i) {
    std::cout << i << "th is " << taps[i] << '\n';
  }
}

// Track length and lead-in of a pulse-shaping call; the track must hold the whole run.
void checkTrack(const iqSynthCfg& cfg, const std::valarray<double>& track, const char* name) {
  const std::size_t expected = checkedTrackLength(cfg);
  if (track.size() != expected) {
    throwCfgValue(
        std::string(name) + " holds " + to_string(track.size()) +
        " samples, not (sequenceLenth + filterLengh) x overSamplingRate = " + to_string(expected));
  }
}

}  // namespace

std::size_t checkedTrackLength(const iqSynthCfg& cfg) {
  checkShapingLengths(cfg);
  if (cfg.sequenceLenth < 1) {
    throwCfgValue("sequenceLenth " + to_string(cfg.sequenceLenth) + " is below 1");
  }
  const long long total = (static_cast<long long>(cfg.sequenceLenth) + cfg.filterLengh) *
                          static_cast<long long>(cfg.overSamplingRate);
  if (total > INT_MAX) {
    throwCfgValue("sequenceLenth " + to_string(cfg.sequenceLenth) + " gives " + to_string(total) +
                  " samples, more than a run can hold");
  }
  return static_cast<std::size_t>(total);
}

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
      throw IqSynthError(IqSynthError::Kind::Config, IQSYNTH_ERR_FILTER_TYPE,
                         "not exist filter type");
  }
}

int genHalfSinFilter(iqSynthCfg& cfg, std::valarray<double>& taps) {
  checkShapingLengths(cfg);
  const int S = cfg.overSamplingRate;
  const int N = oneSymbolReportedTaps(S);
  sizeTaps(taps, static_cast<std::size_t>(S), kRisingCosAllocText);
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
  sizeTaps(taps, static_cast<std::size_t>(S), kRisingCosAllocText);
  taps = 1.0;
  reportTaps(cfg, taps, oneSymbolReportedTaps(S));
  normaliseToUnitSum(taps, "overSamplingRate " + to_string(S));
  return 0;
}

int genGaussianFSKFilter(iqSynthCfg& cfg, std::valarray<double>& taps) {
  checkShapingLengths(cfg);
  const SpanGrid grid = spanGrid(cfg);
  sizeTaps(taps, grid.used, kGaussianAllocText);
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
  sizeTaps(taps, grid.used, kGaussianAllocText);
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
  sizeTaps(taps, grid.used, kRisingCosAllocText);
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
  sizeTaps(taps, grid.used, kRootRisingCosAllocText);
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
    throwCfgValue("filterLengh 0 leaves the user shaping filter without taps");
  }
  sizeTaps(taps, M, kRisingCosAllocText);
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
  sizeTaps(taps, count, kGaussianAllocText);
  const std::size_t shift = static_cast<std::size_t>(S);
  const bool print = stdoutEnabled();
  for (std::size_t r = 0; r < count; ++r) {
    taps[r] = s[r] * s[r + shift] * s[r + 2 * shift] * s[r + 3 * shift];
    if (print) {
      std::cout << " the " << r << "th coef is " << taps[r] << '\n';
    }
  }
  cfg.filterTap = kGaussLinSpan * S + 1;
  return 0;
}

// ---- Pulse shaping --------------------------------------------------------------------------

int filteringDat2(iqSynthCfg& /*cfg*/, std::valarray<double>& x, std::valarray<double> taps) {
  try {
    causalFirInPlace(x, taps);
  } catch (const std::bad_alloc&) {
    throw IqSynthError::memAlloc("can not allocate the filter work buffer in " + siteFileAtLine());
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
  wrLog("Print Filter coef at line " + siteLineInFile());
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

}  // namespace iqsynth
