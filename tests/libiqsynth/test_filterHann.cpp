// Windowed-sinc design, circular convolution (direct and block FFT) and the radix-2 FFT of the
// noise filter, checked against plain sums written here.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "FilterHann.h"

namespace {

constexpr double kPi = 3.141592653589793;

std::vector<double> randomRecord(std::size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    std::vector<double> v(n);
    for (double& s : v) {
        s = dist(gen);
    }
    return v;
}

// y[m] = sum over k of h[k] * x[(m - k) mod nx], from the record extended periodically to the
// left by the filter length.
std::vector<double> circularReference(const std::vector<double>& x, const std::vector<double>& h)
{
    const long long nx = static_cast<long long>(x.size());
    const long long nh = static_cast<long long>(h.size());
    std::vector<double> ext(static_cast<std::size_t>(nh + nx));
    for (long long j = -nh; j < nx; ++j) {
        ext[static_cast<std::size_t>(j + nh)] = x[static_cast<std::size_t>(((j % nx) + nx) % nx)];
    }
    std::vector<double> y(x.size());
    for (long long m = 0; m < nx; ++m) {
        double sum = 0.0;
        for (long long k = 0; k < nh; ++k) {
            sum += h[static_cast<std::size_t>(k)] * ext[static_cast<std::size_t>(nh + m - k)];
        }
        y[static_cast<std::size_t>(m)] = sum;
    }
    return y;
}

// Hann-windowed sinc taps from the textbook formula, scaled to unit sum.
std::vector<double> windowedSincReference(int n, double wc)
{
    const int half = (n % 2 == 1) ? (n - 1) / 2 : (n - 2) / 2;
    std::vector<double> h(static_cast<std::size_t>(n));
    for (int i = 0; i <= half; ++i) {
        const double t = (i - half) * wc;
        const double sinc = (t == 0.0) ? 1.0 : std::sin(t) / t;
        const double w = 0.5 - 0.5 * std::cos(2.0 * kPi * i / (n - 1));
        h[static_cast<std::size_t>(i)] = h[static_cast<std::size_t>(n - 1 - i)] = wc / kPi * sinc * w;
    }
    double sum = 0.0;
    for (double v : h) {
        sum += v;
    }
    for (double& v : h) {
        v /= sum;
    }
    return h;
}

void expectClose(const std::vector<double>& got, const std::vector<double>& want, double tol)
{
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        ASSERT_NEAR(got[i], want[i], tol) << "sample " << i;
    }
}

TEST(Sinc, IsExactlyOneNearZero)
{
    EXPECT_EQ(Sinc(0.0), 1.0);
    EXPECT_EQ(Sinc(1e-6), 1.0);
    EXPECT_EQ(Sinc(-9.9e-6), 1.0);
    EXPECT_DOUBLE_EQ(Sinc(kPi / 2), 2.0 / kPi);
    EXPECT_NEAR(Sinc(kPi), 0.0, 1e-16);
}

class WindowedSinc : public ::testing::TestWithParam<int> {};

TEST_P(WindowedSinc, SymmetricUnitSumAndEqualToFormula)
{
    const int n = GetParam();
    const double wc = 0.3 * kPi;
    std::vector<double> h(static_cast<std::size_t>(n), 42.0);
    ASSERT_TRUE(WinFirFilterPara(n, wc, h.data()));
    double sum = 0.0;
    for (int i = 0; i < n; ++i) {
        sum += h[static_cast<std::size_t>(i)];
        EXPECT_DOUBLE_EQ(h[static_cast<std::size_t>(i)], h[static_cast<std::size_t>(n - 1 - i)]);
    }
    EXPECT_NEAR(sum, 1.0, 1e-12);
    expectClose(h, windowedSincReference(n, wc), 1e-15);
}

INSTANTIATE_TEST_SUITE_P(OddAndEvenLengths, WindowedSinc, ::testing::Values(3, 4, 7, 10, 31, 64, 1999));

