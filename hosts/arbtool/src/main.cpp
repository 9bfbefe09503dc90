// arbtool: command-line host of libseqlink. Shows the description of an .arb
// file, dumps its decrypted samples, measures and plots them (analysis_commands),
// joins files into a multi-segment file, and composes carriers into one waveform
// and checks whether a file is ready to play (prep_commands).
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "analysis_commands.h"
#include "analysis_output.h"
#include "arb_file_pieces.h"
#include "arb_join.h"
#include "arb_read.h"
#include "command_line.h"
#include "interrupt_cleanup.h"
#include "output_file.h"
#include "prep_commands.h"
#include "progress_report.h"
#include "seqlink.h"
#include "seqlink_stream.h"
#include "standard_output.h"
#include "streamed_commands.h"
#include "text_output.h"
#include "waveform_header.h"

#ifndef ARBSUITE_VERSION
#define ARBSUITE_VERSION "unknown"
#endif

namespace {

using namespace arbsuite;
using namespace arbsuite::arbtool;

// Whether the default configuration path OUT-segments.txt can sit beside the
// output: the output is (or will be) a regular file, and the name fits the folder.
bool configBesideOutput(const std::string& output, const std::string& configPath) {
  struct stat info {};
  if (::stat(output.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) return false;
  const std::size_t slash = configPath.rfind('/');
  const std::size_t nameLength =
      slash == std::string::npos ? configPath.size() : configPath.size() - slash - 1;
  return nameLength <= NAME_MAX;
}

// The configuration a join wrote beside its output (OUT-segments.txt, not one the
// user named): removed again when the join fails or is interrupted, so that only a
// finished join leaves it.
class ConfigOfThisJoin {
 public:
  // Made right after the file was put in place, within an InterruptDeferral.
  explicit ConfigOfThisJoin(const std::string& path) : path_(path), removal_(path) {}
  ~ConfigOfThisJoin() {
    if (remove_) ::unlink(path_.c_str());
    removal_.disarm();
  }
  ConfigOfThisJoin(const ConfigOfThisJoin&) = delete;
  ConfigOfThisJoin& operator=(const ConfigOfThisJoin&) = delete;
  // The join succeeded: the file stays.
  void keep() {
    remove_ = false;
    removal_.disarm();
  }

 private:
  std::string path_;
  arbsuite::arb::InterruptRemoval removal_;
  bool remove_ = true;
};

// Whether a failed join may remove what it writes at path: a new file, or a regular
// one it replaces. A symbolic link, a FIFO or a device of that name is the user's
// and stays (the configuration was written through it).
bool removableConfig(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return errno == ENOENT;
  return S_ISREG(info.st_mode);
}

int commandInfo(const std::string& path) {
  const std::string text = descriptionOf(path);
  double clock = 0;
  double energy = 0;
  int infoStatus = 0;
  const int count = sampleCountOf(path, &clock, &energy, &infoStatus);
  std::printf("File:     %s\n%s\n", path.c_str(), text.c_str());
  std::printf("Samples:  %d\n", count);
  if (infoStatus == SEQLINK_MULTI_SEGMENT_REFUSED) {
    std::printf("Clock:    per segment (multi-segment file; see the SEGMENT lines)\n");
  } else {
    std::printf("Clock:    %.17g Hz\n", clock);
    std::printf("Energy:   %.6f\n", energy);
  }
  return kExitOk;
}

// What a join wrote, on standard output.
int reportJoin(const JoinResult& result) {
  std::printf("Joined %zu segments, %d sample pairs, into %s\n", result.segments.size(),
              result.totalSamples, result.output.c_str());
  for (std::size_t i = 0; i < result.segments.size(); ++i) {
    const PlannedSegment& segment = result.segments[i];
    std::printf("  segment %zu: %-40s %10d pairs at %.17g Hz, energy %.6f\n", i,
                segment.name.c_str(), segment.samples, segment.clock, segment.energy);
  }
  return kExitOk;
}

int commandJoin(JoinRequest& request) {
  if (!request.fromList) return reportJoin(runJoin(request.words[0]));
  JoinPlan& plan = request.plan;
  std::vector<SegmentSource> sources;
  try {
    for (const auto& word : request.words) sources.push_back({word, parseBlankSegment(word)});
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
  if (!request.configGiven && !configBesideOutput(plan.output, request.configPath)) {
    // No OUT-segments.txt beside a device or FIFO (it would land in /dev), nor one
    // whose name is too long for the folder: the plan is joined without one.
    if (request.writeConfigOnly) {
      throw Failure{kExitUsage,
                    "join: --write-config-only needs --config FILE for the output " + plan.output};
    }
    return reportJoin(joinPlanned(plan, ""));
  }
  const bool ownConfig =
      !request.configGiven && !request.writeConfigOnly && removableConfig(request.configPath);
  std::optional<ConfigOfThisJoin> ownFile;
  {
    arbsuite::cli::TextOutput out;
    if (!out.open(request.configPath) || !out.write(line)) {
      throw Failure{kExitOutput, "cannot write the configuration " + request.configPath + ": " +
                                     out.errorText()};
    }
    // No interrupt between the file's arrival and its registration for removal.
    const arbsuite::arb::InterruptDeferral hold;
    if (!out.commit()) {
      throw Failure{kExitOutput, "cannot write the configuration " + request.configPath + ": " +
                                     out.errorText()};
    }
    if (ownConfig) ownFile.emplace(request.configPath);
  }
  std::printf("Wrote segment configuration %s\n", request.configPath.c_str());
  if (request.writeConfigOnly) return kExitOk;
  // Joined from the plan in memory; the configuration written is the user's record
  // of it (and what a later `arbtool join FILE` reads).
  const int status = reportJoin(joinPlanned(plan, request.configPath));
  if (ownFile) ownFile->keep();
  return status;
}

int run(const std::vector<std::string>& args) {
  CommandLine line;
  try {
    line = parseCommandLine(args);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "arbtool: %s\n%s", e.what(), e.usage.c_str());
    return kExitUsage;
  }
  // dump, join and compose report the progress of long work on standard error.
  arbsuite::arb::setProgressMode(
      arbsuite::arb::progressModeFromEnvironment(line.quiet, line.progress));
  switch (line.action) {
    case Action::Help:
      std::fputs(line.helpText.c_str(), stdout);
      return kExitOk;
    case Action::Version:
      std::puts("arbtool " ARBSUITE_VERSION);
      return kExitOk;
    case Action::Info:
      return commandInfo(line.file);
    case Action::Dump: {
      const ArbContent described =
          describedContent(line.file, line.format == arbsuite::analysis::SampleFormat::Sigmf);
      ArbFilePieces pieces(described);
      runDump(described, pieces, line.output, line.format);
      return kExitOk;
    }
    case Action::Stats: {
      const ArbContent described = describedContent(line.file);
      ArbFilePieces pieces(described);
      runStats(described, pieces, line.json);
      return kExitOk;
    }
    case Action::Plot: {
      const ArbContent described = describedContent(line.file);
      ArbFilePieces pieces(described);
      runPlot(described, arbsuite::analysis::waveformLayoutOf(described), pieces, line.plot);
      return kExitOk;
    }
    case Action::Join:
      return commandJoin(line.join);
    case Action::Compose:
      return runCompose(line.compose);
    case Action::Check:
      return runCheck(line.check);
  }
  return kExitInternal;
}

}  // namespace

int main(int argc, char** argv) {
  // An interrupt ends the program by its signal (the library's output is an unnamed
  // file until it is complete); a standard output that cannot be written gives 4.
  arbsuite::arb::installInterruptCleanup();
  arbsuite::arb::checkStandardOutputAtExit("arbtool: ");
  // One load of the crypto library for the whole run instead of one per call.
  const arbsuite::seqlink::CryptoLibraryHold cryptoLibrary;
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
  } catch (const analysis::HeaderError& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "arbtool: %s\n", e.what());
    return kExitRead;
  } catch (const arbsuite::analysis::OutputError& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "arbtool: %s\n", e.what());
    return kExitOutput;
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "arbtool: %s\n", e.what());
    return kExitInternal;
  }
}
