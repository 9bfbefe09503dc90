// Noise: bandwidth rules, level results, the noise power measured with an FFT
// of the result, the noise-only mode, a generator that cannot be made, and the seeds:
// GSL_RNG_SEED read at every call, the generated records equal to GSL's own generator and
// ziggurat sampler driven the same way (and filtered by the test's own windowed sinc).
#include <gmock/gmock.h>
#include <gsl/gsl_errno.h>
#include <gsl/gsl_randist.h>
#include <gsl/gsl_rng.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <ctime>
#include <numbers>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "awgn.h"
#include "gsl_noise.h"
#include "iqSynthLog.h"
#include "iqsynth.h"
#include "scoped_env.h"

using namespace arbsuite::iqsynth;  // the library's internals under test

namespace {

using cd = std::complex<double>;

// Plain iterative radix-2 FFT (forward, unscaled), independent of the library's.
void fft(std::vector<cd>& a) {
  const std::size_t n = a.size();
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) {
      j ^= bit;
    }
    j ^= bit;
    if (i < j) {
      std::swap(a[i], a[j]);
    }
  }
  for (std::size_t len = 2; len <= n; len <<= 1) {
    const cd w = std::polar(1.0, -2.0 * std::numbers::pi / double(len));
    for (std::size_t i = 0; i < n; i += len) {
      cd wk = 1.0;
      for (std::size_t k = 0; k < len / 2; ++k) {
        const cd u = a[i + k];
        const cd v = a[i + k + len / 2] * wk;
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
        wk *= w;
      }
    }
  }
}

// Mean power of the complex record (re, im) in the frequencies |f| < band/2 (Hz),
// and outside |f| > outerBand/2, from its spectrum: sum of |X_k|^2 / n^2.
struct BandPower {
  double inside = 0.0;
  double beyond = 0.0;
  double total = 0.0;
};

BandPower measureBands(const std::vector<double>& re, const std::vector<double>& im, double fs,
                       double band, double outerBand) {
  const std::size_t n = re.size();
  std::vector<cd> x(n);
  for (std::size_t k = 0; k < n; ++k) {
    x[k] = cd(re[k], im[k]);
  }
  fft(x);
  BandPower p;
  for (std::size_t k = 0; k < n; ++k) {
    const double f = (k < n / 2 ? double(k) : double(k) - double(n)) * fs / double(n);
    const double power = std::norm(x[k]) / (double(n) * double(n));
    p.total += power;
    if (std::fabs(f) < band / 2) {
      p.inside += power;
    }
    if (std::fabs(f) > outerBand / 2) {
      p.beyond += power;
    }
  }
  return p;
}

double dB(double ratio) { return 10.0 * std::log10(ratio); }

// Hann-windowed sinc low-pass of n (odd) taps and angular cut-off wc, unit sum, written out
// from its formula: h[i] = wc/pi * sinc((i - (n-1)/2) wc) * (0.5 - 0.5 cos(2 pi i / (n-1))).
std::vector<double> hannSincTaps(int n, double wc) {
  std::vector<double> h(static_cast<std::size_t>(n));
  double sum = 0.0;
  for (int i = 0; i < n; ++i) {
    const double x = (i - (n - 1) / 2) * wc;
    const double sinc = std::fabs(x) < 1e-5 ? 1.0 : std::sin(x) / x;
    const double window = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / (n - 1));
    h[static_cast<std::size_t>(i)] = wc / std::numbers::pi * sinc * window;
    sum += h[static_cast<std::size_t>(i)];
  }
  for (double& tap : h) {
    tap /= sum;
  }
  return h;
}

// Circular convolution y[m] = sum over k of h[k] x[(m - k) mod n], summed directly.
std::vector<double> circularFilter(const std::vector<double>& x, const std::vector<double>& h) {
  const std::size_t n = x.size();
  std::vector<double> y(n, 0.0);
  for (std::size_t m = 0; m < n; ++m) {
    double acc = 0.0;
    for (std::size_t k = 0; k < h.size(); ++k) {
      acc += h[k] * x[(m + n * h.size() - k) % n];
    }
    y[m] = acc;
  }
  return y;
}

