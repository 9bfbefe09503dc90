// Multi-carrier CW: record parameters (sample rate, length, carrier frequencies
// in cycles per sample) and the carrier sum.
#include "mulCarrierCW.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <limits>
#include <new>
#include <numbers>
#include <string>
#include <vector>

#include "iqSynthLog.h"

namespace arbsuite::iqsynth {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
// Largest record for which the carrier sum uses a table of one period's cosines.
constexpr int kMaxTableRecord = 1 << 22;

int bitLength(unsigned n) {
  int b = 0;
  while ((n >> b) != 0) {
    ++b;
  }
  return b;
}

// Whole number of cycles each enabled carrier completes in the record, or an
// empty vector when some carrier does not complete a whole number.
std::vector<std::int64_t> wholeCycles(const iqSynthCfg& cfg, int carriers, int samples) {
  std::vector<std::int64_t> cycles(static_cast<std::size_t>(carriers), 0);
  for (int i = 0; i < carriers; ++i) {
    if (cfg.mccwCarrierEn[i] == 0) {
      continue;
    }
    const double c = cfg.mccwCarrierFreq[i] * samples;
    const double whole = std::round(c);
    if (!std::isfinite(c) || std::fabs(whole) > 1e15 || std::fabs(c - whole) > 1e-6) {
      return {};
    }
    cycles[static_cast<std::size_t>(i)] = static_cast<std::int64_t>(whole);
  }
  return cycles;
}

// The enabled carriers must give finite samples whose envelope power, summed over the
// record (as the noise stage does), stays finite: the amplitudes from the dB levels add up
// to at most sqrt(DBL_MAX / samples). Past that the normalisation divides by an infinite
// peak and the waveform comes out all zero. Throws a Config IqSynthError IQSYNTH_ERR_CFG_VALUE
// naming the carrier's level or phase field.
void checkCarrierLevels(const iqSynthCfg& cfg, const std::vector<double>& amplitude,
                        const std::vector<double>& phase, int samples) {
  double amplitudeSum = 0.0;
  int loudest = -1;
  for (std::size_t i = 0; i < amplitude.size(); ++i) {
    if (cfg.mccwCarrierEn[i] == 0) {
      continue;
    }
    const std::string field = "[" + to_string(i) + "]";
    if (std::isnan(cfg.mccwCarrierAmp[i]) || !std::isfinite(amplitude[i])) {
      throwCfgValue("mccwCarrierAmp" + field + " " + to_string(cfg.mccwCarrierAmp[i]) +
                    " dB overflows the carrier power");
    }
    if (!std::isfinite(phase[i])) {
      throwCfgValue("mccwCarrierPhase" + field + " " + to_string(phase[i]) +
                    " is not a finite phase in radians");
    }
    amplitudeSum += amplitude[i];
    if (loudest < 0 || amplitude[i] > amplitude[static_cast<std::size_t>(loudest)]) {
      loudest = static_cast<int>(i);
    }
  }
  const double limit = std::sqrt(std::numeric_limits<double>::max() / std::max(samples, 1));
  if (loudest >= 0 && !(amplitudeSum <= limit)) {
    throwCfgValue("mccwCarrierAmp[" + to_string(loudest) + "] " +
                  to_string(cfg.mccwCarrierAmp[loudest]) +
                  " dB overflows the carrier power: the carrier amplitudes add up to " +
                  to_string(amplitudeSum) + ", at most " + to_string(limit) + " for " +
                  to_string(samples) + " samples");
  }
}

}  // namespace

void findNearRat(double x, unsigned& p, unsigned& q) {
  constexpr double kLimit = static_cast<double>(std::numeric_limits<std::int32_t>::max());
  p = 0;
  q = 1;
  if (!std::isfinite(x) || std::fabs(x) >= kLimit) {
    return;
  }
  // Convergents h/k; (h1, k1) the latest, (h2, k2) the one before.
  double h1 = 1.0, h2 = 0.0, k1 = 0.0, k2 = 1.0;
  double y = x;
  for (int iteration = 0; iteration < 64; ++iteration) {
    const double a = std::round(y);
    const double h = a * h1 + h2;
    const double k = a * k1 + k2;
    if (std::fabs(h) > kLimit || std::fabs(k) > kLimit || k == 0.0) {
      break;  // keep the last convergent that fits
    }
    h2 = h1;
    h1 = h;
    k2 = k1;
    k1 = k;
    if (y == a || std::fabs(h / k - x) < std::fabs(x) * 1e-8) {
      break;
    }
    y = 1.0 / (y - a);
  }
  p = static_cast<unsigned>(std::fabs(h1));
  q = static_cast<unsigned>(std::fabs(k1));
}

