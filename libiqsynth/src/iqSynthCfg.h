// The synthesis configuration record iqSynthCfg, its one global instance and the
// global sample tracks. Every stage of a run reads and writes these by name.
#pragma once

#include <complex>
#include <string>
#include <valarray>
#include <vector>

#include "iqsynth.h"

class iqSynthCfg {
 public:
  // Capacities of the fixed arrays. Counts beyond them are clamped wherever an
  // array is copied or read.
  static constexpr int kMaxFilterLen = 128;                       // filter length in symbols
  static constexpr int kMaxOsr = 32;                              // samples per symbol
  static constexpr int kMaxUsrListSize = 2048;                    // user pattern characters
  static constexpr int kMaxFilterTaps = kMaxFilterLen * kMaxOsr;  // 4096 user taps
  static constexpr int kMaxReportedTaps =
      kMaxFilterTaps + 1;                         // 4097: even tap counts report one more
  static constexpr int kMaxPowerRampItems = 32;   // ramp table rows
  static constexpr int kMaxMccwCarriers = 8192;   // multi-carrier tones
  static constexpr int kMaxConstelPoints = 256;   // constellation points, symbolMap flags
  static constexpr int kMaxUsrBitsPerSymbol = 8;  // 2^8 = 256 user points

  // Device type: no named values; 0 selects the default device rates.
  enum IQDevType_t : int {};

  enum workingMode_t : int {
    WORKING_MODE_DIGITAL = 1,
    WORKING_MODE_AWGN = 3,
    WORKING_MODE_MCCW = 5,
  };

  // Packed value: family in bits 16 and up, bits per symbol (log2 M) below.
  enum DigiModulatingType_t : int {
    MOD_FAMILY_QAM = 0x00000,
    MOD_QAM16 = 0x00004,
    MOD_QAM32 = 0x00005,
    MOD_QAM64 = 0x00006,
    MOD_QAM128 = 0x00007,
    MOD_QAM256 = 0x00008,
    MOD_FAMILY_FSK = 0x30000,
    MOD_FSK2 = 0x30001,
    MOD_FSK4 = 0x30002,
    MOD_FSK8 = 0x30003,
    MOD_FSK16 = 0x30004,
    MOD_FAMILY_PSK = 0x90000,
    MOD_BPSK = 0x90001,
    MOD_QPSK = 0x90002,
    MOD_8PSK = 0x90003,
    MOD_FAMILY_DPSK = 0xA0000,
    MOD_PI4_DQPSK = 0xA0002,
    MOD_PI8_D8PSK = 0xA0003,
    MOD_FAMILY_OQPSK = 0xB0000,
    MOD_OQPSK = 0xB0002,
    MOD_FAMILY_ASK = 0xC0000,
    MOD_ASK = 0xC0001,
    MOD_FAMILY_EDGE = 0xD0000,
    MOD_EDGE_8PSK = 0xD0003,
    MOD_FAMILY_USER = 0xE0000,
    MOD_USER = 0xE0000,  // plus log2 of the user constellation size
  };
  static constexpr int kModBitsMask = 0xFFFF;     // bits per symbol part of the type
  static constexpr int kModFamilyMask = ~0xFFFF;  // family part of the type

  enum ShapingFilterType_t : int {
    FILTER_GAUSSIAN_LINEARIZED = 2,
    FILTER_GAUSSIAN_PURE = 3,
    FILTER_RECT = 5,
    FILTER_RISING_COS = 6,
    FILTER_ROOT_RISING_COS = 7,
    FILTER_USR = 8,
    FILTER_GAUSSIAN_FSK = 9,
    FILTER_HALF_SIN = 10,
  };

  enum powerRampFunc_t : int {
    RAMP_LINEAR = 1,
    RAMP_COSINE = 2,
    RAMP_STEP = 3,
  };

  enum DataSrc_t : int {
    DATA_SRC_ALL_ZERO = 0,
    DATA_SRC_ALL_ONE = 1,
    DATA_SRC_PATTERN = 2,
    DATA_SRC_FILE = 3,
    DATA_SRC_PRBS = 4,
  };

  // The value is the shift register length.
  enum Prbs_t : int {
    PRBS9 = 9,
    PRBS11 = 11,
    PRBS15 = 15,
    PRBS16 = 16,
    PRBS20 = 20,
    PRBS21 = 21,
    PRBS23 = 23,
  };

  enum CodingType_t : int {
    CODING_NONE = 1,
    CODING_DIFF = 2,
    CODING_GRAY_DIFF = 4,
    CODING_GRAY = 5,
    CODING_DIFF_FROM_ONE = 6,
  };

  // Creates the containers and prints "start iqsynth from <name>" on standard output.
  explicit iqSynthCfg(const char* name);
  ~iqSynthCfg();

  // Rebuilds paraMsg, the parameter report written to the run log at the start of a run.
  void genParaMsg();

