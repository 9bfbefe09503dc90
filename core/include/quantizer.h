// Normalisation of complex samples to their peak modulus and quantisation to the
// 16-bit sample words the packer consumes.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "pair_source.h"

namespace arbsuite {

inline constexpr double kPeakLevel = 0.81;  // peak modulus as a fraction of kPeakCode
// The largest sample code the quantiser writes at level 1: the 14-bit range the
// instrument plays is -8192..8191, and the quantiser stays symmetric within it.
inline constexpr double kPeakCode = 8191.0;

// Largest modulus sqrt(I^2 + Q^2) over the pairs (0 for none), computed without
// intermediate overflow or underflow.
double peakModulus(std::span<const IqPair> pairs);

// The divisor of the normalisation: the peak modulus. Pairs whose modulus exceeds the
// double range are halved first, and pairs whose peak is so small that its modulus
// loses precision (subnormal values) are scaled up by a power of two first (both
// exact, so the normalised values are those of exact arithmetic); 0 when every pair
// is zero. Throws std::invalid_argument for a level
// outside [-1, 1].
double preparePeak(std::vector<IqPair>& pairs, double level);

// Normalises pairs by `peak` in place and writes trunc(I x level x kPeakCode), then the
// same of Q, for each pair into `out` (2 values per pair). A zero peak writes zeros.
void quantizeBlock(std::span<IqPair> pairs, double peak, double level, std::int16_t* out);

// The divisor of the normalisation for a whole source, found in one pass over it
// (on every core for large sources): its peak modulus, of the pairs scaled by a power
// of two when a modulus exceeds the double range (halved) or is too small for its
// square (scaled up).
struct PeakScale {
  double peak = 0.0;      // 0 when every pair is zero
  double prescale = 1.0;  // the power of two the pairs are multiplied by before the division
};
PeakScale findPeak(PairSource& source);

// What findPeak gives from a source's known peak (PairSource::knownPeak) without
// reading its pairs; none when the source knows no peak or its pairs need scaling
// first (findPeak then makes the passes that scale them).
std::optional<PeakScale> knownPeakScale(const PairSource& source);

// The quantisation of quantizeBlock without changing the pairs: trunc(I / peak x
// level x kPeakCode), then the same of Q, for each pair (multiplied by the prescale
// first).
void quantizePairs(std::span<const IqPair> pairs, const PeakScale& scale, double level,
                   std::int16_t* out);

// Quantises every pair of the source with quantizePairs, in order, and hands the
// samples to `sink` in blocks. Passes over large sources use every core: each block
// is quantised in parts at the same time, and `partSink`, when given, is called on
// each part's samples on the thread that made them (with the part's number, below
// threadCount()) before the block goes to `sink`.
void quantizeSource(
    PairSource& source, const PeakScale& scale, double level,
    const std::function<void(std::span<const std::int16_t>)>& sink,
    const std::function<void(unsigned part, std::span<const std::int16_t>)>& partSink = {});

// Divides every pair by the peak modulus (in place), then returns I0, Q0, I1, Q1, ...
// each trunc(value x level x kPeakCode) toward zero. All-zero input gives all-zero samples.
// The pairs must be finite.
std::vector<std::int16_t> quantizeIq(std::vector<IqPair>& pairs, double level);

}  // namespace arbsuite

// The readers and the program of wavepack name these in their own namespace.
namespace arbsuite::wavepack {
using arbsuite::findPeak;
using arbsuite::knownPeakScale;
using arbsuite::kPeakCode;
using arbsuite::kPeakLevel;
using arbsuite::peakModulus;
using arbsuite::PeakScale;
using arbsuite::preparePeak;
using arbsuite::quantizeBlock;
using arbsuite::quantizeIq;
using arbsuite::quantizePairs;
using arbsuite::quantizeSource;
}  // namespace arbsuite::wavepack
