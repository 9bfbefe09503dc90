// The synthesis configuration record iqSynthCfg, its one global instance and the global sample
// tracks. The setters fill the global record; the run driver hands record and tracks to every
// stage as parameters, so no stage reaches for them by name.
#pragma once

#include <complex>
#include <string>
#include <valarray>
#include <vector>

#include "iqsynth.h"

namespace arbsuite::iqsynth {

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

  // The enumerations take their values from the names of the public header.
  enum workingMode_t : int {
    WORKING_MODE_DIGITAL = IQSYNTH_WORKING_MODE_DIGITAL,
    WORKING_MODE_AWGN = IQSYNTH_WORKING_MODE_AWGN,
    WORKING_MODE_MCCW = IQSYNTH_WORKING_MODE_MCCW,
  };

  // Packed value: family in bits 16 and up, bits per symbol (log2 M) below.
  enum DigiModulatingType_t : int {
    MOD_FAMILY_QAM = IQSYNTH_MOD_FAMILY_QAM,
    MOD_QAM16 = IQSYNTH_MOD_QAM16,
    MOD_QAM32 = IQSYNTH_MOD_QAM32,
    MOD_QAM64 = IQSYNTH_MOD_QAM64,
    MOD_QAM128 = IQSYNTH_MOD_QAM128,
    MOD_QAM256 = IQSYNTH_MOD_QAM256,
    MOD_FAMILY_FSK = IQSYNTH_MOD_FAMILY_FSK,
    MOD_FSK2 = IQSYNTH_MOD_FSK2,
    MOD_FSK4 = IQSYNTH_MOD_FSK4,
    MOD_FSK8 = IQSYNTH_MOD_FSK8,
    MOD_FSK16 = IQSYNTH_MOD_FSK16,
    MOD_FAMILY_PSK = IQSYNTH_MOD_FAMILY_PSK,
    MOD_BPSK = IQSYNTH_MOD_BPSK,
    MOD_QPSK = IQSYNTH_MOD_QPSK,
    MOD_8PSK = IQSYNTH_MOD_8PSK,
    MOD_FAMILY_DPSK = IQSYNTH_MOD_FAMILY_DPSK,
    MOD_PI4_DQPSK = IQSYNTH_MOD_PI4_DQPSK,
    MOD_PI8_D8PSK = IQSYNTH_MOD_PI8_D8PSK,
    MOD_FAMILY_OQPSK = IQSYNTH_MOD_FAMILY_OQPSK,
    MOD_OQPSK = IQSYNTH_MOD_OQPSK,
    MOD_FAMILY_ASK = IQSYNTH_MOD_FAMILY_ASK,
    MOD_ASK = IQSYNTH_MOD_ASK,
    MOD_FAMILY_EDGE = IQSYNTH_MOD_FAMILY_EDGE,
    MOD_EDGE_8PSK = IQSYNTH_MOD_EDGE_8PSK,
    MOD_FAMILY_USER = IQSYNTH_MOD_FAMILY_USER,
    MOD_USER = IQSYNTH_MOD_USER,  // plus log2 of the user constellation size
  };
  static constexpr int kModBitsMask = IQSYNTH_MOD_BITS_MASK;      // bits per symbol part
  static constexpr int kModFamilyMask = IQSYNTH_MOD_FAMILY_MASK;  // family part of the type

  enum ShapingFilterType_t : int {
    FILTER_GAUSSIAN_LINEARIZED = IQSYNTH_FILTER_GAUSSIAN_LINEARIZED,
    FILTER_GAUSSIAN_PURE = IQSYNTH_FILTER_GAUSSIAN,
    FILTER_RECT = IQSYNTH_FILTER_RECT,
    FILTER_RAISED_COSINE = IQSYNTH_FILTER_RC,
    FILTER_ROOT_RAISED_COSINE = IQSYNTH_FILTER_RRC,
    FILTER_USER = IQSYNTH_FILTER_USER,
    FILTER_GAUSSIAN_FSK = IQSYNTH_FILTER_GAUSSIAN_FSK,
    FILTER_HALF_SINE = IQSYNTH_FILTER_HALF_SINE,
  };

  enum powerRampFunc_t : int {
    RAMP_LINEAR = IQSYNTH_RAMP_LINEAR,
    RAMP_COSINE = IQSYNTH_RAMP_COSINE,
    RAMP_STEP = IQSYNTH_RAMP_STEP,
  };