TEST(WindowedSinc, CentreTapBeforeScalingIsCutOffOverPi)
{
    // The centre tap of an odd filter is wc/pi and tap i is wc/pi*sinc*window; their ratio
    // survives the unit-sum scaling.
    const int n = 11;
    const double wc = 0.25 * kPi;
    std::vector<double> h(n);
    ASSERT_TRUE(WinFirFilterPara(n, wc, h.data()));
    const double w4 = 0.5 - 0.5 * std::cos(2.0 * kPi * 4 / 10);
    const double tap4 = wc / kPi * std::sin(-1 * wc) / (-1 * wc) * w4;
    EXPECT_NEAR(h[4] / h[5], tap4 / (wc / kPi), 1e-14);
}

TEST(WindowedSinc, DegenerateDesignsAreRefused)
{
    std::vector<double> h(4);
    EXPECT_FALSE(WinFirFilterPara(0, 0.5, h.data()));
    EXPECT_FALSE(WinFirFilterPara(2, 0.5, h.data()));  // Hann window is zero at both ends
    EXPECT_FALSE(WinFirFilterPara(4, 0.0, h.data()));  // all taps zero
    EXPECT_FALSE(WinFirFilterPara(3, 0.5, nullptr));
    ASSERT_TRUE(WinFirFilterPara(1, 0.5, h.data()));
    EXPECT_EQ(h[0], 1.0);
}

TEST(WindowedSinc, PassesTheBandAndStopsOutsideIt)
{
    // A tone with a whole number of periods in the record comes out of the circular filter
    // scaled by the filter's gain at its frequency.
    const int n = 101;
    const double wc = 0.2 * kPi;  // pass band |f| < 0.1 cycles per sample
    const std::size_t len = 1000;
    auto tone = [&](double cycles) {
        std::vector<double> x(len);
        for (std::size_t i = 0; i < len; ++i) {
            x[i] = std::cos(2.0 * kPi * cycles * static_cast<double>(i) / len);
        }
        return x;
    };
    auto gain = [&](double cycles) {
        std::vector<double> x = tone(cycles);
        std::vector<double> y(len);
        EXPECT_EQ(filterWinDir(n, wc, x.data(), static_cast<int>(len), y.data()), 0);
        double px = 0.0, py = 0.0;
        for (std::size_t i = 0; i < len; ++i) {
            px += x[i] * x[i];
            py += y[i] * y[i];
        }
        return std::sqrt(py / px);
    };
    EXPECT_NEAR(gain(30.0), 1.0, 1e-3);   // 0.03 cycles per sample
    EXPECT_LT(gain(200.0), 1e-3);         // 0.2 cycles per sample
}

TEST(ConvDirect, ShiftsCircularlyByOne)
{
    double x[] = {1, 2, 3, 4};
    double h[] = {0, 1};
    double y[4] = {};
    ASSERT_EQ(convDirect(x, 4, h, 2, y), 0);
    EXPECT_EQ(y[0], 4);
    EXPECT_EQ(y[1], 1);
    EXPECT_EQ(y[2], 2);
    EXPECT_EQ(y[3], 3);
}

struct ConvSize {
    int nx;
    int nh;
};

class ConvDirectSizes : public ::testing::TestWithParam<ConvSize> {};

TEST_P(ConvDirectSizes, EqualsCircularSum)
{
    const auto [nx, nh] = GetParam();
    std::vector<double> x = randomRecord(static_cast<std::size_t>(nx), 1);
    std::vector<double> h = randomRecord(static_cast<std::size_t>(nh), 2);
    std::vector<double> y(static_cast<std::size_t>(nx));
    ASSERT_EQ(convDirect(x.data(), nx, h.data(), nh, y.data()), 0);
    expectClose(y, circularReference(x, h), 1e-12);
}

