// Shaping-filter designers and the pulse-shaping FIR: taps against the textbook formulas
// written out here, the tap grid and reported taps, refused designs, and the FIR and its
// cyclic lead-in against a plain causal convolution.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <valarray>
#include <vector>

#include "iqSynthCfg.h"
#include "iqSynthFilter.h"
#include "iqSynthLog.h"

namespace {

constexpr double kPi = 3.141592653589793;
const double kLn2 = std::log(2.0);

using Cfg = iqSynthCfg;

std::unique_ptr<iqSynthCfg> freshCfg(int type, int S, int L, double alphaBt)
{
    auto cfg = std::make_unique<iqSynthCfg>("test");
    cfg->shapingFilterType = static_cast<Cfg::ShapingFilterType_t>(type);
    cfg->overSamplingRate = S;
    cfg->filterLengh = L;
    cfg->AlphaBt = alphaBt;
    return cfg;
}

double sincPi(double t) { return t == 0.0 ? 1.0 : std::sin(kPi * t) / (kPi * t); }

// Raised cosine impulse response; at |t| = 1/(2 alpha) the 0/0 quotient takes its limit.
double raisedCosine(double t, double alpha)
{
    const double d = 2.0 * alpha * t;
    if (std::fabs(std::fabs(d) - 1.0) < 1e-9) {
        return kPi / 4.0 * sincPi(t);
    }
    return sincPi(t) * std::cos(kPi * alpha * t) / (1.0 - d * d);
}

double rootRaisedCosine(double t, double alpha)
{
    if (t == 0.0) {
        return 1.0 - alpha + 4.0 * alpha / kPi;
    }
    if (std::fabs(std::fabs(4.0 * alpha * t) - 1.0) < 1e-9) {
        const double a = kPi / (4.0 * alpha);
        return alpha / std::sqrt(2.0) * ((1.0 + 2.0 / kPi) * std::sin(a) + (1.0 - 2.0 / kPi) * std::cos(a));
    }
    const double d = 4.0 * alpha * t;
    return (std::sin(kPi * t * (1.0 - alpha)) + d * std::cos(kPi * t * (1.0 + alpha))) / (kPi * t * (1.0 - d * d));
}

// GFSK frequency pulse: a one-symbol rectangle smoothed by a Gaussian of bandwidth-time BT.
double gaussianFsk(double t, double bt)
{
    const double k = kPi * bt * std::sqrt(2.0 / kLn2);
    return 0.5 * (std::erfc(k * (t - 0.5)) - std::erfc(k * (t + 0.5)));
}

double gaussianPure(double t, double bt) { return bt * std::exp(-2.0 * kPi * kPi * bt * bt * t * t / kLn2); }

double spanReference(int type, double t, double alphaBt)
{
    switch (type) {
    case Cfg::FILTER_RISING_COS: return raisedCosine(t, alphaBt);
    case Cfg::FILTER_ROOT_RISING_COS: return rootRaisedCosine(t, alphaBt);
    case Cfg::FILTER_GAUSSIAN_FSK: return gaussianFsk(t, alphaBt);
    default: return gaussianPure(t, alphaBt);
    }
}

struct SpanCase {
    int type;
    int S;
    int L;
    double alphaBt;
};

class SpanDesign : public ::testing::TestWithParam<SpanCase> {};

TEST_P(SpanDesign, TapsFollowTheFormulaOnTheGrid)
{
    const SpanCase c = GetParam();
    auto cfg = freshCfg(c.type, c.S, c.L, c.alphaBt);
    std::valarray<double> taps;
    ASSERT_EQ(genShapingFilter(*cfg, taps), 0);

    const int M = c.S * c.L;
    const int N = (M % 2 == 1) ? M : M + 1;
    ASSERT_EQ(taps.size(), static_cast<std::size_t>(M));
    EXPECT_EQ(cfg->filterTap, N);

    std::vector<double> raw(static_cast<std::size_t>(M));
    double sum = 0.0;
    for (int i = 0; i < M; ++i) {
        const double t = N == 1 ? 0.0 : -c.L / 2.0 + i * static_cast<double>(c.L) / (N - 1);
        raw[static_cast<std::size_t>(i)] = spanReference(c.type, t, c.alphaBt);
        sum += raw[static_cast<std::size_t>(i)];
    }
    double tapSum = 0.0;
    for (int i = 0; i < M; ++i) {
        const double want = raw[static_cast<std::size_t>(i)];
        EXPECT_NEAR(cfg->filterCoef[i], want, 1e-12 * (1.0 + std::fabs(want))) << "reported tap " << i;
        EXPECT_NEAR(taps[static_cast<std::size_t>(i)], want / sum, 1e-12) << "tap " << i;
        tapSum += taps[static_cast<std::size_t>(i)];
    }
    EXPECT_NEAR(tapSum, 1.0, 1e-12);
    if (N == M + 1) {
        EXPECT_EQ(cfg->filterCoef[M], cfg->filterCoef[0]);  // the symmetric partner of tap 0
    }
}

INSTANTIATE_TEST_SUITE_P(
    Designs, SpanDesign,
    ::testing::Values(SpanCase{Cfg::FILTER_RISING_COS, 8, 8, 0.35},        // even M: 65 reported
                      SpanCase{Cfg::FILTER_RISING_COS, 5, 3, 0.22},        // odd M: symmetric grid
                      SpanCase{Cfg::FILTER_RISING_COS, 4, 8, 0.5},         // singular at t = +-1
                      SpanCase{Cfg::FILTER_RISING_COS, 4, 8, 0.25},        // singular at t = +-2
                      SpanCase{Cfg::FILTER_ROOT_RISING_COS, 4, 8, 0.25},   // singular at t = +-1
                      SpanCase{Cfg::FILTER_ROOT_RISING_COS, 8, 16, 0.35},
                      SpanCase{Cfg::FILTER_ROOT_RISING_COS, 3, 5, 0.5},
                      SpanCase{Cfg::FILTER_GAUSSIAN_FSK, 8, 4, 0.5},
                      SpanCase{Cfg::FILTER_GAUSSIAN_FSK, 7, 3, 0.3},
                      SpanCase{Cfg::FILTER_GAUSSIAN_PURE, 6, 4, 0.3},
                      SpanCase{Cfg::FILTER_GAUSSIAN_PURE, 1, 1, 0.5}));    // one tap at t = 0

TEST(TapGrid, EvenCountStopsOneStepShortOfTheRightEnd)
{
    // S = 8, L = 8: 64 taps from -4 to 3.875 in steps of 1/8.
    auto cfg = freshCfg(Cfg::FILTER_RISING_COS, 8, 8, 0.35);
    std::valarray<double> taps;
    genShapingFilter(*cfg, taps);
    EXPECT_EQ(cfg->filterTap, 65);
    EXPECT_NEAR(cfg->filterCoef[0], raisedCosine(-4.0, 0.35), 1e-15);
    EXPECT_NEAR(cfg->filterCoef[63], raisedCosine(3.875, 0.35), 1e-15);
    EXPECT_NEAR(cfg->filterCoef[32], 1.0, 1e-15);  // t = 0
    EXPECT_EQ(cfg->filterCoef[64], cfg->filterCoef[0]);
}

TEST(TapGrid, OddCountRunsSymmetrically)
{
    auto cfg = freshCfg(Cfg::FILTER_GAUSSIAN_PURE, 5, 3, 0.4);
    std::valarray<double> taps;
    genShapingFilter(*cfg, taps);
    EXPECT_EQ(cfg->filterTap, 15);
    EXPECT_NEAR(cfg->filterCoef[0], gaussianPure(-1.5, 0.4), 1e-15);
    EXPECT_NEAR(cfg->filterCoef[1], gaussianPure(-1.5 + 3.0 / 14.0, 0.4), 1e-15);
    EXPECT_NEAR(cfg->filterCoef[14], gaussianPure(1.5, 0.4), 1e-15);
    for (int i = 0; i < 15; ++i) {
        EXPECT_NEAR(taps[static_cast<std::size_t>(i)], taps[static_cast<std::size_t>(14 - i)],
                    1e-12 * taps[static_cast<std::size_t>(i)]);
    }
}

TEST(SingularPoints, RaisedCosineTakesTheLimitAtHalfInverseAlpha)
{
    // alpha 0.5, S 4, L 8: t = +-1 at taps 12 and 20, where pi/4 * sinc(1) is 0 up to rounding.
    auto cfg = freshCfg(Cfg::FILTER_RISING_COS, 4, 8, 0.5);
    std::valarray<double> taps;
    genShapingFilter(*cfg, taps);
    for (int i : {12, 20}) {
        EXPECT_TRUE(std::isfinite(cfg->filterCoef[i]));
        EXPECT_NEAR(cfg->filterCoef[i], 0.0, 1e-15);
    }
    // alpha 0.25: t = +-2 at taps 8 and 24.
    cfg = freshCfg(Cfg::FILTER_RISING_COS, 4, 8, 0.25);
    genShapingFilter(*cfg, taps);
    for (int i : {8, 24}) {
        EXPECT_NEAR(cfg->filterCoef[i], kPi / 4.0 * std::sin(2.0 * kPi) / (2.0 * kPi), 1e-15);
    }
}

TEST(SingularPoints, RootRaisedCosineCentreAndQuarterInverseAlpha)
{
    auto cfg = freshCfg(Cfg::FILTER_ROOT_RISING_COS, 4, 8, 0.25);
    std::valarray<double> taps;
    genShapingFilter(*cfg, taps);
    EXPECT_DOUBLE_EQ(cfg->filterCoef[16], 1.0 - 0.25 + 1.0 / kPi);  // t = 0
    const double edge = 0.25 / std::sqrt(2.0) * ((1.0 + 2.0 / kPi) * std::sin(kPi) + (1.0 - 2.0 / kPi) * std::cos(kPi));
    EXPECT_NEAR(cfg->filterCoef[12], edge, 1e-15);  // t = -1
    EXPECT_NEAR(cfg->filterCoef[20], edge, 1e-15);  // t = +1
}

TEST(OneSymbolDesigns, HalfSineWithEvenOversampling)
{
    auto cfg = freshCfg(Cfg::FILTER_HALF_SIN, 4, 8, 0.0);
    std::valarray<double> taps;
    ASSERT_EQ(genShapingFilter(*cfg, taps), 0);
    ASSERT_EQ(taps.size(), 4u);
    EXPECT_EQ(cfg->filterTap, 5);
    const double raw[] = {0.0, std::sin(kPi / 4), 1.0, std::sin(3 * kPi / 4)};
    const double sum = raw[1] + raw[2] + raw[3];
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_NEAR(cfg->filterCoef[i], raw[i], 1e-15);
        EXPECT_NEAR(taps[i], raw[i] / sum, 1e-15);
    }
    EXPECT_EQ(cfg->filterCoef[4], 0.0);
}

