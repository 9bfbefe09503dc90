// Power ramping: gains sample by sample against the ramp formulas, dropped
// table entries, step ramps, bad shapes and bounds.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <valarray>

#include "error_kind.h"
#include "iqSynthLog.h"
#include "iqsynth.h"
#include "powerRamping.h"

using namespace arbsuite::iqsynth;  // the library's internals under test

namespace {

double dBGain(double dB) { return std::pow(10.0, dB / 20.0); }

struct IqsynthRampFixture : ::testing::Test {
  std::unique_ptr<iqSynthCfg> cfg = std::make_unique<iqSynthCfg>("ramp test");
  std::valarray<double> iDat;
  std::valarray<double> qDat;

  // Tracks of `samples` samples with I = 1 and Q = -2, so each output is the gain
  // (and -2 times it).
  void makeTracks(std::size_t samples) {
    iDat = std::valarray<double>(1.0, samples);
    qDat = std::valarray<double>(-2.0, samples);
  }

  void setTable(std::initializer_list<std::pair<int, double>> rows) {
    cfg->powerRampItem = static_cast<int>(rows.size());
    int k = 0;
    for (const auto& [start, level] : rows) {
      cfg->powerRampStartSymbol[k] = start;
      cfg->powerRampAtten[k] = level;
      ++k;
    }
  }

