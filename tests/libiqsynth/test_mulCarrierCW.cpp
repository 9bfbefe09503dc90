// Multi-carrier CW: record parameters, rational approximation, the carrier sum
// against a direct formula, and the spectrum of the record.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <memory>
#include <numbers>
#include <valarray>
#include <vector>

#include "error_kind.h"
#include "iqSynthLog.h"
#include "iqsynth.h"
#include "mulCarrierCW.h"

using namespace arbsuite::iqsynth;  // the library's internals under test

namespace {

using cd = std::complex<double>;

std::unique_ptr<iqSynthCfg> makeCfg(int carriers, double spacing) {
  auto cfg = std::make_unique<iqSynthCfg>("mccw test");
  cfg->mccwCarrierItem = carriers;
  cfg->mccwCarrierSpacing = spacing;
  for (int i = 0; i < carriers; ++i) {
    cfg->mccwCarrierEn[i] = 1;
  }
  return cfg;
}

struct ParamCase {
  int carriers;
  double spacing;
  double sampleRate;
  int samples;
  double firstFreq;  // cycles per sample of carrier 0
  double freqStep;   // cycles per sample between neighbours
};

void PrintTo(const ParamCase& c, std::ostream* os) {
  *os << c.carriers << " carriers at " << c.spacing << " Hz";
}

class IqsynthMccwParamTest : public ::testing::TestWithParam<ParamCase> {};

TEST_P(IqsynthMccwParamTest, RecordAndCarrierFrequencies) {
  const ParamCase& c = GetParam();
  auto cfg = makeCfg(c.carriers, c.spacing);
  genMulCarrierCWParam(*cfg);
  EXPECT_EQ(cfg->mccwCarrierSample, c.samples);
  EXPECT_DOUBLE_EQ(cfg->mccwCarrierSampleFreq, c.sampleRate);
  for (int i = 0; i < c.carriers; ++i) {
    EXPECT_NEAR(cfg->mccwCarrierFreq[i], c.firstFreq + i * c.freqStep, 1e-12) << "carrier " << i;
    // Frequency in Hz is the comb position (i - (N-1)/2) * spacing.
    EXPECT_NEAR(cfg->mccwCarrierFreq[i] * c.sampleRate, (i - (c.carriers - 1) / 2.0) * c.spacing,
                c.spacing * 1e-12);  // a product of doubles, a few ulp
  }
}

INSTANTIATE_TEST_SUITE_P(
    Examples, IqsynthMccwParamTest,
    ::testing::Values(ParamCase{3, 1e6, 8e6, 16, -1.0 / 8, 1.0 / 8},
                      ParamCase{4, 1e6, 16e6, 32, -1.5 / 16, 1.0 / 16},
                      ParamCase{20, 1e6, 100e6, 200, -9.5 * 2 / 200, 2.0 / 200},
                      ParamCase{13, 3e6, 100e6, 100, -6.0 * 3 / 100, 3.0 / 100},
                      ParamCase{1, 5e6, 2e7, 8, 0.0, 0.0}));

TEST(IqsynthMccwParam, UnusableCountOrSpacingGivesNoRecord) {
  const double nan = std::nan("");
  const std::pair<int, double> cases[] = {{0, 1e6}, {-3, 1e6}, {8193, 1e3}, {1 << 30, 1e3},
                                          {4, 0.0}, {4, -1e6}, {4, nan},    {4, HUGE_VAL}};
  for (const auto& [carriers, spacing] : cases) {
    auto cfg = std::make_unique<iqSynthCfg>("mccw test");
    cfg->mccwCarrierItem = carriers;
    cfg->mccwCarrierSpacing = spacing;
    cfg->mccwCarrierSample = 77;
    genMulCarrierCWParam(*cfg);
    EXPECT_EQ(cfg->mccwCarrierSample, 0) << carriers << " carriers, spacing " << spacing;
  }
}

TEST(IqsynthMccwParam, LargestCombStaysWithinTheTables) {
  auto cfg = makeCfg(8192, 1e3);  // fmax 4.096 MHz: power-of-two record, b = 14
  genMulCarrierCWParam(*cfg);
  EXPECT_EQ(cfg->mccwCarrierSample, 1 << 16);
  EXPECT_NEAR(cfg->mccwCarrierFreq[8191], 4095.5 / 32768.0, 1e-15);
}

TEST(IqsynthFindNearRat, KnownValues) {
  unsigned p = 0, q = 0;
  findNearRat(2.5, p, q);
  EXPECT_EQ(p, 5u);
  EXPECT_EQ(q, 2u);
  findNearRat(7.0, p, q);
  EXPECT_EQ(p, 7u);
  EXPECT_EQ(q, 1u);
  findNearRat(100.0 / 3.0, p, q);
  EXPECT_EQ(p, 100u);
  EXPECT_EQ(q, 3u);
  findNearRat(0.0, p, q);
  EXPECT_EQ(p, 0u);
  EXPECT_EQ(q, 1u);
  findNearRat(std::nan(""), p, q);
  EXPECT_EQ(p, 0u);
}

TEST(IqsynthFindNearRat, ApproximatesIrrationalValuesClosely) {
  for (double x : {std::numbers::pi, std::numbers::e, 1e8 / 1234567.0, 0.1, 65537.3}) {
    unsigned p = 0, q = 0;
    findNearRat(x, p, q);
    ASSERT_GT(q, 0u);
    EXPECT_LT(std::fabs(static_cast<double>(p) / q - x), x * 1e-8) << x;
  }
}

// Independent reference: the sum of the enabled carriers at sample r.
cd referenceSample(const iqSynthCfg& cfg, const std::vector<double>& phase, int r) {
  cd sum = 0.0;
  for (int i = 0; i < cfg.mccwCarrierItem; ++i) {
    if (cfg.mccwCarrierEn[i] != 0) {
      sum += std::pow(10.0, cfg.mccwCarrierAmp[i] / 20.0) *
             std::polar(1.0, phase[static_cast<std::size_t>(i)] +
                                 2.0 * std::numbers::pi * cfg.mccwCarrierFreq[i] * r);
    }
  }
  return sum;
}

void runAndCompare(iqSynthCfg& cfg, const std::vector<double>& phase) {
  const int n = cfg.mccwCarrierSample;
  std::valarray<double> iDat(5.0, n), qDat(5.0, n);
  EXPECT_EQ(runMulCarrierCW(cfg, iDat, qDat), 0);
  for (int r = 0; r < n; ++r) {
    const cd want = referenceSample(cfg, phase, r);
    // A sum of a few sines in double: worst 6e-15.
    EXPECT_NEAR(iDat[r], want.real(), 1e-12) << "I at " << r;
    EXPECT_NEAR(qDat[r], want.imag(), 1e-12) << "Q at " << r;
  }
}

TEST(IqsynthMulCarrierCW, UserPhasesAndLevels) {
  auto cfg = makeCfg(5, 1e6);
  genMulCarrierCWParam(*cfg);
  std::vector<double> phase;
  for (int i = 0; i < 5; ++i) {
    cfg->mccwCarrierAmp[i] = -3.0 * i;
    cfg->mccwCarrierPhase[i] = 0.7 * i - 1.0;
    phase.push_back(cfg->mccwCarrierPhase[i]);
  }
  runAndCompare(*cfg, phase);
}

TEST(IqsynthMulCarrierCW, CrestFactorLawReplacesUserPhases) {
  auto cfg = makeCfg(6, 1e6);
  genMulCarrierCWParam(*cfg);
  cfg->mccwOptCrestFactorEn = 1;
  std::vector<double> phase;
  for (int i = 0; i < 6; ++i) {
    cfg->mccwCarrierPhase[i] = 1.234 * (i + 1);  // ignored
    phase.push_back(-std::numbers::pi + i * std::numbers::pi / 12.0);
  }
  runAndCompare(*cfg, phase);
}

TEST(IqsynthMulCarrierCW, SwitchedOffCarriersContributeNothing) {
  auto cfg = makeCfg(4, 2e6);
  genMulCarrierCWParam(*cfg);
  cfg->mccwCarrierAmp[1] = 400.0;  // would dominate (or overflow) if it were on
  cfg->mccwCarrierEn[1] = 0;
  cfg->mccwCarrierAmp[3] = HUGE_VAL;
  cfg->mccwCarrierEn[3] = 0;
  runAndCompare(*cfg, std::vector<double>(4, 0.0));
}

TEST(IqsynthMulCarrierCW, FrequenciesSetWithoutParameterStep) {
  // Frequencies that do not complete whole cycles still follow the formula.
  auto cfg = makeCfg(3, 1e6);
  cfg->mccwCarrierSample = 37;
  cfg->mccwCarrierFreq[0] = -0.123;
  cfg->mccwCarrierFreq[1] = 0.0101;
  cfg->mccwCarrierFreq[2] = 0.3;
  cfg->mccwCarrierPhase[2] = 0.5;
  runAndCompare(*cfg, {0.0, 0.0, 0.5});
}

// Naive DFT of a short record: X[k] = sum x[r] e^{-2 pi j k r / n}.
std::vector<cd> dft(const std::valarray<double>& iDat, const std::valarray<double>& qDat) {
  const std::size_t n = iDat.size();
  std::vector<cd> out(n);
  for (std::size_t k = 0; k < n; ++k) {
    cd sum = 0.0;
    for (std::size_t r = 0; r < n; ++r) {
      sum +=
          cd(iDat[r], qDat[r]) * std::polar(1.0, -2.0 * std::numbers::pi * double(k * r % n) / n);
    }
    out[k] = sum;
  }
  return out;
}

class IqsynthMccwSpectrumTest : public ::testing::TestWithParam<std::pair<int, double>> {};

TEST_P(IqsynthMccwSpectrumTest, AllEnergyInTheCarrierBins) {
  const auto [carriers, spacing] = GetParam();
  auto cfg = makeCfg(carriers, spacing);
  genMulCarrierCWParam(*cfg);
  const int n = cfg->mccwCarrierSample;
  ASSERT_GT(n, 0);
  for (int i = 0; i < carriers; ++i) {
    cfg->mccwCarrierAmp[i] = -(i % 4) * 2.0;
    cfg->mccwCarrierPhase[i] = 0.3 * i;
  }
  std::valarray<double> iDat(n), qDat(n);
  runMulCarrierCW(*cfg, iDat, qDat);
  const std::vector<cd> spectrum = dft(iDat, qDat);

  // Carrier i sits at (i - (N-1)/2) * spacing Hz, bin = Hz * n / rate (mod n).
  std::vector<double> expectedAmplitude(static_cast<std::size_t>(n), 0.0);
  for (int i = 0; i < carriers; ++i) {
    const double bin = (i - (carriers - 1) / 2.0) * spacing * n / cfg->mccwCarrierSampleFreq;
    ASSERT_NEAR(bin, std::round(bin), 1e-6) << "carrier " << i << " is not on a bin";
    const long k = ((std::lround(bin) % n) + n) % n;
    expectedAmplitude[static_cast<std::size_t>(k)] = std::pow(10.0, cfg->mccwCarrierAmp[i] / 20.0);
  }
  double leaked = 0.0, total = 0.0;
  for (int k = 0; k < n; ++k) {
    const double magnitude = std::abs(spectrum[static_cast<std::size_t>(k)]) / n;
    total += magnitude * magnitude;
    if (expectedAmplitude[static_cast<std::size_t>(k)] == 0.0) {
      leaked += magnitude * magnitude;
    } else {
      // Bin magnitudes of an exact tone set: worst 4e-16.
      EXPECT_NEAR(magnitude, expectedAmplitude[static_cast<std::size_t>(k)], 1e-12) << "bin " << k;
    }
  }
  EXPECT_LT(leaked, total * 1e-18);
}

INSTANTIATE_TEST_SUITE_P(Combs, IqsynthMccwSpectrumTest,
                         ::testing::Values(std::pair{3, 1e6}, std::pair{4, 1e6},
                                           std::pair{7, 0.5e6}, std::pair{20, 1e6},
                                           std::pair{13, 3e6}, std::pair{8, 2e6}));

TEST(IqsynthMulCarrierCW, UnusableSettingsAreRejected) {
  for (int carriers : {0, 8193}) {
    auto cfg = makeCfg(1, 1e6);
    cfg->mccwCarrierItem = carriers;
    cfg->mccwCarrierSample = 8;
    std::valarray<double> iDat(8), qDat(8);
    try {
      runMulCarrierCW(*cfg, iDat, qDat);
      FAIL() << carriers;
    } catch (const IqSynthError& e) {
      EXPECT_EQ(e.kind(), IqSynthError::Kind::Config);
      EXPECT_EQ(e.errNo(), IQSYNTH_ERR_CFG_VALUE);
      EXPECT_THAT(std::string(e.what()), ::testing::HasSubstr("mccwCarrierItem"));
    }
  }
  auto cfg = makeCfg(2, 1e6);
  cfg->mccwCarrierSample = 64;
  std::valarray<double> iDat(32), qDat(32);
  EXPECT_EQ(thrownKind([&] { runMulCarrierCW(*cfg, iDat, qDat); }), IqSynthError::Kind::Config);
}

}  // namespace
