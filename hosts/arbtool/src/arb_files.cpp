// arbtool's calls of libseqlink (see arb_files.h).
#include "arb_files.h"

#include <memory>
#include <mutex>

#include "arb_file_size.h"
#include "huge_pages.h"
#include "join_checks.h"
#include "seqlink.h"
#include "status_words.h"

namespace arbtool {
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
                         const std::vector<char>& nameSlots, const std::vector<double>& clocks,
                         std::size_t count) {
  std::vector<std::string> names;
  for (std::size_t i = 0; i < count; ++i)
    names.emplace_back(nameSlots.data() + SEQLINK_NAME_SLOT * i);
  if (const auto fault = unplayableClock(
          names, std::vector<double>(clocks.begin(),
                                     clocks.begin() + static_cast<std::ptrdiff_t>(count)))) {
    throw Failure{kExitJoin, configPath + ": " + *fault};
  }
  std::vector<std::string> inputs = names;
  inputs.push_back(configPath);
  if (const auto clash = outputClash(output, "", inputs)) {
    throw Failure{kExitJoin, configPath + ": " + *clash};
  }
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
  // The library keeps the configuration readMultiSegConfig read for
  // outputIQDataAndInf, and the key draw of crtMultiSegArb keeps its generator in
  // process-wide state: joins from several threads take turns.
  static std::mutex joinLock;
  const std::lock_guard<std::mutex> hold(joinLock);
  char outputFile[SEQLINK_NAME_SLOT] = {};
  int segments = 0;
  int total = 0;
  int status = readMultiSegConfig(configPath.c_str(), outputFile, &segments, &total);
  if (status != SEQLINK_OK) {
    throw Failure{kExitJoin, configPath + ": " + statusText(Call::ReadConfig, status), status};
  }
  if (segments < 0 || total < 0 || total > kMaxJoinPairs) {
    throw Failure{kExitJoin, configPath + ": " + std::to_string(segments) + " segments of " +
                                 std::to_string(total) + " pairs in all is out of range"};
  }
  outputFile[SEQLINK_NAME_SLOT - 1] = '\0';
  const auto count = static_cast<std::size_t>(segments);
  // One spare element keeps every pointer valid for zero segments or samples.
  // The samples are left unset: outputIQDataAndInf writes every pair of every
  // segment (or fails), and a fill of the whole join would cost as much as a pass of it.
  const std::size_t values = 2 * static_cast<std::size_t>(total) + 2;
  const auto samples = std::make_unique_for_overwrite<short[]>(values);
  arb::adviseHugePages(samples.get(), values * sizeof(short));
  std::vector<char> names(SEQLINK_NAME_SLOT * count + 1, '\0');
  std::vector<double> clocks(count + 1, 0.0);
  std::vector<int> counts(count + 1, 0);
  std::vector<double> energies(count + 1, 0.0);
  status = outputIQDataAndInf(samples.get(), names.data(), clocks.data(), counts.data(),
                              energies.data());
  if (status != SEQLINK_OK) {
    throw Failure{kExitJoin, configPath + ": " + statusText(Call::OutputSegments, status), status};
  }
  checkConfiguredJoin(configPath, outputFile, names, clocks, count);
  status = crtMultiSegArb(names.data(), clocks.data(), counts.data(), energies.data(),
                          static_cast<unsigned>(segments), samples.get(),
                          static_cast<unsigned>(total), 0, outputFile);
  if (status != SEQLINK_OK) {
    throw Failure{kExitJoin, std::string(outputFile) + ": " + statusText(Call::BuildFile, status),
                  status};
  }
  JoinResult result;
  result.output = outputFile;
  result.totalSamples = total;
  for (std::size_t i = 0; i < count; ++i) {
    result.segments.push_back(
        Segment{names.data() + SEQLINK_NAME_SLOT * i, clocks[i], counts[i], energies[i]});
  }
  return result;
}

}  // namespace arbtool
