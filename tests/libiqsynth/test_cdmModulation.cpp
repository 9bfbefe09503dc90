// The digital modulation pipeline on the global record: a looped QPSK waveform against a
// periodic stream filtered here, continuous-phase FSK, the pi/4 and pi/8 differential chains,
// and the settings refused before any track is sized.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <string>
#include <valarray>
#include <vector>

#include "cdmModulation.h"
#include "iqSynthCfg.h"
#include "iqSynthLog.h"
#include "iqsynth.h"

using namespace arbsuite::iqsynth;  // the library's internals under test

namespace {

constexpr double kPi = 3.141592653589793;
using Cfg = iqSynthCfg;

class IqsynthPipeline : public ::testing::Test {
 protected:
  iqSynthCfg& cfg = gIqSynthCfg;

  void SetUp() override {
    cfg.codingType = Cfg::CODING_NONE;
    cfg.dataSrc = Cfg::DATA_SRC_ALL_ZERO;
    cfg.AlphaBt = 0.35;
    cfg.symbolRate = 100e3;
    cfg.maxFskDev = 100e3;
    iMapDat.resize(0);
    qMapDat.resize(0);
    mapDat.resize(0);
  }

  void setRun(int type, int symbols, int S, int L, int filter, const std::string& bits = "") {
    cfg.digiModulatingType = static_cast<Cfg::DigiModulatingType_t>(type);
    cfg.sequenceLength = symbols;
    cfg.overSamplingRate = S;
    cfg.filterLength = L;
    cfg.shapingFilterType = static_cast<Cfg::ShapingFilterType_t>(filter);
    cfg.sampleLength =
        static_cast<int>(std::min<long long>(1LL * symbols * S, INT_MAX));  // as the driver does
    if (!bits.empty()) {
      cfg.dataSrc = Cfg::DATA_SRC_PATTERN;
      cfg.dataFormatIsHex = false;
      cfg.usrListSize = static_cast<int>(bits.size());
      std::copy(bits.begin(), bits.end(), cfg.usrList);
    }
  }

  // Symbol values of a binary pattern read k characters at a time, cyclically.
  static std::vector<int> patternSymbols(const std::string& bits, int k, int count) {
    std::vector<int> out;
    for (std::size_t j = 0, pos = 0; j < static_cast<std::size_t>(count); ++j) {
      int v = 0;
      for (int b = 0; b < k; ++b, pos = (pos + 1) % bits.size()) {
        v = 2 * v + (bits[pos] == '1');
      }
      out.push_back(v);
    }
    return out;
  }