TEST(IqsynthNoiseBandwidth, WhiteUpTo2000SamplesBandLimitedAbove) {
  const double fs = 1e6, bSys = 1e5, ratio = 2.0;
  std::vector<double> i(2001), q(2001);
  double bw = 0.0;
  ASSERT_EQ(geneGaussBandLimitedNoiseFFT(i.data(), q.data(), &bw, fs, 2000, bSys, ratio, 1.0), 0);
  EXPECT_EQ(bw, fs);
  ASSERT_EQ(geneGaussBandLimitedNoiseFFT(i.data(), q.data(), &bw, fs, 2001, bSys, ratio, 1.0), 0);
  EXPECT_DOUBLE_EQ(bw, bSys * ratio + 0.0001 * (fs - bSys * ratio));
  // The order of the two bandwidth factors does not matter.
  ASSERT_EQ(geneGaussBandLimitedNoiseFFT(i.data(), q.data(), &bw, fs, 2001, ratio, bSys, 1.0), 0);
  EXPECT_DOUBLE_EQ(bw, bSys * ratio + 0.0001 * (fs - bSys * ratio));
  // A requested bandwidth above the sample rate gives white noise.
  ASSERT_EQ(geneGaussBandLimitedNoiseFFT(i.data(), q.data(), &bw, fs, 2001, 6e5, 2.0, 1.0), 0);
  EXPECT_EQ(bw, fs);
  // I and Q are independent draws.
  EXPECT_FALSE(std::equal(i.begin(), i.end(), q.begin()));
}

TEST(IqsynthGaussRand, SeededAndOfTheRequestedDeviation) {
  std::vector<double> a(20000), b(20000);
  ASSERT_EQ(GaussRandGenerator(a.data(), 20000, 2.5, 1234), 0);
  ASSERT_EQ(GaussRandGenerator(b.data(), 20000, 2.5, 1234), 0);
  EXPECT_EQ(a, b);
  const double mean = std::accumulate(a.begin(), a.end(), 0.0) / a.size();
  const double var =
      std::inner_product(a.begin(), a.end(), a.begin(), 0.0) / a.size() - mean * mean;
  EXPECT_NEAR(mean, 0.0, 0.1);
  EXPECT_NEAR(std::sqrt(var), 2.5, 0.1);
  // Sample for sample GSL's own generator and ziggurat.
  EXPECT_EQ(a, gslGaussian(a.size(), 2.5, 1234));
}

TEST(IqsynthSigLvlWatt, PowerAndPeak) {
  const double i[] = {3.0, 0.0, -1.0};
  const double q[] = {4.0, -2.0, 1.0};
  double power = 0.0, peak = 0.0;
  EXPECT_TRUE(sigLvlWatt(i, q, 3, &power, &peak));
  EXPECT_DOUBLE_EQ(power, 25.0 + 4.0 + 2.0);
  EXPECT_DOUBLE_EQ(peak, 5.0);
  EXPECT_TRUE(sigLvlWatt(i, q, 2, &power));
  EXPECT_DOUBLE_EQ(power, 29.0);
}

struct CnrCase {
  double ratio;  // noise bandwidth ratio
  double cnr;    // dB
  bool bandLimited;
};

void PrintTo(const CnrCase& c, std::ostream* os) {
  *os << "ratio " << c.ratio << ", CNR " << c.cnr << " dB";
}

class IqsynthNoisePowerTest : public ::testing::TestWithParam<CnrCase> {};

