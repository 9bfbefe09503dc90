// IQ pairs to a version-1 .arb file as the converter makes it: normalised to their
// peak modulus, quantised at a level of full scale and packed from memory with the
// converter's header items. The programs that write pairs share it.
#pragma once

#include <cstdint>
#include <string>

#include "arb_pack.h"
#include "pair_source.h"

namespace arbsuite {

// Throws std::invalid_argument(path + " must contain extension \".arb\" ") unless the
// path ends with ".arb" (case-sensitive).
void checkOutputName(const std::string& path);

// The header items of a converted file: data source PRBS9, modulation 32QAM, filter
// Raised cosine, coefficient 1.0, impulse length 1, oversampling 1, and the clock as
// the symbol rate.
Version1Fields converterFields(std::int32_t clock);

// Quantises every pair at `level` (0 < level <= 1) of full scale and packs the samples
// from memory into outputPath with converterFields(clock); no file but the output is
// made. Returns a PackStatus. Throws std::length_error for more than kMaxPairs pairs
// (before anything is written) and std::bad_alloc.
std::int32_t packPairs(PairSource& pairs, std::int32_t clock, const char* outputPath, double level);

}  // namespace arbsuite