  // Fields, in this order. Every numeric field starts at zero, every text and the
  // vector empty. "in": set by the host; "out": written by a run; "work": inside a run.
  // in: user constellation, one point per symbol value
  std::vector<std::complex<double>> usrConstelMap;
  std::string installPath;                    // in: reported only
  IQDevType_t IQDevType{};                    // in: no setter; 0 = default device rates
  workingMode_t workingMode{};                // in: what a run produces
  int sequenceLenth{};                        // in: number of data symbols
  DataSrc_t dataSrc{};                        // in: data source
  Prbs_t prbs{};                              // in: PRBS order
  std::string dataFileList;                   // in: path of the data list file
  std::string ctrlFileList;                   // in: reported only
  int usrListSize{};                          // in: valid characters of usrList
  char usrList[kMaxUsrListSize]{};            // in: user pattern characters
  bool dataFormatIsHex{};                     // in: usrList holds hex digits, else '0'/'1'
  double symbolRate{};                        // in: symbols per second
  CodingType_t codingType{};                  // in: symbol coding
  DigiModulatingType_t digiModulatingType{};  // in: modulation type
  double maxFskDev{};                         // in: FSK peak deviation, Hz
  double maxAskDepth{};                       // in: ASK output scale factor
  ShapingFilterType_t shapingFilterType{};    // in: shaping filter
  double usrFilterCoef[kMaxFilterTaps]{};     // in: user taps, overSamplingRate x filterLengh
  int filterLengh{};                          // in: filter length in symbols
  int overSamplingRate{};                     // in: samples per symbol
  double AlphaBt{};                           // in: roll-off or bandwidth-time product
  int filterTap{};                            // out: taps of the filter designed by the last run
  double filterCoef[kMaxReportedTaps]{};      // out: those taps
  bool fskPhaseCorrectEnable{};               // in: stored and reported only
  std::string tmpFilePathName;                // in: stored only
  std::string iqFilePathName;                 // in: stored only
  bool powerRampEnable{};                     // in: power ramping on
  powerRampFunc_t powerRampFunc{};            // in: ramp shape
  double powerRampTime{};                     // in: ramp duration in symbols
  int powerRampItem{};                        // in: rows of the ramp table
  int powerRampStartSymbol[kMaxPowerRampItems]{};  // in: symbol at which a row starts
  double powerRampAtten[kMaxPowerRampItems]{};     // in: level of a row, dB
  int modulationFamily{};                          // work: digiModulatingType & kModFamilyMask
  int sampleLength{};                              // work: output samples of the run
  int sampleOffset{};                   // work: lead-in samples, filterLengh x overSamplingRate
  char symbolMap[kMaxConstelPoints]{};  // out: 0/1 flags of the points that occurred
  std::string paraMsg;                  // work: the parameter report
  bool sigAddNoiseIsEnable{};           // in: add noise to the signal
  double noiseSampleRate{};             // in: Hz, noise-only run
  int noiseSeqLength{};                 // in: samples, noise-only run
  double noiseSystemBandwidth{};        // in: Hz
  double bandWidthRatio{};              // in: noise bandwidth ratio
  double noiseBandWidth{};              // out
  double noiseLvlSysBW{};               // out: noise level in the system bandwidth
  double noiseLvlTotalBW{};             // out: noise level in the total bandwidth
  double sigLvlPep{};                   // out: signal peak envelope power
  double noiseCNR{};                    // in: carrier-to-noise ratio, dB
  double carrierLvldB{};                // out: dB
  double sigLvldB{};                    // out: dB
  int mccwCarrierItem{};                // in: number of carriers
  double mccwCarrierSpacing{};          // in: Hz
  double mccwCarrierFreq[kMaxMccwCarriers]{};   // out: cycles per sample
  double mccwCarrierAmp[kMaxMccwCarriers]{};    // in: dB
  double mccwCarrierPhase[kMaxMccwCarriers]{};  // in: radians
  char mccwCarrierEn[kMaxMccwCarriers]{};       // in: 1 on, 0 off
  int mccwCarrierSample{};                      // out: samples of the multi-carrier waveform
  double mccwCarrierSampleFreq{};               // out: Hz
  int mccwOptCrestFactorEn{};                   // in: non-zero uses the fixed phase law
  int mccwOptCrestFactorMode{};                 // in: stored only
};

// Family part and bits-per-symbol part of a packed modulation type.
inline int modFamilyOf(int digiModulatingType) {
  return digiModulatingType & iqSynthCfg::kModFamilyMask;
}
inline int modBitsOf(int digiModulatingType) {
  return digiModulatingType & iqSynthCfg::kModBitsMask;
}

// A count clamped to 0..capacity: every array copy and read goes through it.
inline int clampCount(int count, int capacity) {
  return count < 0 ? 0 : (count > capacity ? capacity : count);
}

// The configuration record, constructed at load with the name "global".
extern IQSYNTH_API iqSynthCfg gIqSynthCfg;

// Sample tracks of the run in progress: I, Q and the FSK frequency track.
extern IQSYNTH_API std::valarray<double> iMapDat;
extern IQSYNTH_API std::valarray<double> qMapDat;
extern IQSYNTH_API std::valarray<double> mapDat;
