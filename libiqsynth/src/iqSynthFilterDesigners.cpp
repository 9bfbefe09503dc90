// The eight shaping-filter designers of iqSynthFilter on one skeleton: the tap grid, the sizing,
// the report to the host and the unit-sum scaling are written once (runDesign); each designer
// gives only its impulse-response formula and the choices that set it apart.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <iostream>
#include <limits>
#include <new>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

#include "iqSynthCfg.h"
#include "iqSynthFilter.h"
#include "iqSynthLog.h"

namespace arbsuite::iqsynth {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kLn2 = std::numbers::ln2;
constexpr double kMinusTwoPiSquared = -2.0 * kPi * kPi;
constexpr double kOnePlusTwoOverPi = 1.0 + 2.0 / kPi;
constexpr double kOneMinusTwoOverPi = 1.0 - 2.0 / kPi;
constexpr double kGmskBt = 0.3;  // bandwidth-time product of the linearised GMSK pulse
constexpr double kTwoPiTimesGmskBt = 2.0 * kPi * kGmskBt;
constexpr double kSinglePrecisionEpsilon = std::numeric_limits<float>::epsilon();  // 2^-23
constexpr int kGaussLinSpan = 5;            // symbols of the linearised GMSK pulse
constexpr int kGaussLinGridPerSymbol = 20;  // integration points per sample period

// Memory-failure texts of the designers (the host's log shows them as they always were).
constexpr const char* kRaisedCosineAllocText =
    "can not allocate space for rising cosine FSK filter tap at ";
constexpr const char* kGaussianAllocText = "can not allocate space for Gaussian FSK filter tap at ";
constexpr const char* kRootRaisedCosineAllocText =
    "can not allocate space for root rising cosine FSK filter tap at ";

// Where the taps of a design sit in time, and how many of them the host is told of.
struct TapGrid {
  std::size_t count = 0;  // designed taps, M
  int reported = 0;       // N: M, or M + 1 for an even M (the missing symmetric partner)
  // Time of tap i in symbol periods (0 when N = 1): first + i * step on a span grid,
  // i / divisor on the one-symbol grid.
  bool spanned = true;
  double first = 0.0;
  double step = 0.0;
  double divisor = 1.0;
  double at(std::size_t i) const {
    if (reported == 1) {
      return 0.0;
    }
    return spanned ? first + static_cast<double>(i) * step : static_cast<double>(i) / divisor;
  }
};

// The span-L grid: M = S*L taps from -L/2 to L/2 over N - 1 steps. Refuses M = 0.
TapGrid spanGrid(const ShapingFilterSettings& s) {
  const int L = s.filterLength;
  const int M = s.overSamplingRate * L;
  if (M == 0) {
    throwCfgValue("filterLengh 0 leaves the shaping filter type " + to_string(s.type) +
                  " without taps");
  }
  const int N = (M % 2 == 1) ? M : M + 1;
  TapGrid grid;
  grid.count = static_cast<std::size_t>(M);
  grid.reported = N;
  grid.first = -L / 2.0;
  grid.step = N > 1 ? static_cast<double>(L) / (N - 1) : 0.0;
  return grid;
}

// The one-symbol grid of the half-sine and rectangle: S taps at i / (N - 1), N = S, or S + 1
// for an even S.
TapGrid oneSymbolGrid(const ShapingFilterSettings& s) {
  const int S = s.overSamplingRate;
  TapGrid grid;
  grid.count = static_cast<std::size_t>(S);
  grid.reported = (S % 2 == 1) ? S : S + 1;
  grid.spanned = false;
  grid.divisor = grid.reported > 1 ? grid.reported - 1 : 1;
  return grid;
}

// What a design tells the host through filterTap and filterCoef.
enum class Report {
  CountAndCoefficients,  // the taps before scaling, and their reported count N
  CoefficientsOnly,      // the host's own taps: the count stays that of the previous design
  CountOnly,             // a fixed pulse: only its count
};

// The choices in which the designs differ, apart from their formula.
struct DesignSteps {
  TapGrid grid;
  const char* allocText = kRaisedCosineAllocText;
  Report report = Report::CountAndCoefficients;
  bool unitSum = true;  // scale the taps to sum 1
  std::string culprit;  // the setting named when the taps cannot be scaled
};

// Sizes the tap array of a design; an allocation failure names the filter and the site.
void sizeTaps(std::valarray<double>& taps, std::size_t count, const char* allocText,
              SourceSite site) {
  try {
    taps.resize(count);
  } catch (const std::bad_alloc&) {
    throw IqSynthError::memAlloc(allocText + siteLineIn(site));
  } catch (const std::length_error&) {
    throw IqSynthError::memAlloc(allocText + siteLineIn(site));
  }
}

// Records the taps the host reads back: the M designed taps and, for N = M + 1, the missing
// symmetric partner of the first tap.
void reportTaps(const ReportedTaps& out, const std::valarray<double>& taps, const TapGrid& grid,
                Report report) {
  if (report != Report::CountOnly) {
    const std::size_t used = taps.size();
    for (std::size_t i = 0; i < used; ++i) {
      out.coefficients[i] = taps[i];
    }
    if (report == Report::CountAndCoefficients &&
        static_cast<std::size_t>(grid.reported) == used + 1) {
      out.coefficients[used] = taps[0];
    }
  }
  if (report != Report::CoefficientsOnly) {
    out.count = grid.reported;
  }
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

// The common steps of every design, in this order: size the taps, fill tap i from the
// designer's formula tapAt(i, t) at its time t, report them to the host, scale to unit sum.
template <typename TapAt>
void runDesign(const DesignSteps& steps, const ReportedTaps& out, std::valarray<double>& taps,
               TapAt tapAt, SourceSite site = SourceSite::current()) {
  sizeTaps(taps, steps.grid.count, steps.allocText, site);
  for (std::size_t i = 0; i < steps.grid.count; ++i) {
    taps[i] = tapAt(i, steps.grid.at(i));
  }
  reportTaps(out, taps, steps.grid, steps.report);
  if (steps.unitSum) {
    normaliseToUnitSum(taps, steps.culprit);
  }
}

std::string alphaBtCulprit(const ShapingFilterSettings& s) {
  return "AlphaBt " + to_string(s.alphaBt);
}

double sinc(double t) { return t == 0.0 ? 1.0 : std::sin(kPi * t) / (kPi * t); }

// ---- The designers: each its formula -------------------------------------------------------

void genHalfSineFilter(const ShapingFilterSettings& s, const ReportedTaps& out,
                       std::valarray<double>& taps) {
  DesignSteps steps;
  steps.grid = oneSymbolGrid(s);
  steps.culprit =
      "overSamplingRate " + to_string(s.overSamplingRate) + " with the half-sine filter";
  runDesign(steps, out, taps, [](std::size_t, double t) {
    const double tap = std::sin(kPi * t);
    wrLog("sample time is");
    wrLog(to_string(t));
    wrLog("coef is");
    wrLog(to_string(tap));
    return tap;
  });
  wrLog("filter is ");
  ite_print(taps);
}

void genRectFilter(const ShapingFilterSettings& s, const ReportedTaps& out,
                   std::valarray<double>& taps) {
  DesignSteps steps;
  steps.grid = oneSymbolGrid(s);
  steps.culprit = "overSamplingRate " + to_string(s.overSamplingRate);
  runDesign(steps, out, taps, [](std::size_t, double) { return 1.0; });
}

void genGaussianFskFilter(const ShapingFilterSettings& s, const ReportedTaps& out,
                          std::valarray<double>& taps) {
  DesignSteps steps;
  steps.grid = spanGrid(s);
  steps.allocText = kGaussianAllocText;
  steps.culprit = alphaBtCulprit(s);
  // Frequency pulse of GFSK: a one-symbol rectangle convolved with a Gaussian of this BT.
  const double k = std::sqrt(2.0) * kPi * s.alphaBt / std::sqrt(kLn2);
  runDesign(steps, out, taps, [k](std::size_t, double t) {
    return 0.5 * (std::erfc(k * (t - 0.5)) - std::erfc(k * (t + 0.5)));
  });
}

void genGaussianPureFilter(const ShapingFilterSettings& s, const ReportedTaps& out,
                           std::valarray<double>& taps) {
  DesignSteps steps;
  steps.grid = spanGrid(s);
  steps.allocText = kGaussianAllocText;
  steps.culprit = alphaBtCulprit(s);
  const double bt = s.alphaBt;
  runDesign(steps, out, taps, [bt](std::size_t, double t) {
    return bt * std::exp(kMinusTwoPiSquared * bt * bt * t * t / kLn2);
  });
}

void genRaisedCosineFilter(const ShapingFilterSettings& s, const ReportedTaps& out,
                           std::valarray<double>& taps) {
  DesignSteps steps;
  steps.grid = spanGrid(s);
  steps.allocText = kRaisedCosineAllocText;
  steps.culprit = alphaBtCulprit(s);
  const double alpha = s.alphaBt;
  runDesign(steps, out, taps, [alpha](std::size_t, double t) {
    if (almostEqualRelative(std::fabs(alpha * t), 0.5)) {
      // t = +-1/(2 alpha): the limit of the 0/0 quotient.
      return kPi / 4.0 * sinc(t);
    }
    const double d = 2.0 * alpha * t;
    return sinc(t) * std::cos(kPi * alpha * t) / (1.0 - d * d);
  });
}

void genRootRaisedCosineFilter(const ShapingFilterSettings& s, const ReportedTaps& out,
                               std::valarray<double>& taps) {
  DesignSteps steps;
  steps.grid = spanGrid(s);
  steps.allocText = kRootRaisedCosineAllocText;
  steps.culprit = alphaBtCulprit(s);
  const double alpha = s.alphaBt;
  runDesign(steps, out, taps, [alpha](std::size_t, double t) {
    if (t == 0.0) {
      return 1.0 - alpha + 4.0 * alpha / kPi;
    }
    if (almostEqualRelative(std::fabs(t), 1.0 / (4.0 * alpha))) {
      // t = +-1/(4 alpha): the limit of the 0/0 quotient.
      const double a = kPi / (4.0 * alpha);
      return alpha / std::sqrt(2.0) *
             (kOnePlusTwoOverPi * std::sin(a) + kOneMinusTwoOverPi * std::cos(a));
    }
    const double d = 4.0 * alpha * t;
    return (std::sin(kPi * t * (1.0 - alpha)) +
            4.0 * alpha * t * std::cos(kPi * t * (1.0 + alpha))) /
           (kPi * t * (1.0 - d * d));
  });
}

void genUserFilter(const ShapingFilterSettings& s, const ReportedTaps& out,
                   std::valarray<double>& taps) {
  DesignSteps steps;
  steps.grid.count =
      static_cast<std::size_t>(s.overSamplingRate) * static_cast<std::size_t>(s.filterLength);
  if (steps.grid.count == 0) {
    throwCfgValue("filterLengh 0 leaves the user shaping filter without taps");
  }
  // filterTap keeps the count of the previous design: the host gave the taps itself.
  steps.report = Report::CoefficientsOnly;
  steps.culprit = "usrFilterCoef";
  const double* userTaps = s.userTaps;
  runDesign(steps, out, taps, [userTaps](std::size_t i, double) { return userTaps[i]; });
}

// The main pulse C0 of the Laurent decomposition of GMSK with BT = 0.3, over 5 symbols;
// reported with 5 S + 1 taps and not scaled.
void genGaussianLinearizedFilter(const ShapingFilterSettings& settings, const ReportedTaps& out,
                                 std::valarray<double>& taps) {
  const int S = settings.overSamplingRate;
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
  // 4. C0 = product of four shifted copies.
  DesignSteps steps;
  steps.grid.count = static_cast<std::size_t>(kGaussLinSpan * S);
  steps.grid.reported = kGaussLinSpan * S + 1;
  steps.allocText = kGaussianAllocText;
  steps.report = Report::CountOnly;
  steps.unitSum = false;
  const std::size_t shift = static_cast<std::size_t>(S);
  const bool print = stdoutEnabled();
  runDesign(steps, out, taps, [&](std::size_t r, double) {
    const double tap = s[r] * s[r + shift] * s[r + 2 * shift] * s[r + 3 * shift];
    if (print) {
      std::cout << " the " << r << "th coef is " << tap << '\n';
    }
    return tap;
  });
}

using Designer = void (*)(const ShapingFilterSettings&, const ReportedTaps&,
                          std::valarray<double>&);

Designer designerFor(int type) {
  using Cfg = iqSynthCfg;
  switch (type) {
    case Cfg::FILTER_GAUSSIAN_LINEARIZED:
      return genGaussianLinearizedFilter;
    case Cfg::FILTER_GAUSSIAN_PURE:
      return genGaussianPureFilter;
    case Cfg::FILTER_RECT:
      return genRectFilter;
    case Cfg::FILTER_RAISED_COSINE:
      return genRaisedCosineFilter;
    case Cfg::FILTER_ROOT_RAISED_COSINE:
      return genRootRaisedCosineFilter;
    case Cfg::FILTER_USER:
      return genUserFilter;
    case Cfg::FILTER_GAUSSIAN_FSK:
      return genGaussianFskFilter;
    case Cfg::FILTER_HALF_SINE:
      return genHalfSineFilter;
    default:
      throw IqSynthError(IqSynthError::Kind::Config, IQSYNTH_ERR_FILTER_TYPE,
                         "not exist filter type");
  }
}

}  // namespace

bool almostEqualRelative(double a, double b) {
  const double diff = std::fabs(a - b);
  const double largest = std::max(std::fabs(a), std::fabs(b));
  return diff <= largest * kSinglePrecisionEpsilon;
}

ShapingFilterSettings shapingFilterSettingsOf(const iqSynthCfg& cfg) {
  return {cfg.shapingFilterType, cfg.overSamplingRate, cfg.filterLength, cfg.AlphaBt,
          cfg.usrFilterCoef};
}

ReportedTaps reportedTapsOf(iqSynthCfg& cfg) { return {cfg.filterTap, cfg.filterCoef}; }

int designShapingFilter(const ShapingFilterSettings& settings, const ReportedTaps& out,
                        std::valarray<double>& taps) {
  // An unknown type is refused before the lengths are looked at.
  const Designer design = designerFor(settings.type);
  checkShapingLengths(settings.overSamplingRate, settings.filterLength);
  design(settings, out, taps);
  return 0;
}

int genShapingFilter(iqSynthCfg& cfg, std::valarray<double>& taps) {
  return designShapingFilter(shapingFilterSettingsOf(cfg), reportedTapsOf(cfg), taps);
}

}  // namespace arbsuite::iqsynth
