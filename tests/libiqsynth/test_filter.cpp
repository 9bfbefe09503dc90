// Shaping filters and the pulse-shaping FIR: taps against the textbook formulas written out
// here, the tap grid and reported taps, refused designs, and the pulse-shaping entry points with
// their cyclic lead-in; the data window shaped from the symbols a stretch at a time.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <valarray>
#include <vector>

#include "error_kind.h"
#include "iqSynthCfg.h"
#include "iqSynthFilter.h"
#include "iqSynthLog.h"
#include "iqsynth.h"

using namespace arbsuite::iqsynth;  // the library's internals under test

namespace {

constexpr double kPi = 3.141592653589793;
const double kLn2 = std::log(2.0);
using Cfg = iqSynthCfg;

std::unique_ptr<iqSynthCfg> makeCfg(int type, int S, int L, double alphaBt) {
  auto cfg = std::make_unique<iqSynthCfg>("test");
  cfg->shapingFilterType = static_cast<Cfg::ShapingFilterType_t>(type);
  cfg->overSamplingRate = S;
  cfg->filterLength = L;
  cfg->AlphaBt = alphaBt;
  return cfg;
}

double sincPi(double t) { return t == 0.0 ? 1.0 : std::sin(kPi * t) / (kPi * t); }

double raisedCosine(double t, double a) {
  const double d = 2.0 * a * t;
  return std::fabs(std::fabs(d) - 1.0) < 1e-9 ? kPi / 4.0 * sincPi(t)  // limit of 0/0
                                              : sincPi(t) * std::cos(kPi * a * t) / (1.0 - d * d);
}

double rootRaisedCosine(double t, double a) {
  const double d = 4.0 * a * t;
  if (t == 0.0) {
    return 1.0 - a + 4.0 * a / kPi;
  }
  if (std::fabs(std::fabs(d) - 1.0) < 1e-9) {
    const double x = kPi / (4.0 * a);
    return a / std::sqrt(2.0) * ((1.0 + 2.0 / kPi) * std::sin(x) + (1.0 - 2.0 / kPi) * std::cos(x));
  }
  return (std::sin(kPi * t * (1.0 - a)) + d * std::cos(kPi * t * (1.0 + a))) /
         (kPi * t * (1.0 - d * d));
}

double reference(int type, double t, double p) {
  const double k = kPi * p * std::sqrt(2.0 / kLn2);
  switch (type) {
    case Cfg::FILTER_RAISED_COSINE:
      return raisedCosine(t, p);
    case Cfg::FILTER_ROOT_RAISED_COSINE:
      return rootRaisedCosine(t, p);
    case Cfg::FILTER_GAUSSIAN_FSK:
      return 0.5 * (std::erfc(k * (t - 0.5)) - std::erfc(k * (t + 0.5)));
    default:
      return p * std::exp(-2.0 * kPi * kPi * p * p * t * t / kLn2);  // Gaussian pure
  }
}

struct SpanCase {
  int type, S, L;
  double alphaBt;
};

class IqsynthSpanDesign : public ::testing::TestWithParam<SpanCase> {};

TEST_P(IqsynthSpanDesign, TapsFollowTheFormulaOnTheGrid) {
  const SpanCase c = GetParam();
  auto cfg = makeCfg(c.type, c.S, c.L, c.alphaBt);
  std::valarray<double> taps;
  ASSERT_EQ(genShapingFilter(*cfg, taps), 0);
  const int M = c.S * c.L, N = (M % 2 == 1) ? M : M + 1;
  ASSERT_EQ(taps.size(), static_cast<std::size_t>(M));
  EXPECT_EQ(cfg->filterTap, N);
  std::vector<double> raw;
  double sum = 0.0;
  for (int i = 0; i < M; ++i) {
    raw.push_back(reference(
        c.type, N == 1 ? 0.0 : -c.L / 2.0 + i * static_cast<double>(c.L) / (N - 1), c.alphaBt));
    sum += raw.back();
  }
  for (std::size_t i = 0; i < raw.size(); ++i) {
    EXPECT_NEAR(cfg->filterCoef[i], raw[i], 1e-12 * (1.0 + std::fabs(raw[i]))) << i;
    EXPECT_NEAR(taps[i], raw[i] / sum, 1e-12) << i;
  }
  EXPECT_NEAR(taps.sum(), 1.0, 1e-12);
  if (N == M + 1) {
    EXPECT_EQ(cfg->filterCoef[M], cfg->filterCoef[0]);  // the symmetric partner of tap 0
  }
}

INSTANTIATE_TEST_SUITE_P(
    Designs, IqsynthSpanDesign,
    ::testing::Values(SpanCase{Cfg::FILTER_RAISED_COSINE, 8, 8, 0.35},       // even M
                      SpanCase{Cfg::FILTER_RAISED_COSINE, 5, 3, 0.22},       // odd M
                      SpanCase{Cfg::FILTER_RAISED_COSINE, 4, 8, 0.5},        // singular t = +-1
                      SpanCase{Cfg::FILTER_RAISED_COSINE, 4, 8, 0.25},       // singular t = +-2
                      SpanCase{Cfg::FILTER_ROOT_RAISED_COSINE, 4, 8, 0.25},  // singular t = +-1
                      SpanCase{Cfg::FILTER_ROOT_RAISED_COSINE, 3, 5, 0.5},
                      SpanCase{Cfg::FILTER_GAUSSIAN_FSK, 7, 3, 0.3},
                      SpanCase{Cfg::FILTER_GAUSSIAN_PURE, 6, 4, 0.3},
                      SpanCase{Cfg::FILTER_GAUSSIAN_PURE, 1, 1, 0.5}));  // one tap

TEST(IqsynthTapGrid, EvenAndOddCounts) {
  // S = L = 8: 64 taps from -4 to 3.875 in steps of 1/8, 65 reported.
  auto cfg = makeCfg(Cfg::FILTER_RAISED_COSINE, 8, 8, 0.35);
  std::valarray<double> taps;
  genShapingFilter(*cfg, taps);
  EXPECT_EQ(cfg->filterTap, 65);
  EXPECT_NEAR(cfg->filterCoef[63], raisedCosine(3.875, 0.35), 1e-15);
  EXPECT_NEAR(cfg->filterCoef[32], 1.0, 1e-15);
  // S = 5, L = 3: 15 taps from -1.5 to 1.5 in steps of 3/14.
  cfg = makeCfg(Cfg::FILTER_RAISED_COSINE, 5, 3, 0.35);
  genShapingFilter(*cfg, taps);
  EXPECT_EQ(cfg->filterTap, 15);
  EXPECT_NEAR(cfg->filterCoef[1], raisedCosine(-1.5 + 3.0 / 14.0, 0.35), 1e-15);
  EXPECT_NEAR(cfg->filterCoef[14], raisedCosine(1.5, 0.35), 1e-15);
}

TEST(IqsynthSingularPoints, TakeTheirLimits) {
  // Raised cosine, alpha 0.5: taps 12 and 20 (t = +-1) are pi/4 * sinc(1) = 0.
  auto cfg = makeCfg(Cfg::FILTER_RAISED_COSINE, 4, 8, 0.5);
  std::valarray<double> taps;
  genShapingFilter(*cfg, taps);
  EXPECT_NEAR(cfg->filterCoef[12], 0.0, 1e-15);
  EXPECT_NEAR(cfg->filterCoef[20], 0.0, 1e-15);
  // Root raised cosine, alpha 0.25: t = 0 and t = +-1 = +-1/(4 alpha).
  cfg = makeCfg(Cfg::FILTER_ROOT_RAISED_COSINE, 4, 8, 0.25);
  genShapingFilter(*cfg, taps);
  EXPECT_DOUBLE_EQ(cfg->filterCoef[16], 0.75 + 1.0 / kPi);
  const double edge = 0.25 / std::sqrt(2.0) *
                      ((1.0 + 2.0 / kPi) * std::sin(kPi) + (1.0 - 2.0 / kPi) * std::cos(kPi));
  EXPECT_NEAR(cfg->filterCoef[12], edge, 1e-15);
  EXPECT_NEAR(cfg->filterCoef[20], edge, 1e-15);
}

TEST(IqsynthOneSymbolDesigns, HalfSineAndRectangle) {
  auto cfg = makeCfg(Cfg::FILTER_HALF_SINE, 4, 8, 0.0);
  std::valarray<double> taps;
  ASSERT_EQ(genShapingFilter(*cfg, taps), 0);
  EXPECT_EQ(cfg->filterTap, 5);
  const double raw[] = {0.0, std::sin(kPi / 4), 1.0, std::sin(3 * kPi / 4),
                        0.0};  // last: the extra tap
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_NEAR(cfg->filterCoef[i], raw[i], 1e-15);
    if (i < 4) {
      EXPECT_NEAR(taps[i], raw[i] / (1.0 + std::sqrt(2.0)), 1e-15);
    }
  }
  for (int S : {1, 4, 7}) {
    cfg = makeCfg(Cfg::FILTER_RECT, S, 0, 0.0);
    genShapingFilter(*cfg, taps);
    EXPECT_EQ(cfg->filterTap, S % 2 == 1 ? S : S + 1);
    EXPECT_EQ(cfg->filterCoef[cfg->filterTap - 1], 1.0);
    ASSERT_EQ(taps.size(), static_cast<std::size_t>(S));
    EXPECT_DOUBLE_EQ(taps.max(), 1.0 / S);
    EXPECT_DOUBLE_EQ(taps.min(), 1.0 / S);
  }
}

