// Noise filter: windowed-sinc design, circular convolution (direct and block FFT) and the FFT,
// checked against plain sums written here.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "FilterHann.h"

using namespace arbsuite::iqsynth;  // the library's internals under test

namespace {

constexpr double kPi = 3.141592653589793;
using Vec = std::vector<double>;

Vec randomRecord(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  Vec v(n);
  for (double& s : v) {
    s = dist(gen);
  }
  return v;
}

// y[m] = sum over k of h[k] * x[(m - k) mod nx].
Vec circularReference(const Vec& x, const Vec& h) {
  const long long nx = static_cast<long long>(x.size()), nh = static_cast<long long>(h.size());
  Vec ext(static_cast<std::size_t>(nh + nx));  // x extended periodically to the left
  for (long long j = -nh; j < nx; ++j) {
    ext[static_cast<std::size_t>(j + nh)] = x[static_cast<std::size_t>((j % nx + nx) % nx)];
  }
  Vec y(x.size());
  for (long long m = 0; m < nx; ++m) {
    for (long long k = 0; k < nh; ++k) {
      y[static_cast<std::size_t>(m)] +=
          h[static_cast<std::size_t>(k)] * ext[static_cast<std::size_t>(nh + m - k)];
    }
  }
  return y;
}

// Hann-windowed sinc from the textbook formula, scaled to unit sum.
Vec windowedSinc(int n, double wc) {
  const int half = (n % 2 == 1) ? (n - 1) / 2 : (n - 2) / 2;
  Vec h(static_cast<std::size_t>(n));
  double sum = 0.0;
  for (int i = 0; i <= half; ++i) {
    const double t = (i - half) * wc;
    const double w = 0.5 - 0.5 * std::cos(2.0 * kPi * i / (n - 1));
    h[static_cast<std::size_t>(i)] = h[static_cast<std::size_t>(n - 1 - i)] =
        wc / kPi * (t == 0.0 ? 1.0 : std::sin(t) / t) * w;
  }
  for (double v : h) {
    sum += v;
  }
  for (double& v : h) {
    v /= sum;
  }
  return h;
}

void expectClose(const Vec& got, const Vec& want, double tol) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    ASSERT_NEAR(got[i], want[i], tol) << "sample " << i;
  }
}

TEST(IqsynthSinc, IsExactlyOneNearZero) {
  EXPECT_EQ(Sinc(0.0), 1.0);
  EXPECT_EQ(Sinc(1e-6), 1.0);
  EXPECT_DOUBLE_EQ(Sinc(kPi / 2), 2.0 / kPi);
}

class IqsynthWindowedSinc : public ::testing::TestWithParam<int> {};

TEST_P(IqsynthWindowedSinc, SymmetricUnitSumEqualToFormula) {
  const int n = GetParam();
  Vec h(static_cast<std::size_t>(n));
  ASSERT_TRUE(WinFirFilterPara(n, 0.3 * kPi, h.data()));
  double sum = 0.0;
  for (int i = 0; i < n; ++i) {
    sum += h[static_cast<std::size_t>(i)];
    EXPECT_EQ(h[static_cast<std::size_t>(i)], h[static_cast<std::size_t>(n - 1 - i)]);
  }
  EXPECT_NEAR(sum, 1.0, 1e-12);
  expectClose(h, windowedSinc(n, 0.3 * kPi), 1e-15);
}

INSTANTIATE_TEST_SUITE_P(OddAndEven, IqsynthWindowedSinc, ::testing::Values(3, 4, 7, 10, 1999));

TEST(IqsynthWindowedSinc, DegenerateDesignsAreRefused) {
  Vec h(4);
  EXPECT_FALSE(WinFirFilterPara(0, 0.5, h.data()));
  EXPECT_FALSE(WinFirFilterPara(2, 0.5, h.data()));  // the Hann window is zero at both ends
  EXPECT_FALSE(WinFirFilterPara(4, 0.0, h.data()));  // every tap zero
  ASSERT_TRUE(WinFirFilterPara(1, 0.5, h.data()));
  EXPECT_EQ(h[0], 1.0);
  Vec x(100, 1.0), y(100);
  EXPECT_EQ(filterWinFFT(2, 0.5, x.data(), 100, y.data()), 2);
  EXPECT_EQ(filterWinFFT(kFftSize + 1, 0.5, x.data(), 100, y.data()), 2);
  EXPECT_EQ(filterWinDir(0, 0.5, x.data(), 100, y.data()), 2);
}

