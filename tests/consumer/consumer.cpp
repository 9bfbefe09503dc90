// A C++ host of the installed libraries: the same calls as consumer.c, with the
// headers as a C++ program includes them. Usage: consumer_cpp FILE.arb PAIRS.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "iqsynth.h"
#include "seqlink.h"
#include "wavecrypt.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const int expectedPairs = std::atoi(argv[2]);
  int failures = 0;

  const std::string check = "123456789";
  const unsigned crc = AfxGetCrcU32(check.data(), static_cast<uint32_t>(check.size()));
  std::printf("crc %08X\n", crc);
  failures += crc != 0xCBF43926u;

  std::vector<char> text(SEQLINK_TEXT_CAPACITY, '\0');
  int length = 0;
  int status = readArbFileAllInf(argv[1], text.data(), &length);
  std::printf("readArbFileAllInf %d:\n%s\n", status, text.data());
  failures += status != SEQLINK_OK || std::string(text.data()).find("Clock") == std::string::npos;
  int pairs = 0;
  double clock = 0;
  double energy = 0;
  status = readArbFileInf(argv[1], &pairs, &clock, &energy);
  std::vector<short> samples(2 * static_cast<std::size_t>(pairs) + 2);
  status = status == SEQLINK_OK ? readArbFileData(argv[1], pairs, samples.data()) : status;
  std::printf("readArbFileData %d: %d pairs\n", status, pairs);
  failures += status != SEQLINK_OK || pairs != expectedPairs;

  setWorkingMode(IQSYNTH_WORKING_MODE_AWGN);
  setNoiseSeqLength(256);
  setNoiseSampleRate(10e6);
  setNoiseSystemBandwidth(2e6);
  setBandWidthRatio(1.0);
  std::vector<short> i(256), q(256);
  status = runIqSynth(i.data(), q.data());
  std::printf("runIqSynth %d\n", status);
  failures += status != 0;
  return failures == 0 ? 0 : 1;
}
