// Test helper: the noise the synthesis library draws, computed here straight from GSL, so that
// a fixed-seed run can be compared with it sample for sample.
#pragma once

#include <gsl/gsl_randist.h>
#include <gsl/gsl_rng.h>

#include <cstddef>
#include <vector>

// n samples of GSL's ziggurat of deviation sigma from GSL's MT19937 seeded with seed.
inline std::vector<double> gslGaussian(std::size_t n, double sigma, unsigned long seed) {
  gsl_rng* rng = gsl_rng_alloc(gsl_rng_mt19937);
  gsl_rng_set(rng, seed);
  std::vector<double> out(n);
  for (double& v : out) v = gsl_ran_gaussian_ziggurat(rng, sigma);
  gsl_rng_free(rng);
  return out;
}

// The seed of noise generator k (0/1: I/Q of a white record; 2/3: I/Q before the band-limiting
// filter) for the base seed s, as iqsynth.h documents it.
inline unsigned long generatorSeedOf(unsigned long s, unsigned long k) {
  return (4 * s + k) % 4294967296ul;
}
