// What the plots show, computed without any drawing: the constellation density,
// the symbol timing and the values at the symbol instants, eye traces, the first
// samples in time and the CCDF curve. The drawing code only scales and draws them.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace arbsuite::analysis {

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
// shaped pulses carry the most power), searched on the first symbols. With a
// whole number of samples per symbol the instants fall on samples; otherwise on
// 32 phases per symbol, between samples by linear interpolation.
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

// The CCDF of complex Gaussian noise at db above its mean power: exp(-10^(db/10)).
double gaussianCcdf(double db);

}  // namespace arbsuite::analysis
