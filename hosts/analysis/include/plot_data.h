// What the plots show, computed without any drawing: the constellation density,
// the symbol timing and the values at the symbol instants, eye traces, the first
// samples in time and the CCDF curve. The drawing code only scales and draws them.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "levels.h"
#include "sample_pieces.h"
#include "welch.h"

namespace arbsuite::analysis {

// What the panels show, and how much of it.
inline constexpr std::size_t kFewestDensityCells = 48;
inline constexpr std::size_t kMostDensityCells = 240;
inline constexpr std::size_t kMaxSymbolPoints = 4000;
inline constexpr std::size_t kTimeViewSamples = 256;
inline constexpr std::size_t kEyeTraces = 300;
inline constexpr std::size_t kEyePointsPerSymbol = 32;
inline constexpr double kCcdfStepDb = 0.05;
// The eye diagram interpolates at most this many of the first pairs.
inline constexpr std::size_t kLongestEyeBlock = std::size_t{1} << 16;

// Counts of samples in cells x cells squares tiling [-range, range]^2 (LSB);
// counts[x * cells + y] is the square of the x-th I and y-th Q interval. Samples
// outside the square are not counted.
struct DensityGrid {
  std::size_t cells = 0;
  double range = 0;
  std::vector<double> counts;
};
DensityGrid constellationDensity(std::span<const std::int16_t> iq, std::size_t cells, double range);

// The symbol instants phase + n x samplesPerSymbol, in samples from the first one.
struct SymbolTiming {
  double samplesPerSymbol = 1;
  double phase = 0;  // 0 <= phase < samplesPerSymbol
};

// The phase that gives the largest mean power at the instants (the centres of
// shaped pulses carry the most power), searched on the first 4096 symbols. With a
// whole number of samples per symbol (up to 2^20) the instants fall on samples;
// otherwise on 32 phases per symbol, between samples by linear interpolation.
SymbolTiming estimateSymbolTiming(std::span<const std::int16_t> iq, double samplesPerSymbol);

// The values at the symbol instants (linear interpolation between samples),
// spread evenly over the waveform when it has more than maxPoints symbols.
std::vector<std::complex<double>> symbolValues(std::span<const std::int16_t> iq,
                                               const SymbolTiming& timing, std::size_t maxPoints);

// Eye traces: I and Q over two symbols, from one symbol before an instant to one
// symbol after it, at pointsPerSymbol points per symbol, band-limited
// interpolation of the first samples (an FFT of the block, zero-padded). time
// holds the common abscissa in symbols (-1 ... 1); i[t], q[t] the trace values in LSB.
struct EyeTraces {
  std::vector<double> time;
  std::vector<std::vector<double>> i;
  std::vector<std::vector<double>> q;
};
EyeTraces eyeTraces(std::span<const std::int16_t> iq, const SymbolTiming& timing,
                    std::size_t maxTraces, std::size_t pointsPerSymbol);

// The CCDF of the instantaneous power relative to the mean power: fraction[k] of
// the samples lie more than db[k] decibels above it, for db from 0 in steps of
// stepDb up to the peak. Empty for a silent waveform.
struct CcdfCurve {
  std::vector<double> db;
  std::vector<double> fraction;
};
CcdfCurve ccdfCurve(std::span<const std::int16_t> iq, double stepDb);

// ccdfCurve from the levels and the power distribution of the samples.
class PowerDistribution;
CcdfCurve ccdfCurve(const Levels& levels, const PowerDistribution& distribution, double stepDb);

// The waveform's CCDF as a line on a logarithmic axis: x[k] in dB above the mean
// power, y[k] the log10 of the percentage of samples above, down to lowestLog. A
// constant envelope (FSK, a single tone) leaves no sample a step above the mean, no
// line but a point at most; its line then falls at the first step no sample
// reaches (edgeDb), from the level at 0 dB down the axis, so that it is drawn.
struct CcdfLine {
  std::vector<double> x;
  std::vector<double> y;
  bool constantEnvelope = false;
  double edgeDb = 0;
};
CcdfLine ccdfLine(const CcdfCurve& curve, double lowestLog);

// The CCDF of complex Gaussian noise at db above its mean power: exp(-10^(db/10)).
double gaussianCcdf(double db);

// The panels a plot draws.
struct PlotPanels {
  bool spectrum = false;
  bool constellation = false;
  bool time = false;
  bool ccdf = false;
  bool eye = false;
};

// Everything the panels draw, as the functions above compute it from the samples
// in memory: levels and spectrum, the constellation's density (cells and range
// from the levels) and symbol values, the first samples, the CCDF, the eye traces.
struct PlotFigures {
  Levels levels;
  std::optional<Spectrum> spectrum;  // none: too few samples, or no clock
  DensityGrid density;
  std::optional<SymbolTiming> timing;  // with a symbol rate
  std::vector<std::complex<double>> symbolValues;
  std::vector<std::int16_t> firstSamples;  // up to kTimeViewSamples pairs
  CcdfCurve ccdf;
  EyeTraces eye;
};

// The smallest round number (1, 1.2, 1.5, 2, 2.5, 3, 4, 5, 6 or 8 times a power of
// ten) that is at least value (> 0); 1 otherwise.
double niceCeiling(double value);

// The constellation's range (LSB, a round number above the peak) and cells.
double densityRange(const Levels& levels);
std::size_t densityCells(const Levels& levels);

// The figures of panels from the pairs of pieces in two passes, holding at most
// kLongestEyeBlock pairs besides a piece: clockHz > 0 for the spectrum and the
// symbol instants, symbolRateHz for the instants and the eye (else none is
// drawn). The same figures as on the samples in memory.
PlotFigures measurePlot(SamplePieces& pieces, double clockHz, std::optional<double> symbolRateHz,
                        const PlotPanels& panels);

}  // namespace arbsuite::analysis
