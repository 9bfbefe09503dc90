// Clock, size and file checks of a join (see join_checks.h).
#include "join_checks.h"

#include <algorithm>
#include <cstdio>

#include "arb_format.h"
#include "output_file.h"

namespace arbsuite {
namespace {

std::string hertz(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g Hz", value);
  return text;
}

std::string outsideRange(std::size_t index, const std::string& name, double clock) {
  return "segment " + std::to_string(index) + " (" + name + ") would be written with a clock of " +
         hertz(clock) + "; the instrument plays " + arb::kPlayableClockText;
}

}  // namespace

std::vector<double> writtenClocks(const JoinPlan& plan) {
  std::vector<double> clocks;
  for (const PlannedSegment& segment : plan.segments) clocks.push_back(segment.clock);
  if (plan.clockMode == "HIGHEST") {
    double highest = 0;
    for (const double clock : clocks) highest = std::max(highest, clock);
    std::fill(clocks.begin(), clocks.end(), highest);
  } else if (plan.clockMode == "USER") {
    std::fill(clocks.begin(), clocks.end(), plan.userClock);
  }
  return clocks;
}

void checkPlan(const JoinPlan& plan) {
  if (plan.segments.size() > arb::kMaxSegments) {
    throw ConfigError(std::to_string(plan.segments.size()) +
                      " segments; a multi-segment file holds at most " +
                      std::to_string(arb::kMaxSegments));
  }
  const std::vector<double> clocks = writtenClocks(plan);
  for (std::size_t i = 0; i < clocks.size(); ++i) {
    if (arb::isPlayableClock(clocks[i])) continue;
    const PlannedSegment& segment = plan.segments[i];
    std::string message = outsideRange(i, segment.name, clocks[i]);
    if (segment.name == kBlankName && clocks[i] == 0 && plan.clockMode == "UNCHANGED") {
      message += "; no file segment gives it a clock: write blank:COUNT@CLOCK or --clock user";
    }
    throw ConfigError(message);
  }
}

std::optional<std::string> unplayableClock(const std::vector<std::string>& names,
                                           const std::vector<double>& clocks) {
  for (std::size_t i = 0; i < clocks.size() && i < names.size(); ++i) {
    if (!arb::isPlayableClock(clocks[i])) return outsideRange(i, names[i], clocks[i]);
  }
  return std::nullopt;
}

std::optional<std::string> outputClash(const std::string& output, const std::string& config,
                                       const std::vector<std::string>& inputs) {
  if (!config.empty() && arb::outputsClash(output, config)) {
    return "the output " + output + " and the configuration " + config + " are the same file";
  }
  for (const std::string& input : inputs) {
    if (input == kBlankName) continue;
    for (const std::string* written : {&output, &config}) {
      if (!written->empty() && arb::outputOverwritesInput(*written, input)) {
        return "writing " + *written + " would overwrite the input " + input;
      }
    }
  }
  return std::nullopt;
}

}  // namespace arbsuite
