// Hann-windowed sinc low-pass design and circular convolution, direct or by blocks of a
// 16384-point radix-2 FFT, for the band-limited noise generator.
#include "FilterHann.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <memory>
#include <new>
#include <numbers>
#include <vector>

#include "firKernel.h"
#include "signalStatus.h"

namespace arbsuite::iqsynth {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr unsigned kTwiddleCount = kFftSize / 2;
constexpr double kSincTiny = 1e-5;  // |x| below this: Sinc is exactly 1

bool isPowerOfTwoUpToFftSize(unsigned n) { return n >= 1 && n <= kFftSize && (n & (n - 1)) == 0; }

// Complex product written out: std::complex's operator* takes a slow path for NaN/inf care.
inline std::complex<double> mul(std::complex<double> a, std::complex<double> b) {
  return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}

// Spectrum of nh real taps zero-padded to nfft points, kept for every block that uses them.
int tapSpectrum(const double* h, unsigned nh, std::complex<double>* spectrum, unsigned nfft) {
  std::fill(spectrum, spectrum + nfft, std::complex<double>());
  for (unsigned i = 0; i < nh; ++i) {
    spectrum[i] = h[i];
  }
  return fftDit2(spectrum, nfft);
}

// Multiplies work (a forward transform) by the tap spectrum and transforms back in place.
// The inverse is taken by conjugation: ifft(Z) = conj(fft(conj(Z))) / nfft; the final
// conjugation and scaling are left to the caller, who reads real and imaginary parts.
int filterSpectrum(std::complex<double>* work, const std::complex<double>* spectrum,
                   unsigned nfft) {
  for (unsigned i = 0; i < nfft; ++i) {
    work[i] = std::conj(mul(work[i], spectrum[i]));
  }
  return fftDit2(work, nfft);
}

}  // namespace

const std::complex<double>* fftTwiddleTable() {
  static const std::array<std::complex<double>, kTwiddleCount> table = [] {
    std::array<std::complex<double>, kTwiddleCount> t{};
    for (unsigned k = 0; k < kTwiddleCount; ++k) {
      const double angle = 2.0 * kPi * k / kFftSize;
      t[k] = {std::cos(angle), -std::sin(angle)};
    }
    return t;
  }();
  return table.data();
}

double Sinc(double x) {
  if (x > -kSincTiny && x < kSincTiny) {
    return 1.0;
  }
  return std::sin(x) / x;
}

bool WinFirFilterPara(int n, double wc, double* h) {
  if (n < 1 || h == nullptr) {
    return false;
  }
  if (n == 1) {
    // A one-tap Hann window would divide 0 by 0; the only unit-sum filter is the identity.
    h[0] = 1.0;
    return true;
  }
  const int half = (n % 2 == 1) ? (n - 1) / 2 : (n - 2) / 2;
  h[n - 1] = 0.0;
  for (int i = 0; i <= half; ++i) {
    const double window = 0.5 - 0.5 * std::cos(2.0 * kPi * i / (n - 1));
    const double tap = wc * Sinc((i - half) * wc) * window / kPi;
    h[i] = tap;
    h[n - 1 - i] = tap;
  }
  double sum = 0.0;
  for (int i = 0; i < n; ++i) {
    sum += h[i];
  }
  if (sum == 0.0 || !std::isfinite(sum)) {
    return false;
  }
  for (int i = 0; i < n; ++i) {
    h[i] /= sum;
  }
  return true;
}

int convDirect(double* x, int nx, double* h, int nh, double* y) {
  if (x == nullptr || h == nullptr || y == nullptr || nx <= 0 || nh <= 0) {
    return kSignalFailed;
  }
  const std::size_t count = static_cast<std::size_t>(nx);
  const std::size_t taps = static_cast<std::size_t>(nh);
  // The input with its last nh samples in front: the filter history of a periodic record.
  // Taken modulo nx, so a record shorter than the filter still wraps around correctly.
  std::vector<double> buffer(taps + count);
  std::copy(x, x + count, buffer.begin() + static_cast<std::ptrdiff_t>(taps));
  const long long period = nx;
  for (std::size_t i = 0; i < taps; ++i) {
    long long src = (period - nh + static_cast<long long>(i)) % period;
    if (src < 0) {
      src += period;
    }
    buffer[i] = x[src];
  }
  firOverHistory(buffer.data() + taps, count, h, taps, y);
  return kSignalOk;
}

