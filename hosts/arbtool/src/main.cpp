// arbtool: command-line host of libseqlink. Shows the description of an .arb
// file, dumps its decrypted samples, measures and plots them (analysis_commands),
// and joins files into a multi-segment file.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "analysis_commands.h"
#include "analysis_output.h"
#include "arb_files.h"
#include "command_line.h"
#include "interrupt_cleanup.h"
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

std::string statusText(Call call, int status) {
  return statusWords(call, status) + " (status " + std::to_string(status) + ")";
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

// The three multi-segment calls on a configuration file.
int joinFromConfig(const std::string& configPath) {
  const JoinResult result = runJoin(configPath);
  std::printf("Joined %zu segments, %d sample pairs, into %s\n", result.segments.size(),
              result.totalSamples, result.output.c_str());
  for (std::size_t i = 0; i < result.segments.size(); ++i) {
    const Segment& segment = result.segments[i];
    std::printf("  segment %zu: %-40s %10d pairs at %.17g Hz, energy %.6f\n", i,
                segment.name.c_str(), segment.samples, segment.clock, segment.energy);
  }
  return kExitOk;
}

int commandJoin(JoinRequest& request) {
  if (!request.fromList) return joinFromConfig(request.words[0]);
  JoinPlan& plan = request.plan;
  std::vector<SegmentSource> sources;
  try {
    for (const auto& word : request.words) sources.push_back({word, parseBlankSpec(word)});
  } catch (const ConfigError& e) {
    throw Failure{kExitUsage, std::string("join: ") + e.what()};
  }
  planSegments(plan, sources);
  checkJoinPlan(plan, request.configPath);
  std::string line;
  try {
    line = formatConfigLine(plan);
  } catch (const ConfigError& e) {
    throw Failure{kExitUsage, std::string("join: ") + e.what()};
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
  return joinFromConfig(request.configPath);
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
