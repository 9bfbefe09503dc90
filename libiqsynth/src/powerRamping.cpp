// Power ramping of the output tracks: a gain that holds a level per ramp table
// entry and moves between levels over a ramp of powerRampTime symbols.
#include "powerRamping.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "iqSynthLog.h"

namespace arbsuite::iqsynth {

namespace {

double gainOfLevel(double dB) { return std::pow(10.0, dB / 20.0); }

// Gain of the sample at place o (0 .. rampLength-1) of a ramp from gFrom to gTo.
double rampGain(iqSynthCfg::powerRampFunc_t shape, double gFrom, double gTo, std::int64_t o,
                std::int64_t rampLength) {
  const double t = static_cast<double>(o) / static_cast<double>(rampLength);
  switch (shape) {
    case iqSynthCfg::RAMP_LINEAR:
      return gFrom + (gTo - gFrom) * t;
    case iqSynthCfg::RAMP_COSINE:
      return gFrom + (gTo - gFrom) * 0.5 * (1.0 - std::cos(std::numbers::pi * t));
    default:  // RAMP_STEP, the only other shape that reaches here
      return gTo;
  }
}

bool isKnownShape(int shape) {
  return shape == iqSynthCfg::RAMP_LINEAR || shape == iqSynthCfg::RAMP_COSINE ||
         shape == iqSynthCfg::RAMP_STEP;
}

}  // namespace

int runPowerRamping(const iqSynthCfg& cfg, std::valarray<double>& iDat,
                    std::valarray<double>& qDat) {
  const std::size_t count = std::min(iDat.size(), qDat.size());
  return runPowerRamping(cfg, count > 0 ? &iDat[0] : nullptr, count > 0 ? &qDat[0] : nullptr,
                         count);
}

int runPowerRamping(const iqSynthCfg& cfg, double* iDat, double* qDat, std::size_t sampleCount) {
  if (cfg.powerRampItem < 0 || cfg.powerRampItem > iqSynthCfg::kMaxPowerRampItems) {
    throwCfgValue("powerRampItem " + to_string(cfg.powerRampItem) + " is outside 0.." +
                  to_string(iqSynthCfg::kMaxPowerRampItems));
  }
  if (!std::isfinite(cfg.powerRampTime)) {
    throwCfgValue("powerRampTime " + to_string(cfg.powerRampTime) +
                  " is not a finite number of symbols");
  }

  // Entries whose ramp would run past the end of the sequence are dropped,
  // together with every entry after them.
  int entries = cfg.powerRampItem;
  while (entries > 0 &&
         cfg.powerRampStartSymbol[entries - 1] + cfg.powerRampTime > cfg.sequenceLength) {
    --entries;
  }
  if (entries == 0) {
    return 0;  // no level defined: the signal stays as it is
  }

  const std::int64_t samplesPerSymbol = cfg.overSamplingRate;
  const std::int64_t count = static_cast<std::int64_t>(sampleCount);
  // Bounded so that the conversion is defined for any finite ramp time; a
  // negative length leaves no ramp samples, so the level simply steps.
  const double rampSamples = std::clamp(
      std::trunc(cfg.powerRampTime * static_cast<double>(samplesPerSymbol)), -1e15, 1e15);
  const std::int64_t rampLength = static_cast<std::int64_t>(rampSamples);

  auto scale = [&](std::int64_t from, std::int64_t to, double gain) {
    for (std::int64_t k = std::max<std::int64_t>(from, 0); k < std::min(to, count); ++k) {
      iDat[static_cast<std::size_t>(k)] *= gain;
      qDat[static_cast<std::size_t>(k)] *= gain;
    }
  };

  // The waveform is played in a loop: before the first ramp it sits at the
  // level of the last entry.
  double gain = gainOfLevel(cfg.powerRampAtten[entries - 1]);
  std::int64_t pos = 0;
  for (int i = 0; i < entries; ++i) {
    const double nextGain = gainOfLevel(cfg.powerRampAtten[i]);
    const std::int64_t start =
        static_cast<std::int64_t>(cfg.powerRampStartSymbol[i]) * samplesPerSymbol;
    if (pos < start) {
      scale(pos, start, gain);
      pos = start;
    }
    if (!isKnownShape(cfg.powerRampFunc)) {
      throw IqSynthError(IqSynthError::Kind::Config, IQSYNTH_ERR_POWER_RAMP_MODE,
                         "Unknown power ramping mode");
    }
    // A ramp that starts inside the previous one begins at the previous
    // ramp's end; its place o still counts from its own start sample.
    const std::int64_t end = start + rampLength;
    for (std::int64_t k = std::max<std::int64_t>(pos, 0); k < std::min(end, count); ++k) {
      const double g = rampGain(cfg.powerRampFunc, gain, nextGain, k - start, rampLength);
      iDat[static_cast<std::size_t>(k)] *= g;
      qDat[static_cast<std::size_t>(k)] *= g;
    }
    // Never move back: a ramp ending before the previous one must not
    // scale samples a second time.
    pos = std::max(pos, end);
    gain = nextGain;
  }
  scale(pos, count, gain);
  return 0;
}

}  // namespace arbsuite::iqsynth
