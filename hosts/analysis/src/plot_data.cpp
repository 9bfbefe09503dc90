// Computations behind the plots.
#include "plot_data.h"

#include <algorithm>
#include <cmath>

#include "fft.h"
#include "levels.h"
#include "power_distribution.h"

namespace arbsuite::analysis {
namespace {

// Symbols searched for the timing, and phases per symbol between samples.
constexpr std::size_t kTimingSymbols = 4096;
constexpr int kFractionalPhases = 32;
// The eye block leaves out this many symbols at each end, where the circular
// interpolation wraps the end of the block onto its start.
constexpr std::size_t kEyeGuardSymbols = 4;
constexpr std::size_t kLongestEyeBlock = 1 << 16;

std::complex<double> sampleAt(std::span<const std::int16_t> iq, std::size_t k) {
  return {static_cast<double>(iq[2 * k]), static_cast<double>(iq[2 * k + 1])};
}

// Linear interpolation at position t (samples); t within 0 ... count - 1.
std::complex<double> valueAt(std::span<const std::int16_t> iq, double t) {
  const std::size_t count = iq.size() / 2;
  const auto k = static_cast<std::size_t>(t);
  if (k + 1 >= count) return sampleAt(iq, std::min(k, count - 1));
  const double f = t - static_cast<double>(k);
  return (1 - f) * sampleAt(iq, k) + f * sampleAt(iq, k + 1);
}

bool wholeNumber(double value) { return std::fabs(value - std::round(value)) < 1e-9; }

}  // namespace

DensityGrid constellationDensity(std::span<const std::int16_t> iq, std::size_t cells,
                                 double range) {
  DensityGrid grid;
  grid.cells = cells;
  grid.range = range;
  grid.counts.assign(cells * cells, 0.0);
  if (cells == 0 || !(range > 0)) return grid;
  const double scale = static_cast<double>(cells) / (2 * range);
  const std::size_t count = iq.size() / 2;
  for (std::size_t k = 0; k < count; ++k) {
    const double x = (iq[2 * k] + range) * scale;
    const double y = (iq[2 * k + 1] + range) * scale;
    if (x < 0 || y < 0 || x >= static_cast<double>(cells) || y >= static_cast<double>(cells)) {
      continue;
    }
    grid.counts[static_cast<std::size_t>(x) * cells + static_cast<std::size_t>(y)] += 1;
  }
  return grid;
}

SymbolTiming estimateSymbolTiming(std::span<const std::int16_t> iq, double samplesPerSymbol) {
  SymbolTiming timing;
  timing.samplesPerSymbol = samplesPerSymbol;
  const std::size_t count = iq.size() / 2;
  if (count < 2 || !(samplesPerSymbol > 0)) return timing;
  const bool onSamples = wholeNumber(samplesPerSymbol);
  const int phases =
      onSamples ? static_cast<int>(std::lround(samplesPerSymbol)) : kFractionalPhases;
  double best = -1;
  for (int p = 0; p < phases; ++p) {
    const double phase = onSamples ? p : samplesPerSymbol * p / phases;
    double sum = 0;
    std::size_t symbols = 0;
    for (double t = phase; t <= static_cast<double>(count - 1) && symbols < kTimingSymbols;
         t += samplesPerSymbol, ++symbols) {
      sum += std::norm(valueAt(iq, t));
    }
    const double mean = symbols > 0 ? sum / static_cast<double>(symbols) : 0;
    if (mean > best) {
      best = mean;
      timing.phase = phase;
    }
  }
  return timing;
}

std::vector<std::complex<double>> symbolValues(std::span<const std::int16_t> iq,
                                               const SymbolTiming& timing, std::size_t maxPoints) {
  std::vector<std::complex<double>> values;
  const std::size_t count = iq.size() / 2;
  if (count == 0 || maxPoints == 0 || timing.phase > static_cast<double>(count - 1)) return values;
  const auto symbols = static_cast<std::size_t>(
      std::floor((static_cast<double>(count - 1) - timing.phase) / timing.samplesPerSymbol) + 1);
  const double stride = symbols > maxPoints ? static_cast<double>(symbols) / maxPoints : 1.0;
  for (double n = 0; n < static_cast<double>(symbols); n += stride) {
    const double symbol = std::floor(n);
    values.push_back(valueAt(iq, timing.phase + symbol * timing.samplesPerSymbol));
  }
  return values;
}

EyeTraces eyeTraces(std::span<const std::int16_t> iq, const SymbolTiming& timing,
                    std::size_t maxTraces, std::size_t pointsPerSymbol) {
  EyeTraces eye;
  const double sps = timing.samplesPerSymbol;
  const std::size_t count = iq.size() / 2;
  if (!(sps > 0) || pointsPerSymbol == 0 || maxTraces == 0) return eye;
  // The block: enough samples for the traces and the guards, a power of two.
  const double wanted = (static_cast<double>(maxTraces) + 2.0 * kEyeGuardSymbols + 2) * sps;
  std::size_t block = 1;
  while (block < count && static_cast<double>(block) < wanted && block < kLongestEyeBlock) {
    block *= 2;
  }
  if (block > count) block /= 2;
  if (static_cast<double>(block) < (2.0 * kEyeGuardSymbols + 3) * sps) return eye;

  // Upsampling by a power of two that gives at least pointsPerSymbol points per
  // symbol: the block's spectrum, zero-padded in the middle, transformed back.
  std::size_t up = 1;
  while (static_cast<double>(up) * sps < static_cast<double>(pointsPerSymbol)) up *= 2;
  const std::size_t fine = block * up;
  Fft forward(block, FftDirection::Forward);
  for (std::size_t k = 0; k < block; ++k) {
    forward.input()[k] = {static_cast<float>(iq[2 * k]), static_cast<float>(iq[2 * k + 1])};
  }
  forward.execute();
  Fft backward(fine, FftDirection::Backward);
  std::complex<float>* spectrum = backward.input();
  std::fill(spectrum, spectrum + fine, std::complex<float>(0, 0));
  const std::complex<float>* bins = forward.output();
  const std::size_t half = block / 2;
  for (std::size_t k = 0; k < half; ++k) spectrum[k] = bins[k];
  for (std::size_t k = half + 1; k < block; ++k) spectrum[fine - block + k] = bins[k];
  if (block > 1) {
    // The Nyquist bin of an even block belongs to both ends.
    spectrum[half] = 0.5f * bins[half];
    spectrum[fine - half] += 0.5f * bins[half];
  }
  backward.execute();
  const float norm = 1.0f / static_cast<float>(block);
  const std::complex<float>* y = backward.output();
  const auto fineAt = [&](double t) {  // t in samples, linear between fine points
    const double u = t * static_cast<double>(up);
    const auto k = static_cast<std::size_t>(u);
    const double f = u - static_cast<double>(k);
    const std::complex<float> a = y[std::min(k, fine - 1)];
    const std::complex<float> b = y[std::min(k + 1, fine - 1)];
    return std::complex<double>(a) * (1 - f) * static_cast<double>(norm) +
           std::complex<double>(b) * f * static_cast<double>(norm);
  };

  const std::size_t points = 2 * pointsPerSymbol + 1;
  for (std::size_t p = 0; p < points; ++p) {
    eye.time.push_back(-1.0 + static_cast<double>(p) / static_cast<double>(pointsPerSymbol));
  }
  const double first = timing.phase + (kEyeGuardSymbols + 1) * sps;
  const double last = static_cast<double>(block) - (kEyeGuardSymbols + 1) * sps;
  for (double centre = first; centre <= last && eye.i.size() < maxTraces; centre += sps) {
    std::vector<double> traceI(points);
    std::vector<double> traceQ(points);
    for (std::size_t p = 0; p < points; ++p) {
      const std::complex<double> v = fineAt(centre + eye.time[p] * sps);
      traceI[p] = v.real();
      traceQ[p] = v.imag();
    }
    eye.i.push_back(std::move(traceI));
    eye.q.push_back(std::move(traceQ));
  }
  return eye;
}

CcdfCurve ccdfCurve(std::span<const std::int16_t> iq, double stepDb) {
  CcdfCurve curve;
  const Levels levels = measureLevels(iq);
  if (levels.peakPower == 0 || !(stepDb > 0)) return curve;
  const PowerDistribution distribution(iq, levels.peakPower);
  const double peakDb = 10 * std::log10(static_cast<double>(levels.peakPower) / levels.meanPower);
  for (double db = 0; db <= peakDb + stepDb; db += stepDb) {
    const double fraction = distribution.fractionAbove(levels.meanPower * std::pow(10.0, db / 10));
    curve.db.push_back(db);
    curve.fraction.push_back(fraction);
    if (fraction <= 0) break;
  }
  return curve;
}

double gaussianCcdf(double db) { return std::exp(-std::pow(10.0, db / 10)); }

}  // namespace arbsuite::analysis
