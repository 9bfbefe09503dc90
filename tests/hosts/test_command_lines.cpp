// Unit tests of the hosts' command lines as CLI11 parses them: every option of
// iqsynth and arbtool in each of its spellings, units, ranges, repeated options,
// options of another mode or command, '--', unknown words, help and version.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "command_line.h"
#include "names.h"
#include "options.h"

namespace {

using Args = std::vector<std::string>;

std::string joined(const Args& args) {
  std::string text;
  for (const auto& a : args) text += (text.empty() ? "" : " ") + a;
  return text;
}

// The message of the UsageError that parse throws for args, or "<accepted>".
template <typename Parse>
std::string refusal(Parse parse, const Args& args) {
  try {
    parse(args);
  } catch (const arbsuite::cli::UsageError& e) {
    return e.what();
  }
  return "<accepted>";
}

std::string iqsynthRefusal(const Args& args) {
  return refusal(arbsuite::iqsynth_host::parseCommandLine, args);
}
std::string arbtoolRefusal(const Args& args) {
  return refusal(arbsuite::arbtool::parseCommandLine, args);
}

// --- every iqsynth option, every spelling --------------------------------------------

struct IqsynthOption {
  const char* longName;
  const char* shortName;  // nullptr: none
  const char* value;      // nullptr: a switch
  Args context;           // further arguments the option needs (mode, output)
  std::function<bool(const arbsuite::iqsynth_host::Options&)> holds;
};

void PrintTo(const IqsynthOption& c, std::ostream* out) { *out << c.longName; }

using arbsuite::iqsynth_host::Options;

const std::vector<IqsynthOption>& iqsynthOptions() {
  static const Args csv = {"--csv", "x.csv"};
  static const Args noise = {"-m", "noise", "--csv", "x.csv"};
  static const Args mccw = {"-m", "mccw", "--csv", "x.csv"};
  static const std::vector<IqsynthOption> table = {
      {"mode", "m", "noise", csv, [](const Options& o) { return o.mode == 3; }},
      {"output", "o", "x.arb", {}, [](const Options& o) { return o.arbPath == "x.arb"; }},
      {"csv", nullptr, "y.csv", {}, [](const Options& o) { return o.csvPath == "y.csv"; }},
      {"plot", nullptr, "y.png", {}, [](const Options& o) { return o.plotPath == "y.png"; }},
      {"log", nullptr, "r.log", csv, [](const Options& o) { return o.logPath == "r.log"; }},
      {"seed", nullptr, "4294967295", csv, [](const Options& o) { return o.seed == 4294967295u; }},
      {"verbose", "v", nullptr, csv, [](const Options& o) { return o.verbose; }},
      {"quiet", "q", nullptr, csv, [](const Options& o) { return o.given.count("quiet") == 1; }},
      {"progress", nullptr, nullptr, csv,
       [](const Options& o) { return o.given.count("progress") == 1; }},
      {"modulation", "M", "16QAM", csv, [](const Options& o) { return o.modulation == 0x4; }},
      {"constellation",
       nullptr,
       "c.csv",
       {"-M", "user", "--csv", "x.csv"},
       [](const Options& o) { return o.constellationFile == "c.csv"; }},
      {"symbols", "n", "300", csv, [](const Options& o) { return o.symbols == 300; }},
      {"symbol-rate", "r", "2.5MHz", csv, [](const Options& o) { return o.symbolRate == 2.5e6; }},
      {"oversampling", "s", "8", csv, [](const Options& o) { return o.oversampling == 8; }},
      {"filter", "f", "rc", csv, [](const Options& o) { return o.filterType == 6; }},
      {"alpha", "a", "0.22", csv, [](const Options& o) { return o.alphaBt == 0.22; }},
      {"span", "l", "12", csv, [](const Options& o) { return o.filterSpan == 12; }},
      {"taps",
       nullptr,
       "t.txt",
       {"-f", "user", "--csv", "x.csv"},
       [](const Options& o) { return o.tapsFile == "t.txt"; }},
      {"data", "d", "prbs15", csv,
       [](const Options& o) { return o.dataSrc == IQSYNTH_DATA_SRC_PRBS && o.prbs == 15; }},
      {"coding", "c", "gray", csv, [](const Options& o) { return o.coding == 5; }},
      {"fsk-deviation", nullptr, "30k", csv,
       [](const Options& o) { return o.fskDeviation == 30e3; }},
      {"ask-depth", nullptr, "0.5", csv, [](const Options& o) { return o.askDepth == 0.5; }},
      {"ramp", nullptr, "0:0,100:-20", csv,
       [](const Options& o) {
         return o.ramp.size() == 2 && o.ramp[1].startSymbol == 100 && o.ramp[1].levelDb == -20;
       }},
      {"ramp-time", nullptr, "2.5", csv, [](const Options& o) { return o.rampTime == 2.5; }},
      {"ramp-shape", nullptr, "linear", csv, [](const Options& o) { return o.rampShape == 1; }},
      {"cnr", nullptr, "20", csv, [](const Options& o) { return o.cnr == 20.0; }},
      {"system-bandwidth", nullptr, "5MHz", csv,
       [](const Options& o) { return o.systemBandwidth == 5e6; }},
      {"bandwidth-ratio", nullptr, "2", csv,
       [](const Options& o) { return o.bandwidthRatio == 2; }},
      {"noise-rate", nullptr, "20MHz", noise, [](const Options& o) { return o.noiseRate == 20e6; }},
      {"noise-samples", nullptr, "8192", noise,
       [](const Options& o) { return o.noiseSamples == 8192; }},
      {"carriers", nullptr, "16", mccw, [](const Options& o) { return o.carriers == 16; }},
      {"spacing", nullptr, "250k", mccw, [](const Options& o) { return o.spacing == 250e3; }},
      {"levels", nullptr, "-3", mccw,
       [](const Options& o) { return o.levels == std::vector<double>{-3}; }},
      {"phases", nullptr, "0.5", mccw,
       [](const Options& o) { return o.phases == std::vector<double>{0.5}; }},
      {"switches", nullptr, "0", mccw,
       [](const Options& o) { return o.switches == std::vector<char>{0}; }},
      {"crest-law", nullptr, nullptr, mccw, [](const Options& o) { return o.crestLaw; }},
  };
  return table;
}

class HostIqsynthOption : public testing::TestWithParam<IqsynthOption> {};

TEST_P(HostIqsynthOption, EverySpellingSetsTheSameSetting) {
  const IqsynthOption& c = GetParam();
  std::vector<Args> spellings;
  const std::string longName = std::string("--") + c.longName;
  if (c.value == nullptr) {
    spellings.push_back({longName});
    if (c.shortName != nullptr) spellings.push_back({std::string("-") + c.shortName});
  } else {
    spellings.push_back({longName, c.value});
    spellings.push_back({longName + "=" + c.value});
    if (c.shortName != nullptr) {
      spellings.push_back({std::string("-") + c.shortName, c.value});
      spellings.push_back({std::string("-") + c.shortName + c.value});
    }
  }
  for (Args args : spellings) {
    args.insert(args.end(), c.context.begin(), c.context.end());
    const auto parsed = arbsuite::iqsynth_host::parseCommandLine(args);
    EXPECT_EQ(parsed.action, arbsuite::iqsynth_host::Action::Run) << joined(args);
    EXPECT_TRUE(c.holds(parsed.options)) << joined(args);
    EXPECT_EQ(parsed.options.given.count(c.longName), 1u) << joined(args);
  }
  // Without the option the setting keeps its default (where the rest is a
  // command line of its own).
  if (!c.context.empty() && iqsynthRefusal(c.context) == "<accepted>") {
    EXPECT_FALSE(c.holds(arbsuite::iqsynth_host::parseCommandLine(c.context).options))
        << c.longName;
  }
}

INSTANTIATE_TEST_SUITE_P(All, HostIqsynthOption, testing::ValuesIn(iqsynthOptions()),
                         [](const testing::TestParamInfo<IqsynthOption>& info) {
                           std::string name = info.param.longName;
                           for (auto& ch : name) {
                             if (ch == '-') ch = '_';
                           }
                           return name;
                         });

// The long names on the option lines of a help text (the lines that start with
// a dash), without their dashes.
std::set<std::string> helpOptionNames(const std::string& help) {
  std::set<std::string> names;
  std::istringstream lines(help);
  std::string line;
  while (std::getline(lines, line)) {
    const auto first = line.find_first_not_of(' ');
    if (first == std::string::npos || line[first] != '-') continue;
    const auto start = line.find("--", first);
    if (start == std::string::npos) continue;
    const auto end = line.find_first_of(" =", start);
    names.insert(line.substr(start + 2, end == std::string::npos ? end : end - start - 2));
  }
  return names;
}

TEST(HostIqsynthOptionTable, CoversEveryOptionTheHelpLists) {
  std::set<std::string> tested = {"help", "version"};
  for (const auto& c : iqsynthOptions()) tested.insert(c.longName);
  EXPECT_EQ(helpOptionNames(arbsuite::iqsynth_host::helpText()), tested);
}

// The report options are the program's, not settings of a synthesis: the settings
// parser that the Python module uses neither lists nor takes them.
TEST(HostIqsynthOptionTable, ReportOptionsAreNoSettings) {
  for (const auto& name : arbsuite::iqsynth_host::optionNames()) {
    EXPECT_NE(name.name, "quiet");
    EXPECT_NE(name.name, "progress");
  }
  EXPECT_THROW(arbsuite::iqsynth_host::parseSettings({"--quiet"}), arbsuite::cli::UsageError);
  EXPECT_THROW(arbsuite::iqsynth_host::parseSettings({"--progress"}), arbsuite::cli::UsageError);
}

// --- frequencies with units ---------------------------------------------------------

struct FrequencyOption {
  Args args;
  double hertz;
};

void PrintTo(const FrequencyOption& c, std::ostream* out) { *out << joined(c.args); }

class HostIqsynthFrequency : public testing::TestWithParam<FrequencyOption> {};

TEST_P(HostIqsynthFrequency, ReachesItsSettingInHertz) {
  Args args = GetParam().args;
  args.insert(args.end(), {"--csv", "x.csv"});
  const Options o = arbsuite::iqsynth_host::parseCommandLine(args).options;
  const double value = o.mode == IQSYNTH_WORKING_MODE_AWGN   ? o.noiseRate
                       : o.mode == IQSYNTH_WORKING_MODE_MCCW ? o.spacing
                       : o.given.count("fsk-deviation") != 0 ? *o.fskDeviation
                                                             : o.symbolRate;
  EXPECT_DOUBLE_EQ(value, GetParam().hertz);
}

INSTANTIATE_TEST_SUITE_P(
    All, HostIqsynthFrequency,
    testing::Values(FrequencyOption{{"-r", "1e6"}, 1e6}, FrequencyOption{{"-r", "1000000"}, 1e6},
                    FrequencyOption{{"-r", "2.5MHz"}, 2.5e6},
                    FrequencyOption{{"-r", "250k"}, 250e3}, FrequencyOption{{"-r", "10kHz"}, 10e3},
                    FrequencyOption{{"-r", "7hz"}, 7}, FrequencyOption{{"-r", "+3M"}, 3e6},
                    // All digits reach the setting (no rounding to six of them).
                    FrequencyOption{{"-r", "1.2345678MHz"}, 1234567.8},
                    FrequencyOption{{"-r", "123456789"}, 123456789},
                    FrequencyOption{{"--fsk-deviation", "12.5KHZ"}, 12.5e3},
                    FrequencyOption{{"-m", "noise", "--noise-rate", "1G"}, 1e9},
                    FrequencyOption{{"-m", "noise", "--noise-rate", "0.5GHz"}, 0.5e9},
                    FrequencyOption{{"-m", "mccw", "--spacing=2e3"}, 2e3}));

TEST(HostIqsynthFrequency, RefusesSpacesOtherUnitsAndBasePrefixes) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"1 MHz", "not a number"}, {"5x", "not a frequency"},    {"MHz", "not a frequency"},
      {"", "not a frequency"},   {"0x10", "not a number"},     {"1.2.3", "not a number"},
      {"1e400", "not a number"}, {"1e300G", "is too large"},   {"-5k", "greater than 0"},
      {"0", "greater than 0"},   {"5mhzz", "not a frequency"}, {" 5", "not a number"}};
  for (const auto& [text, words] : cases) {
    const std::string message = iqsynthRefusal({"-r", text, "--csv", "x.csv"});
    EXPECT_EQ(message.rfind("--symbol-rate: ", 0), 0u) << text << ": " << message;
    EXPECT_THAT(message, ::testing::HasSubstr(words)) << text << ": " << message;
  }
}

