// The multi-segment join for the suite's own programs, in C++: a plan of segments in
// memory to a version-2 .arb file, streamed segment by segment, without the
// configuration text and the process-wide state that the three C calls pass between
// them. Internal to the suite (not installed with seqlink.h); the C calls are built on
// the same steps and give the same bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace arbsuite::seqlink {

// One segment: a single-waveform .arb file, or "Blank" for silence.
struct JoinSegment {
  std::string name;
  double clock = 0;   // Hz
  int samples = 0;    // IQ pairs
  double energy = 0;  // sum of (v / 8192)^2 over the segment's values
};

// What a configuration file says: the segments as listed, the modes in its spelling
// (LEVEL MODE RMS or UNCHANGED; CLOCKRATE MODE HIGHEST, USER or UNCHANGED) and the
// output path.
struct JoinSettings {
  std::vector<JoinSegment> segments;
  std::string levelMode = "UNCHANGED";
  std::string clockMode = "UNCHANGED";
  double userClock = 0;  // Hz, for clock mode USER
  std::string output;
};

// The C call whose statuses a failure of the join carries: its messages are those of
// readMultiSegConfig, outputIQDataAndInf or crtMultiSegArb.
enum class JoinStep { ReadConfig, LoadSegments, BuildFile };

struct JoinStatus {
  int status = 0;  // SEQLINK_OK or a SEQLINK_ code of seqlink.h
  JoinStep step = JoinStep::LoadSegments;
};

// Called with the segment count and the total of their pairs once a configuration is
// read, before its segment items are; it may throw to stop.
using JoinCountCheck = std::function<void(int segments, int totalSamples)>;

// Reads a configuration file as readMultiSegConfig does (same checks and statuses,
// step ReadConfig), then its segment items as outputIQDataAndInf parses them (step
// LoadSegments), without touching the configuration readMultiSegConfig keeps.
JoinStatus readJoinSettings(const char* configPath, JoinSettings& settings,
                            const JoinCountCheck& countCheck = {});

// Called once every segment is loaded and before anything is written, with the
// segments as they are joined; it may throw to stop the join.
using JoinCheck = std::function<void(const std::vector<JoinSegment>& joined)>;

// Called with the pairs of each segment as a pass of the join finishes with it: the
// measuring pass and the writing pass each report every pair once (a whole join
// reports twice its pair count; a join made in one pass reports each segment twice
// as it finishes with it). It must not throw.
using JoinProgress = std::function<void(std::uint64_t pairs)>;

// Joins the segments into settings.output as outputIQDataAndInf and crtMultiSegArb do
// together (clock and level modes, the same bytes but for the random key), holding
// only a bounded amount of samples: each segment is read, its level set and measured,
// then the file is written from the segments read again (small joins are kept in
// memory between the two passes). Without a check, and into a regular file, the
// segments are read once: written as they are measured, with the header and the info
// block filled in at the end (the same bytes; the two passes are made when that does
// not work out). joined receives the segments as written (clock, count and energy
// after the modes). The output is put in place only at success. progress follows the
// passes. Not thread-safe (the key draw uses process-wide state).
JoinStatus joinSegments(const JoinSettings& settings, std::vector<JoinSegment>& joined,
                        const JoinCheck& check = {}, const JoinProgress& progress = {});

}  // namespace arbsuite::seqlink
