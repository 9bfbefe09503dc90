// Level statistics of the converted samples and the summary line.
#include "summary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace wavepack {

void SampleStatistics::add(std::span<const std::int16_t> samples) {
  double peak = peakSquared;
  double sum = 0.0;
  for (std::size_t k = 0; k + 1 < samples.size(); k += 2) {
    const double i = samples[k];
    const double q = samples[k + 1];
    const double power = i * i + q * q;
    peak = std::max(peak, power);
    sum += power;
  }
  peakSquared = peak;
  sumSquared += sum;
  pairs += samples.size() / 2;
}

std::string summaryLine(const SampleStatistics& stats, std::int32_t clock,
                        const std::string& format) {
  char text[256];
  const double seconds = clock > 0 ? static_cast<double>(stats.pairs) / clock : 0.0;
  int n = std::snprintf(text, sizeof text, "Summary: %llu samples, clock %d Hz, duration %.6g s",
                        static_cast<unsigned long long>(stats.pairs), clock, seconds);
  std::string line(text, static_cast<std::size_t>(std::max(n, 0)));
  if (stats.peakSquared > 0.0) {
    const double peak = std::sqrt(stats.peakSquared);
    const double rms = std::sqrt(stats.sumSquared / static_cast<double>(stats.pairs));
    n = std::snprintf(text, sizeof text, ", peak %.2f dBFS, RMS %.2f dBFS, crest factor %.2f dB",
                      20.0 * std::log10(peak / kFullScale), 20.0 * std::log10(rms / kFullScale),
                      20.0 * std::log10(peak / rms));
    line.append(text, static_cast<std::size_t>(std::max(n, 0)));
  } else {
    line += ", silent";
  }
  return line + ", read as " + format;
}

}  // namespace wavepack
