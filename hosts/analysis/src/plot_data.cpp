// Computations behind the plots.
#include "plot_data.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "fft.h"
#include "levels.h"
#include "power_distribution.h"
#include "welch_stream.h"

namespace arbsuite::analysis {
namespace {

// Symbols searched for the timing, and phases per symbol between samples; whole
// numbers of samples per symbol above kMostSamplePhases are searched as fractional
// ones (one phase per sample would hold a sum for each).
constexpr std::size_t kTimingSymbols = 4096;
constexpr int kFractionalPhases = 32;
constexpr double kMostSamplePhases = 65536;
// The eye block leaves out this many symbols at each end, where the circular
// interpolation wraps the end of the block onto its start.
constexpr std::size_t kEyeGuardSymbols = 4;

// A waveform's samples seen a piece at a time, in order: the current piece and the
// pair before it, so that a value between two samples is read across a piece's
// start. The samples in memory are one piece.
class PieceWindow {
 public:
  explicit PieceWindow(std::size_t count) : count_(count) {}

  void next(std::span<const std::int16_t> piece) {
    if (piece.size() < 2) return;
    if (end_ > start_) carry_ = at(end_ - 1);
    start_ = end_;
    end_ = start_ + piece.size() / 2;
    piece_ = piece;
  }

  // Whether valueAt(t) reads only pairs seen so far (t no earlier than the
  // positions read before).
  bool reaches(double t) const {
    const auto k = static_cast<std::size_t>(t);
    return (k + 1 >= count_ ? std::min(k, count_ - 1) : k + 1) < end_;
  }

  // Linear interpolation at position t (samples); t within 0 ... count - 1.
  std::complex<double> valueAt(double t) const {
    const auto k = static_cast<std::size_t>(t);
    if (k + 1 >= count_) return at(std::min(k, count_ - 1));
    const double f = t - static_cast<double>(k);
    return (1 - f) * at(k) + f * at(k + 1);
  }

 private:
  std::complex<double> at(std::size_t k) const {
    if (k < start_) return carry_;  // k == start_ - 1
    const std::size_t v = 2 * (k - start_);
    return {static_cast<double>(piece_[v]), static_cast<double>(piece_[v + 1])};
  }

  std::size_t count_;
  std::size_t start_ = 0;
  std::size_t end_ = 0;
  std::span<const std::int16_t> piece_;
  std::complex<double> carry_;
};

bool wholeNumber(double value) { return std::fabs(value - std::round(value)) < 1e-9; }

// estimateSymbolTiming on pieces: each phase sums the power at its instants as the
// pieces reach them, in the order of the instants.
class TimingSearch {
 public:
  TimingSearch(std::size_t count, double samplesPerSymbol) : window_(count), count_(count) {
    timing_.samplesPerSymbol = samplesPerSymbol;
    if (count < 2 || !(samplesPerSymbol > 0)) return;
    const bool onSamples = wholeNumber(samplesPerSymbol) && samplesPerSymbol <= kMostSamplePhases;
    const int phases =
        onSamples ? static_cast<int>(std::lround(samplesPerSymbol)) : kFractionalPhases;
    for (int p = 0; p < phases; ++p) {
      const double phase = onSamples ? p : samplesPerSymbol * p / phases;
      phases_.push_back({phase, phase});
    }
  }

  void add(std::span<const std::int16_t> piece) {
    if (done_ || phases_.empty()) return;
    window_.next(piece);
    bool open = false;
    for (Phase& p : phases_) {
      while (more(p) && window_.reaches(p.t)) {
        p.sum += std::norm(window_.valueAt(p.t));
        p.t += timing_.samplesPerSymbol;
        ++p.symbols;
      }
      open = open || more(p);
    }
    done_ = !open;
  }

  SymbolTiming result() const {
    SymbolTiming timing = timing_;
    double best = -1;
    for (const Phase& p : phases_) {
      const double mean = p.symbols > 0 ? p.sum / static_cast<double>(p.symbols) : 0;
      if (mean > best) {
        best = mean;
        timing.phase = p.phase;
      }
    }
    return timing;
  }

 private:
  struct Phase {
    double phase;
    double t;  // the next instant
    std::size_t symbols = 0;
    double sum = 0;
  };
  bool more(const Phase& p) const {
    return p.symbols < kTimingSymbols && p.t <= static_cast<double>(count_ - 1);
  }