// --- ranges ----------------------------------------------------------------------------

struct RangeCase {
  Args args;
  const char* refusal;  // nullptr: accepted
};

void PrintTo(const RangeCase& c, std::ostream* out) { *out << joined(c.args); }

class HostIqsynthRange : public testing::TestWithParam<RangeCase> {};

TEST_P(HostIqsynthRange, BoundsAreInclusiveAndNamed) {
  Args args = GetParam().args;
  args.insert(args.end(), {"--csv", "x.csv"});
  const std::string message = iqsynthRefusal(args);
  if (GetParam().refusal == nullptr) {
    EXPECT_EQ(message, "<accepted>");
  } else {
    EXPECT_EQ(message, GetParam().refusal);
  }
}

INSTANTIATE_TEST_SUITE_P(
    All, HostIqsynthRange,
    testing::Values(
        RangeCase{{"-s", "1"}, nullptr}, RangeCase{{"-s", "32"}, nullptr},
        RangeCase{{"-s", "0"}, "--oversampling: 0 is out of range 1 to 32"},
        RangeCase{{"-s", "33"}, "--oversampling: 33 is out of range 1 to 32"},
        RangeCase{{"-l", "128"}, nullptr},
        RangeCase{{"-l", "129"}, "--span: 129 is out of range 1 to 128"},
        RangeCase{{"-n", "16777216", "-s", "1"}, nullptr},
        RangeCase{{"-n", "16777217"}, "--symbols: 16777217 is out of range 1 to 16777216"},
        RangeCase{{"-n", "99999999999999999999"},
                  "--symbols: '99999999999999999999' is not a "
                  "whole number"},
        RangeCase{{"-n", "1.5"}, "--symbols: '1.5' is not a whole number"},
        RangeCase{{"-n", "0x10"}, "--symbols: '0x10' is not a whole number"},
        RangeCase{{"-n", " 5"}, "--symbols: ' 5' is not a whole number"},
        RangeCase{{"-m", "mccw", "--carriers", "8192"}, nullptr},
        RangeCase{{"-m", "mccw", "--carriers", "8193"},
                  "--carriers: 8193 is out of range 1 to 8192"},
        RangeCase{{"-m", "noise", "--noise-samples", "0"},
                  "--noise-samples: 0 is out of range 1 to 16777216"},
        RangeCase{{"--ask-depth", "1"}, nullptr},
        RangeCase{{"--ask-depth", "0"}, "--ask-depth: 0 is not in (0, 1]"},
        RangeCase{{"--ask-depth", "1.01"}, "--ask-depth: 1.01 is not in (0, 1]"},
        RangeCase{{"--ramp-time", "0"}, nullptr},
        RangeCase{{"--ramp-time", "-0.5"}, "--ramp-time: -0.5 is negative"},
        RangeCase{{"--bandwidth-ratio", "0"}, "--bandwidth-ratio: 0 must be greater than 0"},
        RangeCase{{"-a", "nan"}, "--alpha: 'nan' is not a number"},
        RangeCase{{"--cnr", "-3.5"}, nullptr},
        RangeCase{{"--ramp", "0:0,-1:3"}, "--ramp: -1 is out of range 0 to 2147483647"},
        RangeCase{{"--seed", "0"}, nullptr},
        RangeCase{{"--seed", "4294967296"}, "--seed: 4294967296 is out of range 0 to 4294967295"},
        RangeCase{{"--seed", "-1"}, "--seed: -1 is out of range 0 to 4294967295"},
        RangeCase{{"--seed", "1e3"}, "--seed: '1e3' is not a whole number"},
        RangeCase{{"-m", "mccw", "--levels", "1,,2"}, "--levels: '' is not a number"},
        RangeCase{{"-m", "mccw", "--levels", ""}, "--levels: the list is empty"},
        RangeCase{{"-M", "qpsk9"},
                  "--modulation: 'qpsk9' is not one of bpsk, qpsk, oqpsk, 8psk, pi4dqpsk, "
                  "pi8d8psk, edge8psk, 16qam, 32qam, 64qam, 128qam, 256qam, fsk2, fsk4, fsk8, "
                  "fsk16, ask, user"},
        RangeCase{{"-d", "hex:"}, "--data: hex: the pattern is empty"},
        RangeCase{{"-d", "PRBS10"},
                  "--data: 'PRBS10' is not a known PRBS; use prbs9, prbs11, prbs15, prbs16, "
                  "prbs20, prbs21 or prbs23"}));

