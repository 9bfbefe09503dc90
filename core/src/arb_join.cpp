// Joins from a plan in memory or from a configuration file over seqlink's join
// (see arb_join.h).
#include "arb_join.h"

#include <algorithm>
#include <mutex>

#include "join_checks.h"
#include "progress_report.h"
#include "seqlink.h"
#include "seqlink_join.h"
#include "seqlink_status_words.h"

namespace arbsuite {
namespace {

// Upper bound of a join, in sample pairs: 4 bytes each must fit a 32-bit length.
constexpr long long kMaxJoinPairs = (1LL << 30) - 2;

std::string statusText(SeqlinkCall call, int status) {
  return statusWords(call, status) + " (status " + std::to_string(status) + ")";
}

// What the library read from a configuration file, checked before anything is
// written: every clock playable, and the output neither the configuration nor a
// segment file.
void checkConfiguredJoin(const std::string& configPath, const std::string& output,
                         const std::vector<seqlink::JoinSegment>& joined) {
  std::vector<std::string> names;
  std::vector<double> clocks;
  for (const seqlink::JoinSegment& segment : joined) {
    names.push_back(segment.name);
    clocks.push_back(segment.clock);
  }
  if (const auto fault = unplayableClock(names, clocks)) {
    throw Failure{kExitJoin, configPath + ": " + *fault};
  }
  std::vector<std::string> inputs = names;
  inputs.push_back(configPath);
  if (const auto clash = outputClash(output, "", inputs)) {
    throw Failure{kExitJoin, configPath + ": " + *clash};
  }
}

// The join's failure in the words of the C call whose statuses it carries; `where`
// names the plan (the configuration file, or the output when there is none).
Failure joinFailure(const std::string& where, const std::string& output,
                    const seqlink::JoinStatus& failed) {
  switch (failed.step) {
    case seqlink::JoinStep::ReadConfig:
      return Failure{kExitJoin, where + ": " + statusText(SeqlinkCall::ReadConfig, failed.status),
                     failed.status};
    case seqlink::JoinStep::LoadSegments:
      return Failure{kExitJoin,
                     where + ": " + statusText(SeqlinkCall::OutputSegments, failed.status),
                     failed.status};
    case seqlink::JoinStep::BuildFile:
      break;
  }
  return Failure{kExitJoin, output + ": " + statusText(SeqlinkCall::BuildFile, failed.status),
                 failed.status};
}

// Runs the join and gives what it wrote. The key draw keeps its generator in
// process-wide state: joins from several threads take turns.
JoinResult join(const seqlink::JoinSettings& settings, const std::string& where,
                const seqlink::JoinCheck& check) {
  static std::mutex joinLock;
  const std::lock_guard<std::mutex> hold(joinLock);
  std::vector<seqlink::JoinSegment> joined;
  // The join passes over its segments twice: once to measure, once to write.
  std::uint64_t pairs = 0;
  for (const seqlink::JoinSegment& segment : settings.segments)
    pairs += static_cast<std::uint64_t>(std::max(segment.samples, 0));
  arb::ProgressReport progress("arbtool join", 2 * pairs, "pairs");
  const seqlink::JoinStatus status =
      seqlink::joinSegments(settings, joined, check, progress.adder());
  progress.finish();
  if (status.status != SEQLINK_OK) throw joinFailure(where, settings.output, status);
  JoinResult result;
  result.output = settings.output;
  for (const seqlink::JoinSegment& segment : joined) {
    result.totalSamples += segment.samples;
    result.segments.push_back(
        PlannedSegment{segment.name, segment.clock, segment.samples, segment.energy});
  }
  return result;
}

}  // namespace

void planSegments(JoinPlan& plan, const std::vector<SegmentSource>& sources) {
  // Files first, so that blank segments can take the clock of their neighbours.
  long long total = 0;
  for (const auto& source : sources) {
    PlannedSegment segment;
    if (source.blank) {
      segment.name = kBlankName;
      segment.samples = source.blank->samples;
    } else {
      // A file really called Blank would be read as silence.
      segment.name = source.path == kBlankName ? std::string("./") + kBlankName : source.path;
      int infoStatus = 0;
      segment.samples = sampleCountOf(segment.name, &segment.clock, &segment.energy, &infoStatus);
      if (infoStatus == SEQLINK_MULTI_SEGMENT_REFUSED) {
        throw Failure{kExitRead, segment.name +
                                     ": a multi-segment file cannot be a segment; join its "
                                     "source files instead"};
      }
    }
    total += segment.samples;
    plan.segments.push_back(segment);
  }
  if (total > kMaxJoinPairs) {
    throw Failure{kExitUsage,
                  "join: " + std::to_string(total) + " sample pairs in all are too many"};
  }
  for (std::size_t i = 0; i < plan.segments.size(); ++i) {
    if (!sources[i].blank) continue;
    if (sources[i].blank->clock) {
      plan.segments[i].clock = *sources[i].blank->clock;
      continue;
    }
    // Nearest file segment, looking back first, then forward.
    for (std::size_t d = 1; d <= plan.segments.size(); ++d) {
      if (i >= d && !sources[i - d].blank) {
        plan.segments[i].clock = plan.segments[i - d].clock;
        break;
      }
      if (i + d < plan.segments.size() && !sources[i + d].blank) {
        plan.segments[i].clock = plan.segments[i + d].clock;
        break;
      }
    }
  }
}

void checkJoinPlan(const JoinPlan& plan, const std::string& configPath) {
  try {
    checkPlan(plan);
  } catch (const ConfigError& e) {
    throw Failure{kExitUsage, std::string("join: ") + e.what()};
  }
  std::vector<std::string> segmentFiles;
  for (const PlannedSegment& segment : plan.segments) segmentFiles.push_back(segment.name);
  if (const auto clash = outputClash(plan.output, configPath, segmentFiles)) {
    throw Failure{kExitUsage, "join: " + *clash};
  }
}

JoinResult runJoin(const std::string& configPath) {
  seqlink::JoinSettings settings;
  const seqlink::JoinStatus status =
      seqlink::readJoinSettings(configPath.c_str(), settings, [&](int segments, int total) {
        if (segments < 0 || total < 0 || total > kMaxJoinPairs) {
          throw Failure{kExitJoin, configPath + ": " + std::to_string(segments) + " segments of " +
                                       std::to_string(total) + " pairs in all is out of range"};
        }
      });
  if (status.status != SEQLINK_OK) throw joinFailure(configPath, settings.output, status);
  return join(settings, configPath, [&](const std::vector<seqlink::JoinSegment>& joined) {
    checkConfiguredJoin(configPath, settings.output, joined);
  });
}

JoinResult joinPlanned(const JoinPlan& plan, const std::string& where) {
  seqlink::JoinSettings settings;
  for (const PlannedSegment& segment : plan.segments) {
    settings.segments.push_back({segment.name, segment.clock, segment.samples, segment.energy});
  }
  settings.levelMode = plan.levelMode;
  settings.clockMode = plan.clockMode;
  settings.userClock = plan.userClock;
  settings.output = plan.output;
  return join(settings, where.empty() ? plan.output : where, {});
}

}  // namespace arbsuite