TEST(OneSymbolDesigns, HalfSineWithOddOversamplingEndsAtPi)
{
    auto cfg = freshCfg(Cfg::FILTER_HALF_SIN, 5, 8, 0.0);
    std::valarray<double> taps;
    genShapingFilter(*cfg, taps);
    EXPECT_EQ(cfg->filterTap, 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_NEAR(cfg->filterCoef[i], std::sin(kPi * i / 4.0), 1e-15);
    }
}

TEST(OneSymbolDesigns, RectangleIsAUnitAreaBoxcar)
{
    for (int S : {1, 4, 7}) {
        auto cfg = freshCfg(Cfg::FILTER_RECT, S, 0, 0.0);
        std::valarray<double> taps;
        ASSERT_EQ(genShapingFilter(*cfg, taps), 0);
        ASSERT_EQ(taps.size(), static_cast<std::size_t>(S));
        EXPECT_EQ(cfg->filterTap, S % 2 == 1 ? S : S + 1);
        for (int i = 0; i < cfg->filterTap; ++i) {
            EXPECT_EQ(cfg->filterCoef[i], 1.0);
        }
        for (double t : taps) {
            EXPECT_DOUBLE_EQ(t, 1.0 / S);
        }
    }
}

TEST(UserDesign, CopiesAndNormalisesAndKeepsTheReportedCount)
{
    auto cfg = freshCfg(Cfg::FILTER_USR, 2, 3, 0.0);
    const double user[] = {1, 2, 3, 4, -2, 0};
    std::copy(std::begin(user), std::end(user), cfg->usrFilterCoef);
    std::valarray<double> taps;
    ASSERT_EQ(genShapingFilter(*cfg, taps), 0);
    EXPECT_EQ(cfg->filterTap, 0);  // fresh record: nothing designed before
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(cfg->filterCoef[i], user[i]);
        EXPECT_DOUBLE_EQ(taps[i], user[i] / 8.0);
    }
    // After a designed filter the count of that design stays.
    cfg->shapingFilterType = Cfg::FILTER_RECT;
    genShapingFilter(*cfg, taps);
    cfg->shapingFilterType = Cfg::FILTER_USR;
    genShapingFilter(*cfg, taps);
    EXPECT_EQ(cfg->filterTap, 3);
}

