// The polyphase FIR on each kernel the processor offers (AVX2, AVX-512) gives the doubles of the
// scalar kernel, on the taps of every shaping filter, odd and even tap counts and every
// oversampling from 1 to 32; and the chunked polyphase driver, on every kernel, still falls back
// correctly when the grid was guessed wrong or a sample lies off it.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <tuple>
#include <valarray>

#include "firKernel.h"
#include "iqSynthCfg.h"
#include "iqSynthFilter.h"
#include "quiet_stdout.h"
#include "simd_levels.h"

using namespace arbsuite::iqsynth;  // the library's internals under test

namespace {

using arbsuite::SimdLevel;
using Cfg = iqSynthCfg;

// From a fixture's SetUp only: a skip there keeps the test body from running.
void skipUnlessOffered(SimdLevel level) {
  if (arbsuite::usableSimdLevel(level) != level) {
    GTEST_SKIP() << "this processor lacks " << arbsuite::simdLevelName(level);
  }
}

// First index where the two differ in any bit, or the size when they are identical.
std::size_t firstDifference(const std::valarray<double>& a, const std::valarray<double>& b) {
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::bit_cast<std::uint64_t>(a[i]) != std::bit_cast<std::uint64_t>(b[i])) {
      return i;
    }
  }
  return a.size();
}

// Worst ratio of |y - direct sum| to the rounding bound of a sum of M products,
// gamma_M * sum |h[k] x[i-k]| with gamma_M = M u / (1 - M u), u = 2^-53: any order of summation
// stays within it, so a ratio above 1 is a wrong sum, not rounding.
double worstErrorOverBound(const std::valarray<double>& input, const std::valarray<double>& h,
                           const std::valarray<double>& y) {
  const double u = std::numeric_limits<double>::epsilon() / 2.0;
  const double m = static_cast<double>(h.size());
  const double gamma = m * u / (1.0 - m * u);
  double worst = 0.0;
  for (std::size_t i = 0; i < input.size(); ++i) {
    double sum = 0.0;
    double magnitude = 0.0;
    for (std::size_t k = 0; k < h.size() && k <= i; ++k) {
      sum += h[k] * input[i - k];
      magnitude += std::fabs(h[k] * input[i - k]);
    }
    const double error = std::fabs(y[i] - sum);
    // Twice the bound: the reference's own rounding adds to the kernel's. Below the smallest
    // normal number the bound is meaningless (and the error 0 in these tests).
    const double bound = 2.0 * gamma * magnitude + std::numeric_limits<double>::min();
    worst = std::max(worst, error / bound);
  }
  return worst;
}

// An upsampled symbol track: random constellation values (some of them 0) every S samples from
// phase 0, and a last symbol cut short so that the final output block is partial.
std::valarray<double> symbolTrack(std::size_t symbols, std::size_t S, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_int_distribution<int> level(-3, 3);
  std::valarray<double> x(symbols * S - S / 2);
  for (std::size_t p = 0; p < x.size(); p += S) {
    x[p] = level(gen) / 3.0;
  }
  return x;
}

// ---- Every filter type, tap-count parity and oversampling: the vector kernels against the scalar

using FilterCase = std::tuple<int /*filter type*/, SimdLevel>;

class IqsynthFirVectorKernel : public ::testing::TestWithParam<FilterCase> {
 protected:
  void SetUp() override { skipUnlessOffered(std::get<1>(GetParam())); }
};