TEST(HostIqsynthRange, WholeNumbersAreDecimalWithAnOptionalSign) {
  // A leading zero is not an octal prefix, as it is in CLI11's own conversion.
  EXPECT_EQ(arbsuite::iqsynth_host::parseCommandLine({"-n", "010", "--csv", "x"}).options.symbols,
            10);
  EXPECT_EQ(arbsuite::iqsynth_host::parseCommandLine({"-n", "+12", "--csv", "x"}).options.symbols,
            12);
}

// --- repeated options ------------------------------------------------------------------

class HostIqsynthRepeat : public testing::TestWithParam<Args> {};

TEST_P(HostIqsynthRepeat, IsRefusedUnderTheLongName) {
  Args args = GetParam();
  const std::string name = args.back();
  args.pop_back();
  if (name != "--output") args.insert(args.end(), {"--csv", "x.csv"});
  EXPECT_EQ(iqsynthRefusal(args), name + " is given more than once") << joined(args);
}

INSTANTIATE_TEST_SUITE_P(
    All, HostIqsynthRepeat,
    testing::Values(
        Args{"-n", "5", "-n", "6", "--symbols"}, Args{"-n", "5", "--symbols", "5", "--symbols"},
        Args{"--symbols=5", "-n6", "--symbols"}, Args{"-v", "-v", "--verbose"},
        Args{"-v", "--verbose", "--verbose"}, Args{"-o", "a.arb", "-o", "b.arb", "--output"},
        Args{"-m", "mccw", "--crest-law", "--crest-law", "--crest-law"},
        Args{"-d", "zeros", "-d", "ones", "--data"}, Args{"--seed", "1", "--seed=1", "--seed"},
        Args{"--log", "a.log", "--log", "b.log", "--log"},
        Args{"-m", "mccw", "--phases", "newman", "--phases", "0", "--phases"}));