// Phase pulse of GMSK (BT 0.3) in closed form: the integral of the frequency pulse, through
// the antiderivative of erfc, F(x) = x erfc(x) - exp(-x^2)/sqrt(pi).
double gmskPhase(double t)
{
    const double c = 2.0 * kPi * 0.3 / (std::sqrt(kLn2) * std::sqrt(2.0));
    auto F = [](double x) { return x * std::erfc(x) - std::exp(-x * x) / std::sqrt(kPi); };
    auto integral = [&](double a) { return (F(c * (t - a)) - F(-c * a)) / c; };
    return 0.25 * (integral(2.5) - integral(1.5));
}

TEST(GaussianLinearized, MainLaurentPulse)
{
    const int S = 4;
    auto cfg = freshCfg(Cfg::FILTER_GAUSSIAN_LINEARIZED, S, 2, 0.9);  // alpha and L are not used
    std::valarray<double> taps;
    ASSERT_EQ(genShapingFilter(*cfg, taps), 0);
    ASSERT_EQ(taps.size(), 20u);
    EXPECT_EQ(cfg->filterTap, 21);

    std::vector<double> s(8 * S + 1);
    for (int j = 0; j <= 4 * S; ++j) {
        s[static_cast<std::size_t>(j)] = std::sin(kPi * gmskPhase(static_cast<double>(j) / S));
    }
    for (int j = 4 * S + 1; j <= 8 * S; ++j) {
        s[static_cast<std::size_t>(j)] = std::cos(kPi * gmskPhase(static_cast<double>(j - 4 * S) / S));
    }
    double sum = 0.0;
    std::size_t peak = 0;
    for (std::size_t r = 0; r < 20; ++r) {
        const double want = s[r] * s[r + S] * s[r + 2 * S] * s[r + 3 * S];
        EXPECT_NEAR(taps[r], want, 1e-4) << "tap " << r;  // the design integrates numerically
        sum += taps[r];
        if (taps[r] > taps[peak]) {
            peak = r;
        }
    }
    EXPECT_GE(peak, 8u);
    EXPECT_LE(peak, 11u);
    EXPECT_GT(std::fabs(sum - 1.0), 0.1);  // not normalised
    EXPECT_NEAR(gmskPhase(4.0), 0.5, 1e-4);  // sanity of the reference: q rises to about 1/2
}

