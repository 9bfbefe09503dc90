// arbtool: command-line host of libseqlink. Shows the description of an .arb
// file, dumps its decrypted samples, measures and plots them (analysis_commands),
// and joins files into a multi-segment file.
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "analysis_commands.h"
#include "analysis_output.h"
#include "arb_file_size.h"
#include "command_line.h"
#include "interrupt_cleanup.h"
#include "join_checks.h"
#include "output_file.h"
#include "segment_config.h"
#include "seqlink.h"
#include "standard_output.h"
#include "status_words.h"
#include "text_output.h"
#include "waveform_header.h"

#ifndef ARBSUITE_VERSION
#define ARBSUITE_VERSION "unknown"
#endif

namespace {

using namespace arbtool;

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;     // bad command line
constexpr int kExitRead = 2;      // an .arb file cannot be read (missing, truncated, damaged)
constexpr int kExitJoin = 3;      // the multi-segment calls failed
constexpr int kExitOutput = 4;    // an output (samples, plot, configuration) cannot be written
constexpr int kExitInternal = 5;  // unexpected failure, such as running out of memory

// Upper bound of a join, in sample pairs: 4 bytes each must fit a 32-bit length.
constexpr long long kMaxJoinPairs = (1LL << 30) - 2;

struct Failure {
  int exitStatus;
  std::string message;
};

std::string statusText(Call call, int status) {
  return statusWords(call, status) + " (status " + std::to_string(status) + ")";
}

// The sample count from readArbFileInf (which stores it before any later check,
// so it is also known for multi-segment files), checked against the file size so
// that a truncated file is reported instead of read as silence.
int sampleCountOf(const std::string& path, double* clock, double* energy, int* infoStatus) {
  int count = -1;
  double clockValue = 0;
  double energyValue = 0;
  const int status = readArbFileInf(path.c_str(), &count, &clockValue, &energyValue);
  if (status != SEQLINK_OK && status != SEQLINK_MULTI_SEGMENT_REFUSED) {
    throw Failure{kExitRead, path + ": " + statusText(Call::ReadInfo, status)};
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

int commandInfo(const std::string& path) {
  std::vector<char> text(SEQLINK_TEXT_CAPACITY, '\0');
  int length = 0;
  const int status = readArbFileAllInf(path.c_str(), text.data(), &length);
  if (status != SEQLINK_OK)
    throw Failure{kExitRead, path + ": " + statusText(Call::ReadInfo, status)};
  text.back() = '\0';
  double clock = 0;
  double energy = 0;
  int infoStatus = 0;
  const int count = sampleCountOf(path, &clock, &energy, &infoStatus);
  std::printf("File:     %s\n%s\n", path.c_str(), text.data());
  std::printf("Samples:  %d\n", count);
  if (infoStatus == SEQLINK_MULTI_SEGMENT_REFUSED) {
    std::printf("Clock:    per segment (multi-segment file; see the SEGMENT lines)\n");
  } else {
    std::printf("Clock:    %.17g Hz\n", clock);
    std::printf("Energy:   %.6f\n", energy);
  }
  return kExitOk;
}

// The file's samples and descriptions, for dump, stats and plot; the display
// text only withText (the raw and CSV dumps do without it).
ArbContent readContent(const std::string& path, bool withText = true) {
  ArbContent content;
  content.path = path;
  int infoStatus = 0;
  const int count = sampleCountOf(path, &content.clockHz, nullptr, &infoStatus);
  content.count = static_cast<std::size_t>(count);
  content.multiSegment = infoStatus == SEQLINK_MULTI_SEGMENT_REFUSED;
  if (withText) {
    std::vector<char> text(SEQLINK_TEXT_CAPACITY, '\0');
    int length = 0;
    const int status = readArbFileAllInf(path.c_str(), text.data(), &length);
    if (status != SEQLINK_OK)
      throw Failure{kExitRead, path + ": " + statusText(Call::ReadInfo, status)};
    text.back() = '\0';
    content.displayText = text.data();
  }
  content.samples.assign(2 * content.count + 2, 0);
  const int status = readArbFileData(path.c_str(), count, content.samples.data());
  if (status != SEQLINK_OK)
    throw Failure{kExitRead, path + ": " + statusText(Call::ReadData, status)};
  return content;
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

// The three multi-segment calls on a configuration file.
int runJoin(const std::string& configPath) {
  char outputFile[SEQLINK_NAME_SLOT] = {};
  int segments = 0;
  int total = 0;
  int status = readMultiSegConfig(configPath.c_str(), outputFile, &segments, &total);
  if (status != SEQLINK_OK)
    throw Failure{kExitJoin, configPath + ": " + statusText(Call::ReadConfig, status)};
  if (segments < 0 || total < 0 || total > kMaxJoinPairs) {
    throw Failure{kExitJoin, configPath + ": " + std::to_string(segments) + " segments of " +
                                 std::to_string(total) + " pairs in all is out of range"};
  }
  outputFile[SEQLINK_NAME_SLOT - 1] = '\0';
  const auto count = static_cast<std::size_t>(segments);
  // One spare element keeps every data() valid for zero segments or samples.
  std::vector<short> samples(2 * static_cast<std::size_t>(total) + 2, 0);
  std::vector<char> names(SEQLINK_NAME_SLOT * count + 1, '\0');
  std::vector<double> clocks(count + 1, 0.0);
  std::vector<int> counts(count + 1, 0);
  std::vector<double> energies(count + 1, 0.0);
  status = outputIQDataAndInf(samples.data(), names.data(), clocks.data(), counts.data(),
                              energies.data());
  if (status != SEQLINK_OK) {
    throw Failure{kExitJoin, configPath + ": " + statusText(Call::OutputSegments, status)};
  }
  checkConfiguredJoin(configPath, outputFile, names, clocks, count);
  status = crtMultiSegArb(names.data(), clocks.data(), counts.data(), energies.data(),
                          static_cast<unsigned>(segments), samples.data(),
                          static_cast<unsigned>(total), 0, outputFile);
  if (status != SEQLINK_OK) {
    throw Failure{kExitJoin, std::string(outputFile) + ": " + statusText(Call::BuildFile, status)};
  }
  std::printf("Joined %d segments, %d sample pairs, into %s\n", segments, total, outputFile);
  for (std::size_t i = 0; i < count; ++i) {
    std::printf("  segment %zu: %-40s %10d pairs at %.17g Hz, energy %.6f\n", i,
                names.data() + SEQLINK_NAME_SLOT * i, counts[i], clocks[i], energies[i]);
  }
  return kExitOk;
}

int commandJoin(JoinRequest& request) {
  if (!request.fromList) return runJoin(request.words[0]);
  JoinPlan& plan = request.plan;
  const std::vector<std::string>& words = request.words;
  // Files first, so that blank segments can take the clock of their neighbours.
  std::vector<std::optional<BlankSpec>> blanks;
  long long total = 0;
  try {
    for (const auto& word : words) {
      blanks.push_back(parseBlankSpec(word));
      Segment segment;
      if (blanks.back()) {
        segment.name = kBlankName;
        segment.samples = blanks.back()->samples;
      } else {
        // A file really called Blank would be read as silence.
        segment.name = word == kBlankName ? std::string("./") + kBlankName : word;
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
  } catch (const ConfigError& e) {
    throw Failure{kExitUsage, std::string("join: ") + e.what()};
  }
  if (total > kMaxJoinPairs) {
    throw Failure{kExitUsage,
                  "join: " + std::to_string(total) + " sample pairs in all are too many"};
  }
  for (std::size_t i = 0; i < plan.segments.size(); ++i) {
    if (!blanks[i]) continue;
    if (blanks[i]->clock) {
      plan.segments[i].clock = *blanks[i]->clock;
      continue;
    }
    // Nearest file segment, looking back first, then forward.
    for (std::size_t d = 1; d <= plan.segments.size(); ++d) {
      if (i >= d && !blanks[i - d]) {
        plan.segments[i].clock = plan.segments[i - d].clock;
        break;
      }
      if (i + d < plan.segments.size() && !blanks[i + d]) {
        plan.segments[i].clock = plan.segments[i + d].clock;
        break;
      }
    }
  }
  std::string line;
  try {
    checkPlan(plan);
    line = formatConfigLine(plan);
  } catch (const ConfigError& e) {
    throw Failure{kExitUsage, std::string("join: ") + e.what()};
  }
  std::vector<std::string> segmentFiles;
  for (const Segment& segment : plan.segments) segmentFiles.push_back(segment.name);
  if (const auto clash = outputClash(plan.output, request.configPath, segmentFiles)) {
    throw Failure{kExitUsage, "join: " + *clash};
  }
  {
    hosts_cli::TextOutput out;
    if (!out.open(request.configPath) || !out.write(line) || !out.commit()) {
      throw Failure{kExitOutput, "cannot write the configuration " + request.configPath + ": " +
                                     out.errorText()};
    }
  }
  std::printf("Wrote segment configuration %s\n", request.configPath.c_str());
  if (request.writeConfigOnly) return kExitOk;
  return runJoin(request.configPath);
}

int run(const std::vector<std::string>& args) {
  CommandLine line;
  try {
    line = parseCommandLine(args);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "arbtool: %s\n%s", e.what(), e.usage.c_str());
    return kExitUsage;
  }
  switch (line.action) {
    case Action::Help:
      std::fputs(line.helpText.c_str(), stdout);
      return kExitOk;
    case Action::Version:
      std::puts("arbtool " ARBSUITE_VERSION);
      return kExitOk;
    case Action::Info:
      return commandInfo(line.file);
    case Action::Dump:
      runDump(readContent(line.file, line.format == analysis::SampleFormat::Sigmf), line.output,
              line.format);
      return kExitOk;
    case Action::Stats:
      runStats(readContent(line.file), line.json);
      return kExitOk;
    case Action::Plot:
      runPlot(readContent(line.file), line.plot);
      return kExitOk;
    case Action::Join:
      return commandJoin(line.join);
  }
  return kExitInternal;
}

}  // namespace

int main(int argc, char** argv) {
  // An interrupt ends the program by its signal (the library's output is an unnamed
  // file until it is complete); a standard output that cannot be written gives 4.
  arb::installInterruptCleanup();
  arb::checkStandardOutputAtExit("arbtool: ");
  try {
    return run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const Failure& failure) {
    std::fflush(stdout);
    std::fprintf(stderr, "arbtool: %s\n", failure.message.c_str());
    return failure.exitStatus;
  } catch (const UsageError& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "arbtool: %s\n", e.what());
    return kExitUsage;
  } catch (const HeaderError& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "arbtool: %s\n", e.what());
    return kExitRead;
  } catch (const analysis::OutputError& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "arbtool: %s\n", e.what());
    return kExitOutput;
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "arbtool: %s\n", e.what());
    return kExitInternal;
  }
}
