// welchSpectrum's figures from samples handed over in order, a piece at a time, for
// the streamed statistics and plots: the same segments, window and summation order,
// so the same spectrum.
#pragma once

#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <numbers>
#include <span>
#include <vector>

#include "analysed_waveform.h"
#include "fft.h"
#include "welch.h"

namespace arbsuite::analysis {

// welchSpectrum's periodograms of count pairs (at least kMinSpectrumSamples), the
// segments taken as they end in the stream: the last n pairs are kept in a ring, and
// one more segment ends at the last pair when the half-overlapping ones leave a tail.
class WelchStream {
 public:
  explicit WelchStream(std::size_t count)
      : count_(count),
        n_(welchSegmentLength(count)),
        ring_(2 * n_),
        window_(n_),
        sum_(n_, 0.0),
        fft_(n_, FftDirection::Forward) {
    for (std::size_t k = 0; k < n_; ++k) {
      const double w = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * static_cast<double>(k) /
                                            static_cast<double>(n_));
      windowPower_ += w * w;
      window_[k] = static_cast<float>(w / kFullScale);
    }
  }

  void add(std::span<const std::int16_t> iq) {
    std::size_t at = 0;
    while (at < iq.size()) {
      const bool regular = nextStart_ + n_ <= count_;
      const std::size_t take = regular ? std::min((iq.size() - at) / 2, nextStart_ + n_ - position_)
                                       : (iq.size() - at) / 2;
      // Into the ring from the slot of position_, wrapping at its end.
      std::size_t slot = position_ % n_;
      for (std::size_t k = 0; k < take; ++k) {
        ring_[2 * slot] = iq[at + 2 * k];
        ring_[2 * slot + 1] = iq[at + 2 * k + 1];
        if (++slot == n_) slot = 0;
      }
      position_ += take;
      at += 2 * take;
      if (regular && position_ == nextStart_ + n_) {
        transform(nextStart_);
        lastStart_ = nextStart_;
        nextStart_ += n_ / 2;
      }
    }
  }

  Spectrum finish(double clockHz) {
    if (segments_ > 0 && lastStart_ + n_ < count_) transform(count_ - n_);
    Spectrum spectrum;
    spectrum.clockHz = clockHz;
    spectrum.segments = segments_;
    spectrum.density.resize(n_);
    const double scale = 1.0 / (static_cast<double>(segments_) * clockHz * windowPower_);
    for (std::size_t k = 0; k < n_; ++k) spectrum.density[(k + n_ / 2) % n_] = sum_[k] * scale;
    return spectrum;
  }

 private:
  void transform(std::size_t start) {
    std::complex<float>* in = fft_.input();
    std::size_t slot = start % n_;
    for (std::size_t k = 0; k < n_; ++k) {
      in[k] = {static_cast<float>(ring_[2 * slot]) * window_[k],
               static_cast<float>(ring_[2 * slot + 1]) * window_[k]};
      if (++slot == n_) slot = 0;
    }
    fft_.execute();
    const std::complex<float>* out = fft_.output();
    for (std::size_t k = 0; k < n_; ++k) sum_[k] += std::norm(out[k]);
    ++segments_;
  }

  std::size_t count_;
  std::size_t n_;
  std::vector<std::int16_t> ring_;
  std::vector<float> window_;
  double windowPower_ = 0;
  std::vector<double> sum_;
  Fft fft_;
  std::size_t position_ = 0;
  std::size_t nextStart_ = 0;
  std::size_t lastStart_ = 0;
  std::size_t segments_ = 0;
};

}  // namespace arbsuite::analysis
