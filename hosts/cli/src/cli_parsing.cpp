// CLI11 parse errors in the hosts' words. CLI11 does the tokenising, look-up,
// '--name=value' and '-xVALUE' forms, '--', subcommands and the help layout; the
// few structural errors it phrases in its own way are rephrased here, so that
// every program says "needs a value", "is given more than once", "takes no
// value", "unknown option" and "unexpected argument" as it always has.
#include "cli_parsing.h"

namespace hosts_cli {
namespace {

// Thrown from the help and version flags' callbacks to end the parse at once.
struct HelpSeen {
  const CLI::App* app;
};
struct VersionSeen {};

// The full command name of app, such as "arbtool join".
std::string commandName(const CLI::App& app) {
  const CLI::App* parent = app.get_parent();
  return parent == nullptr ? app.get_name() : commandName(*parent) + " " + app.get_name();
}

bool hasSubcommands(const CLI::App& app) {
  return !app.get_subcommands([](const CLI::App*) { return true; }).empty();
}

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// ArgumentMismatch covers three faults that CLI11 tells apart only by wording:
//   "--name: 1 required LABEL missing"           a value missing at the end
//   "--name: At Most 1 required but received 2"  an option given twice
//   "name was given a disallowed flag override"  a value after a switch
// Any other wording is passed on as it is.
std::string rephraseMismatch(const std::string& message) {
  const std::string missing = ": 1 required ";
  const std::string missingEnd = " missing";
  const std::string twice = ": At Most ";
  const std::string override = " was given a disallowed flag override";
  if (const auto at = message.find(missing);
      at != std::string::npos && endsWith(message, missingEnd)) {
    const auto label = at + missing.size();
    return message.substr(0, at) + " needs a value (" +
           message.substr(label, message.size() - missingEnd.size() - label) + ")";
  }
  if (const auto at = message.find(twice); at != std::string::npos) {
    return message.substr(0, at) + " is given more than once";
  }
  if (endsWith(message, override)) {
    const std::string name = message.substr(0, message.size() - override.size());
    return (name.size() == 1 ? "-" : "--") + name + " takes no value";
  }
  return message;
}

// The first word that no declaration took: an unknown option, a command where
// one is expected, or an argument too many. CLI11 keeps a '--' among them; what
// follows it is an argument, whatever it looks like.
std::string rephraseLeftover(const CLI::App& app, const std::vector<std::string>& leftover) {
  auto word = leftover.begin();
  const bool afterMark = *word == "--";
  if (afterMark && leftover.size() > 1) ++word;
  const CLI::App& command = selectedCommand(app);
  std::string kind = "unexpected argument";
  if (!afterMark && word->size() > 1 && (*word)[0] == '-') {
    kind = "unknown option";
  } else if (!afterMark && &command == &app && hasSubcommands(app)) {
    kind = "unknown command";
  }
  return kind + " '" + *word + "'; see " + commandName(command) + " --help";
}

std::string rephrase(const CLI::ParseError& error, const CLI::App& app) {
  const std::vector<std::string> leftover = app.remaining(true);
  if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr && !leftover.empty()) {
    return rephraseLeftover(app, leftover);
  }
  if (dynamic_cast<const CLI::RequiredError*>(&error) != nullptr && app.get_subcommands().empty() &&
      hasSubcommands(app)) {
    if (!leftover.empty()) return rephraseLeftover(app, leftover);
    return "no command given; see " + app.get_name() + " --help";
  }
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr) {
    return rephraseMismatch(error.what());
  }
  return error.what();
}

}  // namespace

void addHelpFlag(CLI::App& app) {
  app.set_help_flag();
  app.add_flag_callback(
         "-h,--help", [&app] { throw HelpSeen{&app}; }, "print this help and exit")
      ->trigger_on_parse();
}

void addVersionFlag(CLI::App& app) {
  app.add_flag_callback(
         "--version", [] { throw VersionSeen{}; }, "print the program version and exit")
      ->trigger_on_parse();
}

const CLI::App& selectedCommand(const CLI::App& app) {
  const auto selected = app.get_subcommands();
  return selected.empty() ? app : *selected.back();
}

std::string usageLine(const CLI::App& app) {
  return CLI::Formatter().make_usage(&app, commandName(app));
}

ParseOutcome parseArguments(CLI::App& app, const std::vector<std::string>& args) {
  ParseOutcome outcome;
  try {
    // CLI11 takes the arguments last first.
    app.parse(std::vector<std::string>(args.rbegin(), args.rend()));
  } catch (const HelpSeen& seen) {
    outcome.request = Request::Help;
    outcome.helpText = seen.app->help(
        seen.app->get_parent() == nullptr ? std::string() : commandName(*seen.app->get_parent()));
  } catch (const VersionSeen&) {
    outcome.request = Request::Version;
  } catch (const CLI::ParseError& error) {
    const CLI::App& command = selectedCommand(app);
    const std::string where = &command == &app ? std::string() : command.get_name() + ": ";
    throw UsageError(where + rephrase(error, app), usageLine(command));
  }
  return outcome;
}

}  // namespace hosts_cli
