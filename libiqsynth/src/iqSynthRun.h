// The run driver runIqSynth (declared in iqsynth.h) and the pieces of it that tests and
// benchmarks reach directly: the 14-bit quantiser, the per-sample log and the status of an
// error.
#pragma once

#include <cstddef>

namespace arbsuite::iqsynth {

class IqSynthError;

// 14-bit sample of a normalised value: the product with 32768 truncated toward
// zero and saturated to 16 bits, then shifted right by two (floor of v/4).
// 1.0 and above give 8191, -1.0 and below -8192, NaN gives 0.
short quantiseSample(double value);

// out[k] = quantiseSample(src[k] / divisor) for k below count (src[k] itself without divide).
void quantiseSamples(const double* src, std::size_t count, bool divide, double divisor, short* out);

// The status runIqSynth returns for an error of a run: -IQSYNTH_ERR_MEM_ALLOC for a failed
// allocation, else the error's number negated (the filter, modulation, data source, ramp,
// value, noise and file statuses of iqsynth.h).
int runStatusOf(const IqSynthError& error);

// Writes the output section of the run log: "the output pIDat is : ..." and one
// line "<i>th pIDat is <value>" per sample, then the same for Q.
void writeSampleLog(const short* iDat, const short* qDat, std::size_t count);

}  // namespace arbsuite::iqsynth
