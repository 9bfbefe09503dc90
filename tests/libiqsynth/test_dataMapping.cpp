// IQ mapping and constellations: the tables against their construction rules
// and published examples, the sample grid, EDGE rotation and flags, the user
// table and the errors of the mapping stage.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <memory>
#include <numbers>
#include <set>
#include <string>
#include <type_traits>
#include <valarray>
#include <vector>

#include "dataMapping.h"
#include "iqSynthCfg.h"
#include "iqSynthLog.h"
#include "iqsynth.h"
#include "quiet_stdout.h"

using namespace arbsuite::iqsynth;  // the library's internals under test

namespace {

using cd = std::complex<double>;
constexpr double kTol = 1e-10;
const double kPi = std::numbers::pi;

void expectPoint(cd got, cd want, const std::string& what) {
  EXPECT_NEAR(got.real(), want.real(), kTol) << what;
  EXPECT_NEAR(got.imag(), want.imag(), kTol) << what;
}

struct QamCase {
  const ConstelMap* table;
  int size;
  int lmax;
  int cut;  // both levels of magnitude >= cut are left out (0: square)
};

class IqsynthQamTable : public ::testing::TestWithParam<QamCase> {};

TEST_P(IqsynthQamTable, GridOrderAndScale) {
  const auto& c = GetParam();
  const ConstelMap& t = *c.table;
  ASSERT_EQ(static_cast<int>(t.size()), c.size);
  const double d = std::sqrt(2.0) / 2.0 / c.lmax;
  std::set<std::pair<int, int>> seen;
  for (std::size_t i = 0; i < t.size(); ++i) {
    const double re = t[i].real() / d;
    const double im = t[i].imag() / d;
    const int lr = static_cast<int>(std::lround(re));
    const int li = static_cast<int>(std::lround(im));
    ASSERT_NEAR(re, lr, 1e-12) << i;  // whole multiples of d up to rounding
    ASSERT_NEAR(im, li, 1e-12) << i;
    EXPECT_EQ(std::abs(lr) % 2, 1) << i;  // odd multiples of d
    EXPECT_EQ(std::abs(li) % 2, 1) << i;
    EXPECT_LE(std::abs(lr), c.lmax);
    EXPECT_LE(std::abs(li), c.lmax);
    if (c.cut > 0) {
      EXPECT_FALSE(std::abs(lr) >= c.cut && std::abs(li) >= c.cut) << "corner point " << i;
    }
    seen.insert({lr, li});
    if (i > 0) {
      // Ordered by imaginary level, then real level, both descending.
      const double pim = t[i - 1].imag();
      const double pre = t[i - 1].real();
      EXPECT_TRUE(pim > t[i].imag() + 1e-12 ||
                  (std::abs(pim - t[i].imag()) < 1e-12 && pre > t[i].real()))
          << i;
    }
  }
  EXPECT_EQ(static_cast<int>(seen.size()), c.size);  // all distinct
}

INSTANTIATE_TEST_SUITE_P(DataMapping, IqsynthQamTable,
                         ::testing::Values(QamCase{&qam16ConstelMap, 16, 3, 0},
                                           QamCase{&qam32ConstelMap, 32, 5, 5},
                                           QamCase{&qam64ConstelMap, 64, 7, 0},
                                           QamCase{&qam128ConstelMap, 128, 11, 9},
                                           QamCase{&qam256ConstelMap, 256, 15, 0}),
                         [](const auto& info) { return "QAM" + std::to_string(info.param.size); });

TEST(IqsynthDataMappingTables, QamExamples) {
  const double d16 = std::sqrt(2.0) / 6.0;
  expectPoint(qam16ConstelMap[0], {0.7071067812, 0.7071067812}, "16QAM 0");
  expectPoint(qam16ConstelMap[1], {d16, 3 * d16}, "16QAM 1");
  expectPoint(qam16ConstelMap[3], {-3 * d16, 3 * d16}, "16QAM 3");
  expectPoint(qam16ConstelMap[4], {3 * d16, d16}, "16QAM 4");
  expectPoint(qam16ConstelMap[5], {0.2357022604, 0.2357022604}, "16QAM 5");
  expectPoint(qam16ConstelMap[10], {-0.2357022604, -0.2357022604}, "16QAM 10");
  expectPoint(qam16ConstelMap[15], {-3 * d16, -3 * d16}, "16QAM 15");
  expectPoint(qam32ConstelMap[0], {0.4242640687, 0.7071067812}, "32QAM 0");
  expectPoint(qam32ConstelMap[4], {0.7071067812, 0.4242640687}, "32QAM 4");
  const double d32 = std::sqrt(2.0) / 10.0;
  expectPoint(qam32ConstelMap[27], {-5 * d32, -3 * d32}, "32QAM 27");
  expectPoint(qam32ConstelMap[28], {3 * d32, -5 * d32}, "32QAM 28");
  const double d64 = std::sqrt(2.0) / 14.0;
  expectPoint(qam64ConstelMap[9], {5 * d64, 5 * d64}, "64QAM 9");
  const double d128 = std::sqrt(2.0) / 22.0;
  expectPoint(qam128ConstelMap[0], {7 * d128, 11 * d128}, "128QAM 0");
  expectPoint(qam128ConstelMap[16], {11 * d128, 7 * d128}, "128QAM 16");
  expectPoint(qam128ConstelMap[112], {7 * d128, -9 * d128}, "128QAM 112");
  const double d256 = std::sqrt(2.0) / 30.0;
  expectPoint(qam256ConstelMap[17], {13 * d256, 13 * d256}, "256QAM 17");
  EXPECT_NEAR(std::abs(qam32ConstelMap[0]), 0.8246211251, 1e-9);
  EXPECT_NEAR(std::abs(qam128ConstelMap[0]), 0.8381404052, 1e-9);
}

TEST(IqsynthDataMappingTables, PskAskFskAndPhaseTables) {
  const double a = std::sqrt(0.5);
  expectPoint(bpskConstelMap[1], {-1, 0}, "BPSK 1");
  expectPoint(qpskConstelMap[1], {-a, a}, "QPSK 1");
  expectPoint(qpskConstelMap[2], {a, -a}, "QPSK 2");
  ASSERT_EQ(psk8ConstelMap.size(), 8u);
  for (int k = 0; k < 8; ++k) {
    expectPoint(psk8ConstelMap[static_cast<std::size_t>(k)], std::polar(1.0, k * kPi / 4), "8PSK");
  }
  expectPoint(askConstelMap[0], {0, 0}, "ASK 0");
  expectPoint(askConstelMap[1], {1, 0}, "ASK 1");
  for (const ConstelMap* fsk :
       {&fsk2ConstelMap, &fsk4ConstelMap, &fsk8ConstelMap, &fsk16ConstelMap}) {
    const int M = static_cast<int>(fsk->size());
    for (int i = 0; i < M; ++i) {
      expectPoint((*fsk)[static_cast<std::size_t>(i)], {-1.0 + 2.0 * i / (M - 1), 0},
                  "FSK" + std::to_string(M));
    }
  }
  EXPECT_EQ(pi4DqpskDelta, (std::vector<short>{1, 3, -1, -3}));
  EXPECT_EQ(pi8DqpskDelta, (std::vector<short>{1, 3, 5, 7, -1, -3, -5, -7}));
  ASSERT_EQ(edge8PSKRotCos.size(), 16u);
  ASSERT_EQ(edge8PSKRotSin.size(), 16u);
  for (int k = 0; k < 16; ++k) {
    EXPECT_NEAR(edge8PSKRotCos[static_cast<std::size_t>(k)], std::cos(3 * kPi * k / 8), 1e-15);
    EXPECT_NEAR(edge8PSKRotSin[static_cast<std::size_t>(k)], std::sin(3 * kPi * k / 8), 1e-15);
  }
}

class IqsynthMappingStage : public ::testing::Test {
 protected:
  void SetUp() override {
    cfg = quiet([] { return std::make_unique<iqSynthCfg>("mapping test"); });
    cfg->overSamplingRate = 1;
  }