  void expectFlags(const std::vector<int>& set) {
    for (int f = 0; f < 256; ++f) {
      EXPECT_EQ(cfg.symbolMap[f] != 0, std::find(set.begin(), set.end(), f) != set.end()) << f;
    }
  }
};

TEST_F(IqsynthPipeline, LoopedQpskWindowIsOnePeriodOfTheSteadyState) {
  // 6 symbols from an 8-character pattern, S = 4, raised cosine over 8 symbols (32 taps):
  // the 32-sample lead-in holds 5 1/3 periods.
  const int S = 4, L = 8, symbols = 6, M = S * L;
  const std::string bits = "00011011";
  setRun(Cfg::MOD_QPSK, symbols, S, L, Cfg::FILTER_RAISED_COSINE, bits);
  mapDat.resize(5, 1.0);
  ASSERT_EQ(runCDMModulation(gIqSynthCfg, {iMapDat, qMapDat, mapDat}), 0);
  const std::size_t O = static_cast<std::size_t>(L * S), P = static_cast<std::size_t>(symbols * S);
  ASSERT_EQ(iMapDat.size(), O + P);
  ASSERT_EQ(qMapDat.size(), O + P);
  EXPECT_EQ(mapDat.size(), 0u);
  EXPECT_EQ(cfg.sampleOffset, static_cast<int>(O));
  EXPECT_EQ(cfg.modulationFamily, 0x90000);

  std::vector<double> h;
  for (int k = 0; k < M; ++k) {
    const double t = -L / 2.0 + k * static_cast<double>(L) / M, d = 2.0 * 0.35 * t;
    h.push_back((t == 0.0 ? 1.0 : std::sin(kPi * t) / (kPi * t)) * std::cos(kPi * 0.35 * t) /
                (1.0 - d * d));
  }
  double sum = 0.0;
  for (double v : h) {
    sum += v;
  }
  const double a = std::sqrt(0.5);  // QPSK: 0 (a, a), 1 (-a, a), 2 (a, -a), 3 (-a, -a)
  const std::vector<int> sym = patternSymbols(bits, 2, symbols);
  for (std::size_t n = 0; n < P; ++n) {
    double wantI = 0.0, wantQ = 0.0;
    for (std::size_t k = 0; k < h.size(); ++k) {
      const std::size_t m = (n + 10 * P - k) % P;  // the stream repeated forever
      if (m % S == 0) {
        wantI += h[k] / sum * ((sym[m / S] & 1) ? -a : a);
        wantQ += h[k] / sum * ((sym[m / S] & 2) ? -a : a);
      }
    }
    EXPECT_NEAR(iMapDat[O + n], wantI, 1e-12) << n;
    EXPECT_NEAR(qMapDat[O + n], wantQ, 1e-12) << n;
  }
  expectFlags({0, 1, 2, 3});
}

struct FskCase {
  int type;
  double maxFskDev;
  const char* bits;
  int S;
};

class IqsynthFskChain : public IqsynthPipeline, public ::testing::WithParamInterface<FskCase> {};

TEST_P(IqsynthFskChain, PhaseFollowsTheLevelsContinuously) {
  const FskCase c = GetParam();
  const int k = c.type & 0xFF, tones = 1 << k, L = 4, symbols = 8, S = c.S;
  setRun(c.type, symbols, S, L, Cfg::FILTER_RECT, c.bits);
  cfg.maxFskDev = c.maxFskDev;
  ASSERT_EQ(runCDMModulation(gIqSynthCfg, {iMapDat, qMapDat, mapDat}), 0);
  const std::size_t O = static_cast<std::size_t>(L * S);
  ASSERT_EQ(iMapDat.size(), O + static_cast<std::size_t>(symbols * S));
  ASSERT_EQ(mapDat.size(), iMapDat.size());
  EXPECT_EQ(std::abs(std::valarray<double>(iMapDat[std::slice(0, O, 1)])).max(),
            0.0);  // no lead-in in I and Q

  // The rectangle spreads level v over its S samples; the phase sum takes in each sample
  // before its angle is computed, so the first data sample already carries v/S.
  const double h = (c.maxFskDev / cfg.symbolRate) / (tones - 1);
  const std::vector<int> sym = patternSymbols(c.bits, k, symbols);
  double before = 0.0;
  for (int j = 0; j < symbols; ++j) {
    const int level = 2 * sym[static_cast<std::size_t>(j)] - tones + 1;
    for (int r = 0; r < S; ++r) {
      const std::size_t s = O + static_cast<std::size_t>(j * S + r);
      const double angle = 2.0 * kPi * h * (before + (r + 1) * static_cast<double>(level) / S);
      // Phase accumulated in double over the record: a few ulp.
      ASSERT_NEAR(iMapDat[s], std::cos(angle), 1e-12) << s;
      ASSERT_NEAR(qMapDat[s], std::sin(angle), 1e-12) << s;
    }
    before += level;
  }
  expectFlags(sym);
}

INSTANTIATE_TEST_SUITE_P(
    Tones, IqsynthFskChain,
    ::testing::Values(FskCase{Cfg::MOD_FSK2, 100e3, "0110", 8},      // h = 1: +-2 pi a symbol
                      FskCase{Cfg::MOD_FSK4, 150e3, "00011011", 5},  // h = 1/2, levels +-1, +-3
                      FskCase{Cfg::MOD_FSK8, 70e3, "000111010110", 4}));

TEST_F(IqsynthPipeline, GaussianFskKeepsAConstantEnvelope) {
  setRun(Cfg::MOD_FSK2, 40, 8, 4, Cfg::FILTER_GAUSSIAN_FSK);
  cfg.AlphaBt = 0.5;
  cfg.dataSrc = Cfg::DATA_SRC_PRBS;
  cfg.prbs = Cfg::PRBS9;
  ASSERT_EQ(runCDMModulation(gIqSynthCfg, {iMapDat, qMapDat, mapDat}), 0);
  for (std::size_t s = static_cast<std::size_t>(cfg.sampleOffset); s < iMapDat.size(); ++s) {
    ASSERT_NEAR(std::hypot(iMapDat[s], qMapDat[s]), 1.0, 1e-12) << s;
  }
}

TEST_F(IqsynthPipeline, PiOver4DifferentialWithZeroSymbols) {
  // S = 1 and a one-tap rectangle: the tracks are the phase points themselves.
  setRun(Cfg::MOD_PI4_DQPSK, 4, 1, 1, Cfg::FILTER_RECT);
  ASSERT_EQ(runCDMModulation(gIqSynthCfg, {iMapDat, qMapDat, mapDat}), 0);
  for (std::size_t j = 0; j < 4; ++j) {
    EXPECT_NEAR(iMapDat[1 + j], std::cos((j + 1) * kPi / 4), 1e-15) << j;  // phase sums 1 .. 4
    EXPECT_NEAR(qMapDat[1 + j], std::sin((j + 1) * kPi / 4), 1e-15) << j;
  }
  expectFlags({1, 2, 3, 4});
}

TEST_F(IqsynthPipeline, PiOver8DifferentialWithSymbolSevenRepeated) {
  setRun(Cfg::MOD_PI8_D8PSK, 3, 1, 2, Cfg::FILTER_RECT);
  cfg.dataSrc = Cfg::DATA_SRC_ALL_ONE;
  ASSERT_EQ(runCDMModulation(gIqSynthCfg, {iMapDat, qMapDat, mapDat}), 0);
  for (std::size_t j = 0; j < 3; ++j) {
    EXPECT_NEAR(iMapDat[2 + j], std::cos(-7.0 * (j + 1) * kPi / 8), 1e-12) << j;  // -7, -14, -21
    EXPECT_NEAR(qMapDat[2 + j], std::sin(-7.0 * (j + 1) * kPi / 8), 1e-12) << j;
  }
  expectFlags({9, 2, 11});
}

// The pipeline works on the tracks it is handed: tracks of the caller's own get what the
// process-wide ones get, and the process-wide ones are left alone.
TEST_F(IqsynthPipeline, WritesOnlyTheTracksItIsHanded) {
  struct Case {
    int type;
    int filter;
  };
  for (const Case c : {Case{Cfg::MOD_QPSK, Cfg::FILTER_ROOT_RAISED_COSINE},
                       Case{Cfg::MOD_FSK4, Cfg::FILTER_GAUSSIAN_FSK},
                       Case{Cfg::MOD_PI4_DQPSK, Cfg::FILTER_RAISED_COSINE}}) {
    setRun(c.type, 24, 4, 4, c.filter);
    cfg.dataSrc = Cfg::DATA_SRC_PRBS;
    cfg.prbs = Cfg::PRBS9;
    ASSERT_EQ(runCDMModulation(cfg, {iMapDat, qMapDat, mapDat}), 0);
    const std::vector<double> globalI(std::begin(iMapDat), std::end(iMapDat));
    const std::vector<double> globalQ(std::begin(qMapDat), std::end(qMapDat));
    const std::size_t globalFrequency = mapDat.size();

    std::valarray<double> i(7.0, 3), q, frequency(1.0, 2);
    ASSERT_EQ(runCDMModulation(cfg, {i, q, frequency}), 0);
    EXPECT_EQ(std::vector<double>(std::begin(i), std::end(i)), globalI) << c.type;
    EXPECT_EQ(std::vector<double>(std::begin(q), std::end(q)), globalQ) << c.type;
    EXPECT_EQ(frequency.size(), globalFrequency) << c.type;
    EXPECT_EQ(std::vector<double>(std::begin(iMapDat), std::end(iMapDat)), globalI) << c.type;
    EXPECT_EQ(std::vector<double>(std::begin(qMapDat), std::end(qMapDat)), globalQ) << c.type;
    EXPECT_EQ(mapDat.size(), globalFrequency) << c.type;
  }
}

struct Refusal {
  int type, symbols, S, L, errNo;
  const char* text;
};

class IqsynthRefused : public IqsynthPipeline, public ::testing::WithParamInterface<Refusal> {};

TEST_P(IqsynthRefused, BeforeAnyTrackIsSized) {
  const Refusal c = GetParam();
  setRun(c.type, c.symbols, c.S, c.L, Cfg::FILTER_RAISED_COSINE);
  iMapDat.resize(3, 0.5);
  qMapDat.resize(4, 0.25);
  mapDat.resize(5, 0.125);
  try {
    runCDMModulation(gIqSynthCfg, {iMapDat, qMapDat, mapDat});
    FAIL();
  } catch (const IqSynthError& e) {
    EXPECT_EQ(e.kind(), IqSynthError::Kind::Config);
    EXPECT_EQ(e.errNo(), c.errNo);
    EXPECT_THAT(std::string(e.what()), ::testing::HasSubstr(c.text)) << e.what();
  }
  EXPECT_EQ(iMapDat.size() + qMapDat.size() + mapDat.size(), 12u);
  EXPECT_EQ(mapDat[4], 0.125);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, IqsynthRefused,
    ::testing::Values(Refusal{0x50002, 10, 4, 8, 0x40002, "Not processing modulating type"},
                      Refusal{0x50002, 0, 0, 0, 0x40002, "Not processing"},   // type first
                      Refusal{0x30000, 10, 4, 8, 0x40002, "Not processing"},  // one FSK tone
                      Refusal{0xA0004, 10, 4, 8, 0x40002, "Not processing"},  // past the table
                      Refusal{Cfg::MOD_QPSK, 10, 33, 8, 0x40005, "overSamplingRate"},
                      Refusal{Cfg::MOD_QPSK, 10, 4, 129, 0x40005, "filterLengh"},
                      Refusal{Cfg::MOD_QPSK, 0, 4, 8, 0x40005, "sequenceLenth"},
                      Refusal{Cfg::MOD_QPSK, 0x7FFFFFF0, 32, 8, 0x40005, "sequenceLenth"}));

TEST_F(IqsynthPipeline, FskWithoutSymbolRateIsRefused) {
  setRun(Cfg::MOD_FSK2, 10, 4, 2, Cfg::FILTER_RECT);
  cfg.symbolRate = 0.0;
  try {
    runCDMModulation(gIqSynthCfg, {iMapDat, qMapDat, mapDat});
    FAIL();
  } catch (const IqSynthError& e) {
    EXPECT_EQ(e.kind(), IqSynthError::Kind::Config);
    EXPECT_EQ(e.errNo(), IQSYNTH_ERR_CFG_VALUE);
    EXPECT_THAT(std::string(e.what()), ::testing::HasSubstr("symbolRate"));
  }
  EXPECT_EQ(iMapDat.size(), 0u);
}

}  // namespace