TEST(IqsynthUserDesign, NormalisedAndKeepsThePreviousReportedCount) {
  auto cfg = makeCfg(Cfg::FILTER_USER, 2, 3, 0.0);
  const double user[] = {1, 2, 3, 4, -2, 0};
  std::copy(std::begin(user), std::end(user), cfg->usrFilterCoef);
  std::valarray<double> taps;
  ASSERT_EQ(genShapingFilter(*cfg, taps), 0);
  EXPECT_EQ(cfg->filterTap, 0);  // fresh record
  for (std::size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(cfg->filterCoef[i], user[i]);
    EXPECT_DOUBLE_EQ(taps[i], user[i] / 8.0);
  }
}

// GMSK (BT 0.3) phase pulse in closed form, from the antiderivative of erfc,
// F(x) = x erfc(x) - exp(-x^2)/sqrt(pi).
double gmskPhase(double t) {
  const double c = 2.0 * kPi * 0.3 / (std::sqrt(kLn2) * std::sqrt(2.0));
  auto F = [](double x) { return x * std::erfc(x) - std::exp(-x * x) / std::sqrt(kPi); };
  auto integral = [&](double a) { return (F(c * (t - a)) - F(-c * a)) / c; };
  return 0.25 * (integral(2.5) - integral(1.5));
}

