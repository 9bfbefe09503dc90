// Noise generation over GSL's MT19937 generator and Gaussian ziggurat sampler,
// band-limiting with the windowed-sinc FIR, and the level results of a record.
#include "awgn.h"

#include <gsl/gsl_errno.h>
#include <gsl/gsl_randist.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <new>
#include <numbers>
#include <string_view>

#include "FilterHann.h"
#include "iqSynthLog.h"

namespace arbsuite::iqsynth {

namespace {

GslRngAllocFn gRngAlloc = &gsl_rng_alloc;

std::unique_ptr<double[]> allocSamples(int n) {
  return std::unique_ptr<double[]>(
      new (std::nothrow) double[static_cast<std::size_t>(std::max(n, 1))]);
}

// Keeps GSL's error handler off for its lifetime, then puts the previous one back.
class GslHandlerOff {
 public:
  GslHandlerOff() : previous_(gsl_set_error_handler_off()) {}
  ~GslHandlerOff() { gsl_set_error_handler(previous_); }
  GslHandlerOff(const GslHandlerOff&) = delete;
  GslHandlerOff& operator=(const GslHandlerOff&) = delete;

 private:
  gsl_error_handler_t* previous_;
};

}  // namespace

GslRngAllocFn setGslRngAllocForTesting(GslRngAllocFn alloc) {
  const GslRngAllocFn previous = gRngAlloc;
  gRngAlloc = alloc != nullptr ? alloc : &gsl_rng_alloc;
  return previous;
}

bool sigLvlWatt(const double* iDat, const double* qDat, int n, double* sumPower, double* peak) {
  double sum = 0.0;
  double peakPower = 0.0;
  for (int k = 0; k < n; ++k) {
    const double p = iDat[k] * iDat[k] + qDat[k] * qDat[k];
    sum += p;
    peakPower = std::max(peakPower, p);
  }
  *sumPower = sum;
  *peak = std::sqrt(peakPower);
  return true;
}

bool sigLvlWatt(const double* iDat, const double* qDat, int n, double* sumPower) {
  double sum = 0.0;
  for (int k = 0; k < n; ++k) {
    sum += iDat[k] * iDat[k] + qDat[k] * qDat[k];
  }
  *sumPower = sum;
  return true;
}

std::optional<std::uint32_t> seedFromEnvironment(const char* value) {
  if (value == nullptr || value[0] == '\0') {
    return std::nullopt;
  }
  const std::string_view text(value);
  std::uint32_t seed = 0;
  const bool digitsOnly = text.find_first_not_of("0123456789") == std::string_view::npos;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seed);
  if (!digitsOnly || error != std::errc() || end != text.data() + text.size()) {
    throwCfgValue("GSL_RNG_SEED \"" + std::string(text) +
                  "\" is not a decimal seed from 0 to 4294967295");
  }
  return seed;
}

NoiseSeed noiseSeedForRun() {
  NoiseSeed seed;
  if (const std::optional<std::uint32_t> fromEnvironment =
          seedFromEnvironment(std::getenv("GSL_RNG_SEED"))) {
    seed.base = *fromEnvironment;
    seed.fromEnvironment = true;
    wrLog("INFO : noise seed is " + to_string(seed.base) + " (from GSL_RNG_SEED)");
  } else {
    seed.base = static_cast<std::uint32_t>(std::time(nullptr));
    wrLog("INFO : noise seed is " + to_string(seed.base) +
          " (from the calendar time; GSL_RNG_SEED=" + to_string(seed.base) + " repeats the noise)");
  }
  return seed;
}

int GaussRandGenerator(double* out, long n, double sigma, long seed) {
  // GSL's default handler aborts the process when the generator cannot be
  // allocated; turn it off so that the failure becomes a result code, and
  // restore whatever handler the host had installed.
  gsl_rng* rng = nullptr;
  {
    const GslHandlerOff handlerOff;
    rng = gRngAlloc(gsl_rng_mt19937);
  }
  if (rng == nullptr) {
    return kSignalFailed;
  }
  gsl_rng_set(rng, static_cast<unsigned long>(seed));
  for (long k = 0; k < n; ++k) {
    out[k] = gsl_ran_gaussian_ziggurat(rng, sigma);
  }
  gsl_rng_free(rng);
  return kSignalOk;
}

