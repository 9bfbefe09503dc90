// Parser of the iqsynth command line: the options declared with CLI11, grouped
// by the modes they apply to, each with a reader that checks its value (the
// readers in option_values.cpp, the checks across options in option_checks.cpp).
#include "options.h"

#include <sstream>

#include "option_checks.h"
#include "option_values.h"

#ifndef ARBSUITE_VERSION
#define ARBSUITE_VERSION "unknown"
#endif

namespace arbsuite::iqsynth_host {
namespace {

using arbsuite::cli::Bound;
using arbsuite::cli::Frequency;
using arbsuite::cli::RealNumber;
using arbsuite::cli::WholeNumber;

// The end of the help: the name lists, notes, examples and exit statuses.
std::string helpFooter() {
  std::ostringstream out;
  out << "Modulations (-M):\n";
  for (const auto& m : modulationNames()) {
    std::string name = "  " + std::string(m.name);
    name.resize(14, ' ');
    out << name << m.description << "\n";
  }
  out << "Filters (-f):\n";
  for (const auto& f : filterNames()) {
    std::string name = "  " + std::string(f.name);
    name.resize(16, ' ');
    out << name << f.description << "\n";
  }
  out << "\nFrequencies take a unit: 1e6, 1000000, 2.5MHz, 250k, 10kHz, 1G.\n"
         "In mccw mode the ramp rows count samples, and the library chooses the sample\n"
         "rate and length so that every carrier completes whole cycles.\n\n"
         "Examples:\n"
         "  iqsynth -M qpsk -n 512 -r 1MHz -s 8 -f rrc -a 0.22 -o qpsk.arb --plot qpsk.png\n"
         "  iqsynth -M 16qam -d prbs15 -c gray -n 1000 --cnr 20 --csv 16qam.csv\n"
         "  iqsynth -M fsk4 --fsk-deviation 30k -r 10k -f gauss-fsk -a 0.5 -o fsk4.arb\n"
         "  iqsynth -M bpsk -d hex:A5F0 --ramp 0:0,100:-20 --ramp-shape linear -o burst.arb\n"
         "  iqsynth -M user --constellation points.csv -d file:bits.txt -o user.arb\n"
         "  iqsynth -m noise --noise-rate 20MHz --noise-samples 8192 --system-bandwidth 5MHz -o "
         "noise.arb\n"
         "  iqsynth -m mccw --carriers 16 --spacing 250k --phases newman -o comb.arb --csv "
         "comb.csv\n"
         "  iqsynth -M qpsk -n 1000 --cnr 15 --seed 42 --log run.log --csv noisy.csv\n\n"
         "The library writes no run log unless --log FILE names one, and nothing on standard\n"
         "output unless --verbose. Noise and --phases random follow the seed the summary\n"
         "prints (drawn at random when --seed is not given): --seed repeats the run.\n\n"
         "Carrier phases (--phases), carrier k = 1 ... N counted from the lowest frequency:\n"
         "zero; newman pi (k-1)^2 / N; schroeder -2 pi sum over l < k of (k-l) p_l, p_l the\n"
         "carriers' shares of the power (-pi k (k-1) / N for equal levels); random, uniform\n"
         "from the seed; or radians. --crest-law is the library's law -pi + (k-1) pi / (2N)\n"
         "instead: a phase ramp, which only delays the comb, so its crest factor is that of\n"
         "zero phases. Crest factor (envelope peak over RMS) of N equal carriers: zero\n"
         "phases and --crest-law 10 log10(N) (12.04 dB for 16, 18.06 dB for 64); newman and\n"
         "schroeder 2.3 to 2.6 dB for 8 to 8192 carriers; random 5 to 11 dB.\n\n"
         "Exit status: 0 success; 1 bad command line (unknown option, bad or missing value);\n"
         "2 constellation or taps file unreadable or malformed; 3 the synthesis failed (the\n"
         "library's status is printed in words); 4 an output file (.arb, CSV, plot, run log)\n"
         "or standard output could not be written; an interrupt ends the run by its signal\n"
         "and leaves no partial file; 5 unexpected failure (out of memory, libiqsynth.so\n"
         "missing or incomplete).";
  return out.str();
}

// Declares every option of iqsynth on app; the values go into o, whose initial
// values are the defaults the help shows.
void declareOptions(CLI::App& app, Options& o) {
  app.description(
      "Synthesises a digitally modulated IQ waveform, band-limited noise or a\n"
      "multi-carrier CW comb with libiqsynth and writes it as an encrypted .arb\n"
      "file and/or a two-column CSV file of 14-bit I,Q samples.\n"
      "Give -o FILE.arb, --csv FILE.csv, --plot FILE.png or several. Values follow\n"
      "as '--name VALUE', '--name=VALUE', '-x VALUE' or '-xVALUE'.");
  app.footer(helpFooter());
  app.get_formatter()->column_width(34);
  app.option_defaults()->disable_flag_override();
  arbsuite::cli::addHelpFlag(app);
  arbsuite::cli::addVersionFlag(app);
  const auto section = [&app](const Section& s) { app.option_defaults()->group(s.heading); };
  const auto value = [&app](const std::string& names, const std::string& label, auto& target,
                            auto read, const std::string& help) {
    return arbsuite::cli::readInto(app.add_option(names, CLI::callback_t(), help)->type_name(label),
                                   target, read);
  };
  const auto path = [&app](const std::string& names, const std::string& label, std::string& target,
                           const std::string& help) {
    app.add_option(names, target, help)->type_name(label);
  };
  const auto flag = [&app](const std::string& names, bool& target, const std::string& help) {
    app.add_flag(names, target, help)->multi_option_policy(CLI::MultiOptionPolicy::Throw);
  };

  section(kGeneral);
  value("-m,--mode", "MODE", o.mode, Named{&modeNames()}, "digital, noise or mccw");
  path("-o,--output", "FILE.arb", o.arbPath, "write an encrypted .arb waveform file");
  path("--csv", "FILE.csv", o.csvPath, "write the samples as I,Q lines (wavepack reads them)");
  path("--plot", "FILE.png", o.plotPath,
       "draw spectrum, constellation, eye (or time view) and CCDF; .png, .svg or .pdf");
  path("--log", "FILE", o.logPath, "write the library's run log to FILE (default: no log)");
  value("--seed", "N", o.seed, WholeNumber{0, 4294967295LL},
        "seed of the noise and of --phases random, 0 to 4294967295 (default: drawn)");
  flag("-v,--verbose", o.verbose,
       "let the library print on standard output (per-symbol lines, filter taps)");

  section(kDigitalOnly);
  value("-M,--modulation", "NAME", o.modulation, Named{&modulationNames()},
        "modulation, see the list below");
  path("--constellation", "FILE", o.constellationFile,
       "user constellation: 2, 4, ... 256 lines of 're,im' (with -M user)");
  value("-n,--symbols", "N", o.symbols, WholeNumber{1, kMaxSamples}, "number of data symbols");
  value("-r,--symbol-rate", "HZ", o.symbolRate, Frequency{Bound::Positive}, "symbol rate");
  value("-s,--oversampling", "R", o.oversampling, WholeNumber{1, kMaxOversampling},
        "samples per symbol, 1 to " + std::to_string(kMaxOversampling));
  value("-f,--filter", "NAME", o.filterType, Named{&filterNames()},
        "shaping filter, see the list below");
  value("-a,--alpha", "X", o.alphaBt, RealNumber{}, "roll-off (rc, rrc: 0 to 1) or BT (gauss*)");
  value("-l,--span", "SYMBOLS", o.filterSpan, WholeNumber{1, kMaxFilterSpan},
        "filter length in symbols, 1 to " + std::to_string(kMaxFilterSpan));
  path("--taps", "FILE", o.tapsFile,
       "user filter taps, oversampling x span numbers (with -f user)");
  app.add_option("-d,--data", CLI::callback_t(),
                 "zeros, ones, hex:DIGITS, bin:BITS, file:PATH, prbs9|11|15|16|20|21|23")
      ->type_name("SOURCE")
      ->default_str("prbs" + std::to_string(o.prbs))
      ->each([&o](const std::string& text) { setDataSource(o, text); });
  value("-c,--coding", "NAME", o.coding, Named{&codingNames()},
        "none, diff, gray, gray-diff or diff1");
  value("--fsk-deviation", "HZ", o.fskDeviation, Frequency{Bound::Positive},
        "FSK peak deviation (default: symbol rate / 4)");
  value("--ask-depth", "X", o.askDepth, RealNumber{Bound::UpToOne},
        "ASK output scale, above 0 up to 1");

  section(kRampAndCnr);
  value("--ramp", "S:DB,...", o.ramp, readRamp,
        "power ramp table: start symbol and level in dB per row, up to " +
            std::to_string(kMaxRampRows) + " rows");
  value("--ramp-time", "SYMBOLS", o.rampTime, RealNumber{Bound::NotNegative},
        "ramp duration in symbols");
  value("--ramp-shape", "NAME", o.rampShape, Named{&rampShapeNames()}, "linear, cosine or step");
  value("--cnr", "DB", o.cnr, RealNumber{}, "add noise at this carrier-to-noise ratio");

  section(kNoiseOnly);
  value("--noise-rate", "HZ", o.noiseRate, Frequency{Bound::Positive}, "sample rate");
  value("--noise-samples", "N", o.noiseSamples, WholeNumber{1, kMaxSamples}, "sample count");

  section(kMccwOnly);
  value("--carriers", "N", o.carriers, WholeNumber{1, kMaxCarriers},
        "number of carriers, 1 to " + std::to_string(kMaxCarriers));
  value("--spacing", "HZ", o.spacing, Frequency{Bound::Positive}, "carrier spacing");
  value("--levels", "DB,...", o.levels, arbsuite::cli::readRealList,
        "carrier levels in dB: one for all or one per carrier");
  app.add_option("--phases", CLI::callback_t(),
                 "zero, newman, schroeder, random, or radians: one for all or one per carrier")
      ->type_name("LAW|RAD,...")
      ->each([&o](const std::string& text) { setPhases(o, text); });
  value("--switches", "BITS", o.switches, readSwitches,
        "carrier on/off: 1101... or 1,1,0,1 (default: all on)");
  flag("--crest-law", o.crestLaw,
       "the library's phase law -pi + (k-1) pi / (2N): only delays the comb (see below)");

  section(kBandwidth);
  value("--system-bandwidth", "HZ", o.systemBandwidth, Frequency{Bound::Positive},
        "noise system bandwidth (default: symbol rate; noise: rate/2; mccw: comb width)");
  value("--bandwidth-ratio", "X", o.bandwidthRatio, RealNumber{Bound::Positive},
        "noise bandwidth / system bandwidth");
}

// The options of the program's own reporting, which are no synthesis settings (the
// Python module's keywords do not include them); given, they are in Options::given.
void declareReportOptions(CLI::App& app) {
  for (const auto& [names, help] :
       {std::pair<const char*, const char*>{"-q,--quiet", "no progress report on standard error"},
        {"--progress",
         "report the progress of long work on standard error even when it is no terminal "
         "(one line a second)"}}) {
    app.add_flag(names, help)
        ->group(kGeneral.heading)
        ->multi_option_policy(CLI::MultiOptionPolicy::Throw);
  }
}

}  // namespace

namespace {

ParseResult parseArguments(const std::vector<std::string>& args, bool samplesReturned) {
  ParseResult result;
  CLI::App app("", "iqsynth");
  declareOptions(app, result.options);
  if (!samplesReturned) declareReportOptions(app);
  const auto outcome = arbsuite::cli::parseArguments(app, args);
  if (outcome.request == arbsuite::cli::Request::Help) {
    result.action = Action::Help;
  } else if (outcome.request == arbsuite::cli::Request::Version) {
    result.action = Action::Version;
  } else {
    checkModes(app, result.options);
    checkCombination(result.options, samplesReturned);
  }
  return result;
}

}  // namespace

ParseResult parseCommandLine(const std::vector<std::string>& args) {
  if (args.empty()) throw UsageError("no options given; see iqsynth --help");
  return parseArguments(args, false);
}

Options parseSettings(const std::vector<std::string>& args) {
  ParseResult result = parseArguments(args, true);
  if (result.action != Action::Run) throw UsageError("--help and --version are not settings");
  return result.options;
}

std::vector<OptionName> optionNames() {
  Options defaults;
  CLI::App app("", "iqsynth");
  declareOptions(app, defaults);
  std::vector<OptionName> names;
  for (const CLI::Option* option : app.get_options()) {
    const std::string name = option->get_name();
    if (name.rfind("--", 0) != 0) continue;
    names.push_back({name.substr(2), option->get_expected_max() == 0});
  }
  return names;
}

std::string versionText() { return "iqsynth " ARBSUITE_VERSION "\n"; }

std::string helpText() {
  Options defaults;
  CLI::App app("", "iqsynth");
  declareOptions(app, defaults);
  declareReportOptions(app);
  return app.help();
}

}  // namespace arbsuite::iqsynth_host
