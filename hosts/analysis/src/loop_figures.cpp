// The seam figures on 16-bit codes: the squared modulus of a step is a whole number
// below 2^33, so its percentile is found exactly by two passes of counting (the high
// bits, then the low bits inside the bucket that holds the rank), with no copy of the
// steps.
#include "loop_figures.h"

#include <cmath>
#include <complex>
#include <limits>
#include <vector>

#include "waveform_prep.h"

namespace arbsuite::analysis {
namespace {

constexpr unsigned kLowBits = 17;  // 2^33 >> 17: 65,536 high buckets, 131,072 low ones
constexpr std::uint64_t kLowMask = (std::uint64_t{1} << kLowBits) - 1;

std::uint64_t squaredStep(const std::int16_t* a, const std::int16_t* b) {
  const std::int64_t di = std::int64_t{b[0]} - a[0];
  const std::int64_t dq = std::int64_t{b[1]} - a[1];
  return static_cast<std::uint64_t>(di * di + dq * dq);
}

// Calls f with the squared modulus of every step between neighbours of each piece.
template <typename F>
void forEachStep(std::span<const std::int16_t> a, std::span<const std::int16_t> b, F f) {
  for (const auto piece : {a, b}) {
    const std::size_t pairs = piece.size() / 2;
    for (std::size_t k = 1; k < pairs; ++k) f(squaredStep(&piece[2 * k - 2], &piece[2 * k]));
  }
}

std::size_t stepCount(std::span<const std::int16_t> a, std::span<const std::int16_t> b) {
  std::size_t count = 0;
  for (const auto piece : {a, b})
    if (piece.size() >= 4) count += piece.size() / 2 - 1;
  return count;
}

// The 99th percentile of the step moduli (nearest rank, as prep's), 0 without steps.
double stepPercentile(std::span<const std::int16_t> a, std::span<const std::int16_t> b) {
  const std::size_t count = stepCount(a, b);
  if (count == 0) return 0;
  const auto rank =
      static_cast<std::size_t>(std::ceil(0.99 * static_cast<double>(count))) - 1;  // from 0
  std::vector<std::uint64_t> high(std::size_t{1} << (33 - kLowBits), 0);
  forEachStep(a, b, [&](std::uint64_t s) { ++high[s >> kLowBits]; });
  std::size_t below = 0;
  std::uint64_t bucket = 0;
  while (below + high[bucket] <= rank) below += high[bucket++];
  std::vector<std::uint64_t> low(std::size_t{1} << kLowBits, 0);
  forEachStep(a, b, [&](std::uint64_t s) {
    if ((s >> kLowBits) == bucket) ++low[s & kLowMask];
  });
  std::uint64_t value = 0;
  while (below + low[value] <= rank) below += low[value++];
  return std::sqrt(static_cast<double>((bucket << kLowBits) | value));
}

SeamFigures figures(const std::int16_t* last, const std::int16_t* first, double percentile) {
  SeamFigures s;
  s.jumpLsb = std::sqrt(static_cast<double>(squaredStep(last, first)));
  s.ratio = percentile > 0 ? s.jumpLsb / percentile
                           : (s.jumpLsb > 0 ? std::numeric_limits<double>::infinity() : 0.0);
  return s;
}

}  // namespace

std::optional<SeamFigures> seamOf(std::span<const std::int16_t> iq) {
  if (iq.size() < 2) return std::nullopt;
  const std::size_t pairs = iq.size() / 2;
  return figures(&iq[2 * pairs - 2], &iq[0], stepPercentile(iq, {}));
}

std::optional<SeamFigures> boundaryOf(std::span<const std::int16_t> before,
                                      std::span<const std::int16_t> after) {
  if (before.size() < 2 || after.size() < 2) return std::nullopt;
  const std::size_t pairs = before.size() / 2;
  return figures(&before[2 * pairs - 2], &after[0], stepPercentile(before, after));
}

namespace {

std::vector<std::complex<double>> complexPairs(std::span<const std::int16_t> iq) {
  const std::size_t pairs = iq.size() / 2;
  std::vector<std::complex<double>> x(pairs);
  for (std::size_t k = 0; k < pairs; ++k)
    x[k] = {static_cast<double>(iq[2 * k]), static_cast<double>(iq[2 * k + 1])};
  return x;
}

}  // namespace

std::optional<double> loopRegrowthOf(std::span<const std::int16_t> iq) {
  const std::size_t pairs = iq.size() / 2;
  if (pairs == 0 || pairs > kLoopRegrowthLimit) return std::nullopt;
  std::vector<std::complex<double>> x = complexPairs(iq);
  return arbsuite::prep::loopRegrowthDbInPlace(x);
}

std::optional<double> loopRegrowthOf(std::vector<std::int16_t>&& iq) {
  const std::size_t pairs = iq.size() / 2;
  if (pairs == 0 || pairs > kLoopRegrowthLimit) return std::nullopt;
  std::vector<std::complex<double>> x = complexPairs(iq);
  std::vector<std::int16_t>().swap(iq);
  return arbsuite::prep::loopRegrowthDbInPlace(x);
}

}  // namespace arbsuite::analysis
