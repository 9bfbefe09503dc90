// Command line of arbtool: the info, dump, stats, plot and join commands, their
// options and the checks that do not need the library; compose and check come
// from prep_options.h.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "host_cli.h"
#include "join_plan.h"
#include "plot_sheet.h"
#include "prep_options.h"
#include "sample_export.h"

namespace arbsuite::arbtool {

using arbsuite::cli::UsageError;

enum class Action { Help, Version, Info, Dump, Stats, Plot, Join, Compose, Check };

struct JoinRequest {
  // From a segment list (-o OUT.arb SEGMENT...): plan has the output and modes
  // (its segments are filled from the words later); otherwise the one word is
  // the path of a configuration file.
  bool fromList = false;
  JoinPlan plan;
  std::vector<std::string> words;  // SEGMENT... or CONFIG.txt
  std::string configPath;          // where to write the configuration (list)
  bool configGiven = false;        // --config named it (else it is OUT-segments.txt)
  bool writeConfigOnly = false;
};

struct PlotRequest {
  std::string output;  // OUT.png, OUT.svg or OUT.pdf
  analysis::PlotKind kind = analysis::PlotKind::All;
  std::optional<double> symbolRate;  // Hz
  std::optional<std::size_t> segment;
  int width = analysis::kDefaultPlotWidth;
  int height = analysis::kDefaultPlotHeight;
};

struct CommandLine {
  Action action = Action::Help;
  std::string helpText;  // Action::Help: the help of the command asked about
  std::string file;      // info, dump, stats, plot: the .arb file
  std::string output;    // dump: the output, empty or "-" for standard output
  analysis::SampleFormat format = analysis::SampleFormat::Csv;  // dump
  bool json = false;                                            // stats
  PlotRequest plot;
  JoinRequest join;
  ComposeRequest compose;
  CheckRequest check;
  bool quiet = false;     // dump, join, compose: no progress report
  bool progress = false;  // dump, join, compose: a progress report even on a pipe
};

// Parses the arguments (argv[0] excluded). Throws UsageError with the option or
// command named in its message and the usage line of the command concerned. The
// help (of the program or of one command) ends with the examples and statuses.
CommandLine parseCommandLine(const std::vector<std::string>& args);

}  // namespace arbsuite::arbtool