  // Maps the symbols with R = 1 and offset 0; returns the points.
  std::vector<cd> map(int type, const std::vector<int>& in) {
    cfg->digiModulatingType = static_cast<iqSynthCfg::DigiModulatingType_t>(type);
    cfg->sequenceLength = static_cast<int>(in.size());
    std::valarray<short> symbols(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
      symbols[i] = static_cast<short>(in[i]);
    }
    std::valarray<double> iDat(in.size());
    std::valarray<double> qDat(in.size());
    EXPECT_EQ(quiet([&] { return runDataIQMapping(*cfg, symbols, iDat, qDat, 0); }), 0);
    std::vector<cd> out;
    for (std::size_t i = 0; i < in.size(); ++i) {
      out.emplace_back(iDat[i], qDat[i]);
    }
    return out;
  }

  int errorOf(int type, const std::vector<int>& in) {
    try {
      map(type, in);
    } catch (const IqSynthError& e) {
      EXPECT_EQ(e.kind(), IqSynthError::Kind::Config);
      lastText = e.what();
      return e.errNo();
    }
    return 0;
  }

  std::vector<int> flagsSet() const {
    std::vector<int> on;
    for (int i = 0; i < 256; ++i) {
      if (cfg->symbolMap[i]) {
        on.push_back(i);
      }
    }
    return on;
  }

