// Parser of the arbtool command line: one CLI11 subcommand per command, with
// the join options read into the segment configuration's words.
#include "command_line.h"

#include "arb_format.h"

namespace arbtool {
namespace {

using hosts_cli::Bound;
using hosts_cli::readInto;

const char* const kExamplesAndStatuses =
    "Examples:\n"
    "  arbtool info qpsk.arb\n"
    "  arbtool dump qpsk.arb -o qpsk-samples.csv\n"
    "  arbtool join -o joined.arb --level rms --clock highest qpsk.arb blank:1000 wave.arb\n"
    "  arbtool join joined-segments.txt\n"
    "\n"
    "Exit status: 0 success; 1 bad command line; 2 an .arb file cannot be read (missing,\n"
    "truncated, damaged or not an .arb file; the library status is printed in words);\n"
    "3 the join failed (status in words); 4 the CSV or configuration file, or standard\n"
    "output, cannot be written;\n"
    "5 unexpected failure (out of memory).";

struct Commands {
  CLI::App* info;
  CLI::App* dump;
  CLI::App* join;
};

// Declares the commands and options of arbtool on app; the values go into line.
Commands declareCommands(CLI::App& app, CommandLine& line) {
  app.description(
      "Reads .arb waveform files and joins them into multi-segment files with "
      "libseqlink.");
  app.footer("Run 'arbtool COMMAND --help' for the options of a command.\n\n" +
             std::string(kExamplesAndStatuses));
  app.get_formatter()->column_width(30);
  // As before the move to CLI11, a repeated option takes its last value, so
  // that scripts can put defaults in front of their caller's options.
  app.option_defaults()->disable_flag_override()->multi_option_policy(
      CLI::MultiOptionPolicy::TakeLast);
  app.require_subcommand(1);
  hosts_cli::addHelpFlag(app);
  hosts_cli::addVersionFlag(app);

  Commands commands{};
  commands.info = app.add_subcommand(
      "info", "print the text header, sample count, clock and energy of an .arb file");
  hosts_cli::addHelpFlag(*commands.info);
  commands.info->add_option("FILE.arb", line.file, "the .arb file")->required()->type_name("");
  commands.info->footer(
      "The text header comes as one 'key: value' line per item. A multi-segment file\n"
      "has a clock per segment, shown in its SEGMENT lines.\n\n" +
      std::string(kExamplesAndStatuses));

  commands.dump = app.add_subcommand(
      "dump", "print the decrypted samples of an .arb file as I,Q lines, or write them with -o");
  hosts_cli::addHelpFlag(*commands.dump);
  commands.dump->add_option("FILE.arb", line.file, "the .arb file")->required()->type_name("");
  commands.dump->add_option("-o,--output", line.output, "write the samples to this file")
      ->type_name("OUT.csv");
  commands.dump->footer("wavepack reads the I,Q lines back.\n\n" +
                        std::string(kExamplesAndStatuses));

  JoinRequest& join = line.join;
  commands.join = app.add_subcommand(
      "join", "build a multi-segment file from a segment configuration or from a list of segments");
  CLI::App& j = *commands.join;
  hosts_cli::addHelpFlag(j);
  j.add_option("-o,--output", join.plan.output,
               "write the configuration of SEGMENTs, build OUT.arb")
      ->type_name("OUT.arb");
  readInto(j.add_option("--level", "rms: scale every segment down to the lowest RMS level")
               ->type_name("MODE")
               ->default_str("unchanged"),
           join.plan.levelMode, levelModeWord);
  readInto(j.add_option("--clock",
                        "highest: every segment at the highest clock; user: at "
                        "--user-clock")
               ->type_name("MODE")
               ->default_str("unchanged"),
           join.plan.clockMode, clockModeWord);
  readInto(j.add_option("--user-clock", "clock of mode user (1 kHz to 50 MHz, or 100 MHz)")
               ->type_name("HZ")
               ->default_str("0"),
           join.plan.userClock, hosts_cli::Frequency{Bound::NotNegative});
  j.add_option("--config", join.configPath, "where to write the configuration")
      ->type_name("FILE")
      ->default_str("OUT-segments.txt");
  j.add_flag("--write-config-only", join.writeConfigOnly, "write the configuration and stop");
  j.add_option("SEGMENT", join.words, "the segments to join with -o; without options, CONFIG.txt")
      ->type_name("");
  j.footer(
      "Without options, join builds the multi-segment file that a one-line segment\n"
      "configuration names (its OUTPUT FILE item). With -o it first writes that\n"
      "configuration from the SEGMENTs. A SEGMENT is the path of a single-waveform .arb\n"
      "file, or blank:COUNT[@CLOCK] for COUNT pairs of silence (CLOCK as 5MHz, 2.5k or\n"
      "5e6; by default the clock of the nearest file segment). Every segment is written\n"
      "with a clock the instrument plays: 1 kHz to 50 MHz, or exactly 100 MHz.\n\n" +
      std::string(kExamplesAndStatuses));
  return commands;
}

// The join's two forms: any option asks for the segment-list form.
void checkJoin(const CLI::App& command, JoinRequest& join) {
  const auto usage = hosts_cli::usageLine(command);
  join.fromList = false;
  for (const CLI::Option* option : command.get_options()) {
    if (option->nonpositional() && option->count() > 0) join.fromList = true;
  }
  if (!join.fromList) {
    if (join.words.size() != 1) {
      throw UsageError("join takes one CONFIG file, or -o OUT.arb SEGMENT...", usage);
    }
    return;
  }
  if (join.plan.output.empty()) throw UsageError("join: the segment list needs -o OUT.arb", usage);
  if (join.words.empty()) throw UsageError("join: give at least one SEGMENT", usage);
  // The user clock is written into the file in mode user only, and must be one the
  // instrument plays; without --user-clock the file would get 0 Hz.
  if (join.plan.clockMode == "USER") {
    if (command.get_option("--user-clock")->count() == 0) {
      throw UsageError("join: --clock user needs --user-clock HZ", usage);
    }
    if (!arb::isPlayableClock(join.plan.userClock)) {
      throw UsageError("join: --user-clock: " + hosts_cli::Frequency{}.text(join.plan.userClock) +
                           " is not a clock the instrument plays (" + arb::kPlayableClockText + ")",
                       usage);
    }
  }
  if (join.configPath.empty()) join.configPath = defaultConfigPath(join.plan.output);
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& args) {
  CommandLine line;
  CLI::App app("", "arbtool");
  const Commands commands = declareCommands(app, line);
  const auto outcome = hosts_cli::parseArguments(app, args);
  if (outcome.request == hosts_cli::Request::Help) {
    line.action = Action::Help;
    line.helpText = outcome.helpText;
  } else if (outcome.request == hosts_cli::Request::Version) {
    line.action = Action::Version;
  } else if (commands.info->parsed()) {
    line.action = Action::Info;
  } else if (commands.dump->parsed()) {
    line.action = Action::Dump;
  } else {
    line.action = Action::Join;
    checkJoin(*commands.join, line.join);
  }
  return line;
}

}  // namespace arbtool