// A constant-envelope tone with noise added; the noise (noisy minus clean) is
// measured in the system bandwidth from its spectrum. The seed is fixed and the record long
// (2^18 samples, 2^16 spectral lines in the system band), so the measured power sits within
// a few hundredths of a dB of its expectation and is held to 0.1 dB.
TEST_P(IqsynthNoisePowerTest, MeasuredNoiseInSystemBandMatchesCnr) {
  const CnrCase c = GetParam();
  const ScopedEnv seed("GSL_RNG_SEED", "20240521");
  const int n = 1 << 18;
  const double fs = 16e6, bSys = 4e6, amplitude = 0.8;
  std::vector<double> sigI(n), sigQ(n), cleanI(n), cleanQ(n), noiseI(n), noiseQ(n);
  for (int r = 0; r < n; ++r) {
    const cd s = std::polar(amplitude, 2.0 * std::numbers::pi * 300.0 * r / n);
    cleanI[r] = sigI[r] = s.real();
    cleanQ[r] = sigQ[r] = s.imag();
  }
  double bw = 0, carrier = 0, sig = 0, noiseSys = 0, noiseTotal = 0, pep = 7.0;
  ASSERT_EQ(awgnAddNoise(noiseI.data(), noiseQ.data(), sigI.data(), sigQ.data(), n, bSys, c.ratio,
                         &bw, fs, c.cnr, &carrier, &sig, &noiseSys, &noiseTotal, &pep),
            0);

  std::vector<double> addedI(n), addedQ(n);
  for (int r = 0; r < n; ++r) {
    addedI[r] = sigI[r] - cleanI[r];
    addedQ[r] = sigQ[r] - cleanQ[r];
  }
  const double wanted = amplitude * amplitude / std::pow(10.0, c.cnr / 10.0);
  const BandPower p = measureBands(addedI, addedQ, fs, bSys, bw * 1.05);
  EXPECT_NEAR(dB(p.inside / wanted), 0.0, 0.1) << "noise in the system bandwidth";
  if (c.bandLimited) {
    EXPECT_DOUBLE_EQ(bw, bSys * c.ratio + 0.0001 * (fs - bSys * c.ratio));
    // The noise density in the passband is that of white noise of this sigma,
    // and almost nothing lies beyond the noise bandwidth.
    EXPECT_NEAR(dB(p.total / (wanted * bw / bSys)), 0.0, 0.5);
    EXPECT_LT(p.beyond, p.total * 1e-3);
    // White noise of power wanted * fs / bSys through the 1999-tap filter keeps the sum of
    // the squared taps of it.
    double gain = 0.0;
    for (double tap : hannSincTaps(1999, bw * std::numbers::pi / fs)) {
      gain += tap * tap;
    }
    EXPECT_NEAR(dB(p.total / (wanted * fs / bSys * gain)), 0.0, 0.1);
  } else {
    EXPECT_EQ(bw, fs);
    EXPECT_NEAR(dB(p.total / (wanted * fs / bSys)), 0.0, 0.1);
  }

  // Levels relative to the peak envelope power of the noisy record.
  double peakPower = 0.0, noisyPower = 0.0;
  for (int r = 0; r < n; ++r) {
    const double e = sigI[r] * sigI[r] + sigQ[r] * sigQ[r];
    peakPower = std::max(peakPower, e);
    noisyPower += e;
  }
  EXPECT_NEAR(carrier, dB(amplitude * amplitude / peakPower), 1e-9);
  EXPECT_NEAR(sig, dB(noisyPower / n / peakPower), 1e-9);
  EXPECT_NEAR(noiseSys, carrier - c.cnr, 1e-9);
  EXPECT_NEAR(noiseTotal, noiseSys + dB(bw / bSys), 1e-9);
  EXPECT_EQ(pep, 0.0);
}

INSTANTIATE_TEST_SUITE_P(Cnr, IqsynthNoisePowerTest,
                         ::testing::Values(CnrCase{2.0, 10.0, true}, CnrCase{5.0, 20.0, false},
                                           CnrCase{1.5, 3.0, true}));

TEST(IqsynthAddNoise, ConstantEnvelopeAt20dBWhite) {
  const int n = 1000;
  const double fs = 1e6, bSys = 2.5e5;
  std::vector<double> sigI(n), sigQ(n), noiseI(n), noiseQ(n);
  for (int r = 0; r < n; ++r) {
    sigI[r] = std::cos(0.1 * r);
    sigQ[r] = std::sin(0.1 * r);
  }
  double bw = 0, carrier = 0, sig = 0, noiseSys = 0, noiseTotal = 0, pep = 3.0;
  ASSERT_EQ(awgnAddNoise(noiseI.data(), noiseQ.data(), sigI.data(), sigQ.data(), n, bSys, 2.0, &bw,
                         fs, 20.0, &carrier, &sig, &noiseSys, &noiseTotal, &pep),
            0);
  EXPECT_EQ(bw, fs);
  EXPECT_DOUBLE_EQ(noiseSys, carrier - 20.0);
  EXPECT_NEAR(noiseTotal, noiseSys + dB(fs / bSys), 1e-12);
  EXPECT_EQ(pep, 0.0);
  EXPECT_LT(carrier, 0.0);  // the noisy peak exceeds the clean envelope
}

