// Single-precision complex FFTs with FFTW: one plan per size and direction for the
// whole process (FFTW_ESTIMATE, made under a lock because FFTW's planner is not
// thread-safe), executed on buffers each transform owns.
#pragma once

#include <complex>
#include <cstddef>

namespace arbsuite::analysis {

enum class FftDirection { Forward, Backward };

// A transform of size n with its own aligned input and output buffers. Unnormalised:
// a forward then backward transform multiplies by n.
class Fft {
 public:
  Fft(std::size_t n, FftDirection direction);
  ~Fft();
  Fft(const Fft&) = delete;
  Fft& operator=(const Fft&) = delete;

  std::size_t size() const { return n_; }
  std::complex<float>* input() { return in_; }
  const std::complex<float>* output() const { return out_; }
  void execute();

 private:
  std::size_t n_;
  void* plan_;  // fftwf_plan, owned by the process-wide cache
  std::complex<float>* in_;
  std::complex<float>* out_;
};

}  // namespace arbsuite::analysis
