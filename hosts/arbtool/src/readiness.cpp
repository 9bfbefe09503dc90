// The findings of `arbtool check` (see readiness.h).
#include "readiness.h"

#include <cmath>
#include <cstdio>

#include "arb_format.h"
#include "stats.h"
#include "stats_report.h"
#include "waveform_header.h"

namespace arbsuite::arbtool {
namespace {

std::string format(const char* pattern, double value) {
  char text[96];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

std::string clockText(double hertz) {
  return std::isfinite(hertz) && hertz > 0 ? analysis::hertzText(hertz) : format("%g Hz", hertz);
}

std::string seamText(const std::string& where, double jump, double ratio) {
  return where + " is " + format("%.1f LSB, ", jump) +
         (std::isfinite(ratio) ? format("%.2f times", ratio) : std::string("infinitely")) +
         " the 99th-percentile step between neighbouring samples (above " +
         format("%g)", kSeamRatioLimit);
}

std::string segmentName(const analysis::Waveform& waveform, std::size_t k) {
  return "segment " + std::to_string(k) + " (" + waveform.segments[k].name + ")";
}

}  // namespace

std::vector<Finding> readinessFindings(const ArbContent& content,
                                       std::optional<long long> minSamples) {
  const analysis::Waveform waveform = analysis::waveformOf(content);
  const analysis::StatsReport report = analysis::measureWaveform(waveform);
  const analysis::Stats& whole = report.whole;
  std::vector<Finding> findings;
  const std::string playable =
      std::string(" is not a clock the instrument plays (") + arb::kPlayableClockText + ")";
  if (waveform.segments.empty()) {
    if (!arb::isPlayableClock(content.clockHz)) {
      findings.push_back({"clock", "the clock " + clockText(content.clockHz) + playable});
    }
  } else {
    for (std::size_t k = 0; k < waveform.segments.size(); ++k) {
      const double clock = waveform.segments[k].clockHz;
      if (!arb::isPlayableClock(clock)) {
        findings.push_back({"clock", "the clock of " + segmentName(waveform, k) + ", " +
                                         clockText(clock) + "," + playable});
      }
    }
  }
  if (whole.clipped > 0) {
    findings.push_back({"clipped", analysis::countText(whole.clipped) +
                                       (whole.clipped == 1 ? " sample has" : " samples have") +
                                       " I or Q on a rail (-8192 or +8191)"});
  }
  const auto seamFinding = [&](const std::string& where, const analysis::Stats& s) {
    if (s.seamRatio && *s.seamRatio > kSeamRatioLimit) {
      findings.push_back({"seam", seamText(where, *s.seamLsb, *s.seamRatio)});
    }
  };
  seamFinding("the jump from the last sample to the first", whole);
  for (std::size_t k = 0; k < report.segments.size(); ++k) {
    seamFinding("the jump from the last sample of " + segmentName(waveform, k) + " to its first",
                report.segments[k].stats);
  }
  for (const analysis::BoundaryStats& b : report.boundaries) {
    if (b.seamRatio > kSeamRatioLimit) {
      findings.push_back({"seam", seamText("the jump from " + segmentName(waveform, b.from) +
                                               " to " + segmentName(waveform, b.from + 1),
                                           b.seamLsb, b.seamRatio)});
    }
  }
  if (whole.dcI && whole.dcQ) {
    const double offset = std::hypot(*whole.dcI, *whole.dcQ) / analysis::kFullScale;
    if (offset > kDcOffsetLimit) {
      findings.push_back({"dc", "the DC offset (I " + format("%.2f LSB, ", *whole.dcI) +
                                    format("Q %.2f LSB) is ", *whole.dcQ) +
                                    format("%.2f %% of full scale (above ", 100 * offset) +
                                    format("%g %%)", 100 * kDcOffsetLimit)});
    }
  }
  if (whole.samples > 0 && !whole.peakDbfs) {
    findings.push_back({"peak", "the waveform is silent (every sample is 0)"});
  } else if (whole.peakDbfs && *whole.peakDbfs < kLowestPeakDbfs) {
    findings.push_back({"peak", "the peak is " + format("%.2f dBFS", *whole.peakDbfs) +
                                    format(", below %g dBFS: ", kLowestPeakDbfs) +
                                    "more than half of the 14-bit range is unused"});
  }
  if (whole.samples == 0) {
    findings.push_back({"samples", "the file holds no samples"});
  } else if (minSamples && whole.samples < static_cast<unsigned long long>(*minSamples)) {
    findings.push_back({"samples", analysis::countText(whole.samples) +
                                       " samples, fewer than the " +
                                       analysis::countText(static_cast<std::size_t>(*minSamples)) +
                                       " asked for (--min-samples)"});
  }
  return findings;
}

std::string readinessReport(const std::vector<Finding>& findings, const std::string& file) {
  std::string out;
  for (const Finding& f : findings) out += f.kind + ": " + f.text + "\n";
  if (findings.empty()) return out + "ready: " + file + "\n";
  return out + "not ready: " + file + " (" + std::to_string(findings.size()) +
         (findings.size() == 1 ? " finding)\n" : " findings)\n");
}

}  // namespace arbsuite::arbtool
