// Parameter report: every item in order, number formats, the user list, the
// ramp table and carrier lines, and what is left out of it.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "iqSynthCfg.h"

using namespace arbsuite::iqsynth;  // the library's internals under test

namespace {

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    out.push_back(line);
  }
  return out;
}

std::unique_ptr<iqSynthCfg> filledConfig() {
  auto cfg = std::make_unique<iqSynthCfg>("report test");
  cfg->installPath = "/opt/iq";
  cfg->workingMode = iqSynthCfg::WORKING_MODE_DIGITAL;
  cfg->sequenceLength = 100;
  cfg->dataSrc = iqSynthCfg::DATA_SRC_PRBS;
  cfg->prbs = iqSynthCfg::PRBS15;
  cfg->dataFileList = "list.txt";
  cfg->ctrlFileList = "ctrl.txt";
  cfg->usrListSize = 0;
  cfg->dataFormatIsHex = true;
  cfg->symbolRate = 1000000;
  cfg->codingType = iqSynthCfg::CODING_GRAY;
  cfg->digiModulatingType = iqSynthCfg::MOD_QPSK;
  cfg->usrConstelMap = {{1.0, -0.5}, {0.25, 2.5e-05}};
  cfg->maxFskDev = 50000;
  cfg->maxAskDepth = 0.8;
  cfg->shapingFilterType = iqSynthCfg::FILTER_ROOT_RAISED_COSINE;
  cfg->filterLength = 16;
  cfg->overSamplingRate = 8;
  cfg->AlphaBt = 0.35;
  cfg->fskPhaseCorrectEnable = false;
  cfg->powerRampEnable = true;
  cfg->powerRampFunc = iqSynthCfg::RAMP_COSINE;
  cfg->powerRampTime = 2.5;
  cfg->powerRampItem = 2;
  cfg->powerRampStartSymbol[0] = 0;
  cfg->powerRampAtten[0] = -20;
  cfg->powerRampStartSymbol[1] = 40;
  cfg->powerRampAtten[1] = 0.5;
  cfg->sigAddNoiseIsEnable = true;
  cfg->noiseSampleRate = 8e6;
  cfg->noiseSeqLength = 4096;
  cfg->noiseSystemBandwidth = 1.2e6;
  cfg->bandWidthRatio = 1.5;
  cfg->noiseBandWidth = 1234567;
  cfg->noiseLvlSysBW = -3.25;
  cfg->noiseLvlTotalBW = -1.125;
  cfg->sigLvlPep = 0.81;
  cfg->noiseCNR = 20;
  cfg->carrierLvldB = -3.01;
  cfg->sigLvldB = -2;
  cfg->mccwCarrierItem = 2;
  cfg->mccwCarrierSpacing = 10000;
  cfg->mccwCarrierAmp[0] = 0;
  cfg->mccwCarrierAmp[1] = -6;
  cfg->mccwCarrierPhase[0] = 0.5;
  cfg->mccwCarrierPhase[1] = 3.14159265;
  cfg->mccwCarrierEn[0] = 1;
  cfg->mccwCarrierEn[1] = 0;
  cfg->mccwOptCrestFactorEn = 1;
  cfg->mccwOptCrestFactorMode = 9;  // not part of the report
  cfg->filterTap = 129;             // results and work fields are not reported either
  cfg->sampleOffset = 128;
  return cfg;
}

