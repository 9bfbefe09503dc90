// Noise: bandwidth rules, level results, the noise power measured with an FFT
// of the result, the noise-only mode and a generator that cannot be made.
#include <gsl/gsl_errno.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <numeric>
#include <vector>

#include "awgn.h"
#include "iqSynthLog.h"

using namespace iqsynth;  // the library's internals under test

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

TEST(NoiseBandwidth, WhiteUpTo2000SamplesBandLimitedAbove) {
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

TEST(GaussRand, SeededAndOfTheRequestedDeviation) {
  std::vector<double> a(20000), b(20000);
  ASSERT_EQ(GaussRandGenerator(a.data(), 20000, 2.5, 1234), 0);
  ASSERT_EQ(GaussRandGenerator(b.data(), 20000, 2.5, 1234), 0);
  EXPECT_EQ(a, b);
  const double mean = std::accumulate(a.begin(), a.end(), 0.0) / a.size();
  const double var =
      std::inner_product(a.begin(), a.end(), a.begin(), 0.0) / a.size() - mean * mean;
  EXPECT_NEAR(mean, 0.0, 0.1);
  EXPECT_NEAR(std::sqrt(var), 2.5, 0.1);
}

TEST(SigLvlWatt, PowerAndPeak) {
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

class NoisePowerTest : public ::testing::TestWithParam<CnrCase> {};

// A constant-envelope tone with noise added; the noise (noisy minus clean) is
// measured in the system bandwidth from its spectrum.
TEST_P(NoisePowerTest, MeasuredNoiseInSystemBandMatchesCnr) {
  const CnrCase c = GetParam();
  const int n = 16384;
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
  EXPECT_NEAR(dB(p.inside / wanted), 0.0, 0.5) << "noise in the system bandwidth";
  if (c.bandLimited) {
    EXPECT_DOUBLE_EQ(bw, bSys * c.ratio + 0.0001 * (fs - bSys * c.ratio));
    // The noise density in the passband is that of white noise of this sigma,
    // and almost nothing lies beyond the noise bandwidth.
    EXPECT_NEAR(dB(p.total / (wanted * bw / bSys)), 0.0, 0.5);
    EXPECT_LT(p.beyond, p.total * 1e-3);
  } else {
    EXPECT_EQ(bw, fs);
    EXPECT_NEAR(dB(p.total / (wanted * fs / bSys)), 0.0, 0.3);
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

INSTANTIATE_TEST_SUITE_P(Cnr, NoisePowerTest,
                         ::testing::Values(CnrCase{2.0, 10.0, true}, CnrCase{5.0, 20.0, false},
                                           CnrCase{1.5, 3.0, true}));

TEST(AddNoise, ConstantEnvelopeAt20dBWhite) {
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

TEST(AddNoise, AllZeroSignalStaysZero) {
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

TEST(NoiseOnly, LevelsRelativeToItsOwnPeak) {
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
    if (n <= 2000) {
      // White noise of the fixed deviation 3.4076 per component.
      EXPECT_NEAR(std::sqrt(power / n / 2.0), 3.4076, 0.25);
    }
  }
}

TEST(RunAwgn, FillsTracksAndLevelFields) {
  iqSynthCfg& cfg = gIqSynthCfg;
  cfg.noiseSeqLength = 3000;
  cfg.noiseSampleRate = 2e6;
  cfg.noiseSystemBandwidth = 2e5;
  cfg.bandWidthRatio = 3.0;
  cfg.sigLvlPep = 4.0;
  cfg.carrierLvldB = 123.0;
  ASSERT_EQ(runAWGN(), 0);
  EXPECT_EQ(iMapDat.size(), 3000u);
  EXPECT_EQ(qMapDat.size(), 3000u);
  EXPECT_DOUBLE_EQ(cfg.noiseBandWidth, 6e5 + 0.0001 * (2e6 - 6e5));
  EXPECT_NEAR(cfg.noiseLvlSysBW, cfg.noiseLvlTotalBW + dB(2e5 / cfg.noiseBandWidth), 1e-9);
  EXPECT_EQ(cfg.sigLvlPep, 0.0);
  EXPECT_EQ(cfg.carrierLvldB, 123.0);  // not a result of this mode
  EXPECT_GT(std::abs(iMapDat).max(), 0.0);
}

TEST(RunAwgn, UnusableSettingsNameTheField) {
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
      runAWGN();
      FAIL() << c.field;
    } catch (const IqSynthCfgExcept& e) {
      EXPECT_EQ(e.errNo(), 0x40005);
      EXPECT_NE(std::string(e.what()).find(c.field), std::string::npos) << e.what();
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

class GeneratorFailureTest : public ::testing::TestWithParam<GslRngAllocFn> {
 protected:
  void SetUp() override { previous_ = setGslRngAllocForTesting(GetParam()); }
  void TearDown() override { setGslRngAllocForTesting(previous_); }
  GslRngAllocFn previous_ = nullptr;
};

TEST_P(GeneratorFailureTest, ReportedAsResultCodeNeverAnAbort) {
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
    runAWGN();
    FAIL() << "no exception";
  } catch (const IqSynthAwgnExcept& e) {
    EXPECT_EQ(e.errNo(), 0xF002);
    EXPECT_STREQ(e.what(), "AWGN onle noise is error");
  }
}

INSTANTIATE_TEST_SUITE_P(Seams, GeneratorFailureTest,
                         ::testing::Values(&refusingAlloc, &gslFailingAlloc));

}  // namespace
