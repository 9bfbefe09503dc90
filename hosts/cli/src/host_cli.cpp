// Option values and parse errors in the hosts' words. CLI11 reads integers with
// base prefixes (010 is 8) and its unit transformer keeps six significant digits,
// so the values have their own readers; CLI11's few structural errors are
// rephrased so that every program says "needs a value", "is given more than
// once", "takes no value", "unknown option" as it always has.
#include "host_cli.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "frequency_text.h"

namespace arbsuite::cli {
namespace {

// from_chars after an optional '+': no spaces, no base prefixes, no hex floats.
template <typename T>
bool readPlain(const std::string& text, T& value) {
  const char* first = text.data() + (!text.empty() && text[0] == '+' ? 1 : 0);
  const auto [end, error] = std::from_chars(first, text.data() + text.size(), value);
  return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

void checkBound(double value, const std::string& text, Bound bound) {
  if (bound == Bound::Positive && !(value > 0)) {
    throw CLI::ValidationError(text + " must be greater than 0");
  }
  if (bound == Bound::NotNegative && value < 0) throw CLI::ValidationError(text + " is negative");
  if (bound == Bound::UpToOne && !(value > 0 && value <= 1)) {
    throw CLI::ValidationError(text + " is not in (0, 1]");
  }
}

struct HelpSeen {
  const CLI::App* app;
};
struct VersionSeen {};

std::string commandName(const CLI::App& app) {
  const CLI::App* parent = app.get_parent();
  return parent == nullptr ? app.get_name() : commandName(*parent) + " " + app.get_name();
}

const CLI::App& selectedCommand(const CLI::App& app) {
  const auto selected = app.get_subcommands();
  return selected.empty() ? app : *selected.back();
}

bool hasSubcommands(const CLI::App& app) {
  return !app.get_subcommands([](const CLI::App*) { return true; }).empty();
}

// The first word no declaration took. CLI11 keeps a '--' among them; what
// follows it is an argument, whatever it looks like.
std::string leftoverFault(const CLI::App& app, const std::vector<std::string>& leftover) {
  const bool afterMark = leftover[0] == "--";
  const std::string& word = leftover[afterMark && leftover.size() > 1 ? 1 : 0];
  const CLI::App& command = selectedCommand(app);
  std::string kind = "unexpected argument";
  if (!afterMark && word.size() > 1 && word[0] == '-') {
    kind = "unknown option";
  } else if (!afterMark && &command == &app && hasSubcommands(app)) {
    kind = "unknown command";
  }
  return kind + " '" + word + "'; see " + commandName(command) + " --help";
}

// CLI11 tells these ArgumentMismatch faults apart by wording only:
//   "--name: 1 required LABEL missing"           a value missing at the end
//   "--name: At Most 1 required but received 2"  an option given twice
//   "name was given a disallowed flag override"  a value after a switch
std::string mismatchFault(const std::string& message) {
  const std::string missing = ": 1 required ";
  const std::string missingEnd = " missing";
  const std::string twice = ": At Most ";
  const std::string override = " was given a disallowed flag override";
  const auto endsWith = [&](const std::string& tail) {
    return message.size() >= tail.size() &&
           message.compare(message.size() - tail.size(), tail.size(), tail) == 0;
  };
  if (const auto at = message.find(missing); at != std::string::npos && endsWith(missingEnd)) {
    const auto label = at + missing.size();
    return message.substr(0, at) + " needs a value (" +
           message.substr(label, message.size() - missingEnd.size() - label) + ")";
  }
  if (const auto at = message.find(twice); at != std::string::npos) {
    return message.substr(0, at) + " is given more than once";
  }
  if (endsWith(override)) {
    const std::string name = message.substr(0, message.size() - override.size());
    return (name.size() == 1 ? "-" : "--") + name + " takes no value";
  }
  return message;
}

std::string fault(const CLI::ParseError& error, const CLI::App& app) {
  const std::vector<std::string> leftover = app.remaining(true);
  const bool noCommand = app.get_subcommands().empty() && hasSubcommands(app);
  if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr ||
      (dynamic_cast<const CLI::RequiredError*>(&error) != nullptr && noCommand)) {
    if (!leftover.empty()) return leftoverFault(app, leftover);
    if (noCommand) return "no command given; see " + app.get_name() + " --help";
  }
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr) {
    return mismatchFault(error.what());
  }
  return error.what();
}

}  // namespace