class UnknownFilterType : public ::testing::TestWithParam<int> {};

TEST_P(UnknownFilterType, IsRefused)
{
    auto cfg = freshCfg(GetParam(), 4, 8, 0.35);
    std::valarray<double> taps;
    try {
        genShapingFilter(*cfg, taps);
        FAIL() << "no exception";
    } catch (const IqSynthCfgExcept& e) {
        EXPECT_EQ(e.errNo(), 0x40001);
        EXPECT_STREQ(e.what(), "not exist filter type");
    }
}

INSTANTIATE_TEST_SUITE_P(Codes, UnknownFilterType, ::testing::Values(0, 1, 4, 11, -3));

struct BadDesign {
    int type;
    int S;
    int L;
    double alphaBt;
    const char* field;
};

class RefusedDesign : public ::testing::TestWithParam<BadDesign> {};

TEST_P(RefusedDesign, NamesTheFieldInsteadOfMakingNaN)
{
    const BadDesign c = GetParam();
    auto cfg = freshCfg(c.type, c.S, c.L, c.alphaBt);
    if (c.type == Cfg::FILTER_USR) {
        for (int i = 0; i < 8; ++i) {
            cfg->usrFilterCoef[i] = (i % 2 == 0) ? 1.0 : -1.0;  // sums to 0
        }
    }
    std::valarray<double> taps;
    try {
        genShapingFilter(*cfg, taps);
        FAIL() << "no exception";
    } catch (const IqSynthCfgExcept& e) {
        EXPECT_EQ(e.errNo(), 0x40005);
        EXPECT_NE(std::string(e.what()).find(c.field), std::string::npos) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Settings, RefusedDesign,
    ::testing::Values(BadDesign{Cfg::FILTER_ROOT_RISING_COS, 4, 8, 0.0, "AlphaBt"},
                      BadDesign{Cfg::FILTER_GAUSSIAN_PURE, 4, 8, 0.0, "AlphaBt"},
                      BadDesign{Cfg::FILTER_GAUSSIAN_FSK, 4, 8, 0.0, "AlphaBt"},
                      BadDesign{Cfg::FILTER_ROOT_RISING_COS, 4, 8, std::nan(""), "AlphaBt"},
                      BadDesign{Cfg::FILTER_USR, 4, 2, 0.0, "usrFilterCoef"},
                      BadDesign{Cfg::FILTER_HALF_SIN, 1, 8, 0.0, "overSamplingRate"},  // the one tap is sin(0)
                      BadDesign{Cfg::FILTER_RISING_COS, 4, 0, 0.35, "filterLengh"},
                      BadDesign{Cfg::FILTER_RISING_COS, 0, 8, 0.35, "overSamplingRate"},
                      BadDesign{Cfg::FILTER_RECT, 33, 8, 0.0, "overSamplingRate"},
                      BadDesign{Cfg::FILTER_RISING_COS, 4, -1, 0.35, "filterLengh"},
                      BadDesign{Cfg::FILTER_GAUSSIAN_LINEARIZED, 4, 129, 0.0, "filterLengh"}));

TEST(AlmostEqualRelative, IsARelativeSinglePrecisionTest)
{
    EXPECT_TRUE(almostEqualRelative(0.5, 0.5));
    EXPECT_TRUE(almostEqualRelative(0.5, 0.5 * (1 + 1e-8)));
    EXPECT_FALSE(almostEqualRelative(0.5, 0.5 * (1 + 1e-6)));
    EXPECT_TRUE(almostEqualRelative(1e-300, 1e-300 * (1 + 1e-8)));
    EXPECT_TRUE(almostEqualRelative(0.0, 0.0));
    EXPECT_FALSE(almostEqualRelative(0.0, 1e-300));
    EXPECT_TRUE(almostEqualRelative(INFINITY, 3.0));
}

TEST(ReadBack, ExportedGettersReturnTheReportedTaps)
{
    iqSynthCfg& cfg = gIqSynthCfg;
    cfg.shapingFilterType = Cfg::FILTER_RISING_COS;
    cfg.overSamplingRate = 2;
    cfg.filterLengh = 3;
    cfg.AlphaBt = 0.3;
    std::valarray<double> taps;
    genShapingFilter(cfg, taps);
    ASSERT_EQ(getFilterTap(), 7);
    double out[7] = {};
    getFilterCoef(out, 7);
    for (int i = 0; i < 7; ++i) {
        EXPECT_NEAR(out[i], raisedCosine(-1.5 + i * 0.5, 0.3), 1e-15);
    }
}

// ---- FIR --------------------------------------------------------------------------------

// y[i] = sum over k of h[k] * x[i - k], x = 0 before the start.
std::valarray<double> causalReference(const std::valarray<double>& x, const std::valarray<double>& h)
{
    std::valarray<double> y(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        double sum = 0.0;
        for (std::size_t k = 0; k < h.size() && k <= i; ++k) {
            sum += h[k] * x[i - k];
        }
        y[i] = sum;
    }
    return y;
}

void expectSame(const std::valarray<double>& got, const std::valarray<double>& want, double tol = 1e-12)
{
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        ASSERT_NEAR(got[i], want[i], tol) << "sample " << i;
    }
}