int geneGaussBandLimitedNoiseFFT(double* iOut, double* qOut, double* noiseBW, double fs, int n,
                                 double B1, double B2, double sigma) {
  const std::uint32_t seed = noiseSeedForRun().base;

  const double wanted = B1 * B2;
  bool white = n <= kWhiteNoiseMaxLength;
  double bandwidth = fs;
  if (!white) {
    bandwidth = wanted + 0.0001 * (fs - wanted);
    if (bandwidth > fs) {
      bandwidth = fs;
      white = true;
    }
  }
  *noiseBW = bandwidth;

  if (white) {
    int rc = GaussRandGenerator(iOut, n, sigma, generatorSeed(seed, NoiseGenerator::WhiteI));
    if (rc == kSignalOk) {
      rc = GaussRandGenerator(qOut, n, sigma, generatorSeed(seed, NoiseGenerator::WhiteQ));
    }
    return rc;
  }

  // The low-pass has unit DC gain, so the noise density in its passband is
  // that of the white noise it is made from.
  const double wc = bandwidth * std::numbers::pi / fs;
  const std::unique_ptr<double[]> raw = allocSamples(n);
  if (!raw) {
    return kSignalNoMemory;
  }
  double* const outputs[2] = {iOut, qOut};
  const NoiseGenerator generators[2] = {NoiseGenerator::BandLimitedI, NoiseGenerator::BandLimitedQ};
  for (int c = 0; c < 2; ++c) {
    int rc = GaussRandGenerator(raw.get(), n, sigma, generatorSeed(seed, generators[c]));
    if (rc == kSignalOk) {
      rc = filterWinFFT(kNoiseFilterTaps, wc, raw.get(), static_cast<unsigned>(n), outputs[c]);
    }
    if (rc != kSignalOk) {
      return rc;
    }
  }
  return kSignalOk;
}

int awgnAddNoise(double* noiseI, double* noiseQ, double* sigI, double* sigQ, int n, double bSys,
                 double ratio, double* noiseBW, double fs, double cnr_dB, double* carrierLvl,
                 double* sigLvl, double* noiseLvlSys, double* noiseLvlTotal, double* sigPep) {
  double signalPower = 0.0;
  sigLvlWatt(sigI, sigQ, n, &signalPower);
  const double meanSignalPower = signalPower / n;
  // Per-component deviation: white complex noise of this sigma carries
  // meanSignalPower / 10^(cnr/10) within the system bandwidth.
  const double sigma =
      std::sqrt((fs / bSys) * meanSignalPower * 0.5 / std::pow(10.0, cnr_dB / 10.0));

  if (geneGaussBandLimitedNoiseFFT(noiseI, noiseQ, noiseBW, fs, n, bSys, ratio, sigma) !=
      kSignalOk) {
    return kSignalFailed;
  }
  for (int k = 0; k < n; ++k) {
    sigI[k] += noiseI[k];
    sigQ[k] += noiseQ[k];
  }

  double noisyPower = 0.0;
  double peak = 0.0;
  sigLvlWatt(sigI, sigQ, n, &noisyPower, &peak);
  const double peakPower = peak * peak;
  *sigLvl = 10.0 * std::log10((noisyPower / n) / peakPower);
  *sigPep = 0.0;
  *carrierLvl = 10.0 * std::log10(meanSignalPower / peakPower);
  *noiseLvlSys = *carrierLvl - cnr_dB;
  *noiseLvlTotal = *carrierLvl + 10.0 * std::log10(*noiseBW / bSys) - cnr_dB;
  return kSignalOk;
}