// --- run log, seed and carrier phases ------------------------------------------------------

struct PhasesCase {
  Args args;
  arbsuite::iqsynth_host::PhaseLaw law;
  std::vector<double> phases;
};

void PrintTo(const PhasesCase& c, std::ostream* out) { *out << joined(c.args); }

class HostIqsynthPhases : public testing::TestWithParam<PhasesCase> {};

TEST_P(HostIqsynthPhases, NameALawOrListRadians) {
  Args args = {"-m", "mccw", "--carriers", "3", "--csv", "x.csv"};
  args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
  const Options o = arbsuite::iqsynth_host::parseCommandLine(args).options;
  EXPECT_EQ(o.phaseLaw, GetParam().law);
  EXPECT_EQ(o.phases, GetParam().phases);
  EXPECT_FALSE(o.crestLaw);
}

using arbsuite::iqsynth_host::PhaseLaw;
INSTANTIATE_TEST_SUITE_P(
    All, HostIqsynthPhases,
    testing::Values(PhasesCase{{}, PhaseLaw::List, {}},
                    PhasesCase{{"--phases", "zero"}, PhaseLaw::Zero, {}},
                    PhasesCase{{"--phases", "Newman"}, PhaseLaw::Newman, {}},
                    PhasesCase{{"--phases=schroeder"}, PhaseLaw::Schroeder, {}},
                    PhasesCase{{"--phases", "RANDOM", "--seed", "3"}, PhaseLaw::Random, {}},
                    PhasesCase{{"--phases", "1.5"}, PhaseLaw::List, {1.5}},
                    PhasesCase{{"--phases", "0,-3.1,6e-1"}, PhaseLaw::List, {0, -3.1, 0.6}}));

TEST(HostIqsynthPhases, RefusalsNameTheLawsAndTheConflict) {
  const std::vector<std::pair<Args, std::string>> cases = {
      {{"--phases", "newmann"},
       "--phases: 'newmann' is not zero, newman, schroeder, random or radians such as 0,1.57"},
      {{"--phases", "0,newman"}, "--phases: 'newman' is not a number"},
      {{"--phases", "1,2"}, "--phases: 2 values for 3 carriers; give one or one per carrier"},
      // The library's law would silently replace the phases given.
      {{"--phases", "newman", "--crest-law"},
       "--phases and --crest-law exclude each other: the law replaces the phases"},
      {{"--crest-law", "--phases", "0"},
       "--phases and --crest-law exclude each other: the law replaces the phases"}};
  for (auto [args, message] : cases) {
    args.insert(args.begin(), {"-m", "mccw", "--carriers", "3", "--csv", "x.csv"});
    EXPECT_EQ(iqsynthRefusal(args), message) << joined(args);
  }
  EXPECT_EQ(iqsynthRefusal({"--phases", "zero", "--csv", "x.csv"}),
            "--phases applies to --mode mccw only");
}

