// Independent references for the preparation tests: a direct DFT, a seeded generator
// of complex Gaussian samples, and band-limited multi-tone signals.
#pragma once

#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <vector>

namespace preptest {

using Iq = std::complex<double>;

// X_k = sum_n x_n e^(-j 2 pi k n / N), summed directly.
inline std::vector<Iq> directDft(const std::vector<Iq>& x) {
  const std::size_t n = x.size();
  std::vector<Iq> out(n);
  for (std::size_t k = 0; k < n; ++k) {
    Iq sum = 0;
    for (std::size_t m = 0; m < n; ++m)
      sum += x[m] * std::polar(1.0, -2 * std::numbers::pi * static_cast<double>((k * m) % n) /
                                        static_cast<double>(n));
    out[k] = sum;
  }
  return out;
}

// Uniform doubles in [0, 1) from a 64-bit linear congruential generator.
struct Lcg {
  std::uint64_t state;
  double next() {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<double>(state >> 11) / 9007199254740992.0;
  }
  Iq gaussian() {
    const double r = std::sqrt(-2 * std::log(1 - next()));
    const double a = 2 * std::numbers::pi * next();
    return std::polar(r / std::sqrt(2.0), a);
  }
};

// `count` tones of random phase at bins first, first + step, ... of an n-sample period.
inline std::vector<Iq> multiTone(std::size_t n, int first, int count, int step,
                                 std::uint64_t seed) {
  Lcg rng{seed};
  std::vector<Iq> x(n);
  for (int t = 0; t < count; ++t) {
    const double phase = 2 * std::numbers::pi * rng.next();
    const int bin = first + t * step;
    for (std::size_t m = 0; m < n; ++m)
      x[m] += std::polar(1.0, phase + 2 * std::numbers::pi * bin * static_cast<double>(m) /
                                          static_cast<double>(n));
  }
  return x;
}

inline double maxDifference(const std::vector<Iq>& a, const std::vector<Iq>& b) {
  double worst = 0;
  for (std::size_t k = 0; k < a.size() && k < b.size(); ++k)
    worst = std::max(worst, std::abs(a[k] - b[k]));
  return a.size() == b.size() ? worst : INFINITY;
}

}  // namespace preptest