TEST(IqsynthGaussianLinearized, MainLaurentPulse) {
  const int S = 4;
  auto cfg = makeCfg(Cfg::FILTER_GAUSSIAN_LINEARIZED, S, 2, 0.9);  // alpha and L are not used
  std::valarray<double> taps;
  ASSERT_EQ(genShapingFilter(*cfg, taps), 0);
  ASSERT_EQ(taps.size(), 20u);
  EXPECT_EQ(cfg->filterTap, 21);
  std::vector<double> s(8 * S + 1);
  for (int j = 0; j <= 8 * S; ++j) {
    const double q = gmskPhase(static_cast<double>(j <= 4 * S ? j : j - 4 * S) / S);
    s[static_cast<std::size_t>(j)] = j <= 4 * S ? std::sin(kPi * q) : std::cos(kPi * q);
  }
  std::size_t peak = 0;
  for (std::size_t r = 0; r < 20; ++r) {
    EXPECT_NEAR(taps[r], s[r] * s[r + S] * s[r + 2 * S] * s[r + 3 * S], 2e-5)
        << r;  // the library integrates numerically: worst 1.5e-5
    peak = taps[r] > taps[peak] ? r : peak;
  }
  EXPECT_TRUE(peak == 9 || peak == 10) << peak;
  EXPECT_GT(std::fabs(taps.sum() - 1.0), 0.1);  // not normalised
}

// What the designers share: taps that sum to 1 (all but the fixed linearised Gaussian pulse),
// a reported list N long that reads the same backwards (the grid designers: their pulses are
// even in time, and an even count gets the first tap's partner), the designed count S x L (one
// symbol: S), and the design reached through its settings alone equal to the record's.
struct SharedCase {
  int type;
  double alphaBt;
};