// Includes records shorter than the filter: they wrap around more than once.
INSTANTIATE_TEST_SUITE_P(Sizes, ConvDirectSizes,
                         ::testing::Values(ConvSize{1, 1}, ConvSize{7, 3}, ConvSize{8, 8}, ConvSize{17, 5},
                                           ConvSize{100, 33}, ConvSize{5, 12}, ConvSize{1, 4}));

TEST(ConvDirect, RefusesUnusableArguments)
{
    double x[4] = {}, h[2] = {}, y[4] = {};
    EXPECT_EQ(convDirect(x, 0, h, 2, y), 2);
    EXPECT_EQ(convDirect(x, 4, h, 0, y), 2);
    EXPECT_EQ(convDirect(nullptr, 4, h, 2, y), 2);
}

struct BlockCase {
    unsigned taps;
    unsigned samples;
};

class FilterWinFft : public ::testing::TestWithParam<BlockCase> {};

TEST_P(FilterWinFft, EqualsDirectCircularConvolution)
{
    const auto [n, nx] = GetParam();
    const double wc = 0.1 * kPi;
    std::vector<double> x = randomRecord(nx, 7);
    std::vector<double> taps = windowedSincReference(static_cast<int>(n), wc);
    std::vector<double> y(nx);
    ASSERT_EQ(filterWinFFT(n, wc, x.data(), nx, y.data()), 0);
    expectClose(y, circularReference(x, taps), 1e-12);
}

// 1999 taps: 14386 samples is the direct path, 14387 the first FFT record; 45000 samples
// give three blocks (one pair and one lone block) and a direct tail. 10001 taps over 7000
// samples: blocks shorter than the filter, the record wrapping more than once.
INSTANTIATE_TEST_SUITE_P(Lengths, FilterWinFft,
                         ::testing::Values(BlockCase{1999, 14386}, BlockCase{1999, 14387}, BlockCase{1999, 45000},
                                           BlockCase{10001, 7000}, BlockCase{3, 20000}));

TEST(FilterWinFft, DirectAndFftFormsAgree)
{
    const unsigned n = 1999;
    std::vector<double> x = randomRecord(30000, 11);
    std::vector<double> viaFft(x.size()), viaDirect(x.size());
    ASSERT_EQ(filterWinFFT(n, 0.05 * kPi, x.data(), 30000, viaFft.data()), 0);
    ASSERT_EQ(filterWinDir(static_cast<int>(n), 0.05 * kPi, x.data(), 30000, viaDirect.data()), 0);
    expectClose(viaFft, viaDirect, 1e-12);
}

TEST(FilterWinFft, ReportsUnusableDesigns)
{
    std::vector<double> x(100, 1.0), y(100);
    EXPECT_EQ(filterWinFFT(0, 0.5, x.data(), 100, y.data()), 2);
    EXPECT_EQ(filterWinFFT(2, 0.5, x.data(), 100, y.data()), 2);
    EXPECT_EQ(filterWinFFT(kFftSize + 1, 0.5, x.data(), 100, y.data()), 2);
    EXPECT_EQ(filterWinFFT(5, 0.5, nullptr, 100, y.data()), 2);
    EXPECT_EQ(filterWinDir(2, 0.5, x.data(), 100, y.data()), 2);
}

TEST(ConvFft, EqualsLinearConvolution)
{
    for (unsigned nfft : {64u, kFftSize}) {
        const unsigned nx = nfft / 2 + 3, nh = nfft / 2 - 10;
        std::vector<double> x = randomRecord(nx, 3), h = randomRecord(nh, 4);
        std::vector<double> y(nfft);
        ASSERT_EQ(convFft(x.data(), nx, h.data(), nh, y.data(), nfft), 0);
        for (unsigned i = 0; i < nfft; i += (nfft > 64 ? 97 : 1)) {
            double want = 0.0;
            for (unsigned k = 0; k < nh; ++k) {
                if (i >= k && i - k < nx) {
                    want += h[k] * x[i - k];
                }
            }
            ASSERT_NEAR(y[i], want, 1e-11) << "nfft " << nfft << " sample " << i;
        }
    }
}