TEST(IqsynthConvDirect, ShiftsCircularlyByOne) {
  double x[] = {1, 2, 3, 4}, h[] = {0, 1}, y[4] = {};
  ASSERT_EQ(convDirect(x, 4, h, 2, y), 0);
  EXPECT_EQ(Vec(y, y + 4), (Vec{4, 1, 2, 3}));
  EXPECT_EQ(convDirect(x, 0, h, 2, y), 2);
}

class IqsynthConvDirectSizes : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(IqsynthConvDirectSizes, EqualsCircularSum) {
  const auto [nx, nh] = GetParam();
  Vec x = randomRecord(static_cast<std::size_t>(nx), 1),
      h = randomRecord(static_cast<std::size_t>(nh), 2);
  Vec y(x.size());
  ASSERT_EQ(convDirect(x.data(), nx, h.data(), nh, y.data()), 0);
  expectClose(y, circularReference(x, h), 1e-12);
}

// The last two: records shorter than the filter wrap around more than once.
INSTANTIATE_TEST_SUITE_P(Sizes, IqsynthConvDirectSizes,
                         ::testing::Values(std::pair{7, 3}, std::pair{100, 33}, std::pair{5, 12},
                                           std::pair{1, 4}));

class IqsynthFilterWinFft : public ::testing::TestWithParam<std::pair<unsigned, unsigned>> {};

TEST_P(IqsynthFilterWinFft, EqualsCircularConvolution) {
  const auto [n, nx] = GetParam();
  Vec x = randomRecord(nx, 7), y(nx);
  ASSERT_EQ(filterWinFFT(n, 0.1 * kPi, x.data(), nx, y.data()), 0);
  expectClose(y, circularReference(x, windowedSinc(static_cast<int>(n), 0.1 * kPi)), 1e-12);
}

// 1999 taps: 14386 samples take the direct sum, 14387 the FFT; 45000 give three blocks (a pair
// and a lone one) and a direct tail. 10001 taps over 7000 samples: blocks shorter than the filter.
INSTANTIATE_TEST_SUITE_P(Lengths, IqsynthFilterWinFft,
                         ::testing::Values(std::pair{1999u, 14386u}, std::pair{1999u, 14387u},
                                           std::pair{1999u, 45000u}, std::pair{10001u, 7000u}));

TEST(IqsynthConvFft, EqualsLinearConvolutionAndRefusesAliasing) {
  const unsigned nx = 9000, nh = 7000;
  Vec x = randomRecord(nx, 3), h = randomRecord(nh, 4), y(kFftSize);
  ASSERT_EQ(convFft(x.data(), nx, h.data(), nh, y.data(), kFftSize), 0);
  for (unsigned i = 0; i < kFftSize; i += 97) {
    double want = 0.0;
    for (unsigned k = 0; k < nh && k <= i; ++k) {
      want += i - k < nx ? h[k] * x[i - k] : 0.0;
    }
    ASSERT_NEAR(y[i], want, 1e-11) << i;
  }
  EXPECT_EQ(convFft(x.data(), 40, h.data(), 30, y.data(), 64), 2);  // 69 outputs in 64 points
  EXPECT_EQ(convFft(x.data(), 10, h.data(), 10, y.data(), 48), 2);  // not a power of two
}

class IqsynthFftSize : public ::testing::TestWithParam<unsigned> {};

TEST_P(IqsynthFftSize, EqualsDirectDft) {
  const unsigned n = GetParam();
  Vec re = randomRecord(n, 5), im = randomRecord(n, 6);
  std::vector<std::complex<double>> x(n), X(n);
  for (unsigned i = 0; i < n; ++i) {
    X[i] = x[i] = {re[i], im[i]};
  }
  ASSERT_EQ(fftDit2(X.data(), n), 0);
  for (unsigned k = 0; k < n; k += (n > 1024 ? 509 : 1)) {
    std::complex<double> want;
    for (unsigned i = 0; i < n; ++i) {
      want += x[i] * std::polar(1.0, -2.0 * kPi * static_cast<double>((1ull * i * k) % n) / n);
    }
    ASSERT_NEAR(std::abs(X[k] - want), 0.0, 1e-9 * std::sqrt(n)) << "bin " << k;
  }
}

INSTANTIATE_TEST_SUITE_P(PowersOfTwo, IqsynthFftSize,
                         ::testing::Values(1u, 2u, 4u, 8u, 1024u, kFftSize));

TEST(IqsynthFft, RefusesSizesOtherThanPowersOfTwo) {
  std::vector<std::complex<double>> x(2 * kFftSize);
  EXPECT_EQ(bitReversal(x.data(), 12), 2);
  EXPECT_EQ(fftDit2(x.data(), 2 * kFftSize), 2);
  EXPECT_EQ(fftDit2(x.data(), 0), 2);
}

}  // namespace