struct AddedNoiseCase {
  int length;  // up to 2000: white noise
  double fs, bSys, cnr;
};

void PrintTo(const AddedNoiseCase& c, std::ostream* os) {
  *os << c.length << " samples, CNR " << c.cnr << " dB";
}

class IqsynthFixedSeedAddedNoiseTest : public ::testing::TestWithParam<AddedNoiseCase> {};

// With a fixed seed the added noise is GSL's ziggurat from generators seeded 4s and 4s + 1,
// of the per-component deviation sqrt(fs / bSys * P / 2 / 10^(CNR/10)) for the mean signal
// power P: computed here from the signal, so a level off by any fraction of a dB shows.
TEST_P(IqsynthFixedSeedAddedNoiseTest, NoiseIsGslsOwnAtTheDeviationOfTheRatio) {
  const AddedNoiseCase c = GetParam();
  const unsigned long s = 1357911;
  const ScopedEnv seed("GSL_RNG_SEED", std::to_string(s));
  const int n = c.length;
  std::vector<double> sigI(n), sigQ(n), noiseI(n), noiseQ(n);
  double meanPower = 0.0;
  for (int r = 0; r < n; ++r) {
    // An envelope that varies, so that the mean power is not the peak power.
    sigI[r] = (1.0 + 0.5 * std::sin(0.013 * r)) * std::cos(0.2 * r);
    sigQ[r] = (1.0 + 0.5 * std::sin(0.013 * r)) * std::sin(0.2 * r);
    meanPower += sigI[r] * sigI[r] + sigQ[r] * sigQ[r];
  }
  meanPower /= n;
  const std::vector<double> cleanI = sigI, cleanQ = sigQ;
  double bw = 0, carrier = 0, sig = 0, noiseSys = 0, noiseTotal = 0, pep = 1.0;
  ASSERT_EQ(awgnAddNoise(noiseI.data(), noiseQ.data(), sigI.data(), sigQ.data(), n, c.bSys, 2.0,
                         &bw, c.fs, c.cnr, &carrier, &sig, &noiseSys, &noiseTotal, &pep),
            0);
  ASSERT_EQ(bw, c.fs);
  const double sigma = std::sqrt(c.fs / c.bSys * meanPower / 2.0 / std::pow(10.0, c.cnr / 10.0));
  const std::vector<double> wantI = gslGaussian(n, sigma, generatorSeedOf(s, 0));
  const std::vector<double> wantQ = gslGaussian(n, sigma, generatorSeedOf(s, 1));
  for (int r = 0; r < n; ++r) {
    ASSERT_NEAR(noiseI[r], wantI[r], 1e-12 * sigma) << r;
    ASSERT_NEAR(noiseQ[r], wantQ[r], 1e-12 * sigma) << r;
    ASSERT_NEAR(sigI[r], cleanI[r] + wantI[r], 1e-12 * sigma) << r;
    ASSERT_NEAR(sigQ[r], cleanQ[r] + wantQ[r], 1e-12 * sigma) << r;
  }
}

INSTANTIATE_TEST_SUITE_P(Ratios, IqsynthFixedSeedAddedNoiseTest,
                         ::testing::Values(AddedNoiseCase{1000, 1e6, 2.5e5, 20.0},
                                           AddedNoiseCase{2000, 8e6, 1e6, 3.0},
                                           AddedNoiseCase{1, 1e6, 1e6, -10.0}));

TEST(IqsynthAddNoise, AllZeroSignalStaysZero) {
  const int n = 100;
  std::vector<double> sigI(n, 0.0), sigQ(n, 0.0), noiseI(n), noiseQ(n);
  double bw = 0, carrier = 0, sig = 0, noiseSys = 0, noiseTotal = 0, pep = 1.0;
  ASSERT_EQ(awgnAddNoise(noiseI.data(), noiseQ.data(), sigI.data(), sigQ.data(), n, 1e5, 2.0, &bw,
                         1e6, 20.0, &carrier, &sig, &noiseSys, &noiseTotal, &pep),
            0);
  EXPECT_TRUE(std::all_of(sigI.begin(), sigI.end(), [](double v) { return v == 0.0; }));
  EXPECT_TRUE(std::all_of(sigQ.begin(), sigQ.end(), [](double v) { return v == 0.0; }));
  EXPECT_FALSE(std::isfinite(carrier));
  EXPECT_EQ(pep, 0.0);
}

