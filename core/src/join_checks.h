// Checks of a join before anything is written: the clock every segment is written
// with must be one the instrument plays, a file holds at most arb::kMaxSegments
// segments, and no output (the multi-segment file, the configuration) may write
// over a segment file or over the other output.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "join_plan.h"

namespace arbsuite {

// The clock each segment of the plan is written with once the clock mode is
// applied, as outputIQDataAndInf applies it: HIGHEST the largest (at least 0), USER
// the user clock, UNCHANGED each segment's own.
std::vector<double> writtenClocks(const JoinPlan& plan);

// Throws ConfigError for more segments than a multi-segment file holds, or for a
// segment that would be written with a clock outside arb::isPlayableClock (naming
// the segment; a blank segment without a file to take its clock from is told to
// give one).
void checkPlan(const JoinPlan& plan);

// A configuration-file join, once outputIQDataAndInf has filled its buffers: the
// first segment written with a clock outside arb::isPlayableClock, in words.
std::optional<std::string> unplayableClock(const std::vector<std::string>& names,
                                           const std::vector<double>& clocks);

// The first output that would write over one of the inputs or over the other
// output, in words: outputs are the multi-segment file and the configuration
// (empty when there is none); inputs the segment names ("Blank" is no file) and,
// for a configuration-file join, the configuration itself.
std::optional<std::string> outputClash(const std::string& output, const std::string& config,
                                       const std::vector<std::string>& inputs);

}  // namespace arbsuite