long long WholeNumber::operator()(const std::string& text) const {
  long long value = 0;
  if (!readPlain(text, value)) throw CLI::ValidationError("'" + text + "' is not a whole number");
  if (value < low || value > high) {
    throw CLI::ValidationError(text + " is out of range " + std::to_string(low) + " to " +
                               std::to_string(high));
  }
  return value;
}

double RealNumber::operator()(const std::string& text) const {
  double value = 0;
  if (!readPlain(text, value) || !std::isfinite(value)) {
    throw CLI::ValidationError("'" + text + "' is not a number");
  }
  checkBound(value, text, bound);
  return value;
}

std::string RealNumber::text(double value) const {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

double Frequency::operator()(const std::string& text) const {
  const arbsuite::FrequencyParts parts = arbsuite::splitFrequency(text);
  if (parts.factor == 0 || parts.number.empty()) {
    throw CLI::ValidationError(
        "'" + text + "' is not a frequency; write e.g. 1e6, 1000000, 2.5MHz, 250k or 10kHz");
  }
  // The number's own fault in its own words ("'1.2.3' is not a number").
  const double value = RealNumber{}(std::string(parts.number)) * parts.factor;
  if (!std::isfinite(value)) throw CLI::ValidationError("'" + text + "' is too large");
  checkBound(value, text, bound);
  return value;
}

std::string Frequency::text(double hertz) const { return arbsuite::frequencyText(hertz); }

std::vector<std::string> splitList(const std::string& text) {
  std::vector<std::string> items;
  std::string item;
  std::istringstream in(text);
  while (std::getline(in, item, ',')) items.push_back(item);
  if (!text.empty() && text.back() == ',') items.emplace_back();
  return items;
}

std::vector<double> readRealList(const std::string& text) {
  std::vector<double> values;
  for (const auto& item : splitList(text)) values.push_back(RealNumber{}(item));
  if (values.empty()) throw CLI::ValidationError("the list is empty");
  return values;
}

double parseFrequency(const std::string& option, const std::string& text) {
  try {
    return Frequency{}(text);
  } catch (const CLI::ValidationError& e) {
    throw UsageError("--" + option + ": " + e.what());
  }
}

void addHelpFlag(CLI::App& app) {
  app.set_help_flag();
  app.add_flag_callback(
         "-h,--help", [&app] { throw HelpSeen{&app}; }, "print this help and exit")
      ->trigger_on_parse();
}

void addProgressFlags(CLI::App& app, bool& quiet, bool& progress) {
  app.add_flag("-q,--quiet", quiet, "no progress report on standard error");
  app.add_flag("--progress", progress,
               "report progress on standard error even when it is no terminal (a line a second)");
}

void addVersionFlag(CLI::App& app) {
  app.add_flag_callback(
         "--version", [] { throw VersionSeen{}; }, "print the version and exit")
      ->trigger_on_parse();
}

std::string usageLine(const CLI::App& app) {
  return CLI::Formatter().make_usage(&app, commandName(app));
}

ParseOutcome parseArguments(CLI::App& app, const std::vector<std::string>& args) {
  try {
    app.parse(std::vector<std::string>(args.rbegin(), args.rend()));  // CLI11 takes them last first
  } catch (const HelpSeen& seen) {
    const CLI::App* parent = seen.app->get_parent();
    return {Request::Help, seen.app->help(parent == nullptr ? "" : commandName(*parent))};
  } catch (const VersionSeen&) {
    return {Request::Version, {}};
  } catch (const CLI::ParseError& error) {
    const CLI::App& command = selectedCommand(app);
    const std::string where = &command == &app ? "" : command.get_name() + ": ";
    throw UsageError(where + fault(error, app), usageLine(command));
  }
  return {};
}

}  // namespace arbsuite::cli