  enum DataSrc_t : int {
    DATA_SRC_ALL_ZERO = IQSYNTH_DATA_SRC_ALL_ZERO,
    DATA_SRC_ALL_ONE = IQSYNTH_DATA_SRC_ALL_ONE,
    DATA_SRC_PATTERN = IQSYNTH_DATA_SRC_PATTERN,
    DATA_SRC_FILE = IQSYNTH_DATA_SRC_FILE,
    DATA_SRC_PRBS = IQSYNTH_DATA_SRC_PRBS,
  };

  // The value is the shift register length.
  enum Prbs_t : int {
    PRBS9 = IQSYNTH_PRBS9,
    PRBS11 = IQSYNTH_PRBS11,
    PRBS15 = IQSYNTH_PRBS15,
    PRBS16 = IQSYNTH_PRBS16,
    PRBS20 = IQSYNTH_PRBS20,
    PRBS21 = IQSYNTH_PRBS21,
    PRBS23 = IQSYNTH_PRBS23,
  };

  enum CodingType_t : int {
    CODING_NONE = IQSYNTH_CODING_NONE,
    CODING_DIFF = IQSYNTH_CODING_DIFF,
    CODING_GRAY_DIFF = IQSYNTH_CODING_GRAY_DIFF,
    CODING_GRAY = IQSYNTH_CODING_GRAY,
    CODING_DIFF_FROM_ONE = IQSYNTH_CODING_DIFF_FROM_ONE,
  };

  // Creates the containers and prints "start iqsynth from <name>" on standard output.
  explicit iqSynthCfg(const char* name);
  ~iqSynthCfg();

  // Rebuilds paraMsg, the parameter report written to the run log at the start of a run.
  void genParaMsg();

  // Fields, in this order. Every numeric field starts at zero, every text and the
  // vector empty. "in": set by the host; "out": written by a run; "work": inside a run.
  // sequenceLength and filterLength keep the exported spellings in their setters
  // (setSequenceLenth, setFilterLengh), in the parameter report and in the error texts.
  // in: user constellation, one point per symbol value
  std::vector<std::complex<double>> usrConstelMap;
  std::string installPath;                    // in: reported only
  IQDevType_t IQDevType{};                    // in: no setter; 0 = default device rates
  workingMode_t workingMode{};                // in: what a run produces
  int sequenceLength{};                       // in: number of data symbols
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
  double usrFilterCoef[kMaxFilterTaps]{};     // in: user taps, overSamplingRate x filterLength
  int filterLength{};                         // in: filter length in symbols
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
  int sampleOffset{};                   // work: lead-in samples, filterLength x overSamplingRate
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

// The working sample tracks of a run: I, Q and the FSK frequency track (the shaped levels that
// the FSK modulator integrates). The run driver passes the process-wide tracks; tests pass
// their own.
struct SampleTracks {
  std::valarray<double>& i;
  std::valarray<double>& q;
  std::valarray<double>& frequency;
};

// Family part and bits-per-symbol part of a packed modulation type.
inline int modFamilyOf(int digiModulatingType) {
  return digiModulatingType & iqSynthCfg::kModFamilyMask;
}
inline int modBitsOf(int digiModulatingType) {
  return digiModulatingType & iqSynthCfg::kModBitsMask;
}
// Constellation size M = 2^k of a packed type, k taken from its low five bits and M kept to
// 16 bits (0 for k of 16 or more): the count the user constellation and the coding use.
inline int modPointCount(int digiModulatingType) {
  return static_cast<int>((1u << (static_cast<unsigned>(digiModulatingType) & 31u)) & 0xFFFFu);
}

// A count clamped to 0..capacity: every array copy and read goes through it.
inline int clampCount(int count, int capacity) {
  return count < 0 ? 0 : (count > capacity ? capacity : count);
}

}  // namespace arbsuite::iqsynth

// The exported data symbols keep their plain names outside the library's namespace.
// The configuration record, constructed at load with the name "global". The exported setters
// and getters and the run entry points are its only users.
extern IQSYNTH_API arbsuite::iqsynth::iqSynthCfg gIqSynthCfg;

// Sample tracks of the run in progress: I, Q and the FSK frequency track. Only the run entry
// points name them, to hand them to the stages.
extern IQSYNTH_API std::valarray<double> iMapDat;
extern IQSYNTH_API std::valarray<double> qMapDat;
extern IQSYNTH_API std::valarray<double> mapDat;
