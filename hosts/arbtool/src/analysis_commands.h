// The analysis commands of arbtool (stats, plot, and the dump formats) on the
// content of an .arb file that main.cpp read through libseqlink. No library
// calls here, so the unit tests run them on made-up content.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "analysed_waveform.h"
#include "arb_read.h"
#include "command_line.h"
#include "sample_pieces.h"

namespace arbsuite::arbtool {

// Prints the stats as text or JSON to standard output.
void runStats(const ArbContent& content, bool json);

// Draws the plot; prints one line naming the file written. Throws UsageError
// (a segment that does not exist, a plot that needs a clock the file does not
// give or whose segments play at different clocks, a symbol rate above the
// clock), analysis::OutputError.
void runPlot(const ArbContent& content, const PlotRequest& plot);

// The same for the pairs of pieces (described's count), with the clock and segment
// table of layout (analysis::waveformOf, or its samples left out); reads only the
// pieces of the segment drawn.
void runPlot(const ArbContent& described, const analysis::Waveform& layout, SamplePieces& pieces,
             const PlotRequest& plot);

// Writes the samples in a raw or text format to output ("" or "-": standard
// output), or the SigMF pair OUT.sigmf-data / OUT.sigmf-meta; prints one line
// naming the files unless the samples went to standard output. Throws
// UsageError for binary samples to a terminal, analysis::OutputError.
void runDump(const ArbContent& content, const std::string& output, analysis::SampleFormat format);

}  // namespace arbsuite::arbtool