class IqsynthSharedSteps : public ::testing::TestWithParam<std::tuple<SharedCase, int, int>> {};

TEST_P(IqsynthSharedSteps, UnitSumSymmetryAndCounts) {
  const auto [c, S, L] = GetParam();
  auto cfg = makeCfg(c.type, S, L, c.alphaBt);
  for (int i = 0; i < S * L; ++i) {
    cfg->usrFilterCoef[i] = 1.0 + (i % 3);
  }
  std::valarray<double> taps;
  ASSERT_EQ(genShapingFilter(*cfg, taps), 0);
  const bool oneSymbol = c.type == Cfg::FILTER_RECT || c.type == Cfg::FILTER_HALF_SINE;
  const int M = oneSymbol ? S : S * L;
  ASSERT_EQ(taps.size(), static_cast<std::size_t>(M));
  EXPECT_NEAR(taps.sum(), 1.0, 1e-12);
  if (c.type != Cfg::FILTER_USER) {
    const int N = cfg->filterTap;
    EXPECT_EQ(N, M % 2 == 1 ? M : M + 1);
    double largest = 0.0;
    for (int i = 0; i < N; ++i) {
      largest = std::max(largest, std::fabs(cfg->filterCoef[i]));
    }
    for (int i = 0; i < N; ++i) {
      EXPECT_NEAR(cfg->filterCoef[i], cfg->filterCoef[N - 1 - i], 1e-12 * largest)
          << "tap " << i << " of " << N;
    }
  }

  // The settings alone give the same design, reported where they are told to.
  int count = -1;
  std::vector<double> coefficients(Cfg::kMaxReportedTaps, 0.0);
  std::valarray<double> again;
  ASSERT_EQ(designShapingFilter(shapingFilterSettingsOf(*cfg), {count, coefficients.data()}, again),
            0);
  ASSERT_EQ(again.size(), taps.size());
  for (std::size_t i = 0; i < taps.size(); ++i) {
    EXPECT_EQ(again[i], taps[i]) << i;
    EXPECT_EQ(coefficients[i], cfg->filterCoef[i]) << i;
  }
  EXPECT_EQ(count, c.type == Cfg::FILTER_USER ? -1 : cfg->filterTap);
}

INSTANTIATE_TEST_SUITE_P(
    Designers, IqsynthSharedSteps,
    ::testing::Combine(::testing::Values(SharedCase{Cfg::FILTER_RAISED_COSINE, 0.35},
                                         SharedCase{Cfg::FILTER_ROOT_RAISED_COSINE, 0.22},
                                         SharedCase{Cfg::FILTER_GAUSSIAN_PURE, 0.3},
                                         SharedCase{Cfg::FILTER_GAUSSIAN_FSK, 0.5},
                                         SharedCase{Cfg::FILTER_RECT, 0.0},
                                         SharedCase{Cfg::FILTER_HALF_SINE, 0.0},
                                         SharedCase{Cfg::FILTER_USER, 0.0}),
                       ::testing::Values(2, 3, 8),    // samples per symbol
                       ::testing::Values(1, 4, 5)));  // span in symbols

class IqsynthUnknownFilterType : public ::testing::TestWithParam<int> {};

TEST_P(IqsynthUnknownFilterType, IsRefused) {
  auto cfg = makeCfg(GetParam(), 4, 8, 0.35);
  std::valarray<double> taps;
  try {
    genShapingFilter(*cfg, taps);
    FAIL();
  } catch (const IqSynthError& e) {
    EXPECT_EQ(e.kind(), IqSynthError::Kind::Config);
    EXPECT_EQ(e.errNo(), IQSYNTH_ERR_FILTER_TYPE);
    EXPECT_STREQ(e.what(), "not exist filter type");
  }
}

INSTANTIATE_TEST_SUITE_P(Codes, IqsynthUnknownFilterType, ::testing::Values(0, 1, 4, 11));

struct BadDesign {
  int type, S, L;
  double alphaBt;
  const char* field;
};

class IqsynthRefusedDesign : public ::testing::TestWithParam<BadDesign> {};

