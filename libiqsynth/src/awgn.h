// White Gaussian noise: added to a signal at a carrier-to-noise ratio or made
// alone, white or band-limited, with the level results of the record.
#pragma once

#include <gsl/gsl_rng.h>

#include <cstdint>
#include <optional>

#include "iqSynthCfg.h"
#include "signalStatus.h"

namespace arbsuite::iqsynth {

// Records up to this length are white; longer ones are band-limited.
constexpr int kWhiteNoiseMaxLength = 2000;
// Taps of the windowed-sinc low-pass that band-limits long noise records.
constexpr unsigned kNoiseFilterTaps = 1999;
// Per-component deviation of the noise-only mode.
constexpr double kNoiseOnlySigma = 3.4076;

// Sum of I^2 + Q^2 over n samples into sumPower and the largest envelope
// sqrt(I^2 + Q^2) into peak (0 for n <= 0). Returns true.
bool sigLvlWatt(const double* iDat, const double* qDat, int n, double* sumPower, double* peak);
// Sum of I^2 + Q^2 over n samples. Returns true.
bool sigLvlWatt(const double* iDat, const double* qDat, int n, double* sumPower);

// The seeds of a run's noise. Every run that makes noise takes one base seed s: the value of
// GSL_RNG_SEED when it holds a decimal number from 0 to 4294967295 (read at that run), else
// the calendar time in seconds. Generator k is seeded with (4 s + k) mod 2^32: k = 0 and 1
// draw the I and Q samples of a white record, k = 2 and 3 the I and Q samples of a record that
// is then band-limited. MT19937 uses 32 bits of its seed, hence the modulus; GSL replaces the
// seed 0 by 4357.
struct NoiseSeed {
  std::uint32_t base = 0;
  bool fromEnvironment = false;  // GSL_RNG_SEED, else the calendar time
};
enum class NoiseGenerator : std::uint32_t {
  WhiteI = 0,
  WhiteQ = 1,
  BandLimitedI = 2,
  BandLimitedQ = 3
};
constexpr std::uint32_t generatorSeed(std::uint32_t base, NoiseGenerator generator) {
  return 4u * base + static_cast<std::uint32_t>(generator);  // unsigned: wraps modulo 2^32
}
// The seed a value of GSL_RNG_SEED gives: none for null (unset) or an empty text. Throws
// a Config IqSynthError IQSYNTH_ERR_CFG_VALUE naming GSL_RNG_SEED for any other text that is not a
// decimal number from 0 to 4294967295 (no sign, no spaces).
std::optional<std::uint32_t> seedFromEnvironment(const char* value);
// The base seed of a run that makes noise: GSL_RNG_SEED read now, else the calendar time.
// Writes "INFO : noise seed is <s> ..." to the run log, naming where the seed came from.
NoiseSeed noiseSeedForRun();

// Fills out[0..n-1] with Gaussian samples of deviation sigma from an MT19937
// generator seeded with seed. Returns 0, or 2 when the generator cannot be made.
int GaussRandGenerator(double* out, long n, double sigma, long seed);

// Complex Gaussian noise of per-component deviation sigma into iOut and qOut
// (n samples each, caller-owned). Records of up to 2000 samples, or whose noise
// bandwidth B1*B2 + 0.0001*(fs - B1*B2) would exceed fs, are white and
// *noiseBW = fs; longer ones are low-pass filtered to that bandwidth (Hz).
// Seeds come from noiseSeedForRun (GSL_RNG_SEED, else the calendar time in seconds).
// Returns 0, 1 (no memory), 2 (generator failed) or the filter's code. Throws
// a Config IqSynthError IQSYNTH_ERR_CFG_VALUE when GSL_RNG_SEED holds an unusable text.
int geneGaussBandLimitedNoiseFFT(double* iOut, double* qOut, double* noiseBW, double fs, int n,
                                 double B1, double B2, double sigma);

// Adds noise to sigI/sigQ (n samples, in place) so that the noise in the system
// bandwidth bSys (Hz) lies cnr_dB below the mean signal power; noiseI/noiseQ are
// caller-owned work arrays of n samples. fs is the sample rate (Hz). Writes the
// noise bandwidth and the levels in dB relative to the peak envelope power of the
// noisy signal. Returns 0, or 2 when no noise could be made (signal untouched).
int awgnAddNoise(double* noiseI, double* noiseQ, double* sigI, double* sigQ, int n, double bSys,
                 double ratio, double* noiseBW, double fs, double cnr_dB, double* carrierLvl,
                 double* sigLvl, double* noiseLvlSys, double* noiseLvlTotal, double* sigPep);

// Noise alone (deviation 3.4076 per component) into iOut/qOut, n samples at fs,
// with its levels relative to its own peak envelope power.
// Returns 0, or 2 when no noise could be made.
int awgnOnlyNoise(double fs, double* iOut, double* qOut, int n, double bSys, double ratio,
                  double* noiseBW, double* noiseLvlSys, double* noiseLvlTotal, double* sigPep);

// The settings the noise-only working mode reads (the record's fields of the same names).
struct NoiseOnlySettings {
  int noiseSeqLength;           // samples
  double noiseSampleRate;       // Hz
  double noiseSystemBandwidth;  // Hz
  double bandWidthRatio;        // noise bandwidth / system bandwidth
};
NoiseOnlySettings noiseOnlySettingsOf(const iqSynthCfg& cfg);

// The levels it measures: the record's fields of the same names, written in place.
struct NoiseOnlyLevels {
  double& noiseBandWidth;   // Hz
  double& noiseLvlSysBW;    // dB, in the system bandwidth
  double& noiseLvlTotalBW;  // dB, in the total bandwidth
  double& sigLvlPep;        // 0: there is no signal
};
NoiseOnlyLevels noiseOnlyLevelsOf(iqSynthCfg& cfg);

// The noise-only working mode: noiseSeqLength samples of noise at noiseSampleRate
// into iTrack/qTrack (resized), the levels written. Returns 0.
// Throws a Config IqSynthError IQSYNTH_ERR_CFG_VALUE for unusable settings, an Awgn IqSynthError
// IQSYNTH_ERR_NOISE_BASE | code (IQSYNTH_ERR_NOISE) when the noise cannot be made,
// a MemAlloc IqSynthError on allocation failure.
int runAWGN(const NoiseOnlySettings& settings, const NoiseOnlyLevels& levels,
            std::valarray<double>& iTrack, std::valarray<double>& qTrack);

// Checks the settings every noise stage needs: sample rate fs (Hz), system bandwidth
// (noiseSystemBandwidth, Hz) and bandwidth ratio (bandWidthRatio) must be finite and positive.
// Throws a Config IqSynthError IQSYNTH_ERR_CFG_VALUE naming the field otherwise.
void checkNoiseSettings(double fs, const char* sampleRateName, double noiseSystemBandwidth,
                        double bandWidthRatio);

// Test seam: replaces the allocator of the GSL generator (nullptr restores
// gsl_rng_alloc) so that tests can make the generator fail. Returns the previous one.
using GslRngAllocFn = gsl_rng* (*)(const gsl_rng_type*);
GslRngAllocFn setGslRngAllocForTesting(GslRngAllocFn alloc);

}  // namespace arbsuite::iqsynth
