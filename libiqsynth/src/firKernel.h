// FIR kernels shared by the pulse shaping (iqSynthFilter) and the noise low-pass (FilterHann).
#pragma once

#include <cstddef>
#include <valarray>
#include <vector>

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

// The FIR of an upsampled symbol track given by its symbols alone: the track holds sym[b] at
// sample b * stride and +0.0 elsewhere, and out[m] (m < outCount) gets the sum causalFirInPlace
// gives for sample m of that track, without the track being built. sym must be readable back to
// sym[-symbolHistory(stride, taps.size())], those entries +0.0 (the zeros before the track).
// False, with out untouched, where the polyphase form does not pay (stride 1, short taps) or a
// tap is not finite (then a zero input changes the sums): the caller builds the track and calls
// causalFirInPlace.
bool polyphaseFromSymbols(const double* sym, std::size_t stride, const std::valarray<double>& taps,
                          double* out, std::size_t outCount);

struct PolyphaseJob;  // firKernelSimd.h

// polyphaseFromSymbols set up once for a filter and a stride, for callers that want the track
// piece by piece: shape() gives any stretch of samples of the track, the same doubles as the
// whole track. The rows of taps and the kernel are chosen at construction.
class SymbolShaper {
 public:
  SymbolShaper(std::size_t stride, const std::valarray<double>& taps);
  // False where polyphaseFromSymbols would refuse (then shape() must not be called).
  bool usable() const { return m_usable; }
  // out[k] = sample first + k of the track (k < count) whose symbol b is sym[b] at sample
  // b * stride; sym readable back to sym[-symbolHistory(stride, taps)], those entries +0.0
  // where they are before the track.
  void shape(const double* sym, std::size_t first, std::size_t count, double* out) const;

 private:
  std::size_t m_stride;
  std::size_t m_width = 0;
  std::size_t m_rowCount = 0;
  std::vector<double> m_rows;
  void (*m_kernel)(const PolyphaseJob&, std::size_t, std::size_t) = nullptr;
  bool m_usable = false;
};

// The symbols before the first one that polyphaseFromSymbols reads.
std::size_t symbolHistory(std::size_t stride, std::size_t taps);

}  // namespace arbsuite::iqsynth