int filterWinDir(int n, double wc, double* x, int nx, double* y) {
  if (n < 1) {
    return kSignalFailed;
  }
  std::unique_ptr<double[]> taps(new (std::nothrow) double[static_cast<std::size_t>(n)]);
  if (!taps) {
    return kSignalNoMemory;
  }
  if (!WinFirFilterPara(n, wc, taps.get())) {
    return kSignalFailed;
  }
  try {
    return convDirect(x, nx, taps.get(), n, y) == kSignalOk ? kSignalOk : kSignalFailed;
  } catch (const std::bad_alloc&) {
    return kSignalNoMemory;
  }
}

int filterWinFFT(unsigned n, double wc, double* x, unsigned nx, double* y) {
  if (n == 0 || n > kFftSize || x == nullptr || y == nullptr || nx == 0) {
    return kSignalFailed;
  }
  std::unique_ptr<double[]> taps(new (std::nothrow) double[n]);
  if (!taps) {
    return kSignalNoMemory;
  }
  if (!WinFirFilterPara(static_cast<int>(n), wc, taps.get())) {
    return kSignalFailed;
  }
  // D input samples and n taps give exactly kFftSize samples of linear convolution.
  const std::size_t block = kFftSize + 1 - n;
  if (nx <= block) {
    try {
      return convDirect(x, static_cast<int>(nx), taps.get(), static_cast<int>(n), y) == kSignalOk
                 ? kSignalOk
                 : kSignalFailed;
    } catch (const std::bad_alloc&) {
      return kSignalNoMemory;
    }
  }

  // B = the last n input samples (taken modulo nx), then the input.
  const std::size_t total = static_cast<std::size_t>(nx) + n;
  std::unique_ptr<double[]> buffer(new (std::nothrow) double[total]);
  std::unique_ptr<double[]> acc(new (std::nothrow) double[total]());
  std::unique_ptr<std::complex<double>[]> spectrum(new (std::nothrow)
                                                       std::complex<double>[kFftSize]);
  std::unique_ptr<std::complex<double>[]> work(new (std::nothrow) std::complex<double>[kFftSize]);
  if (!buffer || !acc || !spectrum || !work) {
    return kSignalNoMemory;
  }
  std::copy(x, x + nx, buffer.get() + n);
  const std::size_t shift = nx - n % nx;  // (i - n) mod nx = (shift + i) mod nx
  for (std::size_t i = 0; i < n; ++i) {
    buffer[i] = x[(shift + i) % nx];
  }

  // The taps' spectrum is the same for every block: transform it once.
  if (int rc = tapSpectrum(taps.get(), n, spectrum.get(), kFftSize); rc != kSignalOk) {
    return rc;
  }

  // Two real blocks ride in one complex transform (the first as real part, the second as
  // imaginary part); the taps are real, so the two convolutions come back apart.
  const std::size_t blocks = total / block;
  const double scale = 1.0 / kFftSize;
  auto accumulate = [&](std::size_t j, const std::complex<double>* out, bool imaginary) {
    const std::size_t start = j * block;
    const std::size_t span =
        std::min<std::size_t>(j + 1 == blocks ? block : kFftSize, total - start);
    for (std::size_t i = 0; i < span; ++i) {
      // out holds fft(conj(Z)); ifft(Z) = conj of it, scaled.
      acc[start + i] += (imaginary ? -out[i].imag() : out[i].real()) * scale;
    }
  };
  for (std::size_t j = 0; j < blocks; j += 2) {
    const bool pair = j + 1 < blocks;
    const double* first = buffer.get() + j * block;
    const double* second = pair ? first + block : nullptr;
    for (std::size_t i = 0; i < block; ++i) {
      work[i] = {first[i], pair ? second[i] : 0.0};
    }
    std::fill(work.get() + block, work.get() + kFftSize, std::complex<double>());
    if (int rc = fftDit2(work.get(), kFftSize); rc != kSignalOk) {
      return rc;
    }
    if (int rc = filterSpectrum(work.get(), spectrum.get(), kFftSize); rc != kSignalOk) {
      return rc;
    }
    accumulate(j, work.get(), false);
    if (pair) {
      accumulate(j + 1, work.get(), true);
    }
  }

  // The tail after the last whole block: complete values by the direct sum.
  for (std::size_t k = blocks * block; k < total; ++k) {
    const std::size_t first = k + 1 >= n ? k + 1 - n : 0;
    double sum = 0.0;
    for (std::size_t l = first; l <= k; ++l) {
      sum += buffer[l] * taps[k - l];
    }
    acc[k] = sum;
  }
  std::copy(acc.get() + n, acc.get() + total, y);
  return kSignalOk;
}

