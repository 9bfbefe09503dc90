// arbtool's reading and joining over seqlink (see arb_files.h).
#include "arb_files.h"

#include <algorithm>
#include <mutex>

#include "arb_file_size.h"
#include "huge_pages.h"
#include "join_checks.h"
#include "progress_report.h"
#include "seqlink.h"
#include "seqlink_join.h"
#include "status_words.h"

namespace arbsuite::arbtool {
namespace {

// Upper bound of a join, in sample pairs: 4 bytes each must fit a 32-bit length.
constexpr long long kMaxJoinPairs = (1LL << 30) - 2;

std::string statusText(Call call, int status) {
  return statusWords(call, status) + " (status " + std::to_string(status) + ")";
}

// A file the description readers refuse: its status in words, as info says it.
Failure readInfoFailure(const std::string& path, int status) {
  return Failure{kExitRead, path + ": " + statusText(Call::ReadInfo, status), status};
}

// readArbFileAllInf into a buffer of SEQLINK_TEXT_CAPACITY bytes; its status.
int readDescription(const std::string& path, std::vector<char>& text) {
  text.assign(SEQLINK_TEXT_CAPACITY, '\0');
  int length = 0;
  const int status = readArbFileAllInf(path.c_str(), text.data(), &length);
  text.back() = '\0';
  return status;
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
      return Failure{kExitJoin, where + ": " + statusText(Call::ReadConfig, failed.status),
                     failed.status};
    case seqlink::JoinStep::LoadSegments:
      return Failure{kExitJoin, where + ": " + statusText(Call::OutputSegments, failed.status),
                     failed.status};
    case seqlink::JoinStep::BuildFile:
      break;
  }
  return Failure{kExitJoin, output + ": " + statusText(Call::BuildFile, failed.status),
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
        Segment{segment.name, segment.clock, segment.samples, segment.energy});
  }
  return result;
}

}  // namespace

int sampleCountOf(const std::string& path, double* clock, double* energy, int* infoStatus) {
  int count = -1;
  double clockValue = 0;
  double energyValue = 0;
  const int status = readArbFileInf(path.c_str(), &count, &clockValue, &energyValue);
  if (status != SEQLINK_OK && status != SEQLINK_MULTI_SEGMENT_REFUSED) {
    throw readInfoFailure(path, status);
  }
  if (status == SEQLINK_MULTI_SEGMENT_REFUSED) {
    // readArbFileInf calls any header with a version above 1 and no text entry first
    // multi-segment, text files and random bytes too; the whole-header reader of info
    // decides whether the file is one. A text too long to show does not make it invalid.
    std::vector<char> text;
    const int headerStatus = readDescription(path, text);
    if (headerStatus != SEQLINK_OK && headerStatus != SEQLINK_NO_MEMORY) {
      throw readInfoFailure(path, headerStatus);
    }
  }
  if (count < 0) {
    throw Failure{
        kExitRead,
        path + ": not a valid .arb file: its header announces a sample count out of range"};
  }
  if (const auto fault = truncation(path, count)) throw Failure{kExitRead, path + ": " + *fault};
  if (clock != nullptr) *clock = clockValue;
  if (energy != nullptr) *energy = energyValue;
  if (infoStatus != nullptr) *infoStatus = status;
  return count;
}

std::string descriptionOf(const std::string& path) {
  std::vector<char> text;
  const int status = readDescription(path, text);
  if (status != SEQLINK_OK) throw readInfoFailure(path, status);
  return text.data();
}

ArbContent readContent(const std::string& path, bool withText) {
  ArbContent content;
  content.path = path;
  int infoStatus = 0;
  const int count = sampleCountOf(path, &content.clockHz, nullptr, &infoStatus);
  content.count = static_cast<std::size_t>(count);
  content.multiSegment = infoStatus == SEQLINK_MULTI_SEGMENT_REFUSED;
  if (withText) content.displayText = descriptionOf(path);
  const std::size_t values = 2 * content.count + 2;
  content.samples.reserve(values);
  arb::adviseHugePages(content.samples.data(), values * sizeof(short));
  content.samples.assign(values, 0);
  const int status = readArbFileData(path.c_str(), count, content.samples.data());
  if (status != SEQLINK_OK)
    throw Failure{kExitRead, path + ": " + statusText(Call::ReadData, status), status};
  return content;
}

void planSegments(JoinPlan& plan, const std::vector<SegmentSource>& sources) {
  // Files first, so that blank segments can take the clock of their neighbours.
  long long total = 0;
  for (const auto& source : sources) {
    Segment segment;
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
  for (const Segment& segment : plan.segments) segmentFiles.push_back(segment.name);
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
  for (const Segment& segment : plan.segments) {
    settings.segments.push_back({segment.name, segment.clock, segment.samples, segment.energy});
  }
  settings.levelMode = plan.levelMode;
  settings.clockMode = plan.clockMode;
  settings.userClock = plan.userClock;
  settings.output = plan.output;
  return join(settings, where.empty() ? plan.output : where, {});
}

}  // namespace arbsuite::arbtool