  std::unique_ptr<iqSynthCfg> cfg;
  std::string lastText;
};

TEST_F(IqsynthMappingStage, DirectTablesAndFlags) {
  const auto points = map(iqSynthCfg::MOD_QAM16, {0, 5, 10, 5});
  expectPoint(points[0], {0.7071067812, 0.7071067812}, "0");
  expectPoint(points[1], {0.2357022604, 0.2357022604}, "5");
  expectPoint(points[2], {-0.2357022604, -0.2357022604}, "10");
  EXPECT_EQ(flagsSet(), (std::vector<int>{0, 5, 10}));

  expectPoint(map(iqSynthCfg::MOD_QAM256, {17})[0], qam256ConstelMap[17], "256QAM");
  expectPoint(map(iqSynthCfg::MOD_QAM128, {127})[0], qam128ConstelMap[127], "128QAM");
  expectPoint(map(iqSynthCfg::MOD_QAM64, {9})[0], qam64ConstelMap[9], "64QAM");
  expectPoint(map(iqSynthCfg::MOD_QAM32, {4})[0], {0.7071067812, 0.4242640687}, "32QAM");
  expectPoint(map(iqSynthCfg::MOD_BPSK, {1})[0], {-1, 0}, "BPSK");
  expectPoint(map(iqSynthCfg::MOD_OQPSK, {3})[0], qpskConstelMap[3], "OQPSK");
  expectPoint(map(iqSynthCfg::MOD_8PSK, {2})[0], {0, 1}, "8PSK");
  const auto ask = map(iqSynthCfg::MOD_ASK, {0, 1});
  expectPoint(ask[0], {0, 0}, "ASK 0");
  expectPoint(ask[1], {1, 0}, "ASK 1");
}

TEST_F(IqsynthMappingStage, OnlyEveryRthIndexFromTheOffsetIsWritten) {
  cfg->digiModulatingType = iqSynthCfg::MOD_BPSK;
  cfg->overSamplingRate = 4;
  cfg->sequenceLength = 3;
  std::valarray<short> symbols(short{0}, 60);
  std::valarray<double> iDat(60);
  std::valarray<double> qDat(60);
  symbols[36] = 1;
  symbols[50] = 1;  // not a symbol index: must not be mapped
  quiet([&] { return runDataIQMapping(*cfg, symbols, iDat, qDat, 32); });
  for (std::size_t j = 0; j < 60; ++j) {
    const double want = j == 32 || j == 40 ? 1.0 : (j == 36 ? -1.0 : 0.0);
    EXPECT_EQ(iDat[j], want) << j;
    EXPECT_EQ(qDat[j], 0.0) << j;
  }
}

TEST_F(IqsynthMappingStage, TracksShorterThanTheSymbolsAreNotOverrun) {
  cfg->digiModulatingType = iqSynthCfg::MOD_BPSK;
  cfg->overSamplingRate = 2;
  cfg->sequenceLength = 100;
  std::valarray<short> symbols(short{1}, 10);
  std::valarray<double> iDat(7);
  std::valarray<double> qDat(9);
  EXPECT_EQ(quiet([&] { return runDataIQMapping(*cfg, symbols, iDat, qDat, 1); }), 0);
  EXPECT_EQ(iDat[5], -1.0);
  EXPECT_EQ(iDat[6], 0.0);
}

TEST_F(IqsynthMappingStage, EdgeRotatesEachSymbolByThreeEighthsPi) {
  const auto points = map(iqSynthCfg::MOD_EDGE_8PSK, {0, 0, 0});
  for (int k = 0; k < 3; ++k) {
    expectPoint(points[static_cast<std::size_t>(k)], std::polar(1.0, 3 * k * kPi / 8),
                "symbol " + std::to_string(k));
  }
  EXPECT_EQ(flagsSet(), (std::vector<int>{0, 3, 6}));

  std::fill(std::begin(cfg->symbolMap), std::end(cfg->symbolMap), 0);
  const auto second = map(iqSynthCfg::MOD_EDGE_8PSK, {0, 1});
  expectPoint(second[1], std::polar(1.0, 5 * kPi / 8), "symbol 1 at k = 1");
  EXPECT_EQ(flagsSet(), (std::vector<int>{0, 5}));
}

TEST_F(IqsynthMappingStage, EdgeRotationRepeatsEverySixteenSymbolsAndFlagsMatchThePhaseList) {
  std::vector<int> in(40);
  for (std::size_t i = 0; i < in.size(); ++i) {
    in[i] = static_cast<int>((i * 5) % 8);
  }
  const auto points = map(iqSynthCfg::MOD_EDGE_8PSK, in);
  for (std::size_t i = 0; i < in.size(); ++i) {
    const int position = (2 * in[i] + 3 * static_cast<int>(i % 16)) % 16;
    expectPoint(points[i], std::polar(1.0, position * kPi / 8), "symbol " + std::to_string(i));
    EXPECT_EQ(cfg->symbolMap[position], 1);
  }
  const auto repeat = map(iqSynthCfg::MOD_EDGE_8PSK, std::vector<int>(17, 3));
  expectPoint(repeat[16], repeat[0], "17th symbol uses the first rotation");
}

TEST_F(IqsynthMappingStage, UserTable) {
  cfg->usrConstelMap = {{0.1, 0.2}, {-0.3, 0.4}};
  const auto points = map(iqSynthCfg::MOD_USER + 1, {1, 0});
  expectPoint(points[0], {-0.3, 0.4}, "symbol 1");
  expectPoint(points[1], {0.1, 0.2}, "symbol 0");
  EXPECT_EQ(flagsSet(), (std::vector<int>{0, 1}));
}

TEST_F(IqsynthMappingStage, UserTableTooSmallOrTooWideFails) {
  cfg->usrConstelMap = {{0.1, 0.2}, {-0.3, 0.4}};
  EXPECT_EQ(errorOf(iqSynthCfg::MOD_USER + 2, {0}), IQSYNTH_ERR_CFG_VALUE);
  EXPECT_THAT(lastText, ::testing::HasSubstr("usrConstelMap")) << lastText;
  cfg->usrConstelMap.assign(512, cd(1, 1));
  EXPECT_EQ(errorOf(iqSynthCfg::MOD_USER + 9, {0}), IQSYNTH_ERR_CFG_VALUE);
  cfg->usrConstelMap.clear();
  EXPECT_EQ(errorOf(iqSynthCfg::MOD_USER + 0, {0}), IQSYNTH_ERR_CFG_VALUE);
}

TEST_F(IqsynthMappingStage, SymbolOutsideTheTableFails) {
  EXPECT_EQ(errorOf(iqSynthCfg::MOD_QAM16, {3, 16}), IQSYNTH_ERR_CFG_VALUE);
  EXPECT_EQ(errorOf(iqSynthCfg::MOD_BPSK, {-1}), IQSYNTH_ERR_CFG_VALUE);
  EXPECT_EQ(errorOf(iqSynthCfg::MOD_EDGE_8PSK, {8}), IQSYNTH_ERR_CFG_VALUE);
}

TEST_F(IqsynthMappingStage, TypesMappedElsewhereOrUnknownFailBeforeWriting) {
  for (int type : {static_cast<int>(iqSynthCfg::MOD_PI4_DQPSK),
                   static_cast<int>(iqSynthCfg::MOD_FSK4), 0x50002, 0x00003, 0x90004}) {
    cfg->digiModulatingType = static_cast<iqSynthCfg::DigiModulatingType_t>(type);
    cfg->sequenceLength = 1;
    std::valarray<short> symbols(1);
    std::valarray<double> iDat(5.0, 1);
    std::valarray<double> qDat(5.0, 1);
    try {
      quiet([&] { return runDataIQMapping(*cfg, symbols, iDat, qDat, 0); });
      ADD_FAILURE() << "no error for " << type;
    } catch (const IqSynthError& e) {
      EXPECT_EQ(e.kind(), IqSynthError::Kind::Config);
      EXPECT_EQ(e.errNo(), IQSYNTH_ERR_MOD_TYPE);
      EXPECT_EQ(std::string(e.what()).rfind(" ERROR : not supported modulating format  at ", 0), 0u)
          << e.what();
    }
    EXPECT_EQ(iDat[0], 5.0);
  }
}

TEST(IqsynthDataMappingPrint, DirectTypesPrintEveryIValue) {
  auto cfg = std::make_unique<iqSynthCfg>("print test");
  cfg->digiModulatingType = iqSynthCfg::MOD_BPSK;
  cfg->overSamplingRate = 1;
  cfg->sequenceLength = 2;
  std::valarray<short> symbols = {0, 1};
  std::valarray<double> iDat(2);
  std::valarray<double> qDat(2);
  testing::internal::CaptureStdout();
  runDataIQMapping(*cfg, symbols, iDat, qDat, 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "iMapDat[ i ] : 1\niMapDat[ i ] : -1\n");
}

}  // namespace
