// Peak normalisation and truncation of IQ pairs to 16-bit sample words.
#include "quantizer.h"

#include "parallel.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace arbsuite {

namespace {

// Squares are safe from overflow and harmful underflow for magnitudes in this range.
constexpr double kSafeLow = 1e-150;
constexpr double kSafeHigh = 1e150;

// Pairs a pass over a source takes at a time.
constexpr std::size_t kScratchPairs = 16384;

// Below this peak the modulus of subnormal values is rounded to a few bits, and the
// normalised peak would miss the level; above it every modulus is a normal number.
const double kTinyPeak = std::ldexp(1.0, -960);

// The power of two that brings a tiny peak to [1, 2), or as near as a double's range
// allows (2^1023 takes the smallest subnormal to 2^-51).
double boostFor(double peak) { return std::ldexp(1.0, std::min(1023, -std::ilogb(peak))); }

}  // namespace

namespace {

// The largest I^2 + Q^2 and the largest |I| or |Q| of the pairs.
void largestSquareAndValue(std::span<const IqPair> pairs, double& square, double& value) {
  double largestSquare = 0.0;
  double largestAbs = 0.0;
  std::size_t k = 0;
#if defined(__SSE2__)
  // Two pairs at a time, with the same operations as the scalar loop: (I*I) + (Q*Q).
  const __m128d signBit = _mm_set1_pd(-0.0);
  __m128d squares = _mm_setzero_pd();
  __m128d values = _mm_setzero_pd();
  for (; k + 2 <= pairs.size(); k += 2) {
    const __m128d a = _mm_loadu_pd(&pairs[k].i);
    const __m128d b = _mm_loadu_pd(&pairs[k + 1].i);
    const __m128d i = _mm_unpacklo_pd(a, b);
    const __m128d q = _mm_unpackhi_pd(a, b);
    squares = _mm_max_pd(squares, _mm_add_pd(_mm_mul_pd(i, i), _mm_mul_pd(q, q)));
    values = _mm_max_pd(values, _mm_max_pd(_mm_andnot_pd(signBit, i), _mm_andnot_pd(signBit, q)));
  }
  double lanes[2];
  _mm_storeu_pd(lanes, squares);
  largestSquare = std::max(lanes[0], lanes[1]);
  _mm_storeu_pd(lanes, values);
  largestAbs = std::max(lanes[0], lanes[1]);
#endif
  for (; k < pairs.size(); ++k) {
    const IqPair& p = pairs[k];
    largestSquare = std::max(largestSquare, p.i * p.i + p.q * p.q);
    largestAbs = std::max({largestAbs, std::fabs(p.i), std::fabs(p.q)});
  }
  square = largestSquare;
  value = largestAbs;
}

}  // namespace

