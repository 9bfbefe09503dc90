// stats, plot and dump on content read by main.cpp, through the hosts' analysis.
#include "analysis_commands.h"

#include <unistd.h>

#include <cstdio>

#include "analysis_output.h"
#include "output_file.h"
#include "plot_sheet.h"
#include "sample_export.h"
#include "stats.h"
#include "stats_report.h"
#include "waveform_header.h"

#ifndef ARBSUITE_VERSION
#define ARBSUITE_VERSION "unknown"
#endif

namespace arbsuite::arbtool {
namespace {

// Refuses an output that is the input file itself (by device and inode, so also
// through links): the input would be replaced by what was read from it.
void refuseInputAsOutput(const std::string& command, const std::string& input,
                         const std::string& output) {
  if (output.empty() || output == "-") return;
  if (arb::outputOverwritesInput(output, input)) {
    throw UsageError(command + ": the output " + output + " is the input file " + input);
  }
}

}  // namespace

void runStats(const ArbContent& content, bool json) {
  const analysis::StatsReport report = analysis::measureWaveform(analysis::waveformOf(content));
  const std::string text =
      json ? analysis::statsJson(report).dump(2) + "\n" : analysis::statsText(report, content.path);
  std::fputs(text.c_str(), stdout);
}

void runPlot(const ArbContent& content, const PlotRequest& plot) {
  const analysis::Waveform waveform = analysis::waveformOf(content);
  SpanPieces pieces(waveform.iq);
  runPlot(content, waveform, pieces, plot);
}

void runPlot(const ArbContent& described, const analysis::Waveform& layout, SamplePieces& pieces,
             const PlotRequest& plot) {
  analysis::PlotRequest request;
  request.title = "arbtool plot: " + described.path;
  std::size_t first = 0;
  std::size_t count = pieces.samples();
  std::optional<double> clockHz = layout.clockHz;
  if (plot.segment) {
    if (layout.segments.empty()) {
      throw UsageError("plot: --segment: " + described.path +
                       " is a single waveform, not a multi-segment file");
    }
    if (*plot.segment >= layout.segments.size()) {
      throw UsageError("plot: --segment " + std::to_string(*plot.segment) + ": " + described.path +
                       " has " + std::to_string(layout.segments.size()) +
                       " segments, numbered from 0");
    }
    const analysis::Segment& segment = layout.segments[*plot.segment];
    request.title += ", segment " + std::to_string(*plot.segment) + " (" + segment.name + ")";
    if (segment.start > count || segment.count > count - segment.start) {
      throw analysis::HeaderError(described.path + ": segment " + std::to_string(*plot.segment) +
                                  " lies beyond the samples");
    }
    first = segment.start;
    count = segment.count;
    clockHz = segment.clockHz > 0 ? std::optional<double>(segment.clockHz) : std::nullopt;
  }
  if (analysis::plotNeedsClock(plot.kind, plot.symbolRate.has_value()) && !clockHz) {
    if (described.multiSegment && !plot.segment) {
      throw UsageError("plot: the segments of " + described.path +
                       " play at different clocks; choose one with --segment N");
    }
    throw UsageError("plot: " + described.path +
                     " gives no clock above 0 Hz; plot --kind ccdf, "
                     "or constellation without --symbol-rate");
  }
  if (plot.symbolRate && clockHz && *plot.symbolRate > *clockHz) {
    throw UsageError("plot: --symbol-rate " + analysis::hertzText(*plot.symbolRate) +
                     " is above the clock, " + analysis::hertzText(*clockHz));
  }
  request.subtitle = analysis::countText(count) + " samples";
  if (clockHz) request.subtitle += " at " + analysis::hertzText(*clockHz);
  if (plot.symbolRate) {
    request.subtitle += ", " + analysis::hertzText(*plot.symbolRate) + " symbol rate";
  }
  refuseInputAsOutput("plot", described.path, plot.output);
  request.output = plot.output;
  request.kind = plot.kind;
  request.symbolRateHz = plot.symbolRate;
  request.width = plot.width;
  request.height = plot.height;
  RangePieces drawn(pieces, first, count);
  analysis::writePlot(drawn, clockHz, request);
  std::printf("Wrote %s plot of %s to %s\n", analysis::plotKindName(plot.kind),
              described.path.c_str(), plot.output.c_str());
}

void runDump(const ArbContent& content, const std::string& output, analysis::SampleFormat format) {
  if (format == analysis::SampleFormat::Sigmf) {
    const analysis::Waveform waveform = analysis::waveformOf(content);
    analysis::SigmfRecording recording;
    recording.sampleRateHz = waveform.clockHz;
    recording.description = describeItems(headerItems(content.displayText));
    recording.recorder = "arbtool " ARBSUITE_VERSION;
    recording.segments = waveform.segments;
    const std::string base = analysis::sigmfBaseName(output);
    refuseInputAsOutput("dump", content.path, base + analysis::kSigmfDataSuffix);
    refuseInputAsOutput("dump", content.path, base + analysis::kSigmfMetaSuffix);
    analysis::writeSigmf(base, waveform.iq, recording);
    std::printf("Wrote %zu samples of %s to %s%s and %s%s\n", content.count, content.path.c_str(),
                base.c_str(), analysis::kSigmfDataSuffix, base.c_str(), analysis::kSigmfMetaSuffix);
    return;
  }
  const bool toStandardOutput = output.empty() || output == "-";
  if (toStandardOutput && format != analysis::SampleFormat::Csv && ::isatty(STDOUT_FILENO) == 1) {
    throw UsageError("dump: --format " +
                     std::string(format == analysis::SampleFormat::Cf32Le ? "cf32_le" : "ci16_le") +
                     " writes binary samples; give -o FILE or redirect standard output");
  }
  refuseInputAsOutput("dump", content.path, output);
  analysis::OutputFile file(toStandardOutput ? "-" : output);
  // The raw and text forms do not need the segment table.
  const std::span<const short> iq(content.samples.data(), 2 * content.count);
  analysis::writeSamples(file.stream(), iq, format,
                         file.isStandardOutput() ? "the samples" : output);
  file.commit();
  if (!file.isStandardOutput()) {
    std::printf("Wrote %zu samples of %s to %s\n", content.count, content.path.c_str(),
                output.c_str());
  }
}

}  // namespace arbsuite::arbtool
