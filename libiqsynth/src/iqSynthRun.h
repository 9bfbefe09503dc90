// The run driver runIqSynth (declared in iqsynth.h) and the pieces of it that tests and
// benchmarks reach directly: the 14-bit quantiser and the per-sample log.
#pragma once

#include <cstddef>

namespace iqsynth {

// 14-bit sample of a normalised value: the product with 32768 truncated toward
// zero and saturated to 16 bits, then shifted right by two (floor of v/4).
// 1.0 and above give 8191, -1.0 and below -8192, NaN gives 0.
short quantiseSample(double value);

// out[k] = quantiseSample(src[k] / divisor) for k below count (src[k] itself without divide).
void quantiseSamples(const double* src, std::size_t count, bool divide, double divisor, short* out);

// Writes the output section of the run log: "the output pIDat is : ..." and one
// line "<i>th pIDat is <value>" per sample, then the same for Q.
void writeSampleLog(const short* iDat, const short* qDat, std::size_t count);

}  // namespace iqsynth
