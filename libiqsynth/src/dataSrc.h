// Data source of a digital run: fills the symbol track with sequenceLength
// symbols of k bits (k = low 16 bits of digiModulatingType) from all zeros,
// all ones, the user pattern, a data list file or a PRBS generator.
#pragma once

#include <map>
#include <string>
#include <valarray>

#include "iqSynthCfg.h"

namespace arbsuite::iqsynth {

// Bit strings of k characters '0'/'1' (k = 1..8) to their binary value, most
// significant character first; pBitToDataMapTbl[k - 1] is the map for k.
extern const std::map<std::string, int> bitToDataMap1;
extern const std::map<std::string, int> bitToDataMap2;
extern const std::map<std::string, int> bitToDataMap3;
extern const std::map<std::string, int> bitToDataMap4;
extern const std::map<std::string, int> bitToDataMap5;
extern const std::map<std::string, int> bitToDataMap6;
extern const std::map<std::string, int> bitToDataMap7;
extern const std::map<std::string, int> bitToDataMap8;
extern const std::map<std::string, int>* const pBitToDataMapTbl[8];
// k (1..8) to the mask 2^k - 1.
extern const std::map<int, int> maskMap;
// Hexadecimal digit characters (0-9, a-f, A-F) to their values.
extern const std::map<char, int> charToIntMap;

// Value of a k-character bit string (0 when the string is not k characters of
// '0'/'1' or k is outside 1..8).
int bitStringValue(const std::string& bits, int k);
// Value of a hexadecimal digit (0 for any other character).
int hexDigitValue(char c);

// Fills symbols[offset + j * overSamplingRate], j = 0 .. sequenceLength - 1
// (indexes beyond the track are not written). Returns 0.
// Throws a Config IqSynthError IQSYNTH_ERR_DATA_SRC for an unknown source, IQSYNTH_ERR_CFG_VALUE
// for a setting the source cannot use (overSamplingRate below 1, negative offset, usrListSize
// below 1 for the pattern, k outside 1..8 for pattern and file, k above 16),
// a File IqSynthError IQSYNTH_ERR_FILE_OPEN (file cannot be opened) and IQSYNTH_ERR_FILE_FORMAT
// (unknown format word, or no data after it).
int runDataSrc(const iqSynthCfg& cfg, std::valarray<short>& symbols, int offset);

// The individual sources, same arguments and contract as runDataSrc.
int readPatternLoop(const iqSynthCfg& cfg, std::valarray<short>& symbols, int offset);
int readFileLoop(const iqSynthCfg& cfg, std::valarray<short>& symbols, int offset);
// An unknown prbs order leaves the symbols unchanged. Prints one line per symbol
// ("<j>th is : <value>") on standard output.
int genPRBS(const iqSynthCfg& cfg, std::valarray<short>& symbols, int offset);

// PRBS shift registers: each call returns the output bit (bit 0 of reg) and
// advances reg by one step, the feedback bit entering at the top.
// Orders 9, 11, 20, 21: feedback b0 XOR b<kTap>, seed 1.
template <int kOrder, int kTap>
unsigned genPRBS9_11_20_21(unsigned& reg) {
  const unsigned out = reg & 1u;
  const unsigned feedback = (reg ^ (reg >> kTap)) & 1u;
  reg = (reg >> 1) | (feedback << (kOrder - 1));
  return out;
}
unsigned genPRBS15(unsigned& reg);  // feedback NOT(b0 XOR b1), seed 0x7FFE
unsigned genPRBS16(unsigned& reg);  // feedback b0 XOR b2 XOR b3 XOR b5, seed 1
unsigned genPRBS23(unsigned& reg);  // feedback NOT(b0 XOR b5), seed 0x7FFFFE

// Seed of the register of a PRBS order (0 for an unknown order).
unsigned prbsSeed(int order);

}  // namespace arbsuite::iqsynth