int convFft(double* x, unsigned nx, double* h, unsigned nh, double* y, unsigned nfft) {
  if (x == nullptr || h == nullptr || y == nullptr || nx == 0 || nh == 0 ||
      !isPowerOfTwoUpToFftSize(nfft) || static_cast<unsigned long long>(nx) + nh - 1 > nfft) {
    return kSignalFailed;
  }
  std::unique_ptr<std::complex<double>[]> spectrum(new (std::nothrow) std::complex<double>[nfft]);
  std::unique_ptr<std::complex<double>[]> work(new (std::nothrow) std::complex<double>[nfft]);
  if (!spectrum || !work) {
    return kSignalNoMemory;
  }
  if (tapSpectrum(h, nh, spectrum.get(), nfft) != kSignalOk) {
    return kSignalFailed;
  }
  std::fill(work.get(), work.get() + nfft, std::complex<double>());
  std::copy(x, x + nx, work.get());
  if (fftDit2(work.get(), nfft) != kSignalOk ||
      filterSpectrum(work.get(), spectrum.get(), nfft) != kSignalOk) {
    return kSignalFailed;
  }
  for (unsigned i = 0; i < nfft; ++i) {
    y[i] = work[i].real() / nfft;
  }
  return kSignalOk;
}

int bitReversal(std::complex<double>* data, unsigned n) {
  if (data == nullptr || !isPowerOfTwoUpToFftSize(n)) {
    return kSignalFailed;
  }
  // A counter incremented in bit-reversed order: a is the reversal of i.
  unsigned a = 0;
  for (unsigned i = 0; i + 1 < n; ++i) {
    if (i < a) {
      std::swap(data[i], data[a]);
    }
    unsigned b = n / 2;
    while (b >= 1 && b <= a) {
      a -= b;
      b /= 2;
    }
    a += b;
  }
  return kSignalOk;
}

int fftDit2(std::complex<double>* data, unsigned n) {
  if (bitReversal(data, n) != kSignalOk) {
    return kSignalFailed;
  }
  // Stage 0: two-point butterflies.
  for (unsigned s = 0; s + 1 < n; s += 2) {
    const std::complex<double> x = data[s];
    const std::complex<double> y = data[s + 1];
    data[s] = x + y;
    data[s + 1] = x - y;
  }
  // Stage 1: four-point groups; the odd butterfly's twiddle is exactly -j.
  for (unsigned s = 0; s + 3 < n; s += 4) {
    std::complex<double> x = data[s];
    std::complex<double> y = data[s + 2];
    data[s] = x + y;
    data[s + 2] = x - y;
    x = data[s + 1];
    y = data[s + 3];
    const std::complex<double> yr(y.imag(), -y.real());
    data[s + 1] = x + yr;
    data[s + 3] = x - yr;
  }
  // Later stages: twiddle a of a span is table entry a * (kFftSize / span).
  const std::complex<double>* twiddle = fftTwiddleTable();
  for (unsigned span = 8; span <= n; span *= 2) {
    const unsigned half = span / 2;
    const unsigned stride = kFftSize / span;
    for (unsigned group = 0; group < n; group += span) {
      std::complex<double>* lo = data + group;
      std::complex<double>* hi = lo + half;
      {
        const std::complex<double> x = lo[0];
        const std::complex<double> y = hi[0];
        lo[0] = x + y;
        hi[0] = x - y;
      }
      for (unsigned a = 1; a < half; ++a) {
        const std::complex<double> t = mul(twiddle[a * stride], hi[a]);
        const std::complex<double> x = lo[a];
        lo[a] = x + t;
        hi[a] = x - t;
      }
    }
  }
  return kSignalOk;
}

}  // namespace arbsuite::iqsynth
