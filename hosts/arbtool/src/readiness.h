// The verdict of `arbtool check`: what stands between an .arb file and the
// instrument playing it as meant, one finding per fault, from the file's stats.
// No library calls, so the unit tests run it on made-up content.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "analysis_commands.h"

namespace arbsuite::arbtool {

// check's status for a file that is not ready (the others are arbtool's).
inline constexpr int kExitNotReady = 6;

// The limits of the findings.
inline constexpr double kSeamRatioLimit = 2.0;   // jump over the 99th-percentile step
inline constexpr double kDcOffsetLimit = 0.01;   // modulus of the mean, of full scale
inline constexpr double kLowestPeakDbfs = -6.0;  // below it half of the range is unused

struct Finding {
  std::string kind;  // clock, clipped, seam, dc, peak, samples
  std::string text;
};

// The findings of content, in the order of the kinds above. Throws analysis::HeaderError when
// a multi-segment file's segment table contradicts it.
std::vector<Finding> readinessFindings(const ArbContent& content,
                                       std::optional<long long> minSamples);

// "KIND: text" lines, then "ready: FILE" or "not ready: FILE (N findings)".
std::string readinessReport(const std::vector<Finding>& findings, const std::string& file);

}  // namespace arbsuite::arbtool
