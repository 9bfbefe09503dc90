// Exported configuration interface: setter/getter pairs, the user constellation
// setters, bounded array copies and read-back, and the constellation report.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <iterator>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

#include "iqSynthCfg.h"
#include "iqsynth.h"

using namespace arbsuite::iqsynth;  // the library's internals under test

// iqsynth_header_c.c: the public header compiled as C, its values checked there at compile time.
extern "C" int iqsynthHeaderCompiledAsC(void);

namespace {

constexpr double kSentinel = -12345.0;

struct IntField {
  const char* name;
  void (*set)(int);
  int (*get)();
};

class IqsynthIntSetterGetter : public ::testing::TestWithParam<IntField> {};

TEST_P(IqsynthIntSetterGetter, StoresAnyValueUnchecked) {
  const IntField& f = GetParam();
  for (int value : {0, 1, -7, 0x7FFFFFFF, std::numeric_limits<int>::min(), 0xE0004}) {
    f.set(value);
    EXPECT_EQ(f.get(), value) << f.name;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cfg, IqsynthIntSetterGetter,
    ::testing::Values(IntField{"codingType", setCodingType, getCodingType},
                      IntField{"dataSrc", setDataSrc, getDataSrc},
                      IntField{"digiModulatingType", setDigiModulatingType, getDigiModulatingType},
                      IntField{"filterLengh", setFilterLengh, getFilterLengh},
                      IntField{"overSamplingRate", setOverSamplingRate, getOverSamplingRate},
                      IntField{"prbs", setPrbs, getPrbs},
                      IntField{"sequenceLenth", setSequenceLenth, getSequenceLenth},
                      IntField{"shapingFilterType", setShapingFilterType, getShapingFilterType},
                      IntField{"usrListSize", setUsrListSize, getUsrListSize},
                      IntField{"workingMode", setWorkingMode, getWorkingMode},
                      IntField{"powerRampFunc", setPowerRampFunc, getPowerRampFunc}),
    [](const auto& info) { return std::string(info.param.name); });

struct DoubleField {
  const char* name;
  void (*set)(double);
  double (*get)();
};

class IqsynthDoubleSetterGetter : public ::testing::TestWithParam<DoubleField> {};

TEST_P(IqsynthDoubleSetterGetter, StoresAnyValueUnchecked) {
  const DoubleField& f = GetParam();
  for (double value : {0.0, 0.35, -1e6, 2.5e-05, std::numeric_limits<double>::infinity()}) {
    f.set(value);
    EXPECT_EQ(f.get(), value) << f.name;
  }
  f.set(std::nan(""));
  EXPECT_TRUE(std::isnan(f.get())) << f.name;
}

INSTANTIATE_TEST_SUITE_P(Cfg, IqsynthDoubleSetterGetter,
                         ::testing::Values(DoubleField{"AlphaBt", setAlphaBt, getAlphaBt},
                                           DoubleField{"maxFskDev", setMaxFskDev, getMaxFskDev},
                                           DoubleField{"maxAskDepth", setMaxAskDepth,
                                                       getMaxAskDepth},
                                           DoubleField{"symbolRate", setSymbolRate, getSymbolRate}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(IqsynthCfgSetters, BoolFieldsRoundTrip) {
  setDataFormatIsHex(true);
  EXPECT_TRUE(isDataFormatIsHex());
  setDataFormatIsHex(false);
  EXPECT_FALSE(isDataFormatIsHex());
  setFskPhaseCorrectEnable(true);
  EXPECT_TRUE(isFskPhaseCorrectEnable());
  setFskPhaseCorrectEnable(false);
  EXPECT_FALSE(isFskPhaseCorrectEnable());
  setPowerRampEnable(true);
  EXPECT_TRUE(isPowerRampEnable());
  setPowerRampEnable(false);
  EXPECT_FALSE(isPowerRampEnable());
}

TEST(IqsynthCfgSetters, NoiseEnableStoresNonZeroAsTrue) {
  setSigAddNoiseIsEnable(5);
  EXPECT_TRUE(gIqSynthCfg.sigAddNoiseIsEnable);
  setSigAddNoiseIsEnable(-1);
  EXPECT_TRUE(gIqSynthCfg.sigAddNoiseIsEnable);
  setSigAddNoiseIsEnable(0);
  EXPECT_FALSE(gIqSynthCfg.sigAddNoiseIsEnable);
}

TEST(IqsynthCfgSetters, SettersWithoutGetterStoreIntoTheirFields) {
  setPowerRampItem(3);
  setNoiseSampleRate(1.5e6);
  setNoiseSeqLength(4000);
  setNoiseSystemBandwidth(2e6);
  setBandWidthRatio(1.25);
  setNoiseCNR(-3.5);
  setMccwCarrierItem(17);
  setMccwCarrierSpacing(10e3);
  setMccwOptCrestFactorEn(1);
  setMccwOptCrestFactorMode(4);
  EXPECT_EQ(gIqSynthCfg.powerRampItem, 3);
  EXPECT_EQ(gIqSynthCfg.noiseSampleRate, 1.5e6);
  EXPECT_EQ(gIqSynthCfg.noiseSeqLength, 4000);
  EXPECT_EQ(gIqSynthCfg.noiseSystemBandwidth, 2e6);
  EXPECT_EQ(gIqSynthCfg.bandWidthRatio, 1.25);
  EXPECT_EQ(gIqSynthCfg.noiseCNR, -3.5);
  EXPECT_EQ(gIqSynthCfg.mccwCarrierItem, 17);
  EXPECT_EQ(gIqSynthCfg.mccwCarrierSpacing, 10e3);
  EXPECT_EQ(gIqSynthCfg.mccwOptCrestFactorEn, 1);
  EXPECT_EQ(gIqSynthCfg.mccwOptCrestFactorMode, 4);
}

TEST(IqsynthCfgSetters, TextSettersReplaceTheWholeText) {
  setInstallPath("/opt/long/install/path");
  setInstallPath("/x");
  EXPECT_EQ(gIqSynthCfg.installPath, "/x");
  setDataFileList("data.txt");
  EXPECT_EQ(gIqSynthCfg.dataFileList, "data.txt");
  setCtrlFileList("ctrl");
  EXPECT_EQ(gIqSynthCfg.ctrlFileList, "ctrl");
  setIqFilePathName("iq.bin");
  EXPECT_EQ(gIqSynthCfg.iqFilePathName, "iq.bin");
  setTmpFilePathName("tmp.bin");
  EXPECT_EQ(gIqSynthCfg.tmpFilePathName, "tmp.bin");
  setTmpFilePathName(nullptr);  // no crash, empty text
  EXPECT_EQ(gIqSynthCfg.tmpFilePathName, "");
}

TEST(IqsynthCfgSetters, PowerRampTimeGetterTruncatesTowardZero) {
  setPowerRampTime(2.9);
  EXPECT_EQ(getPowerRampTime(), 2);
  EXPECT_EQ(gIqSynthCfg.powerRampTime, 2.9);
  setPowerRampTime(-2.9);
  EXPECT_EQ(getPowerRampTime(), -2);
  // Values an int cannot hold saturate instead of being undefined.
  setPowerRampTime(1e20);
  EXPECT_EQ(getPowerRampTime(), std::numeric_limits<int>::max());
  setPowerRampTime(-1e20);
  EXPECT_EQ(getPowerRampTime(), std::numeric_limits<int>::min());
  setPowerRampTime(std::nan(""));
  EXPECT_EQ(getPowerRampTime(), 0);
}

TEST(IqsynthCfgLimits, ReportTheCapacities) {
  EXPECT_EQ(getMaxFilterLen(), 128);
  EXPECT_EQ(getMaxOsr(), 32);
  EXPECT_EQ(getMaxUsrListSize(), 2048);
  EXPECT_EQ(getMaxFilterLen() * getMaxOsr(),
            static_cast<int>(std::size(gIqSynthCfg.usrFilterCoef)));
  EXPECT_EQ(getMaxUsrListSize(), static_cast<int>(std::size(gIqSynthCfg.usrList)));
}

TEST(IqsynthCfgPublicHeader, CompilesAsCWithTheDocumentedValues) {
  EXPECT_EQ(iqsynthHeaderCompiledAsC(), IQSYNTH_ERR_CFG_VALUE);
}

TEST(IqsynthCfgUserConstellation, SymbolItemOrsLog2OfTheSize) {
  setDigiModulatingType(iqSynthCfg::MOD_USER);
  setUsrModulatingSymbolItem(16);
  EXPECT_EQ(getDigiModulatingType(), iqSynthCfg::MOD_USER + 4);
  setUsrModulatingSymbolItem(4);
  EXPECT_EQ(getDigiModulatingType(), iqSynthCfg::MOD_USER + 6);
  for (int n : {1, 0, -8}) {
    setUsrModulatingSymbolItem(n);
    EXPECT_EQ(getDigiModulatingType(), iqSynthCfg::MOD_USER + 6) << n;
  }
  setDigiModulatingType(iqSynthCfg::MOD_USER);
  setUsrModulatingSymbolItem(255);  // floor(log2 255) = 7
  EXPECT_EQ(getDigiModulatingType(), iqSynthCfg::MOD_USER + 7);
  setDigiModulatingType(iqSynthCfg::MOD_USER);
  setUsrModulatingSymbolItem(std::numeric_limits<int>::max());
  EXPECT_EQ(getDigiModulatingType(), iqSynthCfg::MOD_USER + 30);
}

TEST(IqsynthCfgUserConstellation, MapReadsTwoToTheKPointsRealFirst) {
  setDigiModulatingType(iqSynthCfg::MOD_USER + 2);
  const std::vector<double> points = {1, 2, 3, 4, 5, 6, 7, 8};
  setUsrModulatingConstelMap(points.data());
  ASSERT_EQ(gIqSynthCfg.usrConstelMap.size(), 4u);
  EXPECT_EQ(gIqSynthCfg.usrConstelMap[0], std::complex<double>(1, 2));
  EXPECT_EQ(gIqSynthCfg.usrConstelMap[3], std::complex<double>(7, 8));

  // A second call replaces the map.
  setDigiModulatingType(iqSynthCfg::MOD_USER + 1);
  setUsrModulatingConstelMap(points.data() + 4);
  ASSERT_EQ(gIqSynthCfg.usrConstelMap.size(), 2u);
  EXPECT_EQ(gIqSynthCfg.usrConstelMap[0], std::complex<double>(5, 6));
}

TEST(IqsynthCfgUserConstellation, MapAsksForAtMost256Points) {
  // The source holds exactly 256 points; a 9- or 15-bit type must not read past it.
  std::vector<double> points(2 * 256);
  for (std::size_t i = 0; i < points.size(); ++i) {
    points[i] = static_cast<double>(i);
  }
  for (int bits : {9, 15}) {
    setDigiModulatingType(iqSynthCfg::MOD_USER + bits);
    setUsrModulatingConstelMap(points.data());
    ASSERT_EQ(gIqSynthCfg.usrConstelMap.size(), 256u) << bits;
    EXPECT_EQ(gIqSynthCfg.usrConstelMap[255], std::complex<double>(510, 511));
  }
  // 16 bits and more: the 16-bit size is 0, nothing is read.
  setDigiModulatingType(iqSynthCfg::MOD_USER + 16);
  setUsrModulatingConstelMap(points.data());
  EXPECT_TRUE(gIqSynthCfg.usrConstelMap.empty());
}

TEST(IqsynthCfgArrays, ShapingTapsUseTheCountsSetBefore) {
  std::vector<double> taps(4096 + 100);
  for (std::size_t i = 0; i < taps.size(); ++i) {
    taps[i] = 1.0 + static_cast<double>(i);
  }
  std::fill(std::begin(gIqSynthCfg.usrFilterCoef), std::end(gIqSynthCfg.usrFilterCoef), kSentinel);
  setOverSamplingRate(0);
  setFilterLengh(0);
  setShapingFilterCoef(taps.data());  // counts still zero: nothing copied
  EXPECT_EQ(gIqSynthCfg.usrFilterCoef[0], kSentinel);

  setOverSamplingRate(2);
  setFilterLengh(3);
  setShapingFilterCoef(taps.data());
  EXPECT_EQ(gIqSynthCfg.usrFilterCoef[5], 6.0);
  EXPECT_EQ(gIqSynthCfg.usrFilterCoef[6], kSentinel);

  // Beyond the capacity: at most 4096 taps.
  setOverSamplingRate(33);
  setFilterLengh(128);
  setShapingFilterCoef(taps.data());
  EXPECT_EQ(gIqSynthCfg.usrFilterCoef[4095], 4096.0);

  // Negative counts copy nothing, even when their product is positive.
  std::fill(std::begin(gIqSynthCfg.usrFilterCoef), std::end(gIqSynthCfg.usrFilterCoef), kSentinel);
  setOverSamplingRate(-2);
  setFilterLengh(-3);
  setShapingFilterCoef(taps.data());
  EXPECT_EQ(gIqSynthCfg.usrFilterCoef[0], kSentinel);
}

TEST(IqsynthCfgArrays, UserListCopiesAtMostItsCapacity) {
  std::string big(5000, 'x');
  big[2047] = 'y';
  setUsrListSize(5000);
  setUsrList(big.c_str());
  EXPECT_EQ(gIqSynthCfg.usrList[2047], 'y');
  EXPECT_EQ(getUserList(), gIqSynthCfg.usrList);

  setUsrListSize(3);
  setUsrList("abcdef");
  EXPECT_EQ(std::string(getUserList(), 4), "abcx");  // only three characters replaced

  setUsrListSize(-1);
  setUsrList("zzzz");
  EXPECT_EQ(getUserList()[0], 'a');
}

TEST(IqsynthCfgArrays, RampAndCarrierArraysClampToTheirCapacity) {
  std::vector<int> starts(40);
  std::vector<double> levels(40);
  for (int i = 0; i < 40; ++i) {
    starts[static_cast<std::size_t>(i)] = 10 * i;
    levels[static_cast<std::size_t>(i)] = -0.5 * i;
  }
  setPowerRampItem(40);
  setPowerRampStartSymbol(starts.data());
  setPowerRampAttenuation(levels.data());
  EXPECT_EQ(gIqSynthCfg.powerRampStartSymbol[31], 310);
  EXPECT_EQ(gIqSynthCfg.powerRampAtten[31], -15.5);

  std::vector<double> amps(9000, 1.5);
  std::vector<double> phases(9000, 0.25);
  std::vector<char> enables(9000, 1);
  setMccwCarrierItem(9000);
  setMccwCarrierSAmp(amps.data());
  setMccwCarrierPhase(phases.data());
  setMccwCarrierEn(enables.data());
  EXPECT_EQ(gIqSynthCfg.mccwCarrierAmp[8191], 1.5);
  EXPECT_EQ(gIqSynthCfg.mccwCarrierPhase[8191], 0.25);
  EXPECT_EQ(gIqSynthCfg.mccwCarrierEn[8191], 1);

  setMccwCarrierItem(2);
  amps[0] = -3.0;
  setMccwCarrierSAmp(amps.data());
  EXPECT_EQ(gIqSynthCfg.mccwCarrierAmp[0], -3.0);
  EXPECT_EQ(gIqSynthCfg.mccwCarrierAmp[2], 1.5);  // untouched beyond the count
}

TEST(IqsynthCfgReadBack, FilterTapsAndFlagsCopyAtMostTheirCapacity) {
  for (int i = 0; i < iqSynthCfg::kMaxReportedTaps; ++i) {
    gIqSynthCfg.filterCoef[i] = i;
  }
  gIqSynthCfg.filterTap = 33;
  EXPECT_EQ(getFilterTap(), 33);

  std::vector<double> taps(5000, kSentinel);
  getFilterCoef(taps.data(), 3);
  EXPECT_EQ(taps[2], 2.0);
  EXPECT_EQ(taps[3], kSentinel);
  getFilterCoef(taps.data(), 5000);
  EXPECT_EQ(taps[4096], 4096.0);
  EXPECT_EQ(taps[4097], kSentinel);
  std::fill(taps.begin(), taps.end(), kSentinel);
  getFilterCoef(taps.data(), -5);
  EXPECT_EQ(taps[0], kSentinel);

  for (int i = 0; i < iqSynthCfg::kMaxConstelPoints; ++i) {
    gIqSynthCfg.symbolMap[i] = static_cast<char>(i % 2);
  }
  std::vector<char> flags(300, 7);
  getSymbolMap(flags.data(), 300);
  EXPECT_EQ(flags[255], 1);
  EXPECT_EQ(flags[256], 7);
  std::fill(flags.begin(), flags.end(), 7);
  getSymbolMap(flags.data(), -1);
  EXPECT_EQ(flags[0], 7);
}

TEST(IqsynthCfgReadBack, LevelAndMultiCarrierResults) {
  gIqSynthCfg.noiseBandWidth = 1.0;
  gIqSynthCfg.noiseLvlSysBW = 2.0;
  gIqSynthCfg.noiseLvlTotalBW = 3.0;
  gIqSynthCfg.sigLvlPep = 4.0;
  gIqSynthCfg.carrierLvldB = 5.0;
  gIqSynthCfg.sigLvldB = 6.0;
  gIqSynthCfg.mccwCarrierSample = 7;
  gIqSynthCfg.mccwCarrierSampleFreq = 8.0;
  EXPECT_EQ(getNoiseBandWidth(), 1.0);
  EXPECT_EQ(getNoiseLvlSysBW(), 2.0);
  EXPECT_EQ(getNoiseLvlTotalBW(), 3.0);
  EXPECT_EQ(getSigLvlPep(), 4.0);
  EXPECT_EQ(getCarrierLvldB(), 5.0);
  EXPECT_EQ(getSigLvldB(), 6.0);
  EXPECT_EQ(getMccwCarrierSample(), 7);
  EXPECT_EQ(getMccwCarrierSampleFreq(), 8.0);
}

// Reads the constellation of a type into (re, im) points; the count is returned
// separately since "no constellation" also answers 1.
std::vector<std::complex<double>> constelOf(int type, int& count) {
  setDigiModulatingType(type);
  std::vector<double> buf(2 * 256 + 2, kSentinel);
  count = getConstelMap(buf.data());
  EXPECT_EQ(buf[2 * 256], kSentinel) << "wrote past 256 points";
  std::vector<std::complex<double>> points;
  for (int i = 0; i < count; ++i) {
    points.emplace_back(buf[2 * static_cast<std::size_t>(i)],
                        buf[2 * static_cast<std::size_t>(i) + 1]);
  }
  return points;
}

void expectNear(std::complex<double> got, std::complex<double> want, const std::string& what) {
  EXPECT_NEAR(got.real(), want.real(), 1e-12) << what;
  EXPECT_NEAR(got.imag(), want.imag(), 1e-12) << what;
}

TEST(IqsynthCfgConstelMap, PhaseListsForRotatingAndDifferentialTypes) {
  const double pi = std::numbers::pi;
  int count = 0;
  for (int type :
       {static_cast<int>(iqSynthCfg::MOD_EDGE_8PSK), static_cast<int>(iqSynthCfg::MOD_PI8_D8PSK)}) {
    const auto points = constelOf(type, count);
    ASSERT_EQ(count, 16);
    for (int k = 0; k < 16; ++k) {
      expectNear(points[static_cast<std::size_t>(k)], std::polar(1.0, k * pi / 8),
                 "16-phase " + std::to_string(k));
    }
  }
  const auto points = constelOf(iqSynthCfg::MOD_PI4_DQPSK, count);
  ASSERT_EQ(count, 8);
  for (int k = 0; k < 8; ++k) {
    expectNear(points[static_cast<std::size_t>(k)], std::polar(1.0, k * pi / 4),
               "8-phase " + std::to_string(k));
  }
}

TEST(IqsynthCfgConstelMap, OqpskReportsTheQpskPoints) {
  const double a = std::sqrt(0.5);
  int count = 0;
  const auto points = constelOf(iqSynthCfg::MOD_OQPSK, count);
  ASSERT_EQ(count, 4);
  expectNear(points[0], {a, a}, "0");
  expectNear(points[1], {-a, a}, "1");
  expectNear(points[2], {a, -a}, "2");
  expectNear(points[3], {-a, -a}, "3");
}

TEST(IqsynthCfgConstelMap, FskLevelsAndTableSizes) {
  int count = 0;
  const auto fsk4 = constelOf(iqSynthCfg::MOD_FSK4, count);
  ASSERT_EQ(count, 4);
  expectNear(fsk4[1], {-1.0 / 3.0, 0}, "4FSK level 1");
  expectNear(fsk4[3], {1.0, 0}, "4FSK level 3");
  const std::vector<std::pair<int, int>> sizes = {
      {iqSynthCfg::MOD_QAM16, 16},   {iqSynthCfg::MOD_QAM32, 32},   {iqSynthCfg::MOD_QAM64, 64},
      {iqSynthCfg::MOD_QAM128, 128}, {iqSynthCfg::MOD_QAM256, 256}, {iqSynthCfg::MOD_FSK2, 2},
      {iqSynthCfg::MOD_FSK8, 8},     {iqSynthCfg::MOD_FSK16, 16},   {iqSynthCfg::MOD_BPSK, 2},
      {iqSynthCfg::MOD_QPSK, 4},     {iqSynthCfg::MOD_8PSK, 8},     {iqSynthCfg::MOD_ASK, 2}};
  for (const auto& [type, size] : sizes) {
    constelOf(type, count);
    EXPECT_EQ(count, size) << std::hex << type;
  }
}

TEST(IqsynthCfgConstelMap, UserTypeReportsTheUserMap) {
  setDigiModulatingType(iqSynthCfg::MOD_USER + 2);
  const std::vector<double> user = {0.1, 0.2, -0.3, 0.4, 0.5, -0.6, -0.7, -0.8};
  setUsrModulatingConstelMap(user.data());
  int count = 0;
  const auto points = constelOf(iqSynthCfg::MOD_USER + 2, count);
  ASSERT_EQ(count, 4);
  EXPECT_EQ(points[2], std::complex<double>(0.5, -0.6));
  // Any member of the user family reports the same map.
  constelOf(iqSynthCfg::MOD_USER + 7, count);
  EXPECT_EQ(count, 4);
}

TEST(IqsynthCfgConstelMap, TypesWithoutConstellationAnswerOneAndWriteNothing) {
  for (int type : {0, 0x10002, 0x50002, 0x90004, 0xA0001, -1}) {
    setDigiModulatingType(type);
    std::vector<double> buf(4, kSentinel);
    EXPECT_EQ(getConstelMap(buf.data()), 1) << std::hex << type;
    EXPECT_EQ(buf[0], kSentinel);
  }
}

}  // namespace