void genMulCarrierCWParam(iqSynthCfg& cfg) {
  const int carriers = cfg.mccwCarrierItem;
  const double spacing = cfg.mccwCarrierSpacing;
  if (carriers < 1 || carriers > iqSynthCfg::kMaxMccwCarriers || !std::isfinite(spacing) ||
      spacing <= 0.0) {
    // Nothing sensible to compute: a zero record makes the following run fail.
    cfg.mccwCarrierSample = 0;
    cfg.mccwCarrierSampleFreq = 0.0;
    return;
  }

  const bool odd = (carriers % 2) != 0;
  // Outermost carrier, rounded up to a multiple of the spacing for even counts.
  const double maxFreq = (odd ? (carriers - 1) / 2 : carriers / 2) * spacing;
  if (stdoutEnabled()) {
    std::cout << "mccwMaxFreq is " << maxFreq << std::endl;
  }

  const int bits = bitLength(static_cast<unsigned>(carriers));
  const double firstOffset = -(carriers - 1) / 2.0;  // k0: the comb is symmetric about 0 Hz

  // Only device type 0 has rates; every type uses them.
  if (maxFreq < kMccwRefSampleRate / 8.0) {
    // Two periods of the spacing at 2^(b+1) samples per period: even counts'
    // half-spacing offsets complete whole cycles as well.
    const double periodSamples = std::ldexp(1.0, bits + 1);
    cfg.mccwCarrierSampleFreq = spacing * periodSamples;
    cfg.mccwCarrierSample = 1 << (bits + 2);
    for (int i = 0; i < carriers; ++i) {
      cfg.mccwCarrierFreq[i] = (firstOffset + i) / periodSamples;
    }
    return;
  }

  const double unit = odd ? spacing : spacing / 2.0;
  const double multiplier = odd ? 1.0 : 2.0;
  unsigned p = 0;
  unsigned q = 1;
  findNearRat(kMccwMaxSampleRate / unit, p, q);
  if (p == 0) {
    cfg.mccwCarrierSample = 0;
    cfg.mccwCarrierSampleFreq = 0.0;
    return;
  }
  cfg.mccwCarrierSample = static_cast<int>(p);
  cfg.mccwCarrierSampleFreq = kMccwMaxSampleRate;
  for (int i = 0; i < carriers; ++i) {
    cfg.mccwCarrierFreq[i] = q * (firstOffset + i) * multiplier / p;
  }
}

int runMulCarrierCW(const iqSynthCfg& cfg, std::valarray<double>& iDat,
                    std::valarray<double>& qDat) {
  const int carriers = cfg.mccwCarrierItem;
  const int samples = cfg.mccwCarrierSample;
  if (carriers < 1 || carriers > iqSynthCfg::kMaxMccwCarriers) {
    throwCfgValue("mccwCarrierItem " + to_string(carriers) + " is outside 1.." +
                  to_string(iqSynthCfg::kMaxMccwCarriers));
  }
  if (samples < 0 || static_cast<std::size_t>(samples) > std::min(iDat.size(), qDat.size())) {
    throwCfgValue("mccwCarrierSample " + to_string(samples) + " does not fit the sample tracks");
  }

  std::vector<double> phase;
  resizeOrThrow(phase, static_cast<std::size_t>(carriers), "resize tone phase is error in ");
  std::vector<double> amplitude;
  resizeOrThrow(amplitude, static_cast<std::size_t>(carriers), "resize tone power is error in ");
  for (int i = 0; i < carriers; ++i) {
    // The fixed phase law spreads the start phases to keep the crest factor low.
    phase[static_cast<std::size_t>(i)] =
        cfg.mccwOptCrestFactorEn != 0 ? -std::numbers::pi + i * std::numbers::pi / (2.0 * carriers)
                                      : cfg.mccwCarrierPhase[i];
    amplitude[static_cast<std::size_t>(i)] = std::pow(10.0, cfg.mccwCarrierAmp[i] / 20.0);
  }
  checkCarrierLevels(cfg, amplitude, phase, samples);

  for (int r = 0; r < samples; ++r) {
    iDat[static_cast<std::size_t>(r)] = 0.0;
    qDat[static_cast<std::size_t>(r)] = 0.0;
  }

  // When every carrier completes whole cycles (the record chosen by
  // genMulCarrierCWParam), its phase at sample r is an exact table index
  // (cycles * r mod samples): one table of a period's cosines and sines
  // replaces a sine and a cosine per carrier and sample.
  const std::vector<std::int64_t> cycles = samples <= kMaxTableRecord
                                               ? wholeCycles(cfg, carriers, samples)
                                               : std::vector<std::int64_t>{};
  if (samples > 0 && !cycles.empty()) {
    std::vector<double> cosTable(static_cast<std::size_t>(samples));
    std::vector<double> sinTable(static_cast<std::size_t>(samples));
    for (int j = 0; j < samples; ++j) {
      const double angle = kTwoPi * j / samples;
      cosTable[static_cast<std::size_t>(j)] = std::cos(angle);
      sinTable[static_cast<std::size_t>(j)] = std::sin(angle);
    }
    for (int i = 0; i < carriers; ++i) {
      if (cfg.mccwCarrierEn[i] == 0) {
        continue;  // off: contributes nothing, whatever its level
      }
      const double a = amplitude[static_cast<std::size_t>(i)];
      const double ac = a * std::cos(phase[static_cast<std::size_t>(i)]);
      const double as = a * std::sin(phase[static_cast<std::size_t>(i)]);
      std::int64_t step = cycles[static_cast<std::size_t>(i)] % samples;
      if (step < 0) {
        step += samples;
      }
      std::int64_t index = 0;
      for (int r = 0; r < samples; ++r) {
        const double c = cosTable[static_cast<std::size_t>(index)];
        const double s = sinTable[static_cast<std::size_t>(index)];
        iDat[static_cast<std::size_t>(r)] += ac * c - as * s;
        qDat[static_cast<std::size_t>(r)] += as * c + ac * s;
        index += step;
        if (index >= samples) {
          index -= samples;
        }
      }
    }
    return 0;
  }

  for (int i = 0; i < carriers; ++i) {
    if (cfg.mccwCarrierEn[i] == 0) {
      continue;
    }
    const double a = amplitude[static_cast<std::size_t>(i)];
    const double phi = phase[static_cast<std::size_t>(i)];
    const double cyclesPerSample = cfg.mccwCarrierFreq[i];
    for (int r = 0; r < samples; ++r) {
      const double angle = phi + kTwoPi * cyclesPerSample * r;
      iDat[static_cast<std::size_t>(r)] += a * std::cos(angle);
      qDat[static_cast<std::size_t>(r)] += a * std::sin(angle);
    }
  }
  return 0;
}

}  // namespace arbsuite::iqsynth