TEST_P(IqsynthRefusedDesign, NamesTheFieldInsteadOfMakingNaN) {
  const BadDesign c = GetParam();
  auto cfg = makeCfg(c.type, c.S, c.L, c.alphaBt);
  for (int i = 0; i < 8; ++i) {
    cfg->usrFilterCoef[i] = (i % 2 == 0) ? 1.0 : -1.0;  // user taps summing to 0
  }
  std::valarray<double> taps;
  try {
    genShapingFilter(*cfg, taps);
    FAIL();
  } catch (const IqSynthError& e) {
    EXPECT_EQ(e.kind(), IqSynthError::Kind::Config);
    EXPECT_EQ(e.errNo(), IQSYNTH_ERR_CFG_VALUE);
    EXPECT_THAT(std::string(e.what()), ::testing::HasSubstr(c.field)) << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Settings, IqsynthRefusedDesign,
    ::testing::Values(BadDesign{Cfg::FILTER_ROOT_RAISED_COSINE, 4, 8, 0.0, "AlphaBt"},
                      BadDesign{Cfg::FILTER_GAUSSIAN_PURE, 4, 8, 0.0, "AlphaBt"},
                      BadDesign{Cfg::FILTER_GAUSSIAN_FSK, 4, 8, 0.0, "AlphaBt"},
                      BadDesign{Cfg::FILTER_USER, 4, 2, 0.0, "usrFilterCoef"},
                      BadDesign{Cfg::FILTER_HALF_SINE, 1, 8, 0.0, "overSamplingRate"},
                      BadDesign{Cfg::FILTER_RAISED_COSINE, 4, 0, 0.35, "filterLengh"},
                      BadDesign{Cfg::FILTER_RECT, 33, 8, 0.0, "overSamplingRate"},
                      BadDesign{Cfg::FILTER_GAUSSIAN_LINEARIZED, 4, 129, 0.0, "filterLengh"}));

TEST(IqsynthAlmostEqualRelative, IsRelativeAtSinglePrecision) {
  EXPECT_TRUE(almostEqualRelative(0.5, 0.5 * (1 + 1e-8)));
  EXPECT_FALSE(almostEqualRelative(0.5, 0.5 * (1 + 1e-6)));
  EXPECT_FALSE(almostEqualRelative(0.0, 1e-300));
  EXPECT_TRUE(almostEqualRelative(INFINITY, 3.0));
}

// ---- Pulse-shaping FIR and lead-in ---------------------------------------------------------
// The FIR arithmetic itself is tested in test_firKernel.cpp; here the entry point's contract.

TEST(IqsynthFir, FilteringDat2IsTheCausalFirOnItsOwnCopyOfTheTaps) {
  std::valarray<double> x(0.0, 40);
  for (std::size_t i = 3; i < x.size(); i += 4) {
    x[i] = static_cast<double>(i % 7) - 3.0;
  }
  const std::valarray<double> h = {0.5, -0.25, 2.0, 1.0, 0.125};
  std::valarray<double> want(x.size());
  for (std::size_t i = 0; i < x.size(); ++i) {
    for (std::size_t k = 0; k < h.size() && k <= i; ++k) {
      want[i] += h[k] * x[i - k];
    }
  }
  EXPECT_EQ(filteringDat2(x, h), 0);
  EXPECT_LT(std::abs(x - want).max(), 1e-15);
}

struct LeadInCase {
  int S, L, symbols;
};

class IqsynthLeadIn : public ::testing::TestWithParam<LeadInCase> {};

TEST_P(IqsynthLeadIn, IsTheDataExtendedPeriodicallyToTheLeft) {
  // A one-tap user filter leaves the track as the lead-in made it.
  const LeadInCase c = GetParam();
  auto cfg = makeCfg(Cfg::FILTER_USER, c.S, c.L, 0.0);
  cfg->usrFilterCoef[0] = 1.0;
  cfg->sequenceLength = c.symbols;
  const std::size_t O = static_cast<std::size_t>(c.L * c.S),
                    P = static_cast<std::size_t>(c.symbols * c.S);
  std::valarray<double> track(O + P);
  for (std::size_t n = 0; n < P; ++n) {
    track[O + n] = static_cast<double>(n + 1);
  }
  ASSERT_EQ(runFilter(*cfg, track), 0);
  for (std::size_t i = 0; i < O + P; ++i) {
    ASSERT_EQ(track[i], static_cast<double>((i + P * O - O) % P + 1)) << i;  // (i - O) mod P
  }
}

INSTANTIATE_TEST_SUITE_P(Lengths, IqsynthLeadIn,
                         ::testing::Values(LeadInCase{8, 16, 4},   // four whole copies
                                           LeadInCase{8, 16, 3},   // 5 1/3 copies
                                           LeadInCase{4, 2, 20},   // data longer than the lead-in
                                           LeadInCase{3, 7, 1}));  // a single symbol

TEST(IqsynthPulseShaping, RefusesTracksThatDoNotMatchTheRun) {
  auto cfg = makeCfg(Cfg::FILTER_RECT, 4, 2, 0.0);
  cfg->sequenceLength = 5;
  std::valarray<double> good(28), bad(27);
  EXPECT_EQ(thrownKind([&] { runIQFilter(*cfg, good, bad); }), IqSynthError::Kind::Config);
  cfg->sequenceLength = 0;  // no data to repeat into the lead-in
  std::valarray<double> leadOnly(8);
  EXPECT_EQ(thrownKind([&] { runFilter(*cfg, leadOnly); }), IqSynthError::Kind::Config);
}

// ---- The data window shaped from the symbols ----------------------------------------------

struct WindowCase {
  const char* name;
  int type;
  double alphaBt;
  int S, L, symbols;
  bool fromSymbols;  // whether the polyphase form can take the symbols alone
};

void PrintTo(const WindowCase& c, std::ostream* os) { *os << c.name; }

class IqsynthDataWindow : public ::testing::TestWithParam<WindowCase> {};

// Bit patterns, so that -0.0 and +0.0 count as different.
bool sameDoubles(const double* a, const double* b, std::size_t n) {
  for (std::size_t k = 0; k < n; ++k) {
    if (std::bit_cast<std::uint64_t>(a[k]) != std::bit_cast<std::uint64_t>(b[k])) {
      return false;
    }
  }
  return true;
}

TEST_P(IqsynthDataWindow, StretchesAreTheShapedTracksDataWindow) {
  const WindowCase c = GetParam();
  auto cfg = makeCfg(c.type, c.S, c.L, c.alphaBt);
  cfg->sequenceLength = c.symbols;
  const std::size_t N = static_cast<std::size_t>(c.symbols);
  const std::size_t S = static_cast<std::size_t>(c.S);
  const std::size_t total = (N + static_cast<std::size_t>(c.L)) * S;
  const std::size_t lead = static_cast<std::size_t>(c.L) * S;
  // Symbols of several signs and zeros (a zero symbol adds signed-zero products).
  std::mt19937 gen(static_cast<unsigned>(c.S * 131 + c.L));
  std::valarray<double> iSym(N), qSym(N);
  const double levels[] = {0.7071067811865476, -0.7071067811865476, 0.0, -0.0, 0.3162, -0.9487};
  for (std::size_t b = 0; b < N; ++b) {
    iSym[b] = levels[gen() % 6];
    qSym[b] = levels[gen() % 6];
  }
  std::valarray<double> iTrack(total), qTrack(total);
  ASSERT_EQ(runIQFilterOnSymbols(*cfg, iSym, qSym, iTrack, qTrack), 0);

  std::valarray<double> i, q;
  bool sized = false;
  DataWindowShaper window;
  const bool shaped = shapeDataWindow(
      *cfg, iSym, qSym, i, q,
      [&] {
        sized = true;
        i.resize(total);
        q.resize(total);
      },
      window);
  ASSERT_EQ(shaped, c.fromSymbols);
  EXPECT_EQ(sized, !shaped);
  if (!shaped) {
    // The tracks shaped as runIQFilterOnSymbols shapes them.
    EXPECT_EQ(window.count(), 0u);
    EXPECT_TRUE(sameDoubles(&i[0], &iTrack[0], total));
    EXPECT_TRUE(sameDoubles(&q[0], &qTrack[0], total));
    return;
  }
  EXPECT_EQ(i.size(), 0u);  // the tracks are never sized
  ASSERT_EQ(window.count(), N * S);
  std::vector<double> out(N * S);
  window.shapeI(0, N * S, out.data());
  EXPECT_TRUE(sameDoubles(out.data(), &iTrack[lead], N * S));
  window.shapeQ(0, N * S, out.data());
  EXPECT_TRUE(sameDoubles(out.data(), &qTrack[lead], N * S));
  // Stretches starting at every phase of a symbol, of lengths shorter and longer than one.
  for (std::size_t first = 0; first < std::min<std::size_t>(N * S, 3 * S); ++first) {
    for (const std::size_t length : {std::size_t{1}, S - 1, S + 1, 5 * S + 3, N * S}) {
      const std::size_t n = std::min(length, N * S - first);
      window.shapeI(first, n, out.data());
      ASSERT_TRUE(sameDoubles(out.data(), &iTrack[lead + first], n)) << first << " " << n;
      window.shapeQ(first, n, out.data());
      ASSERT_TRUE(sameDoubles(out.data(), &qTrack[lead + first], n)) << first << " " << n;
    }
  }
}

constexpr int kWindowRrc = Cfg::FILTER_ROOT_RAISED_COSINE;

INSTANTIATE_TEST_SUITE_P(
    Filters, IqsynthDataWindow,
    ::testing::Values(WindowCase{"RrcS8L16", kWindowRrc, 0.35, 8, 16, 200, true},
                      WindowCase{"RrcS7L5", kWindowRrc, 0.22, 7, 5, 101, true},
                      WindowCase{"RrcS32L4", kWindowRrc, 0.35, 32, 4, 40, true},
                      WindowCase{"RcS4L8", Cfg::FILTER_RAISED_COSINE, 0.5, 4, 8, 64, true},
                      WindowCase{"GaussS5L6", Cfg::FILTER_GAUSSIAN_PURE, 0.5, 5, 6, 33, true},
                      WindowCase{"GaussLinS16L5", Cfg::FILTER_GAUSSIAN_LINEARIZED, 0.3, 16, 5, 50,
                                 true},
                      WindowCase{"HalfSineS3", Cfg::FILTER_HALF_SINE, 0.0, 3, 1, 25, true},
                      WindowCase{"RectS24", Cfg::FILTER_RECT, 0.0, 24, 1, 12, true},
                      // Fewer symbols than the span: the lead-in repeats the data several times.
                      WindowCase{"RrcS8L16N3", kWindowRrc, 0.35, 8, 16, 3, true},
                      WindowCase{"RrcS3L7N1", kWindowRrc, 0.35, 3, 7, 1, true},
                      // One or two samples per symbol: the polyphase rows would cost more than the
                      // direct sum, the track form.
                      WindowCase{"RrcS1", kWindowRrc, 0.35, 1, 16, 50, false},
                      WindowCase{"RrcS2L9", kWindowRrc, 0.5, 2, 9, 77, false}),
    [](const ::testing::TestParamInfo<WindowCase>& info) { return std::string(info.param.name); });

TEST(IqsynthDataWindow, SymbolsThatAreNotFiniteTakeTheTrackForm) {
  auto cfg = makeCfg(Cfg::FILTER_ROOT_RAISED_COSINE, 8, 4, 0.35);
  cfg->sequenceLength = 20;
  std::valarray<double> iSym(0.5, 20), qSym(-0.5, 20);
  qSym[7] = std::numeric_limits<double>::infinity();
  std::valarray<double> iTrack(192), qTrack(192);
  ASSERT_EQ(runIQFilterOnSymbols(*cfg, iSym, qSym, iTrack, qTrack), 0);
  std::valarray<double> i, q;
  DataWindowShaper window;
  const auto size = [&] {
    i.resize(192);
    q.resize(192);
  };
  EXPECT_FALSE(shapeDataWindow(*cfg, iSym, qSym, i, q, size, window));
  EXPECT_EQ(window.count(), 0u);
  EXPECT_TRUE(sameDoubles(&i[0], &iTrack[0], 192));
  for (std::size_t k = 0; k < 192; ++k) {
    // NaN where the infinite symbol meets a zero tap: compare the patterns, not the values.
    ASSERT_EQ(std::isnan(q[k]), std::isnan(qTrack[k])) << k;
    if (!std::isnan(q[k])) {
      ASSERT_EQ(q[k], qTrack[k]) << k;
    }
  }
}

}  // namespace
