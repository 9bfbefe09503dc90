// The polyphase FIR of firKernel on AVX2 and AVX-512: the outputs of a symbol across the lanes of
// a vector, several symbols at a time.
#pragma once

#include <cstddef>

namespace arbsuite::iqsynth {

// One polyphase filtering: output phase + b*stride + r (r < stride) of the track is
// sum over j < rowCount of rows[j*width + r] * sym[b - j], summed in ascending j.
struct PolyphaseJob {
  const double* sym;     // symbol 0; readable back to symbol -(rowCount - 1)
  const double* rows;    // rowCount rows of `width` taps, zero after the first `stride`
  std::size_t rowCount;  // at least 1
  std::size_t width;     // 8, 16, 24 or 32, at least stride
  std::size_t stride;    // samples per symbol
  double* out;           // output of symbol 0 (the grid's phase)
  std::size_t outCount;  // outputs from there on; symbol b writes min(stride, outCount - b*stride)
};

// Filters symbols first .. last-1 of job into job.out. The same products and sums in the same
// order as the scalar form (mul, then add: no fused multiply-add), hence the same doubles. Only
// for a processor that offers the instruction set (arbsuite::detectedSimdLevel).
void polyphaseAvx2(const PolyphaseJob& job, std::size_t first, std::size_t last);
void polyphaseAvx512(const PolyphaseJob& job, std::size_t first, std::size_t last);

}  // namespace arbsuite::iqsynth
