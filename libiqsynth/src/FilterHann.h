// Hann-windowed sinc low-pass FIR and the circular convolutions that apply it
// (direct sum, or block FFT convolution over a radix-2 FFT of at most 16384 points).
// The band-limited noise generator is the user: it filters white noise records in place of a
// hardware filter, so the record stays periodic when the instrument loops it. Integer results
// are the codes of signalStatus.h: 0 kSignalOk, 1 kSignalNoMemory, 2 kSignalFailed.
#pragma once

#include <complex>
#include <cstddef>

namespace arbsuite::iqsynth {

// Largest transform of fftDit2, and the size every block of filterWinFFT uses.
inline constexpr unsigned kFftSize = 16384;

// Designs an n-tap Hann-windowed sinc low-pass filter into h (n entries, caller-owned).
// wc is the angular cut-off in radians per sample (the pass band is |f| < wc*fs/(2*pi)).
// The taps are symmetric and scaled to unit sum. Returns true; false (h untouched or partly
// written) when n < 1, h is null, or the taps cannot be scaled (their sum is 0 or not finite,
// e.g. n = 2 or wc = 0).
bool WinFirFilterPara(int n, double wc, double* h);

// sin(x)/x, exactly 1 for -1e-5 < x < 1e-5.
double Sinc(double x);

// Circular convolution of x (nx samples, period nx) with h (nh taps) into y (nx samples):
// y[m] = sum over k of h[k] * x[(m - k) mod nx]. Buffers are caller-owned; y must not overlap
// x. Returns 0, or 2 for a null pointer or a non-positive length. The work buffer comes from
// the throwing allocator (std::bad_alloc propagates).
int convDirect(double* x, int nx, double* h, int nh, double* y);

// Designs n taps with WinFirFilterPara(n, wc) and applies them with convDirect: x (nx
// samples) filtered circularly into y (nx samples). Returns 0, 1 when memory runs out,
// 2 when the design or the convolution fails.
int filterWinDir(int n, double wc, double* x, int nx, double* y);

// Same result as filterWinDir, computed by block FFT convolution when the record is longer
// than one block (16385 - n input samples); shorter records use convDirect. Returns 0,
// 1 when memory runs out, 2 when the design or the direct convolution fails (also for
// n = 0 or n > 16384, or a null pointer), otherwise the code of convFft. Every work array
// is released before returning.
int filterWinFFT(unsigned n, double wc, double* x, unsigned nx, double* y);

// Linear convolution of x (nx samples) with h (nh taps) through nfft-point transforms:
// y receives nfft samples (caller-owned). nfft must be a power of two of at most 16384 and
// nx + nh - 1 must not exceed it. Returns 0, 1 when memory runs out, 2 when the FFT fails or
// the sizes are unusable.
int convFft(double* x, unsigned nx, double* h, unsigned nh, double* y, unsigned nfft);

// In-place forward, unscaled decimation-in-time FFT of n complex points: X[k] = sum over i of
// x[i] * exp(-2*pi*j*i*k/n). n must be a power of two from 1 to 16384. Returns 0, or 2 when
// the bit-reversal permutation refuses n.
int fftDit2(std::complex<double>* data, unsigned n);

// In-place bit-reversal permutation of n points. Returns 0, or 2 when n is not a power of
// two of at most 16384 or data is null.
int bitReversal(std::complex<double>* data, unsigned n);

// The 8192 twiddle factors of the 16384-point transform: entry k = exp(-2*pi*j*k/16384).
const std::complex<double>* fftTwiddleTable();

}  // namespace arbsuite::iqsynth