TEST(Fir, IdentityAndOneSampleDelay)
{
    auto cfg = freshCfg(Cfg::FILTER_RECT, 1, 1, 0.0);
    const std::valarray<double> input = {3.0, -1.0, 4.0, 1.5, 0.0, 9.0};
    std::valarray<double> x = input;
    filteringDat2(*cfg, x, std::valarray<double>{1.0, 0.0, 0.0});
    expectSame(x, input, 0.0);
    x = input;
    filteringDat2(*cfg, x, std::valarray<double>{0.0, 1.0});
    EXPECT_EQ(x[0], 0.0);
    for (std::size_t i = 1; i < input.size(); ++i) {
        EXPECT_EQ(x[i], input[i - 1]);
    }
}

struct FirCase {
    std::size_t length;
    std::size_t stride;  // non-zero samples on phase + b * stride; 1: dense input
    std::size_t phase;
    std::size_t taps;
    int zeroEvery;       // 0: no grid sample is zero; n: every n-th grid sample is zero
    bool strayOffGrid;   // one non-zero sample off the grid
};

class FirForms : public ::testing::TestWithParam<FirCase> {};

TEST_P(FirForms, EqualCausalConvolution)
{
    const FirCase c = GetParam();
    std::mt19937 gen(static_cast<unsigned>(c.length * 31 + c.stride * 7 + c.taps));
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    std::valarray<double> x(c.length);
    std::size_t b = 0;
    for (std::size_t i = c.phase; i < c.length; i += c.stride, ++b) {
        x[i] = (c.zeroEvery > 0 && b % static_cast<std::size_t>(c.zeroEvery) == 0) ? 0.0 : dist(gen);
    }
    if (c.strayOffGrid) {
        x[c.length - 2] = 0.25;
    }
    std::valarray<double> h(c.taps);
    for (double& t : h) {
        t = dist(gen);
    }
    const std::valarray<double> want = causalReference(x, h);
    auto cfg = freshCfg(Cfg::FILTER_RECT, 1, 1, 0.0);
    filteringDat2(*cfg, x, h);
    expectSame(x, want);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, FirForms,
    ::testing::Values(FirCase{300, 1, 0, 17, 0, false},    // dense
                      FirCase{1000, 8, 0, 128, 0, false},  // upsampled symbols, S = 8
                      FirCase{1003, 8, 5, 128, 0, false},  // grid not starting at 0, ragged end
                      FirCase{999, 3, 1, 40, 0, false},
                      FirCase{640, 5, 0, 15, 0, false},
                      FirCase{1024, 32, 0, 4096, 0, false},  // longest filter, widest block
                      FirCase{700, 13, 2, 64, 0, false},
                      FirCase{500, 20, 0, 100, 0, false},
                      FirCase{400, 8, 0, 3, 0, false},      // filter shorter than a symbol
                      FirCase{800, 4, 0, 20, 3, false},     // zero symbols (on/off keying)
                      FirCase{800, 4, 0, 20, 2, false},     // first gaps twice the grid
                      FirCase{800, 8, 0, 64, 0, true},      // a stray sample forces the dense form
                      FirCase{50, 64, 7, 30, 0, false},     // a single non-zero sample
                      FirCase{7, 1, 0, 30, 0, false}));     // record shorter than the filter