int awgnOnlyNoise(double fs, double* iOut, double* qOut, int n, double bSys, double ratio,
                  double* noiseBW, double* noiseLvlSys, double* noiseLvlTotal, double* sigPep) {
  if (geneGaussBandLimitedNoiseFFT(iOut, qOut, noiseBW, fs, n, bSys, ratio, kNoiseOnlySigma) !=
      kSignalOk) {
    return kSignalFailed;
  }
  double power = 0.0;
  double peak = 0.0;
  sigLvlWatt(iOut, qOut, n, &power, &peak);
  const double peakPower = peak * peak;
  *noiseLvlTotal = 10.0 * std::log10((power / n) / peakPower);
  *noiseLvlSys = 10.0 * std::log10((power * bSys) / (peakPower * n * *noiseBW));
  *sigPep = 0.0;
  return kSignalOk;
}

void checkNoiseSettings(double fs, const char* sampleRateName, double noiseSystemBandwidth,
                        double bandWidthRatio) {
  auto require = [](bool ok, const std::string& field, double value) {
    if (!ok) {
      throwCfgValue(field + " " + to_string(value) + " must be a finite positive value for noise");
    }
  };
  require(std::isfinite(fs) && fs > 0.0, sampleRateName, fs);
  require(std::isfinite(noiseSystemBandwidth) && noiseSystemBandwidth > 0.0, "noiseSystemBandwidth",
          noiseSystemBandwidth);
  require(std::isfinite(bandWidthRatio) && bandWidthRatio > 0.0, "bandWidthRatio", bandWidthRatio);
}

NoiseOnlySettings noiseOnlySettingsOf(const iqSynthCfg& cfg) {
  return {cfg.noiseSeqLength, cfg.noiseSampleRate, cfg.noiseSystemBandwidth, cfg.bandWidthRatio};
}

NoiseOnlyLevels noiseOnlyLevelsOf(iqSynthCfg& cfg) {
  return {cfg.noiseBandWidth, cfg.noiseLvlSysBW, cfg.noiseLvlTotalBW, cfg.sigLvlPep};
}

int runAWGN(const NoiseOnlySettings& settings, const NoiseOnlyLevels& levels,
            std::valarray<double>& iTrack, std::valarray<double>& qTrack) {
  const int n = settings.noiseSeqLength;
  if (n < 1) {
    throwCfgValue("noiseSeqLength " + to_string(n) + " must be at least 1 in the noise-only mode");
  }
  checkNoiseSettings(settings.noiseSampleRate, "noiseSampleRate", settings.noiseSystemBandwidth,
                     settings.bandWidthRatio);

  const std::unique_ptr<double[]> iNoise = allocSamples(n);
  if (!iNoise) {
    throw IqSynthError::memAlloc("malloc space for iNoise is error in " + siteFileAtLine());
  }
  const std::unique_ptr<double[]> qNoise = allocSamples(n);
  if (!qNoise) {
    throw IqSynthError::memAlloc("malloc space for qNoise is error in " + siteFileAtLine());
  }

  const int rc =
      awgnOnlyNoise(settings.noiseSampleRate, iNoise.get(), qNoise.get(), n,
                    settings.noiseSystemBandwidth, settings.bandWidthRatio, &levels.noiseBandWidth,
                    &levels.noiseLvlSysBW, &levels.noiseLvlTotalBW, &levels.sigLvlPep);
  if (rc != kSignalOk) {
    throw IqSynthError(IqSynthError::Kind::Awgn, rc | IQSYNTH_ERR_NOISE_BASE,
                       "AWGN onle noise is error");
  }

  resizeOrThrow(iTrack, static_cast<std::size_t>(n), "resize iMapDat is error in ");
  std::copy(iNoise.get(), iNoise.get() + n, std::begin(iTrack));
  wrLog("run here in " + siteFileAtLine());

  resizeOrThrow(qTrack, static_cast<std::size_t>(n), "resize QMapDat is error in ");
  wrLog("run here in " + siteFileAtLine());
  wrLog("Size of qMapDat is " + to_string(qTrack.size()) + " in " + siteFileAtLine());
  std::copy(qNoise.get(), qNoise.get() + n, std::begin(qTrack));
  return 0;
}

}  // namespace arbsuite::iqsynth