// The levels are those of the record itself; with a fixed seed the record's deviation is
// that of the test's own draws of deviation 3.4076 (white), or of those draws through the
// test's windowed sinc (band-limited), to rounding.
TEST(IqsynthNoiseOnly, LevelsRelativeToItsOwnPeak) {
  const unsigned long s = 24680;
  const ScopedEnv seed("GSL_RNG_SEED", std::to_string(s));
  for (int n : {1500, 4000}) {
    const double fs = 1e6, bSys = 1e5, ratio = 2.0;
    std::vector<double> i(n), q(n);
    double bw = 0, sys = 0, total = 0, pep = 9.0;
    ASSERT_EQ(awgnOnlyNoise(fs, i.data(), q.data(), n, bSys, ratio, &bw, &sys, &total, &pep), 0);
    double power = 0.0, peakPower = 0.0;
    for (int r = 0; r < n; ++r) {
      const double e = i[r] * i[r] + q[r] * q[r];
      power += e;
      peakPower = std::max(peakPower, e);
    }
    EXPECT_NEAR(total, dB(power / n / peakPower), 1e-9);
    EXPECT_GT(total, -12.0);
    EXPECT_LT(total, -7.0);
    EXPECT_NEAR(sys, total + dB(bSys / bw), 1e-9);
    EXPECT_EQ(pep, 0.0);

    const bool white = n <= 2000;
    std::vector<double> wantI = gslGaussian(i.size(), 3.4076, generatorSeedOf(s, white ? 0 : 2));
    std::vector<double> wantQ = gslGaussian(i.size(), 3.4076, generatorSeedOf(s, white ? 1 : 3));
    if (!white) {
      const std::vector<double> taps = hannSincTaps(1999, bw * std::numbers::pi / fs);
      wantI = circularFilter(wantI, taps);
      wantQ = circularFilter(wantQ, taps);
    }
    double wantPower = 0.0;
    for (int r = 0; r < n; ++r) {
      wantPower += wantI[r] * wantI[r] + wantQ[r] * wantQ[r];
    }
    EXPECT_NEAR(std::sqrt(power / wantPower), 1.0, 1e-12) << n << " samples";
  }
}

// With a fixed seed the noise-only record is known sample for sample: GSL's ziggurat of
// deviation 3.4076 from generators seeded 4s and 4s + 1 (a white record), and the levels are
// the formulas of those samples.
TEST(IqsynthNoiseOnly, FixedSeedRecordIsGslsOwnNoiseAndItsLevels) {
  const unsigned long s = 987654321;
  const ScopedEnv seed("GSL_RNG_SEED", std::to_string(s));
  const int n = 1800;
  const double fs = 1e6, bSys = 1e5, ratio = 2.0;
  std::vector<double> i(n), q(n);
  double bw = 0, sys = 0, total = 0, pep = 9.0;
  ASSERT_EQ(awgnOnlyNoise(fs, i.data(), q.data(), n, bSys, ratio, &bw, &sys, &total, &pep), 0);
  const std::vector<double> wantI = gslGaussian(n, 3.4076, generatorSeedOf(s, 0));
  const std::vector<double> wantQ = gslGaussian(n, 3.4076, generatorSeedOf(s, 1));
  EXPECT_EQ(i, wantI);
  EXPECT_EQ(q, wantQ);

  double power = 0.0, peakPower = 0.0;
  for (int r = 0; r < n; ++r) {
    const double e = wantI[r] * wantI[r] + wantQ[r] * wantQ[r];
    power += e;
    peakPower = std::max(peakPower, e);
  }
  EXPECT_EQ(bw, fs);
  EXPECT_NEAR(total, dB(power / n / peakPower), 1e-12);
  EXPECT_NEAR(sys, dB(power * bSys / (peakPower * n * fs)), 1e-12);
  EXPECT_EQ(pep, 0.0);
}

