// Discrete Fourier transforms of whole periods with FFTW in double precision. The
// planner is shared by the process and not thread-safe, so plans are made and
// destroyed under one lock; executing a plan needs none.
#pragma once

#include <span>
#include <vector>

#include "waveform_prep.h"

namespace arbsuite::prep {

// The unnormalised DFT of `data` in place: forward e^(-j 2 pi k n / N), backward
// e^(+j ...) (a backward transform of a forward one gives N times the input).
void transform(std::span<Iq> data, bool forward);

// The same from `in` into `out` (same length, not overlapping; `in` is not changed).
// Out of place, FFTW plans large transforms several times faster than in place.
void transform(std::span<const Iq> in, std::span<Iq> out, bool forward);

// A buffer of samples on FFTW's alignment (large ones on huge pages), left uninitialised:
// transforms write every element of their output, so zeroing it first would be a wasted pass.
class AlignedSamples {
 public:
  explicit AlignedSamples(std::size_t n);
  ~AlignedSamples();
  AlignedSamples(const AlignedSamples&) = delete;
  AlignedSamples& operator=(const AlignedSamples&) = delete;
  Iq* data() const { return data_; }
  std::size_t size() const { return size_; }
  std::span<Iq> span() const { return {data_, size_}; }
  Iq& operator[](std::size_t k) const { return data_[k]; }
  void release();

 private:
  Iq* data_ = nullptr;
  std::size_t size_ = 0;
};

// n zero samples in a vector whose pages are huge where the system offers them.
std::vector<Iq> samplesOnHugePages(std::size_t n);

// Forward and backward transforms planned once for one buffer, for passes that
// transform the same buffer again and again (planning a large in-place transform costs
// as much as running it).
class BufferTransforms {
 public:
  explicit BufferTransforms(std::span<Iq> buffer);
  ~BufferTransforms();
  BufferTransforms(const BufferTransforms&) = delete;
  BufferTransforms& operator=(const BufferTransforms&) = delete;
  void forward();
  void backward();

 private:
  void* forward_ = nullptr;
  void* backward_ = nullptr;
};

// The frequency in hertz of bin k of an n-point DFT at `rate`: k, or k - n for the
// upper half (bin n/2 of an even n counts as -rate/2, as numpy.fft.fftshift puts it).
double binFrequency(std::size_t k, std::size_t n, double rate);

// The occupied band (see occupiedBand) of a signal from its n-point DFT.
Band bandOfSpectrum(std::span<const Iq> spectrum, double rate, double fraction = 0.99);

// The bin of an n-point DFT holding frequency-ordered position p (0 is the most
// negative frequency, n - 1 the most positive).
std::size_t binAtPosition(std::size_t p, std::size_t n);

}  // namespace arbsuite::prep