  void expectGain(std::size_t k, double gain) {
    EXPECT_NEAR(iDat[k], gain, 1e-12) << "sample " << k;
    EXPECT_NEAR(qDat[k], -2.0 * gain, 1e-12) << "sample " << k;
  }
};

TEST_F(IqsynthRampFixture, SingleEntryHoldsItsLevelEverywhere) {
  // One entry: the level before the ramp is its own, so the ramp changes nothing.
  cfg->overSamplingRate = 4;
  cfg->sequenceLength = 100;
  cfg->sampleLength = 400;
  cfg->powerRampTime = 2;
  cfg->powerRampFunc = iqSynthCfg::RAMP_LINEAR;
  setTable({{10, -20.0}});
  makeTracks(400);
  EXPECT_EQ(runPowerRamping(*cfg, iDat, qDat), 0);
  for (std::size_t k = 0; k < 400; ++k) {
    expectGain(k, 0.1);
  }
}

TEST_F(IqsynthRampFixture, RaisedCosineUpAndDown) {
  cfg->overSamplingRate = 2;
  cfg->sequenceLength = 100;
  cfg->sampleLength = 200;
  cfg->powerRampTime = 4;
  cfg->powerRampFunc = iqSynthCfg::RAMP_COSINE;
  setTable({{0, 0.0}, {50, -6.0}});
  makeTracks(200);
  runPowerRamping(*cfg, iDat, qDat);

  const double low = dBGain(-6.0);
  auto cosineRamp = [](double from, double to, int o) {
    return from + (to - from) * 0.5 * (1.0 - std::cos(std::numbers::pi * o / 8.0));
  };
  for (int k = 0; k < 8; ++k) {
    expectGain(static_cast<std::size_t>(k), cosineRamp(low, 1.0, k));
  }
  for (std::size_t k = 8; k < 100; ++k) {
    expectGain(k, 1.0);
  }
  for (int k = 100; k < 108; ++k) {
    expectGain(static_cast<std::size_t>(k), cosineRamp(1.0, low, k - 100));
  }
  for (std::size_t k = 108; k < 200; ++k) {
    expectGain(k, low);
  }
  EXPECT_NEAR(iDat[0], low, 1e-12);           // the ramp starts at the old level
  EXPECT_LT(std::fabs(iDat[7] - 1.0), 0.05);  // and ends one step short of the new one
}

TEST_F(IqsynthRampFixture, LinearRampSampleBySample) {
  cfg->overSamplingRate = 3;
  cfg->sequenceLength = 20;
  cfg->powerRampTime = 2;  // 6 samples
  cfg->powerRampFunc = iqSynthCfg::RAMP_LINEAR;
  setTable({{2, -10.0}, {10, 0.0}});
  makeTracks(60);
  runPowerRamping(*cfg, iDat, qDat);

  const double a = dBGain(-10.0);
  for (std::size_t k = 0; k < 6; ++k) {
    expectGain(k, 1.0);  // level of the last entry before the first ramp
  }
  for (int o = 0; o < 6; ++o) {
    expectGain(static_cast<std::size_t>(6 + o), 1.0 + (a - 1.0) * o / 6.0);
  }
  for (std::size_t k = 12; k < 30; ++k) {
    expectGain(k, a);
  }
  for (int o = 0; o < 6; ++o) {
    expectGain(static_cast<std::size_t>(30 + o), a + (1.0 - a) * o / 6.0);
  }
  for (std::size_t k = 36; k < 60; ++k) {
    expectGain(k, 1.0);
  }
}

TEST_F(IqsynthRampFixture, EntriesRampingPastTheEndAreDropped) {
  // The last entry (97 + 4 > 100) is ignored: the loop level becomes entry 1's.
  cfg->overSamplingRate = 1;
  cfg->sequenceLength = 100;
  cfg->powerRampTime = 4;
  cfg->powerRampFunc = iqSynthCfg::RAMP_STEP;
  setTable({{0, 0.0}, {50, -6.0}, {97, -20.0}});
  makeTracks(100);
  runPowerRamping(*cfg, iDat, qDat);
  for (std::size_t k = 0; k < 50; ++k) {
    expectGain(k, 1.0);
  }
  for (std::size_t k = 50; k < 100; ++k) {
    expectGain(k, dBGain(-6.0));
  }
}

TEST_F(IqsynthRampFixture, EveryEntryDroppedOrEmptyTableLeavesSignal) {
  cfg->overSamplingRate = 2;
  cfg->sequenceLength = 10;
  cfg->powerRampTime = 4;
  cfg->powerRampFunc = iqSynthCfg::RAMP_LINEAR;
  for (int items : {0, 2}) {
    setTable({{8, -6.0}, {9, -12.0}});
    cfg->powerRampItem = items;
    makeTracks(20);
    EXPECT_EQ(runPowerRamping(*cfg, iDat, qDat), 0);
    for (std::size_t k = 0; k < 20; ++k) {
      expectGain(k, 1.0);
    }
  }
}

TEST_F(IqsynthRampFixture, StepJumpsAtTheStartSymbol) {
  cfg->overSamplingRate = 4;
  cfg->sequenceLength = 10;
  cfg->powerRampTime = 3;
  cfg->powerRampFunc = iqSynthCfg::RAMP_STEP;
  setTable({{2, -20.0}, {6, 0.0}});
  makeTracks(40);
  runPowerRamping(*cfg, iDat, qDat);
  for (std::size_t k = 0; k < 40; ++k) {
    expectGain(k, (k >= 8 && k < 24) ? 0.1 : 1.0);
  }
}

TEST_F(IqsynthRampFixture, UnorderedEntriesNeverScaleASampleTwice) {
  // The second ramp (start 5) ends before the first (start 20) has: it must
  // not rescale samples already shaped.
  cfg->overSamplingRate = 1;
  cfg->sequenceLength = 40;
  cfg->powerRampTime = 10;
  cfg->powerRampFunc = iqSynthCfg::RAMP_STEP;
  setTable({{20, -20.0}, {5, -6.0}});
  makeTracks(40);
  runPowerRamping(*cfg, iDat, qDat);
  for (std::size_t k = 0; k < 20; ++k) {
    expectGain(k, dBGain(-6.0));
  }
  for (std::size_t k = 20; k < 30; ++k) {
    expectGain(k, 0.1);
  }
  for (std::size_t k = 30; k < 40; ++k) {
    expectGain(k, dBGain(-6.0));
  }
}

TEST_F(IqsynthRampFixture, StaysWithinTracksShorterThanSampleLength) {
  // A sampleLength left by an earlier run must not make the ramp run off the tracks.
  cfg->overSamplingRate = 8;
  cfg->sequenceLength = 1000;
  cfg->sampleLength = 8000;
  cfg->powerRampTime = 2;
  cfg->powerRampFunc = iqSynthCfg::RAMP_COSINE;
  setTable({{1, -6.0}, {500, 0.0}});
  makeTracks(30);
  EXPECT_EQ(runPowerRamping(*cfg, iDat, qDat), 0);
  EXPECT_EQ(iDat.size(), 30u);
  expectGain(0, 1.0);
  expectGain(29, dBGain(-6.0));
}

class IqsynthRampShapeTest : public IqsynthRampFixture,
                             public ::testing::WithParamInterface<int> {};

TEST_P(IqsynthRampShapeTest, UnknownShapeIsRejected) {
  cfg->overSamplingRate = 2;
  cfg->sequenceLength = 10;
  cfg->powerRampTime = 1;
  cfg->powerRampFunc = static_cast<iqSynthCfg::powerRampFunc_t>(GetParam());
  setTable({{3, -6.0}});
  makeTracks(20);
  try {
    runPowerRamping(*cfg, iDat, qDat);
    FAIL() << "no exception for shape " << GetParam();
  } catch (const IqSynthError& e) {
    EXPECT_EQ(e.kind(), IqSynthError::Kind::Config);
    EXPECT_EQ(e.errNo(), IQSYNTH_ERR_POWER_RAMP_MODE);
    EXPECT_STREQ(e.what(), "Unknown power ramping mode");
  }
}

INSTANTIATE_TEST_SUITE_P(BadShapes, IqsynthRampShapeTest, ::testing::Values(0, 4, -1));

TEST_F(IqsynthRampFixture, TableSizeAndRampTimeAreChecked) {
  cfg->overSamplingRate = 2;
  cfg->sequenceLength = 10;
  cfg->powerRampFunc = iqSynthCfg::RAMP_LINEAR;
  makeTracks(20);
  for (int items : {-1, 33}) {
    cfg->powerRampItem = items;
    try {
      runPowerRamping(*cfg, iDat, qDat);
      FAIL() << "no exception for " << items << " entries";
    } catch (const IqSynthError& e) {
      EXPECT_EQ(e.kind(), IqSynthError::Kind::Config);
      EXPECT_EQ(e.errNo(), IQSYNTH_ERR_CFG_VALUE);
      EXPECT_THAT(std::string(e.what()), ::testing::HasSubstr("powerRampItem"));
    }
  }
  cfg->powerRampItem = 1;
  cfg->powerRampTime = std::nan("");
  EXPECT_EQ(thrownKind([&] { runPowerRamping(*cfg, iDat, qDat); }), IqSynthError::Kind::Config);
}

TEST_F(IqsynthRampFixture, FullTableOf32Entries) {
  cfg->overSamplingRate = 1;
  cfg->sequenceLength = 64;
  cfg->powerRampTime = 1;
  cfg->powerRampFunc = iqSynthCfg::RAMP_STEP;
  cfg->powerRampItem = 32;
  for (int k = 0; k < 32; ++k) {
    cfg->powerRampStartSymbol[k] = 2 * k;
    cfg->powerRampAtten[k] = -k;
  }
  makeTracks(64);
  runPowerRamping(*cfg, iDat, qDat);
  for (std::size_t k = 0; k < 64; ++k) {
    expectGain(k, dBGain(-static_cast<double>(k / 2)));
  }
}

}  // namespace