struct BandLimitedCase {
  int length;  // samples: above 2000, and above one FFT block (14386) for the block path
  double fs, bSys, ratio;
};

void PrintTo(const BandLimitedCase& c, std::ostream* os) { *os << c.length << " samples"; }

class IqsynthFixedSeedBandLimitedTest : public ::testing::TestWithParam<BandLimitedCase> {};

// A band-limited record is GSL's ziggurat from generators seeded 4s + 2 (I) and 4s + 3 (Q),
// filtered circularly by the 1999-tap Hann-windowed sinc of the noise bandwidth.
TEST_P(IqsynthFixedSeedBandLimitedTest, RecordIsGslsNoiseThroughTheWindowedSinc) {
  const BandLimitedCase c = GetParam();
  const unsigned long s = 4294967295ul;  // the largest seed: 4s + k wraps modulo 2^32
  const ScopedEnv seed("GSL_RNG_SEED", std::to_string(s));
  const double sigma = 1.75;
  std::vector<double> i(static_cast<std::size_t>(c.length)), q(i.size());
  double bw = 0.0;
  ASSERT_EQ(
      geneGaussBandLimitedNoiseFFT(i.data(), q.data(), &bw, c.fs, c.length, c.bSys, c.ratio, sigma),
      0);
  const double wanted = c.bSys * c.ratio + 0.0001 * (c.fs - c.bSys * c.ratio);
  ASSERT_DOUBLE_EQ(bw, wanted);
  const std::vector<double> taps = hannSincTaps(1999, bw * std::numbers::pi / c.fs);
  const std::vector<double> wantI =
      circularFilter(gslGaussian(i.size(), sigma, generatorSeedOf(s, 2)), taps);
  const std::vector<double> wantQ =
      circularFilter(gslGaussian(i.size(), sigma, generatorSeedOf(s, 3)), taps);
  double worst = 0.0;
  for (std::size_t k = 0; k < i.size(); ++k) {
    worst = std::max({worst, std::fabs(i[k] - wantI[k]), std::fabs(q[k] - wantQ[k])});
  }
  // The library filters by FFT blocks, the test by direct sums: they agree to rounding.
  EXPECT_LT(worst, 1e-12 * sigma) << worst;
}

INSTANTIATE_TEST_SUITE_P(Lengths, IqsynthFixedSeedBandLimitedTest,
                         ::testing::Values(BandLimitedCase{2001, 1e6, 1e5, 2.0},
                                           BandLimitedCase{20000, 8e6, 1e6, 1.5}));

struct SeedTextCase {
  const char* text;
  bool usable;
  unsigned long seed;
};

