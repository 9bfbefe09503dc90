// Command line of iqsynth: the parser of the settings of one run (the settings in
// synthesis_settings.h), its help and the checks that keep every value inside what
// the synthesis library accepts; iqsynth_settings.h is what other hosts use of it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "host_cli.h"
#include "iqsynth_settings.h"
#include "names.h"

namespace arbsuite::iqsynth_host {

// Exit statuses of iqsynth.
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 1;      // unknown option, bad or missing value
inline constexpr int kExitInput = 2;      // constellation or taps file unreadable or malformed
inline constexpr int kExitSynthesis = 3;  // runIqSynth reported an error
inline constexpr int kExitOutput = 4;     // the .arb, CSV, plot or log file cannot be written
inline constexpr int kExitInternal = 5;   // unexpected failure: out of memory, library missing

// Largest constellation or taps file read: 4,096 taps or 256 points need a small
// fraction of it, even written with every digit and comments.
inline constexpr std::size_t kMaxInputFileBytes = 1 << 20;

enum class Action { Run, Help, Version };

struct ParseResult {
  Action action = Action::Run;
  Options options;
};

// Parses and checks the arguments (argv[0] excluded). Throws UsageError with
// the option named in its message.
ParseResult parseCommandLine(const std::vector<std::string>& args);

// Frequency text such as 1e6, 2.5MHz, 250k, 10kHz, 1G: hertz. Throws UsageError.
using arbsuite::cli::parseFrequency;

// Complex points from text: one point per line, real and imaginary part separated
// by a comma, semicolon or spaces; blank lines, # comments and a header line
// that starts with a letter are skipped. Throws InputError naming the line.
std::vector<double> parsePoints(const std::string& text, const std::string& origin);
// Numbers separated by commas, semicolons, spaces or line ends; # comments.
std::vector<double> parseNumbers(const std::string& text, const std::string& origin);

// The generated help, with the name lists, examples and exit statuses at its end.
std::string helpText();
std::string versionText();

// Sample rate of the run's output in hertz (digital: symbol rate x oversampling;
// noise: the noise rate). Multi-carrier rates are known only after the library
// has chosen them.
double outputRate(const Options& options);

}  // namespace arbsuite::iqsynth_host