TEST(HostIqsynthRunLog, IsOffUnlessNamedAndNeverAnOutput) {
  EXPECT_EQ(arbsuite::iqsynth_host::parseCommandLine({"--csv", "x.csv"}).options.logPath, "");
  EXPECT_FALSE(
      arbsuite::iqsynth_host::parseCommandLine({"--csv", "x.csv"}).options.seed.has_value());
  for (const char* mode : {"digital", "noise", "mccw"}) {
    EXPECT_EQ(iqsynthRefusal({"-m", mode, "--log", "r.log", "--seed", "9", "--csv", "x.csv"}),
              "<accepted>")
        << mode;
  }
  const std::vector<std::pair<Args, std::string>> cases = {
      {{"--log", "", "--csv", "x.csv"}, "--log: the path is empty"},
      {{"--log", "x.csv", "--csv", "x.csv"}, "--log: 'x.csv' is also the --csv output"},
      {{"--log", "./w.arb", "-o", "w.arb"}, "--log: './w.arb' is also the -o output"},
      {{"--log", "p.png", "--plot", "sub/../p.png"}, "--log: 'p.png' is also the --plot output"}};
  for (const auto& [args, message] : cases) {
    EXPECT_EQ(iqsynthRefusal(args), message) << joined(args);
  }
}

// --- options of another mode -------------------------------------------------------------

TEST(HostIqsynthModes, OptionsOfAnotherModeAreRefused) {
  const std::vector<std::pair<Args, std::string>> cases = {
      {{"--carriers", "4"}, "--carriers applies to --mode mccw only"},
      {{"-m", "noise", "-M", "qpsk"}, "--modulation applies to --mode digital only"},
      {{"-m", "mccw", "--noise-rate", "1M"}, "--noise-rate applies to --mode noise only"},
      {{"-m", "noise", "--ramp", "0:0"}, "--ramp applies to --mode digital or mccw only"},
      {{"-m", "noise", "--cnr", "10"}, "--cnr applies to --mode digital or mccw only"},
      {{"--crest-law"}, "--crest-law applies to --mode mccw only"}};
  for (auto [args, message] : cases) {
    args.insert(args.end(), {"--csv", "x.csv"});
    EXPECT_EQ(iqsynthRefusal(args), message) << joined(args);
  }
  // Options of every mode go with any mode.
  for (const char* mode : {"digital", "noise", "mccw"}) {
    EXPECT_EQ(iqsynthRefusal({"-m", mode, "--bandwidth-ratio", "2", "--system-bandwidth", "1M",
                              "-v", "--csv", "x.csv"}),
              "<accepted>")
        << mode;
  }
}

// --- unknown words, missing values, '--' ---------------------------------------------------

TEST(HostIqsynthWords, UnknownOptionsMissingValuesAndTheEndOfOptions) {
  const std::vector<std::pair<Args, std::string>> cases = {
      {{"--colour", "blue"}, "unknown option '--colour'; see iqsynth --help"},
      {{"-x"}, "unknown option '-x'; see iqsynth --help"},
      // No abbreviations: --symbol is not --symbols.
      {{"--symbol", "5"}, "unknown option '--symbol'; see iqsynth --help"},
      {{"qpsk.arb"}, "unexpected argument 'qpsk.arb'; see iqsynth --help"},
      {{"--", "-n", "5"}, "unexpected argument '-n'; see iqsynth --help"},
      {{"-M"}, "--modulation needs a value (NAME)"},
      {{"--symbol-rate"}, "--symbol-rate needs a value (HZ)"},
      {{"--verbose=1"}, "--verbose takes no value"},
      {{"--crest-law=yes", "-m", "mccw"}, "--crest-law takes no value"}};
  for (auto [args, message] : cases) {
    args.insert(args.begin(), {"--csv", "x.csv"});
    EXPECT_EQ(iqsynthRefusal(args), message) << joined(args);
  }
  EXPECT_EQ(iqsynthRefusal({}), "no options given; see iqsynth --help");
  // A '--' with nothing after it ends the options and changes nothing.
  EXPECT_EQ(arbsuite::iqsynth_host::parseCommandLine({"-o", "x.arb", "--"}).options.arbPath,
            "x.arb");
  // A value is taken whatever it looks like.
  EXPECT_EQ(arbsuite::iqsynth_host::parseCommandLine({"-o", "-x.arb"}).options.arbPath, "-x.arb");
  EXPECT_EQ(arbsuite::iqsynth_host::parseCommandLine(
                {"-m", "mccw", "--carriers", "2", "--levels", "-3,-6", "--csv", "x"})
                .options.levels,
            (std::vector<double>{-3, -6}));
  EXPECT_EQ(iqsynthRefusal({"-M", "--help", "--csv", "x"}).rfind("--modulation: '--help'", 0), 0u);
}