TEST(IqsynthParaReport, FilledConfigurationLineByLine) {
  auto cfg = filledConfig();
  cfg->genParaMsg();
  const std::vector<std::string> expected = {
      "installPath : /opt/iq",
      "IQDevType : 0",
      "workingMode : 1",
      "sequenceLenth : 100",
      "dataSrc : 4",
      "prbs : 15",
      "dataFileList : list.txt",
      "ctrlFileList : ctrl.txt",
      "usrListSize : 0",
      "usrList is :",
      "dataFormatIsHex : 1",
      "symbolRate : 1e+06",
      "codingType : 5",
      "digiModulatingType : 589826",
      "The user modulating constel map is ",
      "0th is (1,-0.5)",
      "1th is (0.25,2.5e-05)",
      "maxFskDev : 50000",
      "maxAskDepth : 0.8",
      "shapingFilterType : 7",
      "filterLengh : 16",
      "overSamplingRate : 8",
      "AlphaBt : 0.35",
      "fskPhaseCorrectEnable : 0",
      "powerRampEnable : 1",
      "powerRampFunc : 2",
      "powerRampTime : 2.5",
      "powerRampItem : 2",
      "powerRampTable  is : ",
      "0th Start Symbol is :0 and atten is : -20",
      "1th Start Symbol is :40 and atten is : 0.5",
      "sigAddNoiseIsEnable : 1",
      "noiseSampleRate : 8e+06",
      "noiseSeqLength : 4096",
      "noiseSystemBandwidth : 1.2e+06",
      "bandWidthRatio : 1.5",
      "noiseBandWidth : 1.23457e+06",
      "noiseLvlSysBW : -3.25",
      "noiseLvlTotalBW : -1.125",
      "sigLvlPep : 0.81",
      "noiseCNR : 20",
      "carrierLvldB : -3.01",
      "sigLvldB : -2",
      "mccwCarrierItem : 2",
      "mccwCarrierSpacing : 10000",
      "mccwCarrierAmp[0] is : 0",
      "mccwCarrierAmp[1] is : -6",
      "mccwCarrierPhase[0] is : 0.5",
      "mccwCarrierPhase[1] is : 3.14159",
      "mccwCarrierEn[0] is : 1",
      "mccwCarrierEn[1] is : 0",
      "mccwOptCrestFactorEn is : 1",
  };
  EXPECT_EQ(lines(cfg->paraMsg), expected);
  // The last item ends with a line break, so the log entry leaves an empty line.
  ASSERT_FALSE(cfg->paraMsg.empty());
  EXPECT_EQ(cfg->paraMsg.back(), '\n');
}

TEST(IqsynthParaReport, UserListShowsExactlyItsCountOfCharacters) {
  auto cfg = filledConfig();
  const std::string pattern = "10110011";
  std::copy(pattern.begin(), pattern.end(), cfg->usrList);
  cfg->usrListSize = 5;
  cfg->genParaMsg();
  const auto got = lines(cfg->paraMsg);
  ASSERT_GT(got.size(), 10u);
  EXPECT_EQ(got[8], "usrListSize : 5");
  EXPECT_EQ(got[9], "usrList is :10110");
}

TEST(IqsynthParaReport, CountsBeyondTheCapacitiesAreClampedAndRebuildReplaces) {
  auto cfg = filledConfig();
  cfg->usrListSize = 100000;
  cfg->powerRampItem = 1000;
  cfg->mccwCarrierItem = -5;
  std::fill(std::begin(cfg->usrList), std::end(cfg->usrList), '1');
  cfg->genParaMsg();
  const auto got = lines(cfg->paraMsg);
  EXPECT_EQ(got[9], "usrList is :" + std::string(2048, '1'));
  std::size_t rampRows = 0;
  std::size_t carrierLines = 0;
  for (const auto& line : got) {
    rampRows += line.find("th Start Symbol is :") != std::string::npos;
    carrierLines += line.rfind("mccwCarrier", 0) == 0 && line.find("] is : ") != std::string::npos;
  }
  EXPECT_EQ(rampRows, 32u);
  EXPECT_EQ(carrierLines, 0u);

  // A second report replaces the first instead of appending to it.
  const std::size_t first = cfg->paraMsg.size();
  cfg->genParaMsg();
  EXPECT_EQ(cfg->paraMsg.size(), first);
}

TEST(IqsynthParaReport, ConstructorGreetsWithItsName) {
  testing::internal::CaptureStdout();
  auto cfg = std::make_unique<iqSynthCfg>("unit");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "start iqsynth from unit\n");
  EXPECT_EQ(cfg->sequenceLength, 0);
  EXPECT_EQ(cfg->digiModulatingType, 0);
  EXPECT_TRUE(cfg->usrConstelMap.empty());
  EXPECT_EQ(cfg->usrFilterCoef[4095], 0.0);
  EXPECT_EQ(cfg->mccwCarrierEn[8191], 0);
}

}  // namespace
