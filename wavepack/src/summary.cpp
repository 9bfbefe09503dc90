// Level statistics of the converted samples and the summary line.
#include "summary.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace arbsuite::wavepack {

void SampleStatistics::add(std::span<const std::int16_t> samples) {
  const std::size_t count = samples.size() / 2;
  std::uint64_t peak = peakSquared;
  std::uint64_t sum = 0;
  std::size_t k = 0;
#if defined(__SSE2__)
  // Four pairs at a time: madd gives I^2 + Q^2 per pair, at most 2^31, so the lanes
  // are read as unsigned (the sign bit flipped for the signed comparison).
  const __m128i flip = _mm_set1_epi32(INT32_MIN);
  const __m128i zero = _mm_setzero_si128();
  __m128i largest = flip;  // unsigned 0, flipped
  __m128i total = zero;    // two 64-bit sums
  for (; k + 4 <= count; k += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples.data() + 2 * k));
    const __m128i power = _mm_madd_epi16(v, v);
    const __m128i flipped = _mm_xor_si128(power, flip);
    const __m128i greater = _mm_cmpgt_epi32(flipped, largest);
    largest = _mm_or_si128(_mm_and_si128(greater, flipped), _mm_andnot_si128(greater, largest));
    total = _mm_add_epi64(total, _mm_unpacklo_epi32(power, zero));
    total = _mm_add_epi64(total, _mm_unpackhi_epi32(power, zero));
  }
  std::uint32_t lanes[4];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), _mm_xor_si128(largest, flip));
  for (const std::uint32_t lane : lanes) peak = std::max<std::uint64_t>(peak, lane);
  std::uint64_t sums[2];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(sums), total);
  sum = sums[0] + sums[1];
#endif
  for (; k < count; ++k) {
    const std::int64_t i = samples[2 * k];
    const std::int64_t q = samples[2 * k + 1];
    const auto power = static_cast<std::uint64_t>(i * i + q * q);
    peak = std::max(peak, power);
    sum += power;
  }
  peakSquared = peak;
  sumSquared += sum;
  pairs += count;
}

std::string summaryLine(const SampleStatistics& stats, std::int32_t clock,
                        const std::string& format) {
  char text[256];
  const double seconds = clock > 0 ? static_cast<double>(stats.pairs) / clock : 0.0;
  int n = std::snprintf(text, sizeof text, "Summary: %llu samples, clock %d Hz, duration %.6g s",
                        static_cast<unsigned long long>(stats.pairs), clock, seconds);
  std::string line(text, static_cast<std::size_t>(std::max(n, 0)));
  if (stats.peakSquared > 0) {
    const double peak = std::sqrt(static_cast<double>(stats.peakSquared));
    const double rms =
        std::sqrt(static_cast<double>(stats.sumSquared) / static_cast<double>(stats.pairs));
    n = std::snprintf(text, sizeof text, ", peak %.2f dBFS, RMS %.2f dBFS, crest factor %.2f dB",
                      20.0 * std::log10(peak / kFullScale), 20.0 * std::log10(rms / kFullScale),
                      20.0 * std::log10(peak / rms));
    line.append(text, static_cast<std::size_t>(std::max(n, 0)));
  } else {
    line += ", silent";
  }
  return line + ", read as " + format;
}

}  // namespace arbsuite::wavepack
