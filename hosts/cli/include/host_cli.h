// What the command lines of the hosts share on top of CLI11: readers of option
// values in the programs' own words, immediate help and version flags, and
// parsing that reports every fault as a UsageError naming the option.
#pragma once

#include <CLI/CLI.hpp>
#include <stdexcept>
#include <string>
#include <vector>

namespace arbsuite::cli {

// A bad command line (exit status 1); usage is the usage line of the command.
struct UsageError : std::runtime_error {
  explicit UsageError(const std::string& message, std::string usageLine = {})
      : std::runtime_error(message), usage(std::move(usageLine)) {}
  std::string usage;
};

// Readers take the text of one value and throw CLI::ValidationError (or another
// std::runtime_error) with a message that CLI11 prefixes with "--name: ". Those
// with text() also spell the default the help shows.

// Decimal digits after an optional sign, within low..high.
struct WholeNumber {
  long long low;
  long long high;
  long long operator()(const std::string& text) const;
  std::string text(long long value) const { return std::to_string(value); }
};

enum class Bound { Any, Positive, NotNegative, UpToOne /* (0, 1] */ };

// A finite decimal number (1, -0.5, 2e-3) within bound.
struct RealNumber {
  Bound bound = Bound::Any;
  double operator()(const std::string& text) const;
  std::string text(double value) const;
};

// Hertz from a number and an optional unit Hz, k, kHz, M, MHz, G or GHz in any
// case (1e6, 2.5MHz, 250k, 10kHz, 1G); no spaces, no base prefixes.
struct Frequency {
  Bound bound = Bound::Any;
  double operator()(const std::string& text) const;
  std::string text(double hertz) const;  // 1e6 -> "1MHz"
};

// Comma-separated real numbers, at least one.
std::vector<double> readRealList(const std::string& text);
// The items of a comma-separated list; a trailing comma gives an empty last item.
std::vector<std::string> splitList(const std::string& text);

// Frequency{} outside an option: throws UsageError "--option: ...".
double parseFrequency(const std::string& option, const std::string& text);

// Lets read check and convert each value of option into target, and shows the
// target's initial value as the default when read can spell it.
template <typename T, typename Read>
CLI::Option* readInto(CLI::Option* option, T& target, Read read) {
  if constexpr (requires { read.text(target); }) option->default_str(read.text(target));
  return option->each([&target, read](const std::string& text) {
    try {
      target = static_cast<T>(read(text));
    } catch (const std::runtime_error& e) {
      throw CLI::ValidationError(e.what());
    }
  });
}

// -q/--quiet (no progress report) and --progress (a report on standard error even
// when it is no terminal) of a command whose work can take long.
void addProgressFlags(CLI::App& app, bool& quiet, bool& progress);

// -h/--help and --version that end the parse where they stand.
void addHelpFlag(CLI::App& app);
void addVersionFlag(CLI::App& app);

enum class Request { Run, Help, Version };
struct ParseOutcome {
  Request request = Request::Run;
  std::string helpText;  // Help: the help of the (sub)command it was given to
};

// Parses args (without argv[0]) into app, named after the program. Throws
// UsageError; a fault inside a subcommand starts with its name ("dump: ...").
ParseOutcome parseArguments(CLI::App& app, const std::vector<std::string>& args);

// "Usage: program [command] [OPTIONS] ..." of app (a program or a subcommand).
std::string usageLine(const CLI::App& app);

}  // namespace arbsuite::cli
