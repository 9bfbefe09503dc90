// The signal energy of 16-bit samples (the "Value" item of the text headers): the
// sum of (v / 8192)^2 in doubles and in order, and the exact integer sum of v^2 it is
// computed from where that gives the same double (eight values at a time with SSE2).

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "arb_format.h"

namespace arbsuite::arb {

double signalEnergy(std::span<const std::int16_t> values) { return signalEnergy(values, 0.0); }

double signalEnergy(std::span<const std::int16_t> values, double start) {
  double sum = start;
  for (const std::int16_t v : values) {
    const double x = v / kEnergyDivisor;
    sum += x * x;
  }
  return sum;
}

double signalEnergy(std::span<const std::uint8_t> sampleBytes) {
  double sum = 0.0;
  for (std::size_t i = 0; i + 1 < sampleBytes.size(); i += 2) {
    const double x = static_cast<std::int16_t>(loadU16(&sampleBytes[i])) / kEnergyDivisor;
    sum += x * x;
  }
  return sum;
}

std::uint64_t sumOfSquares(std::span<const std::int16_t> values) {
  const std::int16_t* p = values.data();
  const std::size_t n = values.size();
  std::size_t i = 0;
  std::uint64_t sum = 0;
#if defined(__SSE2__)
  // pmaddwd adds the squares of two neighbours into 32 bits: at most 2^31 (both
  // -32768), exact when read as unsigned. The four lanes are widened into two 64-bit
  // sums at every step.
  const __m128i zero = _mm_setzero_si128();
  __m128i low = zero;
  __m128i high = zero;
  for (; i + 8 <= n; i += 8) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const __m128i squares = _mm_madd_epi16(v, v);
    low = _mm_add_epi64(low, _mm_unpacklo_epi32(squares, zero));
    high = _mm_add_epi64(high, _mm_unpackhi_epi32(squares, zero));
  }
  alignas(16) std::uint64_t lanes[2];
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes), _mm_add_epi64(low, high));
  sum = lanes[0] + lanes[1];
#endif
  for (; i < n; ++i) sum += static_cast<std::uint64_t>(std::int32_t{p[i]} * p[i]);
  return sum;
}

double orderedSignalEnergy(std::uint64_t sum, std::span<const std::int16_t> values) {
  if (sum < (std::uint64_t{1} << 53)) {
    return static_cast<double>(sum) / (kEnergyDivisor * kEnergyDivisor);
  }
  return signalEnergy(values);
}

long double exactSignalEnergy(std::span<const std::int16_t> values) {
  return exactSignalEnergy(sumOfSquares(values));
}

long double exactSignalEnergy(std::uint64_t sum) {
  return static_cast<long double>(sum) / (kEnergyDivisor * kEnergyDivisor);
}

}  // namespace arbsuite::arb
