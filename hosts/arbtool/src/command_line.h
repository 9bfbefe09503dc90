// Command line of arbtool: the info, dump and join commands, their options and
// the checks that do not need the library.
#pragma once

#include <string>
#include <vector>

#include "host_cli.h"
#include "segment_config.h"

namespace arbtool {

using hosts_cli::UsageError;

enum class Action { Help, Version, Info, Dump, Join };

struct JoinRequest {
  // From a segment list (-o OUT.arb SEGMENT...): plan has the output and modes
  // (its segments are filled from the words later); otherwise the one word is
  // the path of a configuration file.
  bool fromList = false;
  JoinPlan plan;
  std::vector<std::string> words;  // SEGMENT... or CONFIG.txt
  std::string configPath;          // where to write the configuration (list)
  bool writeConfigOnly = false;
};

struct CommandLine {
  Action action = Action::Help;
  std::string helpText;  // Action::Help: the help of the command asked about
  std::string file;      // info, dump: the .arb file
  std::string output;    // dump: the CSV file, empty for standard output
  JoinRequest join;
};

// Parses the arguments (argv[0] excluded). Throws UsageError with the option or
// command named in its message and the usage line of the command concerned. The
// help (of the program or of one command) ends with the examples and statuses.
CommandLine parseCommandLine(const std::vector<std::string>& args);

}  // namespace arbtool
