// Command line of arbtool's preparation commands: compose (carriers from .arb files
// summed into one waveform, with optional crest-factor reduction) and check (whether
// a file is ready to play). Kept apart from the reading, measuring and joining
// commands of command_line.cpp.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host_cli.h"

namespace arbsuite::arbtool {

using arbsuite::cli::UsageError;

// One IN[:SHIFT[:GAIN_DB]] word of compose.
struct CarrierArgument {
  std::string word;  // as given, for messages
  std::string path;
  double shiftHz = 0;  // at the common clock
  double gainDb = 0;   // power against the mean power of the other inputs
};

// Reads a carrier word: the path ends at the first ':' after its last '/', SHIFT is a
// frequency with the units of the other options (empty: 0 Hz), GAIN_DB a finite
// number. Throws std::runtime_error saying what is wrong with the word.
CarrierArgument parseCarrierArgument(const std::string& word);

// The peak modulus of the written composite as a fraction of full scale by default:
// wavepack's level.
inline constexpr double kDefaultComposeLevel = 0.81;

struct ComposeRequest {
  std::string output;  // OUT.arb
  double clockHz = 0;  // the common clock: playable, whole hertz
  double level = kDefaultComposeLevel;
  std::optional<double> paprDb;  // crest-factor reduction to this PAPR
  std::vector<std::string> words;
  std::vector<CarrierArgument> carriers;  // from words, by checkCompose
};

struct CheckRequest {
  std::string file;
  std::optional<long long> minSamples;
};

struct PrepCommands {
  CLI::App* compose = nullptr;
  CLI::App* check = nullptr;
};

// Declares compose and check on app; their help ends with examplesAndStatuses.
PrepCommands declarePrepCommands(CLI::App& app, ComposeRequest& compose, CheckRequest& check,
                                 const std::string& examplesAndStatuses);

// The checks of compose that need no file: the clock is one the instrument plays in
// whole hertz, the output ends in .arb, every carrier word reads and its shift lies
// within half the clock. Fills request.carriers. Throws UsageError.
void checkCompose(const CLI::App& command, ComposeRequest& request);

}  // namespace arbsuite::arbtool
