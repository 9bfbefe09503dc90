// Combines the one-pass levels, the power distribution, the Welch spectrum and the
// loop figures into the figures of a waveform.
#include "stats.h"

#include <cmath>

#include "levels.h"
#include "loop_figures.h"
#include "power_distribution.h"
#include "welch.h"

namespace arbsuite::analysis {

Stats measure(std::span<const std::int16_t> iq, std::optional<double> clockHz) {
  Stats stats;
  const Levels levels = measureLevels(iq);
  stats.samples = levels.samples;
  if (clockHz && *clockHz > 0) {
    stats.clockHz = clockHz;
    stats.durationS = static_cast<double>(stats.samples) / *clockHz;
  }
  stats.peak = std::sqrt(static_cast<double>(levels.peakPower));
  stats.clipped = levels.clipped;
  if (stats.samples == 0) return stats;

  stats.dcI = levels.dcI;
  stats.dcQ = levels.dcQ;
  if (const auto seam = seamOf(iq)) {
    stats.seamLsb = seam->jumpLsb;
    stats.seamRatio = seam->ratio;
  }
  stats.loopRegrowthDb = loopRegrowthOf(iq);
  if (levels.peakPower == 0) return stats;  // silence: no decibels
  const double fullScalePower = kFullScale * kFullScale;
  stats.peakDbfs = 10 * std::log10(static_cast<double>(levels.peakPower) / fullScalePower);
  stats.rmsDbfs = 10 * std::log10(levels.meanPower / fullScalePower);
  stats.paprDb = 10 * std::log10(static_cast<double>(levels.peakPower) / levels.meanPower);

  const PowerDistribution distribution(iq, levels.peakPower);
  for (std::size_t k = 0; k < kCcdfFractions.size(); ++k) {
    const double power = distribution.powerReachedBy(kCcdfFractions[k]);
    if (power > 0) stats.ccdfDb[k] = 10 * std::log10(power / levels.meanPower);
  }
  if (stats.clockHz) {
    if (const auto spectrum = welchSpectrum(iq, *stats.clockHz)) {
      stats.obwHz = occupiedBandwidth(*spectrum, kOccupiedShare);
    }
  }
  return stats;
}

StatsReport measureWaveform(const Waveform& waveform) {
  StatsReport report;
  report.whole = measure(waveform.iq, waveform.clockHz);
  double duration = 0;
  bool durationKnown = true;
  for (std::size_t k = 0; k < waveform.segments.size(); ++k) {
    const Waveform part = waveform.segment(k);
    SegmentStats segment{waveform.segments[k].name, measure(part.iq, part.clockHz)};
    if (segment.stats.durationS) {
      duration += *segment.stats.durationS;
    } else {
      durationKnown = false;
    }
    report.segments.push_back(std::move(segment));
    if (k > 0) {
      if (const auto jump = boundaryOf(waveform.segment(k - 1).iq, part.iq)) {
        report.boundaries.push_back({k - 1, jump->jumpLsb, jump->ratio});
      }
    }
  }
  if (!report.whole.durationS && !waveform.segments.empty() && durationKnown) {
    report.whole.durationS = duration;
  }
  return report;
}

}  // namespace arbsuite::analysis
