// The streamed dump and stats (see streamed_commands.h): the checks and messages of
// analysis_commands.cpp, the samples through the analysis's streamed writers.
#include "streamed_commands.h"

#include <unistd.h>

#include <cstdio>

#include "analysis_output.h"
#include "output_file.h"
#include "stats_report.h"
#include "streamed_export.h"
#include "streamed_stats.h"
#include "waveform_header.h"

#ifndef ARBSUITE_VERSION
#define ARBSUITE_VERSION "unknown"
#endif

namespace arbsuite::arbtool {
namespace {

// As analysis_commands.cpp: an output that is the input file itself is refused.
void refuseInputAsOutput(const std::string& command, const std::string& input,
                         const std::string& output) {
  if (output.empty() || output == "-") return;
  if (arb::outputOverwritesInput(output, input)) {
    throw UsageError(command + ": the output " + output + " is the input file " + input);
  }
}

}  // namespace

void runDump(const ArbContent& described, SamplePieces& pieces, const std::string& output,
             analysis::SampleFormat format) {
  if (format == analysis::SampleFormat::Sigmf) {
    const analysis::Waveform layout = analysis::waveformLayoutOf(described);
    analysis::SigmfRecording recording;
    recording.sampleRateHz = layout.clockHz;
    recording.description = describeItems(headerItems(described.displayText));
    recording.recorder = "arbtool " ARBSUITE_VERSION;
    recording.segments = layout.segments;
    const std::string base = analysis::sigmfBaseName(output);
    refuseInputAsOutput("dump", described.path, base + analysis::kSigmfDataSuffix);
    refuseInputAsOutput("dump", described.path, base + analysis::kSigmfMetaSuffix);
    analysis::writeSigmf(base, pieces, recording);
    std::printf("Wrote %zu samples of %s to %s%s and %s%s\n", described.count,
                described.path.c_str(), base.c_str(), analysis::kSigmfDataSuffix, base.c_str(),
                analysis::kSigmfMetaSuffix);
    return;
  }
  const bool toStandardOutput = output.empty() || output == "-";
  if (toStandardOutput && format != analysis::SampleFormat::Csv && ::isatty(STDOUT_FILENO) == 1) {
    throw UsageError("dump: --format " +
                     std::string(format == analysis::SampleFormat::Cf32Le ? "cf32_le" : "ci16_le") +
                     " writes binary samples; give -o FILE or redirect standard output");
  }
  refuseInputAsOutput("dump", described.path, output);
  analysis::OutputFile file(toStandardOutput ? "-" : output);
  analysis::writeSamples(file.stream(), pieces, format,
                         file.isStandardOutput() ? "the samples" : output);
  file.commit();
  if (!file.isStandardOutput()) {
    std::printf("Wrote %zu samples of %s to %s\n", described.count, described.path.c_str(),
                output.c_str());
  }
}

void runStats(const ArbContent& described, SamplePieces& pieces, bool json) {
  const analysis::Waveform layout = analysis::waveformLayoutOf(described);
  const analysis::StatsReport report =
      analysis::measureWaveform(pieces, layout.clockHz, layout.segments);
  const std::string text = json ? analysis::statsJson(report).dump(2) + "\n"
                                : analysis::statsText(report, described.path);
  std::fputs(text.c_str(), stdout);
}

}  // namespace arbsuite::arbtool
