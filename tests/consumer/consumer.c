/* A C host of the installed libraries: a CRC from libwavecrypt, the description
 * and decrypted samples of an .arb file from libseqlink (which loads
 * libwavecrypt.so by name for the decryption), and a QPSK run of libiqsynth.
 * Usage: consumer_c FILE.arb PAIRS; prints what it found, exits 0 when all is right. */
#include <stdio.h>
#include <stdlib.h>

#include "iqsynth.h"
#include "seqlink.h"
#include "wavecrypt.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const int expectedPairs = atoi(argv[2]);
  int failures = 0;

  const unsigned crc = AfxGetCrcU32("123456789", 9);
  printf("crc %08X\n", crc);
  failures += crc != 0xCBF43926u;

  int pairs = 0;
  double clock = 0, energy = 0;
  int status = readArbFileInf(argv[1], &pairs, &clock, &energy);
  printf("readArbFileInf %d: %d pairs at %.0f Hz\n", status, pairs, clock);
  failures += status != SEQLINK_OK || pairs != expectedPairs;
  short* samples = calloc(2 * (size_t)pairs + 2, sizeof(short));
  status = readArbFileData(argv[1], pairs, samples);
  double sum = 0;
  for (int k = 0; k < 2 * pairs; ++k) sum += (samples[k] / 8192.0) * (samples[k] / 8192.0);
  printf("readArbFileData %d: energy %.6f (header %.6f)\n", status, sum, energy);
  failures += status != SEQLINK_OK || sum - energy > 1e-5 || energy - sum > 1e-5;
  free(samples);

  setWorkingMode(IQSYNTH_WORKING_MODE_DIGITAL);
  setDigiModulatingType(IQSYNTH_MOD_QPSK);
  setSequenceLenth(100);
  setOverSamplingRate(4);
  setFilterLengh(8);
  setShapingFilterType(IQSYNTH_FILTER_RRC);
  setAlphaBt(0.35);
  setSymbolRate(1e6);
  setDataSrc(IQSYNTH_DATA_SRC_PRBS);
  setPrbs(9);
  short i[400], q[400];
  status = runIqSynth(i, q);
  int peak = 0;
  for (int k = 0; k < 400; ++k) peak = abs(i[k]) > peak ? abs(i[k]) : peak;
  printf("runIqSynth %d: peak I %d\n", status, peak);
  failures += status != 0 || peak == 0;
  return failures == 0 ? 0 : 1;
}
