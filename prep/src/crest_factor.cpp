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

// The bins of an n-point DFT at `clock` that lie inside one of the bands, as runs
// [first, last) in increasing order: masking a spectrum is then a scaled copy of each
// run and a fill of zeros between them.
struct BinRun {
  std::size_t first;
  std::size_t last;
};

std::vector<BinRun> bandBins(std::size_t n, double clock, std::span<const Band> bands) {
  std::vector<BinRun> runs;
  for (std::size_t k = 0; k < n; ++k) {
    const double f = binFrequency(k, n, clock);
    bool in = false;
    for (const Band& b : bands) in = in || (f >= b.low && f <= b.high);
    if (!in) continue;
    if (!runs.empty() && runs.back().last == k)
      runs.back().last = k + 1;
    else
      runs.push_back({k, k + 1});
  }
  return runs;
}

// The power of a spectrum inside the runs and outside them.
struct SplitPower {
  double inside = 0;
  double outside = 0;
  double outsideFraction() const {
    const double all = inside + outside;
    return all == 0 ? 0 : outside / all;
  }
};

SplitPower splitPower(std::span<const Iq> spectrum, std::span<const BinRun> inside) {
  const auto power = [&](std::size_t from, std::size_t to) {
    double sum = 0;
    for (std::size_t k = from; k < to; ++k) sum += std::norm(spectrum[k]);
    return sum;
  };
  SplitPower split;
  std::size_t at = 0;
  for (const BinRun& run : inside) {
    split.outside += power(at, run.first);
    split.inside += power(run.first, run.last);
    at = run.last;
  }
  split.outside += power(at, spectrum.size());
  return split;
}

// Scales the bins inside the runs by one factor and the others by another.
void scaleBins(std::span<Iq> spectrum, std::span<const BinRun> inside, double insideScale,
               double outsideScale) {
  const auto apply = [&](std::size_t from, std::size_t to, double scale) {
    for (std::size_t k = from; k < to; ++k) spectrum[k] *= scale;
  };
  std::size_t at = 0;
  for (const BinRun& run : inside) {
    apply(at, run.first, outsideScale);
    apply(run.first, run.last, insideScale);
    at = run.last;
  }
  apply(at, spectrum.size(), outsideScale);
}

// The share of the power outside the runs may not grow while clipping lowers the power
// inside them (the noise removed lies inside). A hair below the ratio of the powers
// inside, so that rounding cannot lift the share above the input's.
constexpr double kOutsideMargin = 1e-6;

// Keeps the bins of the runs, scaled, and zeroes the others.
void applyMask(std::span<Iq> spectrum, std::span<const BinRun> inside, double scale) {
  std::size_t at = 0;
  for (const BinRun& run : inside) {
    std::fill(spectrum.begin() + at, spectrum.begin() + run.first, Iq{});
    for (std::size_t k = run.first; k < run.last; ++k) spectrum[k] *= scale;
    at = run.last;
  }
  std::fill(spectrum.begin() + at, spectrum.end(), Iq{});
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
  return toDb(splitPower(spectrum, bandBins(spectrum.size(), clock, bands)).outsideFraction());
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
  const std::vector<BinRun> inside = bandBins(n, clock, bands);
  // One buffer on FFTW's alignment, planned once, for every transform of the run.
  AlignedSamples noise(n);
  BufferTransforms transforms(noise.span());
  const auto spectrumOf = [&](std::span<const Iq> signal) {
    std::copy(signal.begin(), signal.end(), noise.data());
    transforms.forward();
    return noise.span();
  };
  const SplitPower powerBefore = splitPower(spectrumOf(x), inside);
  report.outOfBandBeforeDb = toDb(powerBefore.outsideFraction());
  // Each pass takes the clipping noise of the accepted waveform (what clipping its
  // envelope at clipDb above the mean power would remove), keeps only its part inside
  // the bands (a mask on its periodic spectrum) and subtracts that: the passes never
  // filter the signal itself, so clipping adds nothing outside the bands.
  // The filter lets peaks grow back, so the next pass clips deeper by half of what
  // this one missed; a pass that lands below the target is not taken, and is tried
  // again on the same waveform with a higher clip level.
  double clipDb = targetDb;
  double reached = before;
  double power = meanPower(x);
  const double scale = 1.0 / static_cast<double>(n);
  for (int pass = 1; pass <= kMaxPasses && std::fabs(reached - targetDb) > kTolerance; ++pass) {
    const double limit = std::sqrt(power * std::pow(10.0, clipDb / 10));
    const double limitSquared = limit * limit;
    for (std::size_t k = 0; k < n; ++k) {
      const double p = std::norm(x[k]);
      noise[k] = p > limitSquared ? x[k] * (1 - limit / std::sqrt(p)) : Iq{};
    }
    transforms.forward();
    applyMask(noise.span(), inside, scale);
    transforms.backward();
    double peak = 0;
    double sum = 0;
    for (std::size_t k = 0; k < n; ++k) {
      const double p = std::norm(x[k] - noise[k]);
      peak = std::max(peak, p);
      sum += p;
    }
    const double result = sum == 0 ? 0 : toDb(peak / (sum / static_cast<double>(n)));
    report.iterations = pass;
    if (result < targetDb - kTolerance) {
      clipDb += 0.5 * (targetDb - result);
      continue;
    }
    for (std::size_t k = 0; k < n; ++k) x[k] -= noise[k];
    power = sum / static_cast<double>(n);
    reached = result;
    clipDb -= 0.5 * (reached - targetDb);
  }
  if (reached != before && powerBefore.outside > 0 && powerBefore.inside > 0) {
    // The signal's own part outside the bands falls with the power inside them, so
    // that neither the power outside nor its share of the total grows (the shoulders
    // of the spectrum keep their distance below the carrier).
    std::span<Iq> spectrum = spectrumOf(x);
    const SplitPower powerAfter = splitPower(spectrum, inside);
    const double share =
        powerAfter.outside == 0
            ? 0
            : std::min(1.0, powerAfter.inside / powerBefore.inside) * (1 - kOutsideMargin);
    scaleBins(spectrum, inside, scale,
              std::sqrt(share * powerBefore.outside / powerAfter.outside) * scale);
    transforms.backward();
    std::copy(noise.data(), noise.data() + n, x.data());
    reached = paprDb(x);
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
  report.outOfBandAfterDb = toDb(splitPower(spectrumOf(x), inside).outsideFraction());
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
