// Power figures of complex samples computed from their definitions, as the tests'
// own reference for what the programs and libraries report.
#pragma once

#include <algorithm>
#include <cmath>
#include <complex>

namespace arbtest {

// The peak-to-average power ratio in dB (the crest factor of the envelope).
template <typename Samples>
double paprDb(const Samples& samples) {
  double peak = 0;
  double sum = 0;
  for (const auto& s : samples) {
    peak = std::max(peak, std::norm(s));
    sum += std::norm(s);
  }
  return 10 * std::log10(peak / (sum / static_cast<double>(samples.size())));
}

}  // namespace arbtest
