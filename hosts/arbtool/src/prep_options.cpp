// The options of compose and check (see prep_options.h).
#include "prep_options.h"

#include <cmath>
#include <limits>

#include "arb_format.h"

namespace arbsuite::arbtool {
namespace {

using arbsuite::cli::Bound;
using arbsuite::cli::readInto;

std::string hertzWord(double hertz) {
  return (hertz < 0 ? "-" : "") + arbsuite::cli::Frequency{}.text(std::fabs(hertz));
}

}  // namespace

CarrierArgument parseCarrierArgument(const std::string& word) {
  CarrierArgument carrier;
  carrier.word = word;
  const std::size_t slash = word.rfind('/');
  const std::size_t colon = word.find(':', slash == std::string::npos ? 0 : slash + 1);
  carrier.path = word.substr(0, colon);
  if (carrier.path.empty()) throw std::runtime_error("'" + word + "' names no file");
  if (colon == std::string::npos) return carrier;
  const std::string rest = word.substr(colon + 1);
  const std::size_t second = rest.find(':');
  const std::string shift = rest.substr(0, second);
  if (!shift.empty()) carrier.shiftHz = arbsuite::cli::Frequency{Bound::Any}(shift);
  if (second != std::string::npos) {
    const std::string gain = rest.substr(second + 1);
    if (gain.find(':') != std::string::npos) {
      throw std::runtime_error("'" + word + "' has more than IN:SHIFT:GAIN_DB");
    }
    carrier.gainDb = arbsuite::cli::RealNumber{Bound::Any}(gain);
  }
  return carrier;
}

PrepCommands declarePrepCommands(CLI::App& app, ComposeRequest& compose, CheckRequest& check,
                                 const std::string& examplesAndStatuses) {
  PrepCommands commands;
  commands.compose = app.add_subcommand(
      "compose", "sum .arb waveforms as carriers at their offsets into one looped .arb file");
  CLI::App& c = *commands.compose;
  arbsuite::cli::addHelpFlag(c);
  c.add_option("-o,--output", compose.output, "the composite")->required()->type_name("OUT.arb");
  readInto(c.add_option("--clock", "the common clock (1 kHz to 50 MHz, or 100 MHz; whole hertz)")
               ->required()
               ->type_name("HZ"),
           compose.clockHz, arbsuite::cli::Frequency{Bound::Positive})
      ->default_str("");
  readInto(c.add_option("--level", "peak modulus of the written samples, a fraction of full scale")
               ->type_name("X")
               ->default_str("0.81"),
           compose.level, arbsuite::cli::RealNumber{Bound::UpToOne});
  readInto(c.add_option("--papr", "reduce the crest factor to this peak-to-average power ratio")
               ->type_name("DB"),
           compose.paprDb, arbsuite::cli::RealNumber{Bound::Positive});
  c.add_option("IN", compose.words, "IN.arb[:SHIFT[:GAIN_DB]]: a carrier")
      ->required()
      ->type_name("");
  c.footer(
      "Each input is resampled to the common clock (by the Fourier method, repeated first\n"
      "when its length at that clock would not be whole), shifted by SHIFT (5MHz, -2.5M,\n"
      "250k; default 0), scaled to the power GAIN_DB against the mean power of the others\n"
      "(default 0 dB: equal powers) and summed. The composite is as long as the least\n"
      "common multiple of the inputs' lengths at the common clock, each input repeated to\n"
      "it (at most 2^28 samples), so that it loops seamlessly, and is written as wavepack\n"
      "writes a waveform: its peak modulus at --level x 8191. A path ends at the first ':'\n"
      "after its last '/'. Shifts that are not a whole number of cycles of the input's\n"
      "period, and resampling that cuts into a carrier, are warned about on standard error.\n"
      "\n"
      "--papr: iterative clipping and filtering; the filter keeps each carrier's 99 %\n"
      "occupied band (from its own spectrum) and removes everything outside, within 0.1 dB\n"
      "of the target or after 16 passes. It reports the PAPR reached, the EVM it costs\n"
      "(the RMS of the change over the RMS of the composite, in % and dB) and the power\n"
      "outside the bands before and after. The target must lie above 0 dB and at most at\n"
      "the composite's own PAPR.\n\n" +
      examplesAndStatuses);

  commands.check = app.add_subcommand(
      "check", "say whether an .arb file is ready to play: one line per finding, exit 6 if not");
  CLI::App& k = *commands.check;
  arbsuite::cli::addHelpFlag(k);
  k.add_option("FILE.arb", check.file, "the .arb file")->required()->type_name("");
  readInto(
      k.add_option("--min-samples", "report a file of fewer samples than this")->type_name("N"),
      check.minSamples, arbsuite::cli::WholeNumber{0, std::numeric_limits<long long>::max()});
  k.footer(
      "Findings, one 'KIND: text' line each, then 'ready: FILE' (exit 0) or\n"
      "'not ready: FILE (N findings)' (exit 6):\n"
      "  clock    a clock the instrument does not play (1 kHz to 50 MHz, or 100 MHz)\n"
      "  clipped  samples with I or Q on a rail (-8192 or +8191)\n"
      "  seam     a jump from the last sample to the first above 2 x the 99th-percentile\n"
      "           step between neighbours (of a multi-segment file: also of each segment\n"
      "           and at each boundary between segments)\n"
      "  dc       a DC offset (the modulus of the mean) above 1 % of full scale (81.92 LSB)\n"
      "  peak     a peak below -6 dBFS (half of the 14-bit range unused), or silence\n"
      "  samples  fewer samples than --min-samples\n\n" +
      examplesAndStatuses);
  return commands;
}

void checkCompose(const CLI::App& command, ComposeRequest& request) {
  const auto usage = arbsuite::cli::usageLine(command);
  const double clock = request.clockHz;
  if (!arb::isPlayableClock(clock)) {
    throw UsageError("compose: --clock: " + arbsuite::cli::Frequency{}.text(clock) +
                         " is not a clock the instrument plays (" + arb::kPlayableClockText + ")",
                     usage);
  }
  if (clock != std::floor(clock)) {
    throw UsageError("compose: --clock: " + arbsuite::cli::Frequency{}.text(clock) +
                         " is not a whole number of hertz (the file's header holds whole hertz)",
                     usage);
  }
  const std::string suffix = ".arb";
  if (request.output.size() < suffix.size() ||
      request.output.compare(request.output.size() - suffix.size(), suffix.size(), suffix) != 0) {
    throw UsageError("compose: --output: '" + request.output + "' does not end in .arb", usage);
  }
  request.carriers.clear();
  for (const std::string& word : request.words) {
    CarrierArgument carrier;
    try {
      carrier = parseCarrierArgument(word);
    } catch (const std::runtime_error& e) {
      throw UsageError("compose: IN '" + word + "': " + e.what(), usage);
    }
    if (std::fabs(carrier.shiftHz) > clock / 2) {
      throw UsageError("compose: IN '" + word + "': the shift " + hertzWord(carrier.shiftHz) +
                           " lies beyond half the clock (" + hertzWord(clock / 2) + ")",
                       usage);
    }
    request.carriers.push_back(carrier);
  }
}

}  // namespace arbsuite::arbtool
