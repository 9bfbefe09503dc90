// Peak normalisation and truncation of IQ pairs to 16-bit sample words.
#include "quantizer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace wavepack {

namespace {

// Squares are safe from overflow and harmful underflow for magnitudes in this range.
constexpr double kSafeLow = 1e-150;
constexpr double kSafeHigh = 1e150;

}  // namespace

double peakModulus(std::span<const IqPair> pairs) {
  // Find the largest squared modulus cheaply, then take the scaled hypotenuse of
  // only those pairs whose square is within rounding of it: the result is the same
  // as the largest std::hypot over all pairs, without a hypot per pair.
  double largestSquare = 0.0;
  double largestAbs = 0.0;
  for (const IqPair& p : pairs) {
    largestSquare = std::max(largestSquare, p.i * p.i + p.q * p.q);
    largestAbs = std::max({largestAbs, std::fabs(p.i), std::fabs(p.q)});
  }
  if (largestAbs == 0.0) return 0.0;
  double peak = 0.0;
  if (largestAbs > kSafeHigh || largestAbs < kSafeLow || !std::isfinite(largestSquare)) {
    for (const IqPair& p : pairs) peak = std::max(peak, std::hypot(p.i, p.q));
    return peak;
  }
  const double threshold = largestSquare * (1.0 - 1e-12);
  for (const IqPair& p : pairs)
    if (p.i * p.i + p.q * p.q >= threshold) peak = std::max(peak, std::hypot(p.i, p.q));
  return peak;
}

double preparePeak(std::vector<IqPair>& pairs, double level) {
  if (!(std::fabs(level) <= 1.0))
    throw std::invalid_argument("Quantisation level must lie in [-1, 1]");
  double peak = peakModulus(pairs);
  if (std::isinf(peak)) {
    for (IqPair& p : pairs) p = {p.i * 0.5, p.q * 0.5};
    peak = peakModulus(pairs);
  }
  return peak;
}

void quantizeBlock(std::span<IqPair> pairs, double peak, double level, std::int16_t* out) {
  if (peak == 0.0) {  // all pairs zero
    std::fill_n(out, 2 * pairs.size(), std::int16_t{0});
    return;
  }
  const double scale = level * kPeakCode;
  for (IqPair& p : pairs) {
    p.i /= peak;
    p.q /= peak;
    // |value| <= |level| x kPeakCode here, so the 32-bit truncation is in range; only its
    // low 16 bits are kept.
    *out++ = static_cast<std::int16_t>(static_cast<std::int32_t>(p.i * scale));
    *out++ = static_cast<std::int16_t>(static_cast<std::int32_t>(p.q * scale));
  }
}

std::vector<std::int16_t> quantizeIq(std::vector<IqPair>& pairs, double level) {
  const double peak = preparePeak(pairs, level);
  std::vector<std::int16_t> samples(pairs.size() * 2);
  quantizeBlock(pairs, peak, level, samples.data());
  return samples;
}

}  // namespace wavepack
