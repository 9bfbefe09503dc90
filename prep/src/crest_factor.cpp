// Crest-factor reduction by iterative clipping and filtering (see waveform_prep.h).
// The filter is a mask on the periodic spectrum, so the waveform stays one seamless
// period and nothing leaks outside the carriers' bands.
#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <string>

#include "fourier.h"
#include "waveform_prep.h"

namespace arbsuite::prep {

namespace {

constexpr int kMaxPasses = 16;
constexpr double kTolerance = 0.1;  // dB

double meanPower(std::span<const Iq> x) {
  double sum = 0;
  for (const Iq& v : x) sum += std::norm(v);
  return x.empty() ? 0 : sum / static_cast<double>(x.size());
}

// Which bins of an n-point DFT at `clock` lie inside one of the bands.
std::vector<bool> bandMask(std::size_t n, double clock, std::span<const Band> bands) {
  std::vector<bool> inside(n, false);
  for (std::size_t k = 0; k < n; ++k) {
    const double f = binFrequency(k, n, clock);
    for (const Band& b : bands)
      if (f >= b.low && f <= b.high) inside[k] = true;
  }
  return inside;
}

double outsideFraction(std::span<const Iq> spectrum, const std::vector<bool>& inside) {
  double all = 0;
  double outside = 0;
  for (std::size_t k = 0; k < spectrum.size(); ++k) {
    all += std::norm(spectrum[k]);
    if (!inside[k]) outside += std::norm(spectrum[k]);
  }
  return all == 0 ? 0 : outside / all;
}

double toDb(double ratio) { return 10 * std::log10(ratio); }

}  // namespace

double paprDb(std::span<const Iq> x) {
  double peak = 0;
  for (const Iq& v : x) peak = std::max(peak, std::norm(v));
  const double mean = meanPower(x);
  return mean == 0 ? 0 : toDb(peak / mean);
}

double outOfBandDb(std::span<const Iq> x, double clock, std::span<const Band> bands) {
  std::vector<Iq> spectrum(x.size());
  transform(x, spectrum, true);
  return toDb(outsideFraction(spectrum, bandMask(spectrum.size(), clock, bands)));
}

CfrReport reducePapr(std::vector<Iq>& x, double clock, double targetDb, std::vector<Band> bands) {
  if (!std::isfinite(clock) || !(clock > 0))
    throw std::invalid_argument("The clock must be a positive number of hertz");
  if (!std::isfinite(targetDb) || !(targetDb > 0))
    throw std::invalid_argument("The target PAPR must be a number of dB above 0, not " +
                                std::to_string(targetDb));
  const double before = paprDb(x);
  if (meanPower(x) == 0) throw std::invalid_argument("An all-zero waveform has no crest factor");
  if (targetDb > before)
    throw std::invalid_argument("The target PAPR (" + std::to_string(targetDb) +
                                " dB) is above the waveform's own (" + std::to_string(before) +
                                " dB)");
  if (bands.empty()) bands.push_back(occupiedBand(x, clock));
  for (const Band& b : bands) {
    if (!std::isfinite(b.low) || !std::isfinite(b.high) || b.low > b.high || b.low < -clock / 2 ||
        b.high > clock / 2)
      throw std::invalid_argument("The band " + std::to_string(b.low) + " to " +
                                  std::to_string(b.high) + " Hz is not within the clock (" +
                                  std::to_string(-clock / 2) + " to " + std::to_string(clock / 2) +
                                  " Hz)");
  }
  CfrReport report;
  report.bands = bands;
  report.paprBeforeDb = before;
  // The input, for the EVM, in single precision: the waveform, its copy and the
  // transform's buffer then take 40 bytes a sample.
  const std::vector<std::complex<float>> original(x.begin(), x.end());
  const std::size_t n = x.size();
  const std::vector<bool> inside = bandMask(n, clock, bands);
  {
    std::vector<Iq> spectrum(n);
    transform(x, spectrum, true);
    report.outOfBandBeforeDb = toDb(outsideFraction(spectrum, inside));
  }
  // Each pass takes the clipping noise of the accepted waveform (what clipping its
  // envelope at clipDb above the mean power would remove), keeps only its part inside
  // the bands (a mask on its periodic spectrum) and subtracts that: the signal itself
  // is never filtered, so its own band and what lies outside it stay as they were.
  // The filter lets peaks grow back, so the next pass clips deeper by half of what
  // this one missed; a pass that lands below the target is not taken, and is tried
  // again on the same waveform with a higher clip level.
  double clipDb = targetDb;
  double reached = before;
  std::vector<Iq> noise(n);
  BufferTransforms transforms(noise);
  const double scale = 1.0 / static_cast<double>(n);
  for (int pass = 1; pass <= kMaxPasses && std::fabs(reached - targetDb) > kTolerance; ++pass) {
    const double limit = std::sqrt(meanPower(x) * std::pow(10.0, clipDb / 10));
    for (std::size_t k = 0; k < n; ++k) {
      const double magnitude = std::abs(x[k]);
      noise[k] = magnitude > limit ? x[k] * (1 - limit / magnitude) : Iq{};
    }
    transforms.forward();
    for (std::size_t k = 0; k < n; ++k) noise[k] = inside[k] ? noise[k] * scale : Iq{};
    transforms.backward();
    double peak = 0;
    double sum = 0;
    for (std::size_t k = 0; k < n; ++k) {
      const double power = std::norm(x[k] - noise[k]);
      peak = std::max(peak, power);
      sum += power;
    }
    const double result = sum == 0 ? 0 : toDb(peak / (sum / static_cast<double>(n)));
    report.iterations = pass;
    if (result < targetDb - kTolerance) {
      clipDb += 0.5 * (targetDb - result);
      continue;
    }
    for (std::size_t k = 0; k < n; ++k) x[k] -= noise[k];
    reached = result;
    clipDb -= 0.5 * (reached - targetDb);
  }
  report.paprAfterDb = reached;
  double change = 0;
  double signal = 0;
  for (std::size_t k = 0; k < n; ++k) {
    const Iq before(original[k].real(), original[k].imag());
    change += std::norm(x[k] - before);
    signal += std::norm(before);
  }
  const double evm = std::sqrt(change / signal);
  report.evmPercent = 100 * evm;
  report.evmDb = 20 * std::log10(evm);
  transform(x, noise, true);
  report.outOfBandAfterDb = toDb(outsideFraction(noise, inside));
  return report;
}

void taper(std::span<Iq> x, std::uint64_t length) {
  if (2 * length > x.size())
    throw std::invalid_argument(
        "A taper of " + std::to_string(length) + " samples at each end needs at least " +
        std::to_string(2 * length) + " samples, not " + std::to_string(x.size()));
  const std::size_t n = x.size();
  for (std::size_t k = 0; k < length; ++k) {
    const double w =
        0.5 *
        (1 - std::cos(std::numbers::pi * static_cast<double>(k) / static_cast<double>(length)));
    x[k] *= w;
    x[n - 1 - k] *= w;
  }
}

}  // namespace arbsuite::prep
