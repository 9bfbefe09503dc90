// arbtool's reading and joining over seqlink: the sample count, text and samples of
// an .arb file, planning the segments of a join and running it. Shared by the
// program and the Python module, which report the same failures in their own ways.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "analysis_commands.h"
#include "config_writer.h"

namespace arbsuite::arbtool {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 1;   // bad command line
inline constexpr int kExitRead = 2;    // an .arb file cannot be read (missing, truncated, damaged)
inline constexpr int kExitJoin = 3;    // the multi-segment calls failed
inline constexpr int kExitOutput = 4;  // an output (samples, plot, configuration) cannot be written
inline constexpr int kExitInternal = 5;  // unexpected failure, such as running out of memory

// A failure with the exit status it gives and its message; libraryStatus is the
// seqlink status behind it (0 when the program itself found the fault).
struct Failure {
  int exitStatus;
  std::string message;
  int libraryStatus = 0;
};

// The sample count from readArbFileInf (which stores it before any later check,
// so it is also known for multi-segment files), checked against the file size so
// that a truncated file is reported instead of read as silence. A file that call
// takes for multi-segment must also pass readArbFileAllInf, so that a file that is
// no .arb file is refused in info's words and status whatever the command. clock,
// energy and infoStatus (SEQLINK_OK, or SEQLINK_MULTI_SEGMENT_REFUSED) are stored
// when not null. Throws Failure (kExitRead).
int sampleCountOf(const std::string& path, double* clock, double* energy, int* infoStatus);

// The file's description as the library shows it (readArbFileAllInf). Throws
// Failure (kExitRead).
std::string descriptionOf(const std::string& path);

// The file's samples and descriptions, for dump, stats and plot; the display
// text only withText (the raw and CSV dumps do without it). Throws Failure.
ArbContent readContent(const std::string& path, bool withText = true);

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
  std::vector<Segment> segments;  // name, clock, count and energy as joined
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

}  // namespace arbsuite::arbtool
