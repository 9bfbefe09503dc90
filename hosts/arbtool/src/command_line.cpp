// Parser of the arbtool command line: one CLI11 subcommand per command, with
// the join options read into the segment configuration's words.
#include "command_line.h"

#include <charconv>
#include <climits>

#include "arb_format.h"
#include "loop_figures.h"
#include "stats_report.h"

namespace arbsuite::arbtool {
namespace {

using arbsuite::cli::Bound;
using arbsuite::cli::readInto;

// Readers of the words of --format and --kind.
struct SampleFormatWord {
  analysis::SampleFormat operator()(const std::string& text) const {
    const auto format = analysis::sampleFormatNamed(text);
    if (!format)
      throw CLI::ValidationError("'" + text + "' is not one of csv, cf32_le, ci16_le, sigmf");
    return *format;
  }
};

struct PlotKindWord {
  analysis::PlotKind operator()(const std::string& text) const {
    const auto kind = analysis::plotKindNamed(text);
    if (!kind) {
      throw CLI::ValidationError("'" + text +
                                 "' is not one of spectrum, constellation, time, ccdf, eye, all");
    }
    return *kind;
  }
  std::string text(analysis::PlotKind kind) const { return analysis::plotKindName(kind); }
};

// --size WIDTHxHEIGHT, each side within the plot bounds.
void readPlotSize(const std::string& text, PlotRequest& plot) {
  const auto x = text.find_first_of("xX");
  int width = 0;
  int height = 0;
  const char* end = text.data() + text.size();
  const bool read = x != std::string::npos &&
                    std::from_chars(text.data(), text.data() + x, width).ptr == text.data() + x &&
                    x + 1 < text.size() &&
                    std::from_chars(text.data() + x + 1, end, height).ptr == end;
  if (!read) throw CLI::ValidationError("'" + text + "' is not WIDTHxHEIGHT, such as 1200x900");
  for (const int side : {width, height}) {
    if (side < analysis::kMinPlotSide || side > analysis::kMaxPlotSide) {
      throw CLI::ValidationError("each side must lie within " +
                                 std::to_string(analysis::kMinPlotSide) + " to " +
                                 std::to_string(analysis::kMaxPlotSide));
    }
  }
  plot.width = width;
  plot.height = height;
}

const char* const kExamplesAndStatuses =
    "Examples:\n"
    "  arbtool info qpsk.arb\n"
    "  arbtool dump qpsk.arb -o qpsk-samples.csv\n"
    "  arbtool dump qpsk.arb --format sigmf -o qpsk   # qpsk.sigmf-data, qpsk.sigmf-meta\n"
    "  arbtool stats --json qpsk.arb\n"
    "  arbtool plot qpsk.arb -o qpsk.png --symbol-rate 2.5MHz\n"
    "  arbtool join -o joined.arb --level rms --clock highest qpsk.arb blank:1000 wave.arb\n"
    "  arbtool join joined-segments.txt\n"
    "  arbtool compose -o two.arb --clock 50MHz a.arb:-10MHz b.arb:10MHz:-3 --papr 7\n"
    "  arbtool check two.arb --min-samples 1000\n"
    "\n"
    "Exit status: 0 success; 1 bad command line; 2 an .arb file cannot be read (missing,\n"
    "truncated, damaged or not an .arb file; the library status is printed in words);\n"
    "3 the join or the packer of compose failed (status in words); 4 an output (samples,\n"
    "plot, configuration, composite) or standard output cannot be written; 5 unexpected\n"
    "failure (out of memory); 6 check: the file is not ready to play.";

struct Commands {
  CLI::App* info;
  CLI::App* dump;
  CLI::App* stats;
  CLI::App* plot;
  CLI::App* join;
};

// Declares the commands and options of arbtool on app; the values go into line.
Commands declareCommands(CLI::App& app, CommandLine& line) {
  app.description(
      "Reads, measures and plots .arb waveform files and joins them into "
      "multi-segment files with libseqlink.");
  app.footer("Run 'arbtool COMMAND --help' for the options of a command.\n\n" +
             std::string(kExamplesAndStatuses));
  app.get_formatter()->column_width(30);
  // As before the move to CLI11, a repeated option takes its last value, so
  // that scripts can put defaults in front of their caller's options.
  app.option_defaults()->disable_flag_override()->multi_option_policy(
      CLI::MultiOptionPolicy::TakeLast);
  app.require_subcommand(1);
  arbsuite::cli::addHelpFlag(app);
  arbsuite::cli::addVersionFlag(app);

  Commands commands{};
  commands.info = app.add_subcommand(
      "info", "print the text header, sample count, clock and energy of an .arb file");
  arbsuite::cli::addHelpFlag(*commands.info);
  commands.info->add_option("FILE.arb", line.file, "the .arb file")->required()->type_name("");
  commands.info->footer(
      "The text header comes as one 'key: value' line per item. A multi-segment file\n"
      "has a clock per segment, shown in its SEGMENT lines.\n\n" +
      std::string(kExamplesAndStatuses));

  commands.dump = app.add_subcommand(
      "dump", "print the decrypted samples as I,Q lines, or write them raw or as SigMF with -o");
  arbsuite::cli::addHelpFlag(*commands.dump);
  commands.dump->add_option("FILE.arb", line.file, "the .arb file")->required()->type_name("");
  commands.dump
      ->add_option("-o,--output", line.output,
                   "write the samples to this file (- for standard output)")
      ->type_name("OUT");
  readInto(commands.dump->add_option("--format", "csv, cf32_le, ci16_le or sigmf")
               ->type_name("FORMAT")
               ->default_str("csv"),
           line.format, SampleFormatWord{});
  commands.dump->footer(
      "csv: one I,Q line per sample pair, the stored 14-bit values (wavepack reads them back).\n"
      "ci16_le: the stored values as little-endian 16-bit integers, I then Q.\n"
      "cf32_le: the stored values divided by 8192 as little-endian 32-bit floats, I then Q.\n"
      "sigmf: OUT.sigmf-data (ci16_le) and OUT.sigmf-meta (SigMF 1.x: the clock as\n"
      "core:sample_rate, the text header as core:description, one annotation per segment);\n"
      "it needs -o OUT.\n\n" +
      std::string(kExamplesAndStatuses));

  commands.stats = app.add_subcommand(
      "stats", "print the peak, RMS, PAPR, CCDF, DC offset, clipping and occupied bandwidth");
  arbsuite::cli::addHelpFlag(*commands.stats);
  commands.stats->add_option("FILE.arb", line.file, "the .arb file")->required()->type_name("");
  commands.stats->add_flag("--json", line.json, "print the figures as one JSON object");
  commands.stats->footer(
      "Levels are relative to full scale, a modulus of 8192 LSB (0 dBFS). PAPR is the peak\n"
      "power over the mean power; the CCDF gives the power above the mean that 10 %, 1 %,\n"
      "0.1 % and 0.01 % of the samples reach; a sample is clipped when I or Q sits on a\n"
      "rail (-8192 or +8191). The occupied bandwidth holds 99 % of the power of a Welch\n"
      "spectrum (4096-point Hann segments overlapping by half). A multi-segment file gives\n"
      "the same figures for each segment.\n"
      "The seam is the jump from the last sample to the first, in LSB and as a multiple of\n"
      "the 99th-percentile step between neighbouring samples (about 1 for a waveform that\n"
      "loops seamlessly); a multi-segment file also gives it at each boundary between\n"
      "segments. The regrowth is the power outside the 99 % occupied band of the looped\n"
      "waveform's periodic spectrum against that of a Welch spectrum of its inside, in dB\n"
      "(near 0 when it loops cleanly, within a dB or two for noise-like waveforms; a click\n"
      "at the seam raises it; measured up to " +
      analysis::countText(analysis::kLoopRegrowthLimit) + " samples).\n\n" +
      std::string(kExamplesAndStatuses));

  PlotRequest& plot = line.plot;
  commands.plot = app.add_subcommand(
      "plot",
      "draw the spectrum, constellation, time view, CCDF or eye diagram to PNG, SVG or PDF");
  CLI::App& p = *commands.plot;
  arbsuite::cli::addHelpFlag(p);
  p.add_option("FILE.arb", line.file, "the .arb file")->required()->type_name("");
  p.add_option("-o,--output", plot.output, "the picture; its extension gives the format")
      ->required()
      ->type_name("OUT.png|OUT.svg|OUT.pdf");
  readInto(p.add_option("--kind", "spectrum, constellation, time, ccdf, eye or all (a 2x2 sheet)")
               ->type_name("KIND"),
           plot.kind, PlotKindWord{});
  readInto(p.add_option("--symbol-rate",
                        "symbol rate: the constellation at the symbol instants, "
                        "and the eye diagram")
               ->type_name("HZ"),
           plot.symbolRate, arbsuite::cli::Frequency{Bound::Positive});
  readInto(p.add_option("--segment", "draw only this segment of a multi-segment file (from 0)")
               ->type_name("N"),
           plot.segment, arbsuite::cli::WholeNumber{0, INT_MAX});
  p.add_option("--size", CLI::callback_t(), "page size: pixels for PNG, points for SVG and PDF")
      ->type_name("WxH")
      ->default_str(std::to_string(plot.width) + "x" + std::to_string(plot.height))
      ->each([&plot](const std::string& text) { readPlotSize(text, plot); });
  p.footer(
      "spectrum: Welch power spectral density in dBFS/Hz over the whole file.\n"
      "constellation: all samples as a density; with --symbol-rate, the symbol instants.\n"
      "time: I, Q and envelope of the first samples. ccdf: against Gaussian noise.\n"
      "eye: two symbols wide, I and Q; needs --symbol-rate.\n"
      "all (the default): spectrum, constellation, time and CCDF on one titled sheet.\n\n" +
      std::string(kExamplesAndStatuses));

  JoinRequest& join = line.join;
  commands.join = app.add_subcommand(
      "join", "build a multi-segment file from a segment configuration or from a list of segments");
  CLI::App& j = *commands.join;
  arbsuite::cli::addHelpFlag(j);
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
           join.plan.userClock, arbsuite::cli::Frequency{Bound::NotNegative});
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

void checkDump(const CLI::App& command, const CommandLine& line) {
  if (line.format == analysis::SampleFormat::Sigmf && (line.output.empty() || line.output == "-")) {
    throw UsageError("dump: --format sigmf writes two files and needs -o OUT",
                     arbsuite::cli::usageLine(command));
  }
}

void checkPlot(const CLI::App& command, const PlotRequest& plot) {
  const auto usage = arbsuite::cli::usageLine(command);
  if (!analysis::plotFormatOf(plot.output)) {
    throw UsageError("plot: --output: '" + plot.output + "' does not end in .png, .svg or .pdf",
                     usage);
  }
  if (plot.kind == analysis::PlotKind::Eye && !plot.symbolRate) {
    throw UsageError("plot: --kind eye needs --symbol-rate", usage);
  }
}

// The join's two forms: any option asks for the segment-list form.
void checkJoin(const CLI::App& command, JoinRequest& join) {
  const auto usage = arbsuite::cli::usageLine(command);
  join.fromList = false;
  for (const CLI::Option* option : command.get_options()) {
    // The progress flags say how the join reports, not which form it takes.
    const bool reportFlag = option->check_lname("quiet") || option->check_lname("progress");
    if (option->nonpositional() && option->count() > 0 && !reportFlag) join.fromList = true;
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
      throw UsageError(
          "join: --user-clock: " + arbsuite::cli::Frequency{}.text(join.plan.userClock) +
              " is not a clock the instrument plays (" + arb::kPlayableClockText + ")",
          usage);
    }
  }
  join.configGiven = !join.configPath.empty();
  if (!join.configGiven) join.configPath = defaultConfigPath(join.plan.output);
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& args) {
  CommandLine line;
  CLI::App app("", "arbtool");
  const Commands commands = declareCommands(app, line);
  const PrepCommands prep =
      declarePrepCommands(app, line.compose, line.check, kExamplesAndStatuses);
  for (CLI::App* command : {commands.dump, commands.join, prep.compose})
    arbsuite::cli::addProgressFlags(*command, line.quiet, line.progress);
  const auto outcome = arbsuite::cli::parseArguments(app, args);
  if (outcome.request == arbsuite::cli::Request::Help) {
    line.action = Action::Help;
    line.helpText = outcome.helpText;
  } else if (outcome.request == arbsuite::cli::Request::Version) {
    line.action = Action::Version;
  } else if (commands.info->parsed()) {
    line.action = Action::Info;
  } else if (commands.dump->parsed()) {
    line.action = Action::Dump;
    checkDump(*commands.dump, line);
  } else if (commands.stats->parsed()) {
    line.action = Action::Stats;
  } else if (commands.plot->parsed()) {
    line.action = Action::Plot;
    checkPlot(*commands.plot, line.plot);
  } else if (prep.compose->parsed()) {
    line.action = Action::Compose;
    checkCompose(*prep.compose, line.compose);
  } else if (prep.check->parsed()) {
    line.action = Action::Check;
  } else {
    line.action = Action::Join;
    checkJoin(*commands.join, line.join);
  }
  return line;
}

}  // namespace arbsuite::arbtool