double peakModulus(std::span<const IqPair> pairs) {
  // Find the largest squared modulus cheaply, then take the scaled hypotenuse of
  // only those pairs whose square is within rounding of it: the result is the same
  // as the largest std::hypot over all pairs, without a hypot per pair.
  double largestSquare = 0.0;
  double largestAbs = 0.0;
  largestSquareAndValue(pairs, largestSquare, largestAbs);
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
  if (std::isinf(peak) || (peak > 0.0 && peak < kTinyPeak)) {
    const double factor = std::isinf(peak) ? 0.5 : boostFor(peak);
    for (IqPair& p : pairs) p = {p.i * factor, p.q * factor};
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

namespace {

// Parts a pass over `count` pairs is split into: one per core, fewer for small inputs.
unsigned partsFor(std::uint64_t count) {
  constexpr std::uint64_t kPairsPerPart = 262144;
  return static_cast<unsigned>(std::clamp<std::uint64_t>(count / kPairsPerPart, 1, threadCount()));
}

// Calls visit(block, index of its first pair) for the pairs [begin, end), in order.
template <typename Visit>
void forEachBlock(PairSource& source, std::uint64_t begin, std::uint64_t end, Visit&& visit) {
  thread_local std::vector<IqPair> scratch(kScratchPairs);
  for (std::uint64_t k = begin; k < end;) {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(kScratchPairs, end - k));
    const std::span<const IqPair> block = source.read(k, std::span(scratch).first(want));
    visit(block, k);
    k += block.size();
  }
}

}  // namespace

namespace {

// Whether the pairs of this peak are divided by it as they are (no power of two first).
bool needsNoPrescale(double peak) { return !std::isinf(peak) && !(peak > 0.0 && peak < kTinyPeak); }

}  // namespace

std::optional<PeakScale> knownPeakScale(const PairSource& source) {
  const std::optional<double> peak = source.knownPeak();
  if (!peak || !needsNoPrescale(*peak)) return std::nullopt;
  return PeakScale{*peak, 1.0};
}

PeakScale findPeak(PairSource& source) {
  const std::uint64_t total = source.size();
  const unsigned parts = partsFor(total);
  std::vector<double> peaks(parts, 0.0);
  runParts(parts, [&](unsigned part) {
    forEachBlock(source, partStart(total, parts, part), partStart(total, parts, part + 1),
                 [&](std::span<const IqPair> block, std::uint64_t) {
                   peaks[part] = std::max(peaks[part], peakModulus(block));
                 });
  });
  PeakScale scale;
  for (const double peak : peaks) scale.peak = std::max(scale.peak, peak);
  if (needsNoPrescale(scale.peak)) return scale;
  // Scaling by a power of two is exact at these magnitudes, so the normalised values
  // are those of exact arithmetic.
  scale = {0.0, std::isinf(scale.peak) ? 0.5 : boostFor(scale.peak)};
  std::vector<IqPair> scaled(kScratchPairs);
  forEachBlock(source, 0, total, [&](std::span<const IqPair> block, std::uint64_t) {
    for (std::size_t j = 0; j < block.size(); ++j)
      scaled[j] = {block[j].i * scale.prescale, block[j].q * scale.prescale};
    scale.peak = std::max(scale.peak, peakModulus(std::span(scaled).first(block.size())));
  });
  return scale;
}

void quantizeSource(
    PairSource& source, const PeakScale& scale, double level,
    const std::function<void(std::span<const std::int16_t>)>& sink,
    const std::function<void(unsigned part, std::span<const std::int16_t>)>& partSink) {
  // Rounds of pairs whose parts are quantised at the same time into one buffer,
  // which the sink then takes in order.
  constexpr std::uint64_t kRoundPairs = std::uint64_t{1} << 20;
  const std::uint64_t total = source.size();
  std::vector<std::int16_t> samples(2 * static_cast<std::size_t>(std::min(kRoundPairs, total)));
  for (std::uint64_t round = 0; round < total; round += kRoundPairs) {
    const std::uint64_t n = std::min(kRoundPairs, total - round);
    const unsigned parts = partsFor(n);
    runParts(parts, [&](unsigned part) {
      const std::uint64_t begin = partStart(n, parts, part);
      const std::uint64_t end = partStart(n, parts, part + 1);
      forEachBlock(source, round + begin, round + end,
                   [&](std::span<const IqPair> block, std::uint64_t at) {
                     quantizePairs(block, scale, level, samples.data() + 2 * (at - round));
                   });
      if (partSink)
        partSink(part, std::span<const std::int16_t>(samples).subspan(
                           2 * static_cast<std::size_t>(begin),
                           2 * static_cast<std::size_t>(end - begin)));
    });
    sink(std::span<const std::int16_t>(samples).first(2 * static_cast<std::size_t>(n)));
  }
}

void quantizePairs(std::span<const IqPair> pairs, const PeakScale& scale, double level,
                   std::int16_t* out) {
  if (scale.peak == 0.0) {  // all pairs zero
    std::fill_n(out, 2 * pairs.size(), std::int16_t{0});
    return;
  }
  const double peak = scale.peak;
  const double factor = level * kPeakCode;
  const double prescale = scale.prescale;  // exact: a power of two
  std::size_t k = 0;
#if defined(__SSE2__)
  // Four pairs at a time with the operations of the scalar loop below. The values
  // lie within +-8191 for a level of at most 1, so the saturating pack keeps them.
  if (std::fabs(level) <= 1.0) {
    const __m128d vPrescale = _mm_set1_pd(prescale);
    const __m128d vPeak = _mm_set1_pd(peak);
    const __m128d vFactor = _mm_set1_pd(factor);
    auto truncated = [&](const IqPair& p) {
      const __m128d v = _mm_loadu_pd(&p.i);
      return _mm_cvttpd_epi32(_mm_mul_pd(_mm_div_pd(_mm_mul_pd(v, vPrescale), vPeak), vFactor));
    };
    for (; k + 4 <= pairs.size(); k += 4) {
      const __m128i low = _mm_unpacklo_epi64(truncated(pairs[k]), truncated(pairs[k + 1]));
      const __m128i high = _mm_unpacklo_epi64(truncated(pairs[k + 2]), truncated(pairs[k + 3]));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * k), _mm_packs_epi32(low, high));
    }
  }
#endif
  for (; k < pairs.size(); ++k) {
    // The same operations, in the same order, as quantizeBlock: divide, then scale.
    const double i = pairs[k].i * prescale / peak;
    const double q = pairs[k].q * prescale / peak;
    out[2 * k] = static_cast<std::int16_t>(static_cast<std::int32_t>(i * factor));
    out[2 * k + 1] = static_cast<std::int16_t>(static_cast<std::int32_t>(q * factor));
  }
}

std::vector<std::int16_t> quantizeIq(std::vector<IqPair>& pairs, double level) {
  const double peak = preparePeak(pairs, level);
  std::vector<std::int16_t> samples(pairs.size() * 2);
  quantizeBlock(pairs, peak, level, samples.data());
  return samples;
}

}  // namespace arbsuite
