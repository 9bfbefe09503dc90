// Welch's method with FFTW, and the occupied bandwidth read from its result.
#include "welch.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

#include "analysed_waveform.h"
#include "fft.h"

namespace arbsuite::analysis {
namespace {

constexpr std::size_t kLongestSegment = 4096;
constexpr std::size_t kShortestSegment = 64;
constexpr std::size_t kWantedSegments = 8;

}  // namespace

std::size_t welchSegmentLength(std::size_t samples) {
  std::size_t n = kLongestSegment;
  // K half-overlapping segments of n need (K + 1) n / 2 samples.
  while (n > kShortestSegment && (kWantedSegments + 1) * n > 2 * samples) n /= 2;
  return std::min(n, samples);
}

std::optional<Spectrum> welchSpectrum(std::span<const std::int16_t> iq, double clockHz) {
  const std::size_t count = iq.size() / 2;
  if (count < kMinSpectrumSamples || !(clockHz > 0)) return std::nullopt;
  const std::size_t n = welchSegmentLength(count);

  // The periodic Hann window, with the scaling of LSB to full scale folded in.
  std::vector<float> window(n);
  double windowPower = 0;
  for (std::size_t k = 0; k < n; ++k) {
    const double w = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * static_cast<double>(k) /
                                          static_cast<double>(n));
    windowPower += w * w;
    window[k] = static_cast<float>(w / kFullScale);
  }

  std::vector<std::size_t> starts;
  for (std::size_t start = 0; start + n <= count; start += n / 2) starts.push_back(start);
  if (starts.back() + n < count) starts.push_back(count - n);

  Fft fft(n, FftDirection::Forward);
  std::vector<double> sum(n, 0.0);
  for (const std::size_t start : starts) {
    const std::int16_t* v = iq.data() + 2 * start;
    std::complex<float>* in = fft.input();
    for (std::size_t k = 0; k < n; ++k) {
      in[k] = {static_cast<float>(v[2 * k]) * window[k],
               static_cast<float>(v[2 * k + 1]) * window[k]};
    }
    fft.execute();
    const std::complex<float>* out = fft.output();
    for (std::size_t k = 0; k < n; ++k) sum[k] += std::norm(out[k]);
  }

  Spectrum spectrum;
  spectrum.clockHz = clockHz;
  spectrum.segments = starts.size();
  spectrum.density.resize(n);
  // Periodogram scaling: |X|^2 / (fs U) per segment, U the window's power sum;
  // the transform's bin k goes to (k + n/2) mod n so that DC sits at n/2.
  const double scale = 1.0 / (static_cast<double>(starts.size()) * clockHz * windowPower);
  for (std::size_t k = 0; k < n; ++k) spectrum.density[(k + n / 2) % n] = sum[k] * scale;
  return spectrum;
}

std::optional<double> occupiedBandwidth(const Spectrum& spectrum, double fraction) {
  const std::vector<double>& p = spectrum.density;
  double total = 0;
  for (const double v : p) total += v;
  if (!(total > 0) || p.empty()) return std::nullopt;
  const double tail = (1.0 - fraction) / 2.0 * total;
  const double width = spectrum.binHz();

  // The frequency below which `target` of the power lies, scanning from the
  // lowest bin, each bin's power spread evenly from its lower to its upper edge.
  const auto edge = [&](double target) {
    double running = 0;
    for (std::size_t k = 0; k < p.size(); ++k) {
      if (running + p[k] >= target && p[k] > 0) {
        const double lower = spectrum.frequency(k) - width / 2;
        return lower + width * (target - running) / p[k];
      }
      running += p[k];
    }
    return spectrum.frequency(p.size() - 1) + width / 2;
  };
  return edge(total - tail) - edge(tail);
}

}  // namespace arbsuite::analysis