TEST(HostIqsynthWords, HelpAndVersionAnswerWhereverTheyStand) {
  using arbsuite::iqsynth_host::Action;
  EXPECT_EQ(arbsuite::iqsynth_host::parseCommandLine({"--help"}).action, Action::Help);
  EXPECT_EQ(arbsuite::iqsynth_host::parseCommandLine({"-h"}).action, Action::Help);
  EXPECT_EQ(arbsuite::iqsynth_host::parseCommandLine({"-n", "0", "--help"}).action, Action::Help);
  EXPECT_EQ(arbsuite::iqsynth_host::parseCommandLine({"--colour", "-h"}).action, Action::Help);
  EXPECT_EQ(arbsuite::iqsynth_host::parseCommandLine({"--version"}).action, Action::Version);
  EXPECT_EQ(arbsuite::iqsynth_host::parseCommandLine({"-M", "bpsk", "--version"}).action,
            Action::Version);
  const std::string help = arbsuite::iqsynth_host::helpText();
  for (const char* part : {"Usage: iqsynth", "Modulations (-M):", "Filters (-f):", "Examples:",
                           "Exit status: 0 success", "-r,--symbol-rate HZ=1MHz"}) {
    EXPECT_THAT(help, ::testing::HasSubstr(part)) << part;
  }
}

// --- arbtool ------------------------------------------------------------------------------

TEST(HostArbtoolCommandLine, CommandsTakeTheirFilesAndOptions) {
  using arbsuite::arbtool::Action;
  auto line = arbsuite::arbtool::parseCommandLine({"info", "a.arb"});
  EXPECT_EQ(line.action, Action::Info);
  EXPECT_EQ(line.file, "a.arb");
  for (const Args& args :
       {Args{"dump", "a.arb", "-o", "s.csv"}, Args{"dump", "-o", "s.csv", "a.arb"},
        Args{"dump", "a.arb", "--output=s.csv"}, Args{"dump", "a.arb", "-os.csv"}}) {
    line = arbsuite::arbtool::parseCommandLine(args);
    EXPECT_EQ(line.action, Action::Dump) << joined(args);
    EXPECT_EQ(line.file, "a.arb") << joined(args);
    EXPECT_EQ(line.output, "s.csv") << joined(args);
  }
  line = arbsuite::arbtool::parseCommandLine({"dump", "a.arb"});
  EXPECT_EQ(line.output, "");
  // After '--' a file name may start with a dash.
  EXPECT_EQ(arbsuite::arbtool::parseCommandLine({"dump", "--", "-odd.arb"}).file, "-odd.arb");
  EXPECT_EQ(arbsuite::arbtool::parseCommandLine({"info", "--", "-x.arb"}).file, "-x.arb");
}

// -q/--quiet and --progress on the commands whose work can take long; they do not
// make a join from a configuration a segment list.
TEST(HostArbtoolCommandLine, ProgressFlagsOfDumpJoinAndCompose) {
  auto line = arbsuite::arbtool::parseCommandLine({"join", "--quiet", "j-segments.txt"});
  EXPECT_FALSE(line.join.fromList);
  EXPECT_TRUE(line.quiet);
  EXPECT_FALSE(line.progress);
  EXPECT_EQ(line.join.words, Args{"j-segments.txt"});
  line = arbsuite::arbtool::parseCommandLine({"join", "j-segments.txt", "--progress"});
  EXPECT_FALSE(line.join.fromList);
  EXPECT_TRUE(line.progress);
  line = arbsuite::arbtool::parseCommandLine({"dump", "-q", "a.arb"});
  EXPECT_TRUE(line.quiet);
  EXPECT_EQ(line.file, "a.arb");
  line = arbsuite::arbtool::parseCommandLine({"dump", "a.arb"});
  EXPECT_FALSE(line.quiet);
  EXPECT_FALSE(line.progress);
  EXPECT_EQ(arbtoolRefusal({"info", "--quiet", "a.arb"}).rfind("info: ", 0), 0u);
}

TEST(HostArbtoolCommandLine, JoinFromAConfigurationOrASegmentList) {
  auto line = arbsuite::arbtool::parseCommandLine({"join", "j-segments.txt"});
  EXPECT_EQ(line.action, arbsuite::arbtool::Action::Join);
  EXPECT_FALSE(line.join.fromList);
  EXPECT_EQ(line.join.words, Args{"j-segments.txt"});

  line =
      arbsuite::arbtool::parseCommandLine({"join", "-o", "out/j.arb", "a.arb", "blank:5", "b.arb"});
  EXPECT_TRUE(line.join.fromList);
  EXPECT_EQ(line.join.plan.output, "out/j.arb");
  EXPECT_EQ(line.join.words, (Args{"a.arb", "blank:5", "b.arb"}));
  EXPECT_EQ(line.join.configPath, "out/j-segments.txt");
  EXPECT_EQ(line.join.plan.levelMode, "UNCHANGED");
  EXPECT_EQ(line.join.plan.clockMode, "UNCHANGED");
  EXPECT_FALSE(line.join.writeConfigOnly);

  line = arbsuite::arbtool::parseCommandLine(
      {"join", "--level", "Rms", "--clock=user", "--user-clock", "2.5MHz", "--config", "c.txt",
       "--write-config-only", "--output", "j.arb", "--", "-a.arb", "-b.arb"});
  EXPECT_TRUE(line.join.fromList);
  EXPECT_EQ(line.join.plan.levelMode, "RMS");
  EXPECT_EQ(line.join.plan.clockMode, "USER");
  EXPECT_EQ(line.join.plan.userClock, 2.5e6);
  EXPECT_EQ(line.join.configPath, "c.txt");
  EXPECT_TRUE(line.join.writeConfigOnly);
  EXPECT_EQ(line.join.words, (Args{"-a.arb", "-b.arb"}));
  // Any join option asks for the list form, which then needs its output.
  EXPECT_EQ(arbtoolRefusal({"join", "--clock", "highest", "a.arb"}),
            "join: the segment list needs -o OUT.arb");
  EXPECT_EQ(arbsuite::arbtool::parseCommandLine({"join", "--user-clock", "0", "-o", "j.arb", "a"})
                .join.plan.userClock,
            0.0);
}

