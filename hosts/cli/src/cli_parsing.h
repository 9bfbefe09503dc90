// Running a CLI11 command line the way the hosts want it: help and version flags
// that answer as soon as they are seen, values read by the hosts' own readers,
// and CLI11's parse errors turned into UsageError with the programs' words.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "cli_values.h"

namespace hosts_cli {

// Adds -h/--help to app (replacing CLI11's own). Seen anywhere on the command
// line, it ends the parse: parseArguments reports Help with app's help text.
void addHelpFlag(CLI::App& app);
// Adds --version, which ends the parse in the same way.
void addVersionFlag(CLI::App& app);

// Lets `read` check and convert each value of option into target. read takes
// the value's text and throws CLI::ValidationError (see cli_values.h); CLI11
// then reports "--name: message".
template <typename T, typename Read>
CLI::Option* readInto(CLI::Option* option, T& target, Read read) {
  return option->each(
      [&target, read](const std::string& text) { target = static_cast<T>(read(text)); });
}

enum class Request { Run, Help, Version };

struct ParseOutcome {
  Request request = Request::Run;
  std::string helpText;  // with Request::Help: the help of the command it was given to
};

// Parses args (the program's arguments without argv[0]) into app, whose name is
// the program's name. Throws UsageError for a bad command line; its message
// starts with the subcommand's name when the fault lies in a subcommand.
ParseOutcome parseArguments(CLI::App& app, const std::vector<std::string>& args);

// "Usage: program [sub] [OPTIONS] ...", generated from the declarations.
std::string usageLine(const CLI::App& app);

// The selected subcommand of app, or app itself when none was selected.
const CLI::App& selectedCommand(const CLI::App& app);

}  // namespace hosts_cli
