// The internal library's joins: a plan of segments (files and blanks) checked and
// joined into a version-2 file straight from memory through seqlink's join (compiled
// in), or the join of a segment configuration file as libseqlink's three calls make
// it. arbtool and the Python module share it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "arb_read.h"
#include "join_plan.h"

namespace arbsuite {

// One segment of a join as a caller names it: the path of a single-waveform .arb
// file, or a blank (silence) of a count, at a clock or at that of its nearest file
// segment (looking back first).
struct SegmentSource {
  std::string path;
  std::optional<BlankSegment> blank;
};

// Fills plan.segments from the sources: files are read for their count, clock and
// energy (a file really called Blank is named ./Blank, which seqlink would read as
// silence). Throws Failure: kExitRead for an unreadable or multi-segment file,
// kExitUsage for more pairs than a join can hold.
void planSegments(JoinPlan& plan, const std::vector<SegmentSource>& sources);

// The checks of a planned join before anything is written (checkPlan: the count of
// segments and the clock each is written with; outputClash: neither the output nor
// the configuration, when configPath is not empty, writes over an input or over
// each other). Throws Failure (kExitUsage) with the message after "join: ".
void checkJoinPlan(const JoinPlan& plan, const std::string& configPath);

// What the multi-segment calls produced.
struct JoinResult {
  std::string output;
  int totalSamples = 0;
  std::vector<PlannedSegment> segments;  // name, clock, count and energy as joined
};

// The join of a configuration file, as readMultiSegConfig, outputIQDataAndInf and
// crtMultiSegArb make it (streamed, the configuration kept in memory); before
// anything is written, every clock it read is checked to be playable and the output
// to be neither the configuration nor a segment file. Throws Failure (kExitJoin)
// with the library's status when a step failed.
JoinResult runJoin(const std::string& configPath);

// The join of a plan that checkJoinPlan passed, straight from memory (no
// configuration is read). Failures are reported as runJoin reports them, naming
// `where` (the configuration written for the plan, or the output when empty).
JoinResult joinPlanned(const JoinPlan& plan, const std::string& where);

}  // namespace arbsuite