TEST(HostArbtoolCommandLine, RefusalsNameTheCommandAndTheOption) {
  const std::vector<std::pair<Args, std::string>> cases = {
      {{}, "no command given; see arbtool --help"},
      {{"bogus", "g.arb"}, "unknown command 'bogus'; see arbtool --help"},
      {{"--bogus"}, "unknown option '--bogus'; see arbtool --help"},
      {{"info"}, "info: FILE.arb is required"},
      {{"info", "a.arb", "b.arb"}, "info: unexpected argument 'b.arb'; see arbtool info --help"},
      {{"info", "a.arb", "dump"}, "info: unexpected argument 'dump'; see arbtool info --help"},
      {{"info", "a.arb", "-o", "x"}, "info: unknown option '-o'; see arbtool info --help"},
      {{"dump", "g.arb", "--fast"}, "dump: unknown option '--fast'; see arbtool dump --help"},
      {{"dump", "g.arb", "--level", "rms"},
       "dump: unknown option '--level'; see arbtool dump --help"},
      {{"dump", "g.arb", "-o"}, "dump: --output needs a value (OUT)"},
      {{"join"}, "join takes one CONFIG file, or -o OUT.arb SEGMENT..."},
      {{"join", "a.txt", "b.txt"}, "join takes one CONFIG file, or -o OUT.arb SEGMENT..."},
      {{"join", "-o", "j.arb"}, "join: give at least one SEGMENT"},
      {{"join", "-o", "j.arb", "--level", "loud", "a"},
       "join: --level: 'loud' is not rms or unchanged"},
      {{"join", "-o", "j.arb", "--clock", "fast", "a"},
       "join: --clock: 'fast' is not highest, user or unchanged"},
      {{"join", "-o", "j.arb", "--user-clock", "-1", "a"}, "join: --user-clock: -1 is negative"},
      {{"join", "-o", "j.arb", "--user-clock", "fast", "a"},
       "join: --user-clock: 'fast' is not a frequency; write e.g. 1e6, 1000000, 2.5MHz, 250k or "
       "10kHz"},
      {{"join", "--write-config-only=yes", "-o", "j.arb", "a"},
       "join: --write-config-only takes no value"}};
  for (const auto& [args, message] : cases) {
    EXPECT_EQ(arbtoolRefusal(args), message) << joined(args);
  }
}

// arbtool has always let a repeated option take its last value (iqsynth refuses
// repeats), so scripts can put defaults in front of their caller's options.
TEST(HostArbtoolCommandLine, RepeatedOptionsTakeTheLastValue) {
  EXPECT_EQ(
      arbsuite::arbtool::parseCommandLine({"dump", "g.arb", "-o", "a", "--output", "b"}).output,
      "b");
  const auto join = arbsuite::arbtool::parseCommandLine(
                        {"join", "--level", "rms", "--clock", "highest", "--level", "unchanged",
                         "-o", "j.arb", "--write-config-only", "--write-config-only",
                         "--clock=user", "--user-clock", "1MHz", "a.arb"})
                        .join;
  EXPECT_EQ(join.plan.levelMode, "UNCHANGED");
  EXPECT_EQ(join.plan.clockMode, "USER");
  EXPECT_TRUE(join.writeConfigOnly);
  // Every value is still checked.
  EXPECT_EQ(arbtoolRefusal({"join", "--level", "loud", "--level", "rms", "-o", "j.arb", "a"}),
            "join: --level: 'loud' is not rms or unchanged");
}