void PrintTo(const SeedTextCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class IqsynthSeedTextTest : public ::testing::TestWithParam<SeedTextCase> {};

TEST_P(IqsynthSeedTextTest, DecimalSeedsFrom0To4294967295) {
  const SeedTextCase c = GetParam();
  if (c.usable) {
    const std::optional<std::uint32_t> seed = seedFromEnvironment(c.text);
    ASSERT_TRUE(seed.has_value());
    EXPECT_EQ(*seed, c.seed);
    return;
  }
  try {
    seedFromEnvironment(c.text);
    FAIL() << "accepted";
  } catch (const IqSynthError& e) {
    EXPECT_EQ(e.kind(), IqSynthError::Kind::Config);
    EXPECT_EQ(e.errNo(), IQSYNTH_ERR_CFG_VALUE);
    EXPECT_EQ(std::string(e.what()), std::string("GSL_RNG_SEED \"") + c.text +
                                         "\" is not a decimal seed from 0 to 4294967295");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, IqsynthSeedTextTest,
    ::testing::Values(SeedTextCase{"0", true, 0}, SeedTextCase{"42", true, 42},
                      SeedTextCase{"007", true, 7}, SeedTextCase{"4294967295", true, 4294967295ul},
                      SeedTextCase{"4294967296", false, 0}, SeedTextCase{"-1", false, 0},
                      SeedTextCase{"+1", false, 0}, SeedTextCase{" 12", false, 0},
                      SeedTextCase{"12 ", false, 0}, SeedTextCase{"0x10", false, 0},
                      SeedTextCase{"1e3", false, 0}, SeedTextCase{"abc", false, 0},
                      SeedTextCase{"99999999999999999999", false, 0}));

TEST(IqsynthNoiseSeed, UnsetOrEmptyMeansNoSeed) {
  EXPECT_FALSE(seedFromEnvironment(nullptr).has_value());
  EXPECT_FALSE(seedFromEnvironment("").has_value());
}

TEST(IqsynthNoiseSeed, ReadAtEveryCall) {
  std::vector<double> i1(100), q1(100), i2(100), q2(100), i3(100), q3(100);
  double bw = 0.0;
  {
    const ScopedEnv seed("GSL_RNG_SEED", "5");
    ASSERT_EQ(geneGaussBandLimitedNoiseFFT(i1.data(), q1.data(), &bw, 1e6, 100, 1e5, 2, 1), 0);
  }
  {
    const ScopedEnv seed("GSL_RNG_SEED", "6");
    ASSERT_EQ(geneGaussBandLimitedNoiseFFT(i2.data(), q2.data(), &bw, 1e6, 100, 1e5, 2, 1), 0);
  }
  {
    const ScopedEnv seed("GSL_RNG_SEED", "5");
    ASSERT_EQ(geneGaussBandLimitedNoiseFFT(i3.data(), q3.data(), &bw, 1e6, 100, 1e5, 2, 1), 0);
  }
  EXPECT_EQ(i1, i3);
  EXPECT_EQ(q1, q3);
  EXPECT_NE(i1, i2);
  // Neighbouring seeds share no generator: the Q noise of seed 5 is not the I noise of 6.
  EXPECT_NE(q1, i2);
  EXPECT_NE(i1, q1);
}

TEST(IqsynthNoiseSeed, WithoutTheVariableTheCalendarTimeSeeds) {
  const ScopedEnv seed("GSL_RNG_SEED", std::nullopt);
  const auto before = static_cast<std::uint32_t>(std::time(nullptr));
  const NoiseSeed used = noiseSeedForRun();
  const auto after = static_cast<std::uint32_t>(std::time(nullptr));
  EXPECT_FALSE(used.fromEnvironment);
  EXPECT_GE(used.base, before);
  EXPECT_LE(used.base, after);
}

TEST(IqsynthRunAwgn, FillsTracksAndLevelFields) {
  iqSynthCfg& cfg = gIqSynthCfg;
  cfg.noiseSeqLength = 3000;
  cfg.noiseSampleRate = 2e6;
  cfg.noiseSystemBandwidth = 2e5;
  cfg.bandWidthRatio = 3.0;
  cfg.sigLvlPep = 4.0;
  cfg.carrierLvldB = 123.0;
  ASSERT_EQ(
      runAWGN(noiseOnlySettingsOf(gIqSynthCfg), noiseOnlyLevelsOf(gIqSynthCfg), iMapDat, qMapDat),
      0);
  EXPECT_EQ(iMapDat.size(), 3000u);
  EXPECT_EQ(qMapDat.size(), 3000u);
  EXPECT_DOUBLE_EQ(cfg.noiseBandWidth, 6e5 + 0.0001 * (2e6 - 6e5));
  EXPECT_NEAR(cfg.noiseLvlSysBW, cfg.noiseLvlTotalBW + dB(2e5 / cfg.noiseBandWidth), 1e-9);
  EXPECT_EQ(cfg.sigLvlPep, 0.0);
  EXPECT_EQ(cfg.carrierLvldB, 123.0);  // not a result of this mode
  EXPECT_GT(std::abs(iMapDat).max(), 0.0);
}

TEST(IqsynthRunAwgn, UnusableSettingsNameTheField) {
  struct Case {
    int length;
    double rate, band, ratio;
    const char* field;
  };
  const Case cases[] = {
      {0, 1e6, 1e5, 2, "noiseSeqLength"},          {-5, 1e6, 1e5, 2, "noiseSeqLength"},
      {100, 0.0, 1e5, 2, "noiseSampleRate"},       {100, std::nan(""), 1e5, 2, "noiseSampleRate"},
      {100, 1e6, -1.0, 2, "noiseSystemBandwidth"}, {100, 1e6, 1e5, 0.0, "bandWidthRatio"}};
  for (const Case& c : cases) {
    gIqSynthCfg.noiseSeqLength = c.length;
    gIqSynthCfg.noiseSampleRate = c.rate;
    gIqSynthCfg.noiseSystemBandwidth = c.band;
    gIqSynthCfg.bandWidthRatio = c.ratio;
    try {
      runAWGN(noiseOnlySettingsOf(gIqSynthCfg), noiseOnlyLevelsOf(gIqSynthCfg), iMapDat, qMapDat);
      FAIL() << c.field;
    } catch (const IqSynthError& e) {
      EXPECT_EQ(e.kind(), IqSynthError::Kind::Config);
      EXPECT_EQ(e.errNo(), IQSYNTH_ERR_CFG_VALUE);
      EXPECT_THAT(std::string(e.what()), ::testing::HasSubstr(c.field)) << e.what();
    }
  }
}

// Generator allocators for the test seam.
gsl_rng* refusingAlloc(const gsl_rng_type*) { return nullptr; }
// Fails the way GSL itself does: through the installed error handler.
gsl_rng* gslFailingAlloc(const gsl_rng_type*) {
  GSL_ERROR_NULL("forced generator failure", GSL_ENOMEM);
}

bool gHostHandlerCalled = false;
void hostHandler(const char*, const char*, int, int) { gHostHandlerCalled = true; }

class IqsynthGeneratorFailureTest : public ::testing::TestWithParam<GslRngAllocFn> {
 protected:
  void SetUp() override { previous_ = setGslRngAllocForTesting(GetParam()); }
  void TearDown() override { setGslRngAllocForTesting(previous_); }
  GslRngAllocFn previous_ = nullptr;
};

TEST_P(IqsynthGeneratorFailureTest, ReportedAsResultCodeNeverAnAbort) {
  // With GSL's default handler a failing allocation would abort the process;
  // the handler the host installed is neither called nor replaced.
  gHostHandlerCalled = false;
  gsl_set_error_handler(&hostHandler);
  std::vector<double> out(10, 0.0);
  EXPECT_EQ(GaussRandGenerator(out.data(), 10, 1.0, 1), 2);
  EXPECT_FALSE(gHostHandlerCalled);
  EXPECT_EQ(gsl_set_error_handler(nullptr), &hostHandler);

  double bw = 0;
  std::vector<double> i(3000), q(3000);
  EXPECT_EQ(geneGaussBandLimitedNoiseFFT(i.data(), q.data(), &bw, 1e6, 3000, 1e5, 2.0, 1.0), 2);

  std::vector<double> sigI(50, 0.5), sigQ(50, -0.5), nI(50), nQ(50);
  double carrier = 0, sig = 0, sys = 0, total = 0, pep = 0;
  EXPECT_EQ(awgnAddNoise(nI.data(), nQ.data(), sigI.data(), sigQ.data(), 50, 1e5, 2.0, &bw, 1e6,
                         20.0, &carrier, &sig, &sys, &total, &pep),
            2);
  EXPECT_TRUE(std::all_of(sigI.begin(), sigI.end(), [](double v) { return v == 0.5; }));
  EXPECT_TRUE(std::all_of(sigQ.begin(), sigQ.end(), [](double v) { return v == -0.5; }));

  gIqSynthCfg.noiseSeqLength = 100;
  gIqSynthCfg.noiseSampleRate = 1e6;
  gIqSynthCfg.noiseSystemBandwidth = 1e5;
  gIqSynthCfg.bandWidthRatio = 2.0;
  try {
    runAWGN(noiseOnlySettingsOf(gIqSynthCfg), noiseOnlyLevelsOf(gIqSynthCfg), iMapDat, qMapDat);
    FAIL() << "no exception";
  } catch (const IqSynthError& e) {
    EXPECT_EQ(e.kind(), IqSynthError::Kind::Awgn);
    EXPECT_EQ(e.errNo(), IQSYNTH_ERR_NOISE);
    EXPECT_STREQ(e.what(), "AWGN onle noise is error");
  }
}

INSTANTIATE_TEST_SUITE_P(Seams, IqsynthGeneratorFailureTest,
                         ::testing::Values(&refusingAlloc, &gslFailingAlloc));

}  // namespace
