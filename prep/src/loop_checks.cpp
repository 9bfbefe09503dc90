// How a waveform loops: the jump at its seam against the steps inside, and the
// spectral regrowth the seam causes (see waveform_prep.h).
#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "fourier.h"
#include "waveform_prep.h"

namespace arbsuite::prep {

namespace {

// The 99th percentile (nearest rank) of the steps between neighbours of each piece.
double stepPercentile(std::span<const Iq> a, std::span<const Iq> b) {
  std::vector<double> steps;
  for (const auto piece : {a, b})
    for (std::size_t k = 1; k < piece.size(); ++k)
      steps.push_back(std::abs(piece[k] - piece[k - 1]));
  if (steps.empty()) return 0;
  const std::size_t rank =
      static_cast<std::size_t>(std::ceil(0.99 * static_cast<double>(steps.size()))) - 1;
  std::nth_element(steps.begin(), steps.begin() + static_cast<std::ptrdiff_t>(rank), steps.end());
  return steps[rank];
}

Seam seamOf(double jump, double percentile) {
  Seam s;
  s.jump = jump;
  s.ratio = percentile > 0 ? jump / percentile
                           : (jump > 0 ? std::numeric_limits<double>::infinity() : 0.0);
  return s;
}

}  // namespace

Seam seam(std::span<const Iq> x) {
  if (x.empty()) return {};
  return seamOf(std::abs(x.front() - x.back()), stepPercentile(x, {}));
}

Seam boundary(std::span<const Iq> before, std::span<const Iq> after) {
  if (before.empty() || after.empty()) return {};
  return seamOf(std::abs(after.front() - before.back()), stepPercentile(before, after));
}

double loopRegrowthDbInPlace(std::span<Iq> x) {
  const std::size_t n = x.size();
  if (n < 16) return 0;
  std::size_t segment = 8;
  while (segment * 2 <= n / 2 && segment < 4096) segment *= 2;
  // Welch: Hann-windowed segments, half overlapping, all inside the period.
  std::vector<double> welch(segment, 0.0);
  std::vector<Iq> piece(segment);
  std::vector<double> window(segment);
  for (std::size_t k = 0; k < segment; ++k)
    window[k] = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * static_cast<double>(k) /
                                     static_cast<double>(segment));
  BufferTransforms transforms(piece);  // planned once for every segment
  for (std::size_t start = 0; start + segment <= n; start += segment / 2) {
    for (std::size_t k = 0; k < segment; ++k) piece[k] = x[start + k] * window[k];
    transforms.forward();
    for (std::size_t k = 0; k < segment; ++k) welch[k] += std::norm(piece[k]);
  }
  double welchTotal = 0;
  for (const double p : welch) welchTotal += p;
  if (welchTotal == 0) return 0;
  // The Welch spectrum's 99 % band, in cycles per sample.
  double sum = 0;
  double low = -0.5;
  double high = 0.5;
  bool lowFound = false;
  for (std::size_t p = 0; p < segment; ++p) {
    const std::size_t k = binAtPosition(p, segment);
    sum += welch[k];
    // Widened by the Hann window's main lobe (2 bins), so that what lies outside is
    // leakage in both spectra, not a share of the edge components' own lobes.
    if (!lowFound && sum > 0.005 * welchTotal) {
      low = binFrequency(k, segment, 1.0) - 2.0 / static_cast<double>(segment);
      lowFound = true;
    }
    if (sum >= 0.995 * welchTotal) {
      high = binFrequency(k, segment, 1.0) + 2.0 / static_cast<double>(segment);
      break;
    }
  }
  // The share of the power outside the band, of bins powers power(k).
  auto outsideShare = [&](std::size_t bins, auto power) {
    double all = 0;
    double outside = 0;
    for (std::size_t k = 0; k < bins; ++k) {
      const double p = power(k);
      all += p;
      const double f = binFrequency(k, bins, 1.0);
      if (f < low || f > high) outside += p;
    }
    return all == 0 ? 0.0 : outside / all;
  };
  const double inside = outsideShare(segment, [&](std::size_t k) { return welch[k]; });
  // The periodic spectrum takes the samples' place: of a waveform of 4 Mi pairs, a
  // second spectrum and its powers would hold another 96 MB.
  transform(x, true);
  const double looped = outsideShare(n, [&](std::size_t k) { return std::norm(x[k]); });
  // Regrowth only: a looped spectrum cleaner than the windowed one is 0 dB (shares are
  // floored at 1e-12, so that a band holding all of the power gives 0 dB too).
  return std::max(0.0, 10 * std::log10(std::max(looped, 1e-12) / std::max(inside, 1e-12)));
}

double loopRegrowthDb(std::span<const Iq> x) {
  std::vector<Iq> copy(x.begin(), x.end());
  return loopRegrowthDbInPlace(copy);
}

}  // namespace arbsuite::prep