TEST(HostArbtoolCommandLine, AnalysisCommandsAndTheirDefaults) {
  using arbsuite::analysis::PlotKind;
  auto line = arbsuite::arbtool::parseCommandLine({"stats", "a.arb"});
  EXPECT_EQ(line.action, arbsuite::arbtool::Action::Stats);
  EXPECT_FALSE(line.json);
  EXPECT_TRUE(arbsuite::arbtool::parseCommandLine({"stats", "--json", "a.arb"}).json);

  line = arbsuite::arbtool::parseCommandLine({"dump", "a.arb"});
  EXPECT_EQ(line.format, arbsuite::analysis::SampleFormat::Csv);
  line = arbsuite::arbtool::parseCommandLine({"dump", "a.arb", "--format=cf32_le", "-o", "-"});
  EXPECT_EQ(line.format, arbsuite::analysis::SampleFormat::Cf32Le);
  EXPECT_EQ(line.output, "-");
  EXPECT_EQ(
      arbsuite::arbtool::parseCommandLine({"dump", "a.arb", "--format", "sigmf", "-o", "r"}).format,
      arbsuite::analysis::SampleFormat::Sigmf);

  line = arbsuite::arbtool::parseCommandLine({"plot", "a.arb", "-o", "a.png"});
  EXPECT_EQ(line.action, arbsuite::arbtool::Action::Plot);
  EXPECT_EQ(line.file, "a.arb");
  EXPECT_EQ(line.plot.output, "a.png");
  EXPECT_EQ(line.plot.kind, PlotKind::All);
  EXPECT_FALSE(line.plot.symbolRate);
  EXPECT_FALSE(line.plot.segment);
  EXPECT_EQ(line.plot.width, 1200);
  EXPECT_EQ(line.plot.height, 900);
  line = arbsuite::arbtool::parseCommandLine({"plot", "--kind", "eye", "--symbol-rate", "2.5MHz",
                                              "--segment", "3", "--size", "800x600", "-o", "E.PDF",
                                              "a.arb"});
  EXPECT_EQ(line.plot.kind, PlotKind::Eye);
  EXPECT_EQ(line.plot.symbolRate, 2.5e6);
  EXPECT_EQ(line.plot.segment, 3u);
  EXPECT_EQ(line.plot.width, 800);
  EXPECT_EQ(line.plot.height, 600);
  for (const char* kind : {"spectrum", "constellation", "time", "ccdf", "all"}) {
    EXPECT_EQ(arbsuite::analysis::plotKindName(arbsuite::arbtool::parseCommandLine(
                                                   {"plot", "a.arb", "-o", "x.svg", "--kind", kind})
                                                   .plot.kind),
              std::string(kind));
  }
}

TEST(HostArbtoolCommandLine, AnalysisRefusals) {
  const std::vector<std::pair<Args, std::string>> cases = {
      {{"plot", "a.arb", "-o", "e.png", "--kind", "eye"}, "plot: --kind eye needs --symbol-rate"},
      {{"plot", "a.arb"}, "plot: --output is required"},
      {{"plot", "a.arb", "-o", "a.gif"},
       "plot: --output: 'a.gif' does not end in .png, .svg or .pdf"},
      {{"plot", "a.arb", "-o", "png"}, "plot: --output: 'png' does not end in .png, .svg or .pdf"},
      {{"plot", "a.arb", "-o", "a.png", "--size", "399x900"},
       "plot: --size: each side must lie within 400 to 8000"},
      {{"plot", "a.arb", "-o", "a.png", "--size", "1200*900"},
       "plot: --size: '1200*900' is not WIDTHxHEIGHT, such as 1200x900"},
      {{"plot", "a.arb", "-o", "a.png", "--symbol-rate", "0"},
       "plot: --symbol-rate: 0 must be greater than 0"},
      {{"plot", "a.arb", "-o", "a.png", "--kind", "iq"},
       "plot: --kind: 'iq' is not one of spectrum, constellation, time, ccdf, eye, all"},
      {{"dump", "a.arb", "--format", "sigmf"},
       "dump: --format sigmf writes two files and needs -o OUT"},
      {{"dump", "a.arb", "--format", "sigmf", "-o", "-"},
       "dump: --format sigmf writes two files and needs -o OUT"},
      {{"dump", "a.arb", "--format", "cu8"},
       "dump: --format: 'cu8' is not one of csv, cf32_le, ci16_le, sigmf"},
      {{"stats", "a.arb", "-o", "x"}, "stats: unknown option '-o'; see arbtool stats --help"},
  };
  for (const auto& [args, message] : cases) {
    EXPECT_EQ(arbtoolRefusal(args), message) << joined(args);
  }
}

TEST(HostArbtoolCommandLine, UsageLineOfTheCommandConcerned) {
  try {
    arbsuite::arbtool::parseCommandLine({"dump", "g.arb", "--fast"});
    ADD_FAILURE() << "accepted";
  } catch (const arbsuite::cli::UsageError& e) {
    EXPECT_EQ(e.usage.rfind("Usage: arbtool dump [OPTIONS] FILE.arb", 0), 0u) << e.usage;
  }
}

TEST(HostArbtoolCommandLine, HelpOfTheProgramOrOfOneCommand) {
  using arbsuite::arbtool::Action;
  auto line = arbsuite::arbtool::parseCommandLine({"--help"});
  EXPECT_EQ(line.action, Action::Help);
  EXPECT_EQ(line.helpText, arbsuite::arbtool::parseCommandLine({"-h", "info"}).helpText);
  for (const char* part :
       {"Usage: arbtool", "info", "dump", "stats", "plot", "join", "Examples:", "Exit status"}) {
    EXPECT_THAT(line.helpText, ::testing::HasSubstr(part)) << part;
  }
  line = arbsuite::arbtool::parseCommandLine({"join", "-o", "j.arb", "--help"});
  EXPECT_EQ(line.action, Action::Help);
  for (const char* part :
       {"Usage: arbtool join", "--user-clock", "blank:COUNT[@CLOCK]", "Exit status"}) {
    EXPECT_THAT(line.helpText, ::testing::HasSubstr(part)) << part;
  }
  EXPECT_THAT(arbsuite::arbtool::parseCommandLine({"dump", "-h"}).helpText,
              ::testing::HasSubstr("Usage: arbtool dump"));
  EXPECT_EQ(arbsuite::arbtool::parseCommandLine({"--version"}).action, Action::Version);
}

}  // namespace