TEST_P(IqsynthFirVectorKernel, GivesTheScalarKernelsDoubles) {
  const auto [type, level] = GetParam();
  // A half sine over one sample is a single zero tap, which the design refuses.
  for (int S = type == Cfg::FILTER_HALF_SINE ? 2 : 1; S <= 32; ++S) {
    // Span 5 gives odd tap counts for odd S, span 8 even ones (half-sine, rectangle and the
    // linearised Gaussian have S or 5 S taps whatever the span).
    for (const int L : {5, 8}) {
      auto cfg = std::make_unique<Cfg>("test");
      cfg->shapingFilterType = static_cast<Cfg::ShapingFilterType_t>(type);
      cfg->overSamplingRate = S;
      cfg->filterLength = L;
      cfg->AlphaBt =
          type == Cfg::FILTER_GAUSSIAN_PURE || type == Cfg::FILTER_GAUSSIAN_FSK ? 0.5 : 0.35;
      std::mt19937 gen(static_cast<unsigned>(S * 100 + L));
      std::uniform_real_distribution<double> tap(-1.0, 1.0);
      for (int k = 0; k < S * L; ++k) {
        cfg->usrFilterCoef[k] = tap(gen);
      }
      std::valarray<double> h;
      quiet([&] { genShapingFilter(*cfg, h); });
      const std::string where = "S " + std::to_string(S) + " L " + std::to_string(L) + " (" +
                                std::to_string(h.size()) + " taps)";

      // Symbols enough for several of the driver's chunks at every S.
      const std::valarray<double> input =
          symbolTrack(S == 1 ? 700 : 5000 / static_cast<std::size_t>(S) + 90,
                      static_cast<std::size_t>(S), static_cast<unsigned>(S + L));
      std::valarray<double> want = input;
      causalFirInPlace(want, h, SimdLevel::kScalar);
      std::valarray<double> got = input;
      causalFirInPlace(got, h, level);
      // The same products summed in the same order without fused multiply-adds: the same doubles.
      const std::size_t at = firstDifference(got, want);
      ASSERT_EQ(at, got.size()) << where << ": output " << at << " is " << got[at] << ", not "
                                << want[at];
      ASSERT_LE(worstErrorOverBound(input, h, got), 1.0) << where;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    FiltersAndKernels, IqsynthFirVectorKernel,
    ::testing::Combine(::testing::Values(Cfg::FILTER_GAUSSIAN_LINEARIZED, Cfg::FILTER_GAUSSIAN_PURE,
                                         Cfg::FILTER_RECT, Cfg::FILTER_RAISED_COSINE,
                                         Cfg::FILTER_ROOT_RAISED_COSINE, Cfg::FILTER_USER,
                                         Cfg::FILTER_GAUSSIAN_FSK, Cfg::FILTER_HALF_SINE),
                       ::testing::ValuesIn(arbtest::kVectorSimdLevels)),
    [](const auto& info) {
      return "Type" + std::to_string(std::get<0>(info.param)) +
             arbtest::simdLevelCaseName(std::get<1>(info.param));
    });

// ---- The chunked driver on each kernel: attempts that fail part-way leave the input intact

class IqsynthFirPolyphaseDriver : public ::testing::TestWithParam<SimdLevel> {
 protected:
  void SetUp() override { skipUnlessOffered(GetParam()); }

  static std::valarray<double> taps(std::size_t count) {
    std::mt19937 gen(static_cast<unsigned>(count));
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    std::valarray<double> h(count);
    for (double& t : h) {
      t = dist(gen);
    }
    return h;
  }
};

// A non-zero sample off the grid far behind the first chunks: the polyphase attempt has already
// filtered those chunks when it meets the sample, puts the input back and the dense form runs.
TEST_P(IqsynthFirPolyphaseDriver, StraySampleAfterSeveralChunks) {
  const std::valarray<double> h = taps(128);
  std::valarray<double> input = symbolTrack(3000, 8, 1);
  input[20003] = 0.25;
  std::valarray<double> got = input;
  causalFirInPlace(got, h, GetParam());
  EXPECT_LE(worstErrorOverBound(input, h, got), 1.0);
  std::valarray<double> scalar = input;
  causalFirInPlace(scalar, h, SimdLevel::kScalar);
  EXPECT_EQ(firstDifference(got, scalar), got.size());
}

// The first symbols are all at even multiples of S, so the grid is first guessed at 2 S; the
// attempt fails at the first odd symbol, several chunks in, and the true grid is found.
TEST_P(IqsynthFirPolyphaseDriver, GridGuessedTooCoarseAtFirst) {
  const std::valarray<double> h = taps(96);
  std::valarray<double> input = symbolTrack(4000, 12, 2);
  for (std::size_t b = 0; b < 700; ++b) {
    input[12 * b] = b % 2 == 1 ? 0.0 : 0.5 + 0.001 * static_cast<double>(b);
  }
  std::valarray<double> got = input;
  causalFirInPlace(got, h, GetParam());
  EXPECT_LE(worstErrorOverBound(input, h, got), 1.0);
  std::valarray<double> scalar = input;
  causalFirInPlace(scalar, h, SimdLevel::kScalar);
  EXPECT_EQ(firstDifference(got, scalar), got.size());
}

// Negative zeros off the grid add nothing: the output is that of positive zeros, bit for bit,
// whichever form ends up filtering.
TEST_P(IqsynthFirPolyphaseDriver, NegativeZerosOffTheGridChangeNothing) {
  const std::valarray<double> h = taps(64);
  const std::valarray<double> input = symbolTrack(2000, 4, 3);
  std::valarray<double> signedZeros = input;
  for (const std::size_t i : {1u, 4002u, 7999u - 2u}) {
    signedZeros[i] = -0.0;
  }
  std::valarray<double> want = input;
  causalFirInPlace(want, h, GetParam());
  causalFirInPlace(signedZeros, h, GetParam());
  EXPECT_EQ(firstDifference(signedZeros, want), want.size());
}

INSTANTIATE_TEST_SUITE_P(Kernels, IqsynthFirPolyphaseDriver,
                         ::testing::ValuesIn(arbtest::kAllSimdLevels),
                         arbtest::SimdLevelCaseName());

}  // namespace