TEST(Fir, AllZeroStaysZeroAndEmptyTapsGiveZero)
{
    auto cfg = freshCfg(Cfg::FILTER_RECT, 1, 1, 0.0);
    std::valarray<double> x(0.0, 64);
    filteringDat2(*cfg, x, std::valarray<double>{1.0, 2.0});
    EXPECT_EQ(std::abs(x).max(), 0.0);
    x = 1.0;
    filteringDat2(*cfg, x, std::valarray<double>());
    EXPECT_EQ(std::abs(x).max(), 0.0);
}

// ---- Pulse shaping with the cyclic lead-in -------------------------------------------------

// A user filter whose only tap is the first: the FIR leaves the track as the lead-in made it.
std::unique_ptr<iqSynthCfg> identityShaping(int S, int L, int symbols)
{
    auto cfg = freshCfg(Cfg::FILTER_USR, S, L, 0.0);
    cfg->usrFilterCoef[0] = 1.0;
    cfg->sequenceLenth = symbols;
    return cfg;
}

struct LeadInCase {
    int S;
    int L;
    int symbols;
};

class LeadIn : public ::testing::TestWithParam<LeadInCase> {};

TEST_P(LeadIn, IsTheDataExtendedPeriodicallyToTheLeft)
{
    const LeadInCase c = GetParam();
    auto cfg = identityShaping(c.S, c.L, c.symbols);
    const std::size_t O = static_cast<std::size_t>(c.L * c.S);
    const std::size_t P = static_cast<std::size_t>(c.symbols * c.S);
    std::valarray<double> track(O + P);
    for (std::size_t n = 0; n < P; ++n) {
        track[O + n] = static_cast<double>(n + 1);  // every sample distinct
    }
    ASSERT_EQ(runFilter(*cfg, track), 0);
    for (std::size_t i = 0; i < O; ++i) {
        const std::size_t n = (P - (O - i) % P) % P;  // (i - O) mod P
        ASSERT_EQ(track[i], static_cast<double>(n + 1)) << "lead-in sample " << i;
    }
    for (std::size_t n = 0; n < P; ++n) {
        ASSERT_EQ(track[O + n], static_cast<double>(n + 1));
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, LeadIn,
                         ::testing::Values(LeadInCase{8, 16, 4},   // four whole copies
                                           LeadInCase{8, 16, 3},   // 5 1/3 copies
                                           LeadInCase{4, 2, 20},   // data longer than the lead-in
                                           LeadInCase{1, 5, 5},    // exactly one copy
                                           LeadInCase{3, 7, 1}));  // a single symbol

TEST(PulseShaping, KeptWindowIsOnePeriodOfTheSteadyStateResponse)
{
    // 4 symbols, S = 8, L = 16: the 128-tap raised cosine sees only the periodic stream.
    const int S = 8, L = 16, symbols = 4;
    auto cfg = freshCfg(Cfg::FILTER_RISING_COS, S, L, 0.35);
    cfg->sequenceLenth = symbols;
    const std::size_t O = static_cast<std::size_t>(S * L), P = static_cast<std::size_t>(S * symbols);
    const double levelsI[] = {1.0, -1.0, -1.0, 0.5}, levelsQ[] = {0.3, 0.7, -1.0, 1.0};
    std::valarray<double> iTrack(O + P), qTrack(O + P);
    for (int j = 0; j < symbols; ++j) {
        iTrack[O + static_cast<std::size_t>(j * S)] = levelsI[j];
        qTrack[O + static_cast<std::size_t>(j * S)] = levelsQ[j];
    }
    ASSERT_EQ(runIQFilter(*cfg, iTrack, qTrack), 0);

    const int M = S * L, N = M + 1;
    std::vector<double> h(static_cast<std::size_t>(M));
    double sum = 0.0;
    for (int k = 0; k < M; ++k) {
        h[static_cast<std::size_t>(k)] = raisedCosine(-L / 2.0 + k * static_cast<double>(L) / (N - 1), 0.35);
        sum += h[static_cast<std::size_t>(k)];
    }
    for (std::size_t n = 0; n < P; ++n) {
        double wantI = 0.0, wantQ = 0.0;
        for (std::size_t k = 0; k < static_cast<std::size_t>(M); ++k) {
            const std::size_t m = (n + P * 16 - k) % P;  // periodic stream
            if (m % S == 0) {
                wantI += h[k] / sum * levelsI[m / S];
                wantQ += h[k] / sum * levelsQ[m / S];
            }
        }
        EXPECT_NEAR(iTrack[O + n], wantI, 1e-12) << n;
        EXPECT_NEAR(qTrack[O + n], wantQ, 1e-12) << n;
    }
}

TEST(PulseShaping, FilterLongerThanTheLeadInStillSeesTheStartOfTheTrack)
{
    // Gaussian linearized taps span 5 symbols; with L = 2 the first kept samples reach back
    // past sample 0, where the causal FIR sees zeros.
    const int S = 4, L = 2, symbols = 6;
    auto cfg = freshCfg(Cfg::FILTER_GAUSSIAN_LINEARIZED, S, L, 0.0);
    cfg->sequenceLenth = symbols;
    std::valarray<double> track(static_cast<std::size_t>((symbols + L) * S));
    const std::size_t O = static_cast<std::size_t>(L * S);
    for (int j = 0; j < symbols; ++j) {
        track[O + static_cast<std::size_t>(j * S)] = (j % 2 == 0) ? 1.0 : -1.0;
    }
    std::valarray<double> leadFilled = track;
    for (std::size_t i = 0; i < O; ++i) {
        leadFilled[i] = track[track.size() - O + i];
    }
    std::valarray<double> taps;
    auto designCfg = freshCfg(Cfg::FILTER_GAUSSIAN_LINEARIZED, S, L, 0.0);
    genShapingFilter(*designCfg, taps);
    ASSERT_EQ(runFilter(*cfg, track), 0);
    expectSame(track, causalReference(leadFilled, taps));
}

TEST(PulseShaping, RefusesTracksThatDoNotMatchTheRun)
{
    auto cfg = freshCfg(Cfg::FILTER_RECT, 4, 2, 0.0);
    cfg->sequenceLenth = 5;
    std::valarray<double> good(28), bad(27);
    try {
        runIQFilter(*cfg, good, bad);
        FAIL() << "no exception";
    } catch (const IqSynthCfgExcept& e) {
        EXPECT_EQ(e.errNo(), 0x40005);
    }
    cfg->sequenceLenth = 0;  // the lead-in would have no data to repeat
    std::valarray<double> leadOnly(8);
    EXPECT_THROW(runFilter(*cfg, leadOnly), IqSynthCfgExcept);
}

}  // namespace
