// The configuration record: construction of the global instance, the global
// sample tracks and the parameter report written at the start of every run.
#include "iqSynthCfg.h"

#include <iostream>

#include "iqSynthLog.h"

arbsuite::iqsynth::iqSynthCfg gIqSynthCfg("global");
std::valarray<double> iMapDat;
std::valarray<double> qMapDat;
std::valarray<double> mapDat;

namespace arbsuite::iqsynth {

iqSynthCfg::iqSynthCfg(const char* name) {
  if (stdoutEnabled()) {
    std::cout << "start iqsynth from " << name << std::endl;
  }
}

iqSynthCfg::~iqSynthCfg() = default;

void iqSynthCfg::genParaMsg() {
  std::string& m = paraMsg;
  m.clear();
  m += "installPath : " + installPath + "\n";
  m += "IQDevType : " + to_string(IQDevType) + "\n";
  m += "workingMode : " + to_string(workingMode) + "\n";
  m += "sequenceLenth : " + to_string(sequenceLength) + "\n";
  m += "dataSrc : " + to_string(dataSrc) + "\n";
  m += "prbs : " + to_string(prbs) + "\n";
  m += "dataFileList : " + dataFileList + "\n";
  m += "ctrlFileList : " + ctrlFileList + "\n";
  m += "usrListSize : " + to_string(usrListSize) + "\n";
  m += "usrList is :";
  m.append(usrList, static_cast<std::size_t>(clampCount(usrListSize, kMaxUsrListSize)));
  m += "\n";
  m += "dataFormatIsHex : " + to_string(dataFormatIsHex) + "\n";
  m += "symbolRate : " + to_string(symbolRate) + "\n";
  m += "codingType : " + to_string(codingType) + "\n";
  m += "digiModulatingType : " + to_string(digiModulatingType) + "\n";
  m += "The user modulating constel map is \n";
  for (std::size_t i = 0; i < usrConstelMap.size(); ++i) {
    m += to_string(i) + "th is " + to_string(usrConstelMap[i]) + "\n";
  }
  m += "maxFskDev : " + to_string(maxFskDev) + "\n";
  m += "maxAskDepth : " + to_string(maxAskDepth) + "\n";
  m += "shapingFilterType : " + to_string(shapingFilterType) + "\n";
  m += "filterLengh : " + to_string(filterLength) + "\n";
  m += "overSamplingRate : " + to_string(overSamplingRate) + "\n";
  m += "AlphaBt : " + to_string(AlphaBt) + "\n";
  m += "fskPhaseCorrectEnable : " + to_string(fskPhaseCorrectEnable) + "\n";
  m += "powerRampEnable : " + to_string(powerRampEnable) + "\n";
  m += "powerRampFunc : " + to_string(powerRampFunc) + "\n";
  m += "powerRampTime : " + to_string(powerRampTime) + "\n";
  m += "powerRampItem : " + to_string(powerRampItem) + "\n";
  m += "powerRampTable  is : \n";
  const int rampRows = clampCount(powerRampItem, kMaxPowerRampItems);
  for (int j = 0; j < rampRows; ++j) {
    m += to_string(j) + "th Start Symbol is :" + to_string(powerRampStartSymbol[j]) +
         " and atten is : " + to_string(powerRampAtten[j]) + "\n";
  }
  m += "sigAddNoiseIsEnable : " + to_string(sigAddNoiseIsEnable) + "\n";
  m += "noiseSampleRate : " + to_string(noiseSampleRate) + "\n";
  m += "noiseSeqLength : " + to_string(noiseSeqLength) + "\n";
  m += "noiseSystemBandwidth : " + to_string(noiseSystemBandwidth) + "\n";
  m += "bandWidthRatio : " + to_string(bandWidthRatio) + "\n";
  m += "noiseBandWidth : " + to_string(noiseBandWidth) + "\n";
  m += "noiseLvlSysBW : " + to_string(noiseLvlSysBW) + "\n";
  m += "noiseLvlTotalBW : " + to_string(noiseLvlTotalBW) + "\n";
  m += "sigLvlPep : " + to_string(sigLvlPep) + "\n";
  m += "noiseCNR : " + to_string(noiseCNR) + "\n";
  m += "carrierLvldB : " + to_string(carrierLvldB) + "\n";
  m += "sigLvldB : " + to_string(sigLvldB) + "\n";
  m += "mccwCarrierItem : " + to_string(mccwCarrierItem) + "\n";
  m += "mccwCarrierSpacing : " + to_string(mccwCarrierSpacing) + "\n";
  const int carriers = clampCount(mccwCarrierItem, kMaxMccwCarriers);
  for (int k = 0; k < carriers; ++k) {
    m += "mccwCarrierAmp[" + to_string(k) + "] is : " + to_string(mccwCarrierAmp[k]) + "\n";
  }
  for (int k = 0; k < carriers; ++k) {
    m += "mccwCarrierPhase[" + to_string(k) + "] is : " + to_string(mccwCarrierPhase[k]) + "\n";
  }
  for (int k = 0; k < carriers; ++k) {
    m += "mccwCarrierEn[" + to_string(k) +
         "] is : " + to_string(static_cast<int>(mccwCarrierEn[k])) + "\n";
  }
  m += "mccwOptCrestFactorEn is : " + to_string(mccwOptCrestFactorEn) + "\n";
}

}  // namespace arbsuite::iqsynth
