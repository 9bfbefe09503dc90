// The settings parser of the iqsynth command line as other hosts use it: a run's
// settings given as the program's options (the same names, values and checks),
// whose samples go back to the caller rather than to the program's outputs.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "host_cli.h"
#include "synthesis_settings.h"

namespace arbsuite::iqsynth_host {

// A bad option or value; the message names the option.
using arbsuite::cli::UsageError;
// A constellation or taps file that cannot be read or is malformed; the message
// names the file and, where it can, the line.
struct InputError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Parses and checks the settings of a run whose samples go back to the caller (a
// host module), given as options of the command line ("--symbol-rate=1e6"): the
// same names, values and checks, but no output option is needed. Throws
// UsageError, also for --help and --version.
Options parseSettings(const std::vector<std::string>& args);

// The options of the command line by their long names (without the dashes), and
// whether each is a flag that takes no value.
struct OptionName {
  std::string name;
  bool flag = false;
};
std::vector<OptionName> optionNames();

// Reads the constellation and taps files named by the options into them. Throws
// InputError.
void loadInputFiles(Options& options);

}  // namespace arbsuite::iqsynth_host
