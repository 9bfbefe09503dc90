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

// The fraction of the power of x's periodic spectrum outside the bins marked inside.
double spectrumOutside(std::span<const Iq> x, const std::vector<bool>& inside) {
  std::vector<Iq> spectrum(x.begin(), x.end());
  transform(spectrum, true);
  return outsideFraction(spectrum, inside);
}

// One pass in place: the envelope clipped at `clipDb` above the mean power, then
// everything outside the bands removed from the periodic spectrum.
void clipAndFilter(std::vector<Iq>& x, double clipDb, const std::vector<bool>& inside) {
  const double limit = std::sqrt(meanPower(x) * std::pow(10.0, clipDb / 10));
  for (Iq& v : x) {
    const double magnitude = std::abs(v);
    if (magnitude > limit) v *= limit / magnitude;
  }
  transform(x, true);
  const double scale = 1.0 / static_cast<double>(x.size());
  for (std::size_t k = 0; k < x.size(); ++k) x[k] = inside[k] ? x[k] * scale : Iq{};
  transform(x, false);
}

}  // namespace

double paprDb(std::span<const Iq> x) {
  double peak = 0;
  for (const Iq& v : x) peak = std::max(peak, std::norm(v));
  const double mean = meanPower(x);
  return mean == 0 ? 0 : toDb(peak / mean);
}

double outOfBandDb(std::span<const Iq> x, double clock, std::span<const Band> bands) {
  return toDb(spectrumOutside(x, bandMask(x.size(), clock, bands)));
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
  const std::size_t n = x.size();
  const std::vector<bool> inside = bandMask(n, clock, bands);
  report.outOfBandBeforeDb = toDb(spectrumOutside(x, inside));
  // Two waveforms are held: the original, for the EVM and to start again from, and
  // the one being worked on, which each pass clips and filters in place.
  std::vector<Iq> original = x;
  // Each pass clips the accepted waveform and masks its spectrum. The filter lets
  // peaks grow back, so the next pass clips deeper by half of what this one missed; a
  // pass that lands below the target is not taken, and is tried again from the same
  // waveform (made again from the original by the passes taken) with a higher clip
  // level.
  double clipDb = targetDb;
  double reached = before;
  std::vector<double> taken;  // the clip levels of the passes taken
  for (int pass = 1; pass <= kMaxPasses && std::fabs(reached - targetDb) > kTolerance; ++pass) {
    clipAndFilter(x, clipDb, inside);
    const double result = paprDb(x);
    report.iterations = pass;
    if (result < targetDb - kTolerance) {
      std::copy(original.begin(), original.end(), x.begin());
      for (const double level : taken) clipAndFilter(x, level, inside);
      clipDb += 0.5 * (targetDb - result);
      continue;
    }
    taken.push_back(clipDb);
    reached = result;
    clipDb -= 0.5 * (reached - targetDb);
  }
  report.paprAfterDb = reached;
  double change = 0;
  double signal = 0;
  for (std::size_t k = 0; k < n; ++k) {
    change += std::norm(x[k] - original[k]);
    signal += std::norm(original[k]);
  }
  const double evm = std::sqrt(change / signal);
  report.evmPercent = 100 * evm;
  report.evmDb = 20 * std::log10(evm);
  std::vector<Iq>().swap(original);  // freed before the spectrum below is made
  report.outOfBandAfterDb = toDb(spectrumOutside(x, inside));
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