  PieceWindow window_;
  std::size_t count_;
  SymbolTiming timing_;
  std::vector<Phase> phases_;
  bool done_ = false;
};

// symbolValues on pieces: the instants taken as the pieces reach them.
class SymbolSampler {
 public:
  SymbolSampler(std::size_t count, const SymbolTiming& timing, std::size_t maxPoints)
      : window_(count), timing_(timing) {
    if (count == 0 || maxPoints == 0 || timing.phase > static_cast<double>(count - 1)) return;
    symbols_ =
        std::floor((static_cast<double>(count - 1) - timing.phase) / timing.samplesPerSymbol) + 1;
    stride_ =
        symbols_ > static_cast<double>(maxPoints) ? symbols_ / static_cast<double>(maxPoints) : 1.0;
  }

  void add(std::span<const std::int16_t> piece) {
    if (!(n_ < symbols_)) return;
    window_.next(piece);
    while (n_ < symbols_) {
      const double t = timing_.phase + std::floor(n_) * timing_.samplesPerSymbol;
      if (!window_.reaches(t)) return;
      values_.push_back(window_.valueAt(t));
      n_ += stride_;
    }
  }

  std::vector<std::complex<double>> take() { return std::move(values_); }

 private:
  PieceWindow window_;
  SymbolTiming timing_;
  double symbols_ = 0;
  double stride_ = 1;
  double n_ = 0;
  std::vector<std::complex<double>> values_;
};

DensityGrid emptyDensity(std::size_t cells, double range) {
  DensityGrid grid;
  grid.cells = cells;
  grid.range = range;
  grid.counts.assign(cells * cells, 0.0);
  return grid;
}

void addDensity(DensityGrid& grid, std::span<const std::int16_t> iq) {
  const std::size_t cells = grid.cells;
  const double range = grid.range;
  if (cells == 0 || !(range > 0)) return;
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
}

}  // namespace

DensityGrid constellationDensity(std::span<const std::int16_t> iq, std::size_t cells,
                                 double range) {
  DensityGrid grid = emptyDensity(cells, range);
  addDensity(grid, iq);
  return grid;
}

SymbolTiming estimateSymbolTiming(std::span<const std::int16_t> iq, double samplesPerSymbol) {
  TimingSearch search(iq.size() / 2, samplesPerSymbol);
  search.add(iq);
  return search.result();
}

std::vector<std::complex<double>> symbolValues(std::span<const std::int16_t> iq,
                                               const SymbolTiming& timing, std::size_t maxPoints) {
  SymbolSampler sampler(iq.size() / 2, timing, maxPoints);
  sampler.add(iq);
  return sampler.take();
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
  const Levels levels = measureLevels(iq);
  if (levels.peakPower == 0 || !(stepDb > 0)) return {};
  return ccdfCurve(levels, PowerDistribution(iq, levels.peakPower), stepDb);
}

CcdfCurve ccdfCurve(const Levels& levels, const PowerDistribution& distribution, double stepDb) {
  CcdfCurve curve;
  if (levels.peakPower == 0 || !(stepDb > 0)) return curve;
  const double peakDb = 10 * std::log10(static_cast<double>(levels.peakPower) / levels.meanPower);
  for (double db = 0; db <= peakDb + stepDb; db += stepDb) {
    const double fraction = distribution.fractionAbove(levels.meanPower * std::pow(10.0, db / 10));
    curve.db.push_back(db);
    curve.fraction.push_back(fraction);
    if (fraction <= 0) break;
  }
  return curve;
}

CcdfLine ccdfLine(const CcdfCurve& curve, double lowestLog) {
  CcdfLine line;
  std::size_t k = 0;
  for (; k < curve.db.size(); ++k) {
    if (!(curve.fraction[k] > 0)) break;
    const double logPercent = std::log10(100 * curve.fraction[k]);
    if (logPercent < lowestLog) break;
    line.x.push_back(curve.db[k]);
    line.y.push_back(logPercent);
  }
  // Fewer than two points, and the curve ends because no sample lies that far above.
  if (line.x.size() < 2 && k < curve.db.size() && !(curve.fraction[k] > 0)) {
    line.constantEnvelope = true;
    line.edgeDb = curve.db[k];
    const double top = line.y.empty() ? std::log10(100.0) : line.y.front();
    line.x.push_back(line.edgeDb);
    line.y.push_back(top);
    line.x.push_back(line.edgeDb);
    line.y.push_back(lowestLog);
  }
  return line;
}

double gaussianCcdf(double db) { return std::exp(-std::pow(10.0, db / 10)); }

double niceCeiling(double value) {
  if (!(value > 0)) return 1;
  const double decade = std::pow(10.0, std::floor(std::log10(value)));
  for (const double step : {1.0, 1.2, 1.5, 2.0, 2.5, 3.0, 4.0, 5.0, 6.0, 8.0, 10.0}) {
    if (step * decade >= value * (1 - 1e-12)) return step * decade;
  }
  return 10 * decade;
}

double densityRange(const Levels& levels) {
  return niceCeiling(std::max(1.0, std::sqrt(static_cast<double>(levels.peakPower)) * 1.05));
}

std::size_t densityCells(const Levels& levels) {
  // Cells about as many as the square root of the samples: filled enough to show
  // a density for short waveforms, fine for long ones.
  return std::clamp<std::size_t>(
      static_cast<std::size_t>(1.5 * std::sqrt(static_cast<double>(levels.samples))),
      kFewestDensityCells, kMostDensityCells);
}

PlotFigures measurePlot(SamplePieces& pieces, double clockHz, std::optional<double> symbolRateHz,
                        const PlotPanels& panels) {
  PlotFigures figures;
  const std::size_t count = pieces.samples();
  const bool clocked = clockHz > 0;

  // First pass: levels, spectrum, symbol timing and the first pairs.
  LevelMeter meter;
  std::unique_ptr<WelchStream> welch;
  if (panels.spectrum && clocked && count >= kMinSpectrumSamples) {
    welch = std::make_unique<WelchStream>(count);
  }
  std::optional<TimingSearch> search;
  if ((panels.constellation || panels.eye) && clocked && symbolRateHz && *symbolRateHz > 0) {
    search.emplace(count, clockHz / *symbolRateHz);
  }
  const std::size_t firstPairs = std::min(
      count, panels.eye ? kLongestEyeBlock : (panels.time ? kTimeViewSamples : std::size_t{0}));
  std::vector<std::int16_t> first;
  first.reserve(2 * firstPairs);
  pieces.forEach([&](std::span<const std::int16_t> piece) {
    meter.add(piece);
    if (welch) welch->add(piece);
    if (search) search->add(piece);
    if (first.size() < 2 * firstPairs) {
      const std::size_t take = std::min(piece.size(), 2 * firstPairs - first.size());
      first.insert(first.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(take));
    }
  });
  figures.levels = meter.levels();
  if (welch) figures.spectrum = welch->finish(clockHz);
  if (search) figures.timing = search->result();

  // Second pass, on the peak and the timing: density, symbol values, power
  // distribution.
  const Levels& levels = figures.levels;
  const bool ccdf = panels.ccdf && levels.peakPower > 0;
  if (panels.constellation || ccdf) {
    if (panels.constellation) {
      figures.density = emptyDensity(densityCells(levels), densityRange(levels));
    }
    std::optional<SymbolSampler> sampler;
    if (panels.constellation && figures.timing) {
      sampler.emplace(count, *figures.timing, kMaxSymbolPoints);
    }
    std::optional<PowerDistribution> distribution;
    if (ccdf) distribution.emplace(levels.peakPower);
    pieces.forEach([&](std::span<const std::int16_t> piece) {
      if (panels.constellation) addDensity(figures.density, piece);
      if (sampler) sampler->add(piece);
      if (distribution) distribution->add(piece);
    });
    if (sampler) figures.symbolValues = sampler->take();
    if (distribution) {
      distribution->finish();
      figures.ccdf = ccdfCurve(levels, *distribution, kCcdfStepDb);
    }
  }

  if (panels.time) {
    figures.firstSamples.assign(
        first.begin(),
        first.begin() + static_cast<std::ptrdiff_t>(2 * std::min(count, kTimeViewSamples)));
  }
  if (panels.eye && figures.timing) {
    figures.eye = eyeTraces(first, *figures.timing, kEyeTraces, kEyePointsPerSymbol);
  }
  return figures;
}

}  // namespace arbsuite::analysis
