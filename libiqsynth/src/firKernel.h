// FIR kernels shared by the pulse shaping (iqSynthFilter) and the noise low-pass (FilterHann).
#pragma once

#include <cstddef>
#include <valarray>

#include "simd_level.h"

namespace arbsuite::iqsynth {

// Causal FIR over a signal with history: y[m] = sum over k < nh of h[k] * src[m - k]
// for m = 0 .. count-1, where src[-(nh-1)] .. src[count-1] must be readable. The taps
// are summed in ascending k, the order of a plain direct sum, in blocks the compiler
// vectorises.
void firOverHistory(const double* src, std::size_t count, const double* h, std::size_t nh,
                    double* y);

// Causal FIR in place: x[i] <- sum over k of taps[k] * x[i - k], with x = 0 before the start
// (no taps: all zero). Inputs that are +0.0 off a regular grid (upsampled symbols) are filtered
// in polyphase form, touching only the grid points, on the widest vectors the processor offers
// (detected once); other inputs in the direct form. The sums are those of the direct form, in
// the same order: every form and kernel gives the same doubles.
// Throws std::bad_alloc when a work buffer cannot be allocated (x is then unchanged).
void causalFirInPlace(std::valarray<double>& x, const std::valarray<double>& taps);

// causalFirInPlace with the polyphase kernel of `level` at most (lowered to what the processor
// offers), for the tests and benchmarks that compare the kernels.
void causalFirInPlace(std::valarray<double>& x, const std::valarray<double>& taps,
                      arbsuite::SimdLevel level);

}  // namespace arbsuite::iqsynth
