// The FIR kernels against plain sums written out here: the in-place causal FIR in its dense
// and polyphase forms, and the blocked direct sum over a signal with history.
#include <gtest/gtest.h>

#include <cstddef>
#include <random>
#include <valarray>
#include <vector>

#include "firKernel.h"

using namespace arbsuite::iqsynth;  // the library's internals under test

namespace {

std::valarray<double> causalReference(const std::valarray<double>& x,
                                      const std::valarray<double>& h) {
  std::valarray<double> y(x.size());
  for (std::size_t i = 0; i < x.size(); ++i) {
    for (std::size_t k = 0; k < h.size() && k <= i; ++k) {
      y[i] += h[k] * x[i - k];
    }
  }
  return y;
}

TEST(IqsynthFir, IdentityAndOneSampleDelay) {
  const std::valarray<double> input = {3.0, -1.0, 4.0, 1.5, 0.0, 9.0};
  std::valarray<double> x = input;
  causalFirInPlace(x, {1.0, 0.0, 0.0});
  EXPECT_EQ(std::abs(x - input).max(), 0.0);
  x = input;
  causalFirInPlace(x, {0.0, 1.0});
  EXPECT_EQ(x[0], 0.0);
  EXPECT_EQ(
      std::abs(std::valarray<double>(x[std::slice(1, 5, 1)]) - input[std::slice(0, 5, 1)]).max(),
      0.0);
}

struct FirCase {
  std::size_t length, stride, phase, taps;  // non-zero input on phase + b * stride
  int zeroEvery;                            // every n-th grid sample zero (0: none)
  bool stray;                               // one non-zero sample off the grid
};

class IqsynthFirForms : public ::testing::TestWithParam<FirCase> {};

TEST_P(IqsynthFirForms, EqualCausalConvolution) {
  const FirCase c = GetParam();
  std::mt19937 gen(static_cast<unsigned>(c.length + c.stride + c.taps));
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  std::valarray<double> x(c.length), h(c.taps);
  for (std::size_t i = c.phase, b = 0; i < c.length; i += c.stride, ++b) {
    x[i] = (c.zeroEvery > 0 && b % static_cast<std::size_t>(c.zeroEvery) == 0) ? 0.0 : dist(gen);
  }
  x[c.length - 2] += c.stray ? 0.25 : 0.0;
  for (double& t : h) {
    t = dist(gen);
  }
  const std::valarray<double> want = causalReference(x, h);
  causalFirInPlace(x, h);
  EXPECT_LT(std::abs(x - want).max(), 1e-12);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, IqsynthFirForms,
    ::testing::Values(FirCase{300, 1, 0, 17, 0, false},    // dense
                      FirCase{1003, 8, 5, 128, 0, false},  // S = 8, ragged ends
                      FirCase{999, 3, 1, 40, 0, false},
                      FirCase{1024, 32, 0, 4096, 0, false},  // longest filter
                      FirCase{700, 13, 2, 64, 0, false},
                      FirCase{400, 8, 0, 3, 0, false},   // shorter than a symbol
                      FirCase{800, 4, 0, 20, 2, false},  // zero symbols: first gaps 2S
                      FirCase{800, 8, 0, 64, 0, true},   // stray sample: dense form
                      FirCase{50, 64, 7, 30, 0, false},  // a single non-zero sample
                      FirCase{7, 1, 0, 30, 0, false}));  // shorter than the filter

TEST(IqsynthFir, NoTapsGiveSilenceAndSilenceStaysSilent) {
  std::valarray<double> x = {1.0, -2.0, 0.5};
  causalFirInPlace(x, std::valarray<double>());
  EXPECT_EQ(std::abs(x).max(), 0.0);
  std::valarray<double> zeros(0.0, 9);
  causalFirInPlace(zeros, {1.0, 2.0});
  EXPECT_EQ(std::abs(zeros).max(), 0.0);
  std::valarray<double> empty;
  causalFirInPlace(empty, {1.0});
  EXPECT_EQ(empty.size(), 0u);
}

// firOverHistory reads nh - 1 samples before its start: every output count (whole blocks of
// the vectorised sum and the tail after them) and tap count against the plain sum.
TEST(IqsynthFirOverHistory, EqualsThePlainSumOverTheHistory) {
  std::mt19937 gen(20240611u);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  for (std::size_t nh = 1; nh <= 12; ++nh) {
    for (std::size_t count = 0; count <= 27; ++count) {
      std::vector<double> signal(nh - 1 + count), h(nh);
      for (double& v : signal) {
        v = dist(gen);
      }
      for (double& t : h) {
        t = dist(gen);
      }
      const double* src = signal.data() + (nh - 1);
      std::vector<double> y(count + 1, 7.0);  // one more: nothing is written past count
      firOverHistory(src, count, h.data(), nh, y.data());
      for (std::size_t m = 0; m < count; ++m) {
        double want = 0.0;
        for (std::size_t k = 0; k < nh; ++k) {
          want += h[k] * signal[nh - 1 + m - k];
        }
        ASSERT_NEAR(y[m], want, 1e-14) << "nh " << nh << " count " << count << " m " << m;
      }
      ASSERT_EQ(y[count], 7.0) << "nh " << nh << " count " << count;
    }
  }
}

}  // namespace
