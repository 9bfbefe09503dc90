// A host of libiqsynth.so for the process tests: loads the shared library at start (so the
// environment variables read at load apply), makes one run of the named kind and writes its
// samples as raw 16-bit values (all I, then all Q) to the output file.
//   iqsynth_run_child digital|noise|digital-noise|mccw|mccw-overflow OUTPUT
// Exit status: 0 when the run returned 0; 3 (the status on standard error) when it failed;
// 2 for a bad command line or an output that cannot be written.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "iqsynth.h"

namespace {

void setDigital(int symbols) {
  setWorkingMode(IQSYNTH_WORKING_MODE_DIGITAL);
  setDigiModulatingType(IQSYNTH_MOD_QPSK);
  setSequenceLenth(symbols);
  setOverSamplingRate(4);
  setFilterLengh(8);
  setShapingFilterType(IQSYNTH_FILTER_RRC);
  setAlphaBt(0.35);
  setSymbolRate(1e6);
  setCodingType(IQSYNTH_CODING_NONE);
  setDataSrc(IQSYNTH_DATA_SRC_PRBS);
  setPrbs(IQSYNTH_PRBS9);
}

void setNoise() {
  setNoiseSystemBandwidth(5e5);
  setBandWidthRatio(2.0);
  setNoiseCNR(15.0);
}

void setCarriers(double firstLevel) {
  setWorkingMode(IQSYNTH_WORKING_MODE_MCCW);
  setMccwCarrierItem(3);
  setMccwCarrierSpacing(1e6);
  const char on[3] = {1, 1, 1};
  const double levels[3] = {firstLevel, 0.0, 0.0};
  const double phases[3] = {0.0, 0.5, 1.0};
  setMccwCarrierEn(on);
  setMccwCarrierSAmp(levels);
  setMccwCarrierPhase(phases);
  setMccwOptCrestFactorEn(0);
  runMccwCarrierParamGen();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: iqsynth_run_child KIND OUTPUT\n");
    return 2;
  }
  const std::string kind = argv[1];
  std::size_t samples = 0;
  if (kind == "digital" || kind == "digital-noise") {
    setDigital(600);
    setSigAddNoiseIsEnable(kind == "digital-noise" ? 1 : 0);
    setNoise();
    samples = 600 * 4;
  } else if (kind == "noise") {
    setWorkingMode(IQSYNTH_WORKING_MODE_AWGN);
    setNoiseSeqLength(2400);
    setNoiseSampleRate(4e6);
    setNoise();
    samples = 2400;
  } else if (kind == "mccw" || kind == "mccw-overflow") {
    setCarriers(kind == "mccw" ? -3.0 : 4000.0);
    samples = static_cast<std::size_t>(getMccwCarrierSample());
  } else {
    std::fprintf(stderr, "unknown kind %s\n", kind.c_str());
    return 2;
  }
  std::vector<short> i(samples), q(samples);
  const int status = runIqSynth(i.data(), q.data());
  if (status != 0) {
    std::fprintf(stderr, "runIqSynth returned %d\n", status);
    return 3;
  }
  std::FILE* out = std::fopen(argv[2], "wb");
  if (out == nullptr) {
    std::fprintf(stderr, "cannot write %s\n", argv[2]);
    return 2;
  }
  const bool written = std::fwrite(i.data(), sizeof(short), samples, out) == samples &&
                       std::fwrite(q.data(), sizeof(short), samples, out) == samples;
  return std::fclose(out) == 0 && written ? 0 : 2;
}