TEST(ConvFft, RefusesSizesThatWouldAlias)
{
    std::vector<double> x(40, 1.0), h(30, 1.0), y(64);
    EXPECT_EQ(convFft(x.data(), 40, h.data(), 30, y.data(), 64), 2);  // 69 outputs > 64
    EXPECT_EQ(convFft(x.data(), 10, h.data(), 10, y.data(), 48), 2);  // not a power of two
    EXPECT_EQ(convFft(x.data(), 10, h.data(), 10, y.data(), 2 * kFftSize), 2);
}

std::complex<double> dftBin(const std::vector<std::complex<double>>& x, std::size_t k)
{
    const std::size_t n = x.size();
    std::complex<double> sum;
    for (std::size_t i = 0; i < n; ++i) {
        const double angle = -2.0 * kPi * static_cast<double>((i * k) % n) / static_cast<double>(n);
        sum += x[i] * std::complex<double>(std::cos(angle), std::sin(angle));
    }
    return sum;
}

class FftSize : public ::testing::TestWithParam<unsigned> {};

TEST_P(FftSize, EqualsDirectDft)
{
    const unsigned n = GetParam();
    std::vector<double> re = randomRecord(n, 5), im = randomRecord(n, 6);
    std::vector<std::complex<double>> x(n);
    for (unsigned i = 0; i < n; ++i) {
        x[i] = {re[i], im[i]};
    }
    std::vector<std::complex<double>> X = x;
    ASSERT_EQ(fftDit2(X.data(), n), 0);
    // Every bin of the small sizes; a spread of bins of the full 16384-point transform.
    const unsigned step = n > 1024 ? 509 : 1;
    for (unsigned k = 0; k < n; k += step) {
        const std::complex<double> want = dftBin(x, k);
        ASSERT_NEAR(X[k].real(), want.real(), 1e-9 * std::sqrt(n)) << "bin " << k;
        ASSERT_NEAR(X[k].imag(), want.imag(), 1e-9 * std::sqrt(n)) << "bin " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(PowersOfTwo, FftSize, ::testing::Values(1u, 2u, 4u, 8u, 64u, 1024u, kFftSize));

TEST(Fft, BitReversalPermutesByReversedIndex)
{
    const unsigned n = 16;
    std::vector<std::complex<double>> x(n);
    for (unsigned i = 0; i < n; ++i) {
        x[i] = static_cast<double>(i);
    }
    ASSERT_EQ(bitReversal(x.data(), n), 0);
    for (unsigned i = 0; i < n; ++i) {
        const unsigned reversed = ((i & 1u) << 3) | ((i & 2u) << 1) | ((i & 4u) >> 1) | ((i & 8u) >> 3);
        EXPECT_EQ(x[i].real(), static_cast<double>(reversed)) << i;
    }
}

TEST(Fft, RefusesSizesOtherThanPowersOfTwo)
{
    std::vector<std::complex<double>> x(2 * kFftSize);
    EXPECT_EQ(bitReversal(x.data(), 12), 2);
    EXPECT_EQ(bitReversal(x.data(), 0), 2);
    EXPECT_EQ(fftDit2(x.data(), 2 * kFftSize), 2);
    EXPECT_EQ(fftDit2(x.data(), 3), 2);
}

TEST(Fft, TwiddleTableHoldsTheUnitCircle)
{
    const std::complex<double>* w = fftTwiddleTable();
    EXPECT_EQ(w[0], std::complex<double>(1.0, 0.0));
    EXPECT_NEAR(w[4096].real(), 0.0, 1e-15);
    EXPECT_NEAR(w[4096].imag(), -1.0, 1e-15);
    EXPECT_NEAR(w[2048].real(), std::sqrt(0.5), 1e-15);
    EXPECT_NEAR(w[2048].imag(), -std::sqrt(0.5), 1e-15);
}

}  // namespace
