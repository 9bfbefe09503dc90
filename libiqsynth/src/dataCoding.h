// Symbol coding of a digital run: differential, Gray and Gray-differential
// coding, and the signed frequency levels of FSK.
#pragma once

#include <valarray>

#include "iqSynthCfg.h"

namespace arbsuite::iqsynth {

// s XOR (s >> 1) on the 16-bit value.
short binaryToGray(short s);

// Codes the symbols at offset, offset + R, ... below offset + sampleLength in
// place (R = overSamplingRate; indexes beyond the track are skipped), with
// M = 2^(digiModulatingType & 31) kept to 16 bits. FSK types (family IQSYNTH_MOD_FAMILY_FSK)
// get the odd levels 2v - M + 1. An unknown codingType, or an M of 0 (16 or more
// bits per symbol), leaves the symbols unchanged. Returns 0.
int map2Mary(const iqSynthCfg& cfg, std::valarray<short>& symbols, int offset);

// The coding stage of the pipeline: calls map2Mary. Returns 0.
int runDataCoding(const iqSynthCfg& cfg, std::valarray<short>& symbols, int offset);

}  // namespace arbsuite::iqsynth
