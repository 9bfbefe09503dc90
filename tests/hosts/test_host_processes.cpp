// Runs iqsynth, arbtool and wavepack as processes, as a user would, and checks
// what they write against the files' own readers and independent references.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "files.h"
#include "process.h"
#include "scratch_dir.h"

namespace {

using arbtest::csvPairs;
using arbtest::describe;
using arbtest::outputField;
using arbtest::ProcessResult;
using arbtest::readText;
using arbtest::runProcess;
using arbtest::writeText;
using TempDir = arbtest::ScratchDir;

using Samples = std::vector<std::pair<int, int>>;

ProcessResult iqsynth(const TempDir& dir, const std::vector<std::string>& args) {
  return runProcess(IQSYNTH_PROGRAM, args, dir.path());
}
ProcessResult arbtool(const TempDir& dir, const std::vector<std::string>& args) {
  return runProcess(ARBTOOL_PROGRAM, args, dir.path());
}
ProcessResult wavepack(const TempDir& dir, const std::vector<std::string>& args) {
  return runProcess(WAVEPACK_PROGRAM, args, dir.path());
}

double envelope(const std::pair<int, int>& s) { return std::hypot(s.first, s.second); }

// Synthesises into w.arb and w.csv, then checks arbtool's view of the file:
// its sample count and clock, and its decrypted samples equal to the CSV copy
// of what runIqSynth returned.
Samples synthesiseAndCheck(const TempDir& dir, std::vector<std::string> args,
                           std::size_t expectedSamples, double expectedClock) {
  args.insert(args.end(), {"-o", "w.arb", "--csv", "w.csv"});
  const ProcessResult made = iqsynth(dir, args);
  EXPECT_EQ(made.exitStatus, 0) << describe(made);
  EXPECT_EQ(outputField(made.out, "Samples:"), std::to_string(expectedSamples));

  const ProcessResult info = arbtool(dir, {"info", "w.arb"});
  EXPECT_EQ(info.exitStatus, 0) << describe(info);
  EXPECT_EQ(outputField(info.out, "Samples:"), std::to_string(expectedSamples));
  EXPECT_EQ(std::stod(outputField(info.out, "Clock:") + " "), expectedClock) << info.out;

  const ProcessResult dump = arbtool(dir, {"dump", "w.arb", "-o", "d.csv"});
  EXPECT_EQ(dump.exitStatus, 0) << describe(dump);
  const Samples returned = csvPairs(readText(dir.file("w.csv")));
  const Samples dumped = csvPairs(readText(dir.file("d.csv")));
  EXPECT_EQ(returned.size(), expectedSamples);
  EXPECT_EQ(dumped, returned);
  return returned;
}

// --- every modulation name ---------------------------------------------------

class HostIqsynthModulationName : public testing::TestWithParam<const char*> {};

TEST_P(HostIqsynthModulationName, WritesAnArbFileThatReadsBackAsSynthesised) {
  TempDir dir;
  std::vector<std::string> args = {"-M", GetParam(), "-n", "24", "-s", "4", "-r", "1MHz"};
  if (std::string(GetParam()) == "user") {
    // An 8-point ring, written independently of any library table.
    std::string points = "re,im\n";
    for (int k = 0; k < 8; ++k) {
      points += std::to_string(std::cos(k * M_PI / 4)) + "," +
                std::to_string(std::sin(k * M_PI / 4)) + "\n";
    }
    writeText(dir.file("ring.csv"), points);
    args.insert(args.end(), {"--constellation", "ring.csv"});
  }
  const Samples samples = synthesiseAndCheck(dir, args, 96, 4e6);
  // 14-bit output whose envelope the run normalises to 0.9 of full scale; OQPSK
  // delays Q after the normalisation, so only its components keep that bound.
  const bool offset = std::string(GetParam()) == "oqpsk";
  double peak = 0;
  for (const auto& s : samples) {
    EXPECT_LE(std::max(std::abs(s.first), std::abs(s.second)), 0.9 * 8192 + 1);
    peak = std::max(peak, envelope(s));
  }
  EXPECT_GT(peak, (offset ? 0.5 : 0.85) * 8192);
  if (!offset) {
    EXPECT_LE(peak, 0.9 * 8192 + 2);
  }
}

INSTANTIATE_TEST_SUITE_P(All, HostIqsynthModulationName,
                         testing::Values("bpsk", "qpsk", "oqpsk", "8psk", "pi4dqpsk", "pi8d8psk",
                                         "edge8psk", "16qam", "32qam", "64qam", "128qam", "256qam",
                                         "fsk2", "fsk4", "fsk8", "fsk16", "ask", "user"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           return std::string("m_") + info.param;
                         });

TEST(HostIqsynth, FskWithRectangularPulsesHasAConstantEnvelope) {
  TempDir dir;
  const Samples samples =
      synthesiseAndCheck(dir, {"-M", "fsk2", "-f", "rect", "-n", "32", "-s", "8"}, 256, 8e6);
  // Truncation of each component loses less than one unit of the 14-bit scale.
  for (const auto& s : samples) EXPECT_NEAR(envelope(s), 0.9 * 8192, 2.0);
}

TEST(HostIqsynth, NoiseModeUsesTheNoiseRateAsClock) {
  TempDir dir;
  const ProcessResult made = iqsynth(
      dir, {"-m", "noise", "--noise-rate", "2MHz", "--noise-samples", "3000", "-o", "n.arb"});
  ASSERT_EQ(made.exitStatus, 0) << describe(made);
  EXPECT_NE(outputField(made.out, "Noise level:"), "<missing>") << made.out;
  const ProcessResult info = arbtool(dir, {"info", "n.arb"});
  ASSERT_EQ(info.exitStatus, 0) << describe(info);
  EXPECT_EQ(outputField(info.out, "Samples:"), "3000");
  EXPECT_EQ(outputField(info.out, "Clock:"), "2000000 Hz");
}

TEST(HostIqsynth, ThreeCarriersFollowTheCosineSum) {
  TempDir dir;
  // Three carriers 1 MHz apart: 16 samples at 8 MHz, at -1/8, 0 and 1/8 cycles
  // per sample, so I = 1 + 2 cos(pi r / 4) and Q = 0, peak 3 at r = 0.
  const Samples samples =
      synthesiseAndCheck(dir, {"-m", "mccw", "--carriers", "3", "--spacing", "1MHz"}, 16, 8e6);
  for (std::size_t r = 0; r < samples.size(); ++r) {
    const double i = 0.9 * (1 + 2 * std::cos(M_PI * static_cast<double>(r) / 4)) / 3;
    const double expected = std::floor(std::trunc(i * 32768) / 4);
    // The host arithmetic done here exactly: equal, not within 1 LSB.
    EXPECT_EQ(samples[r].first, expected) << "sample " << r;
    EXPECT_EQ(samples[r].second, 0) << "sample " << r;
  }
}

// --- bad command lines --------------------------------------------------------

struct BadCommandLine {
  const char* name;
  std::vector<std::string> args;
  int exitStatus;
  const char* messagePart;
};

void PrintTo(const BadCommandLine& c, std::ostream* out) { *out << c.name; }

class HostIqsynthRefuses : public testing::TestWithParam<BadCommandLine> {};

TEST_P(HostIqsynthRefuses, WithAMessageAndNoOutput) {
  TempDir dir;
  writeText(dir.file("three.csv"), "1,0\n0,1\n-1,0\n");
  writeText(dir.file("taps.txt"), "0.25 0.5 0.25\n");
  // The outputs first, so that a missing value at the end stays missing.
  std::vector<std::string> args = {"-o", "w.arb", "--csv", "w.csv"};
  args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
  const ProcessResult r = iqsynth(dir, args);
  EXPECT_EQ(r.signal, 0) << describe(r);
  EXPECT_EQ(r.exitStatus, GetParam().exitStatus) << describe(r);
  EXPECT_EQ(r.err.rfind("iqsynth: ", 0), 0u) << r.err;
  EXPECT_THAT(r.err, ::testing::HasSubstr(GetParam().messagePart)) << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir.file("w.arb")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("w.csv")));
}

INSTANTIATE_TEST_SUITE_P(
    All, HostIqsynthRefuses,
    testing::Values(
        BadCommandLine{"UnknownModulation", {"-M", "qpsk9"}, 1, "not one of"},
        BadCommandLine{"ZeroSymbols", {"-n", "0"}, 1, "out of range"},
        BadCommandLine{"SymbolsNotANumber", {"-n", "many"}, 1, "not a whole number"},
        BadCommandLine{"OversamplingTooHigh", {"-s", "33"}, 1, "out of range"},
        BadCommandLine{"NegativeSymbolRate", {"-r", "-5"}, 1, "greater than 0"},
        BadCommandLine{"BadFrequencyUnit", {"-r", "5x"}, 1, "not a frequency"},
        BadCommandLine{"RootRaisedCosineWithoutRollOff", {"-f", "rrc", "-a", "0"}, 1, "roll-off"},
        BadCommandLine{"UnknownFilter", {"-f", "brickwall"}, 1, "not one of"},
        BadCommandLine{"SpanTooLong", {"-l", "129"}, 1, "out of range"},
        BadCommandLine{"UnknownPrbs", {"-d", "prbs10"}, 1, "PRBS"},
        BadCommandLine{"BadHexPattern", {"-d", "hex:12G4"}, 1, "hexadecimal"},
        BadCommandLine{"BadBinaryPattern", {"-d", "bin:0120"}, 1, "binary"},
        BadCommandLine{"CarriersInDigitalMode", {"--carriers", "4"}, 1, "mccw"},
        BadCommandLine{"UserWithoutConstellation", {"-M", "user"}, 1, "--constellation"},
        BadCommandLine{"AskDepthTooLarge", {"-M", "ask", "--ask-depth", "2"}, 1, "ask-depth"},
        BadCommandLine{"RampAfterTheEnd", {"-n", "10", "--ramp", "0:0,20:-6"}, 1, "ramp"},
        BadCommandLine{"RampRowsNotRising", {"--ramp", "5:0,2:-6"}, 1, "rise"},
        BadCommandLine{"UnknownOption", {"--colour", "blue"}, 1, "unknown option"},
        BadCommandLine{"MissingValue", {"-M"}, 1, "needs a value"},
        BadCommandLine{"TooManyCarriers", {"-m", "mccw", "--carriers", "9000"}, 1, "out of range"},
        BadCommandLine{"CombWiderThanItsSampleRate",
                       {"-m", "mccw", "--carriers", "8", "--spacing", "30MHz"},
                       1,
                       "half the sample rate"},
        BadCommandLine{"LevelsPerCarrierMismatch",
                       {"-m", "mccw", "--carriers", "3", "--levels", "0,-3"},
                       1,
                       "3 carriers"},
        BadCommandLine{"ConstellationOfThreePoints",
                       {"-M", "user", "--constellation", "three.csv"},
                       2,
                       "3 points"},
        BadCommandLine{"MissingConstellationFile",
                       {"-M", "user", "--constellation", "none.csv"},
                       2,
                       "cannot open"},
        BadCommandLine{"WrongTapCount", {"-f", "user", "--taps", "taps.txt"}, 2, "taps"},
        BadCommandLine{
            "MissingDataFile", {"-d", "file:none.txt"}, 3, "data list file cannot be opened"}),
    [](const testing::TestParamInfo<BadCommandLine>& info) {
      return std::string(info.param.name);
    });

TEST(HostIqsynth, NeedsAnOutput) {
  TempDir dir;
  const ProcessResult r = iqsynth(dir, {"-M", "qpsk"});
  EXPECT_EQ(r.exitStatus, 1) << describe(r);
  EXPECT_THAT(r.err, ::testing::HasSubstr("give an output")) << r.err;
}

// --- arbtool on files it cannot read ------------------------------------------

class HostArbtoolBadFile : public testing::TestWithParam<std::tuple<const char*, const char*>> {
 protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<TempDir>();
    const ProcessResult made =
        iqsynth(*dir_, {"-M", "qpsk", "-n", "64", "-s", "4", "-o", "good.arb"});
    ASSERT_EQ(made.exitStatus, 0) << describe(made);
    const std::string good = readText(dir_->file("good.arb"));
    writeText(dir_->file("truncated.arb"), good.substr(0, good.size() / 2));
    // Short by one pair of its samples only: the text header before them is whole.
    writeText(dir_->file("short-by-a-pair.arb"), good.substr(0, good.size() - 4));
    writeText(dir_->file("header-only.arb"), good.substr(0, 100));
    writeText(dir_->file("text.arb"), "I,Q\n0.5,0.5\n1,0\n");
    writeText(dir_->file("empty.arb"), "");
  }
  static void TearDownTestSuite() { dir_.reset(); }
  static std::unique_ptr<TempDir> dir_;
};
std::unique_ptr<TempDir> HostArbtoolBadFile::dir_;

TEST_P(HostArbtoolBadFile, PrintsTheReasonInWordsAndFails) {
  const auto [command, file] = GetParam();
  const ProcessResult r = arbtool(*dir_, {command, file});
  EXPECT_EQ(r.signal, 0) << describe(r);
  EXPECT_EQ(r.exitStatus, 2) << describe(r);
  EXPECT_EQ(r.err.rfind(std::string("arbtool: ") + file + ": ", 0), 0u) << r.err;
  EXPECT_THAT(r.err, ::testing::Not(::testing::HasSubstr("unknown status"))) << r.err;
  // A library status always comes with its words ("...: words (status N)");
  // a short file is named so.
  const auto status = r.err.find(" (status ");
  const bool explained = (status != std::string::npos && status > r.err.find(": ") + 12) ||
                         r.err.find("truncated") != std::string::npos ||
                         r.err.find("not a valid") != std::string::npos;
  EXPECT_TRUE(explained) << r.err;
}

INSTANTIATE_TEST_SUITE_P(All, HostArbtoolBadFile,
                         testing::Combine(testing::Values("info", "dump"),
                                          testing::Values("missing.arb", "truncated.arb",
                                                          "short-by-a-pair.arb", "header-only.arb",
                                                          "text.arb", "empty.arb")),
                         [](const auto& info) {
                           std::string name =
                               std::string(std::get<0>(info.param)) + "_" + std::get<1>(info.param);
                           for (auto& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

TEST(HostArbtool, FileThatIsNotArbIsRefusedInInfosWordsByEveryCommand) {
  // A CSV of IQ lines, whose first bytes the header reader takes for a version above 1
  // without a text entry, and random bytes: every command that reads the file says
  // what info says, with the library's status.
  TempDir dir;
  std::mt19937 generator(17);
  std::normal_distribution<double> normal;
  std::ostringstream csv;
  csv << "I,Q\n";
  for (int k = 0; k < 500; ++k) csv << normal(generator) << "," << normal(generator) << "\n";
  writeText(dir.file("iq.csv"), csv.str());
  std::string noise(4096, '\0');
  for (char& c : noise) c = static_cast<char>(generator() & 0xFF);
  writeText(dir.file("random.bin"), noise);
  ASSERT_EQ(iqsynth(dir, {"-M", "qpsk", "-n", "16", "-s", "2", "-o", "good.arb"}).exitStatus, 0);

  for (const std::string file : {"iq.csv", "random.bin"}) {
    const ProcessResult info = arbtool(dir, {"info", file});
    EXPECT_EQ(info.exitStatus, 2) << describe(info);
    const std::string expected = "arbtool: " + file + ": not a valid .arb file";
    ASSERT_EQ(info.err.rfind(expected, 0), 0u) << info.err;
    EXPECT_THAT(info.err, ::testing::HasSubstr("(status 7)\n")) << info.err;
    const std::vector<std::vector<std::string>> commands = {
        {"dump", file},
        {"dump", file, "--format", "ci16_le", "-o", "d.ci16"},
        {"stats", file, "--json"},
        {"plot", file, "-o", "p.png"},
        {"join", "-o", "j.arb", "good.arb", file}};
    for (const auto& command : commands) {
      const ProcessResult r = arbtool(dir, command);
      EXPECT_EQ(r.exitStatus, 2) << describe(r);
      EXPECT_EQ(r.err, info.err) << command[0];
    }
  }
  EXPECT_FALSE(std::filesystem::exists(dir.file("j.arb")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("j-segments.txt")));
}

TEST(HostArbtool, GoodFileStillReadsNextToBadOnes) {
  TempDir dir;
  const ProcessResult made = iqsynth(dir, {"-M", "bpsk", "-n", "10", "-s", "2", "-o", "g.arb"});
  ASSERT_EQ(made.exitStatus, 0) << describe(made);
  EXPECT_EQ(arbtool(dir, {"info", "g.arb"}).exitStatus, 0);
  EXPECT_EQ(arbtool(dir, {"bogus", "g.arb"}).exitStatus, 1);
  EXPECT_EQ(arbtool(dir, {"info"}).exitStatus, 1);
  EXPECT_EQ(arbtool(dir, {"dump", "g.arb", "--fast"}).exitStatus, 1);
}

// --- wavepack round trip and join -----------------------------------------------

// What wavepack writes for a list of pairs: scaled so that the largest modulus
// becomes 0.81 of 8191, each component truncated toward zero.
Samples wavepackQuantisation(const Samples& input) {
  double peak = 0;
  for (const auto& s : input) peak = std::max(peak, std::hypot(double(s.first), double(s.second)));
  const double scale = 0.81 * 8191;
  Samples out;
  for (const auto& s : input) {
    const double i = peak > 0 ? s.first / peak : 0;
    const double q = peak > 0 ? s.second / peak : 0;
    out.emplace_back(static_cast<int>(i * scale), static_cast<int>(q * scale));
  }
  return out;
}

TEST(HostRoundTrip, IqsynthCsvThroughWavepackDumpsAsWavepackQuantisesIt) {
  TempDir dir;
  const ProcessResult made =
      iqsynth(dir, {"-M", "16qam", "-n", "50", "-s", "4", "-d", "prbs11", "--csv", "s.csv"});
  ASSERT_EQ(made.exitStatus, 0) << describe(made);
  const ProcessResult packed = wavepack(dir, {"-d", "s.csv", "-f", "4MHz", "-o", "p.arb"});
  ASSERT_EQ(packed.exitStatus, 0) << describe(packed);
  const ProcessResult dumped = arbtool(dir, {"dump", "p.arb"});
  ASSERT_EQ(dumped.exitStatus, 0) << describe(dumped);
  const Samples input = csvPairs(readText(dir.file("s.csv")));
  ASSERT_EQ(input.size(), 200u);
  EXPECT_EQ(csvPairs(dumped.out), wavepackQuantisation(input));
}

TEST(HostJoin, SynthesisedFileBlankAndWavepackFileJoinInOrder) {
  TempDir dir;
  ASSERT_EQ(iqsynth(dir, {"-M", "qpsk", "-n", "20", "-s", "4", "-o", "a.arb"}).exitStatus, 0);
  writeText(dir.file("b.csv"), "I,Q\n0.5,-0.5\n1,0\n0,0.25\n");
  ASSERT_EQ(wavepack(dir, {"-d", "b.csv", "-f", "4MHz", "-o", "b.arb"}).exitStatus, 0);

  const ProcessResult joined =
      arbtool(dir, {"join", "-o", "j.arb", "--clock", "highest", "a.arb", "blank:7", "b.arb"});
  ASSERT_EQ(joined.exitStatus, 0) << describe(joined);
  EXPECT_TRUE(std::filesystem::exists(dir.file("j-segments.txt")));

  const ProcessResult info = arbtool(dir, {"info", "j.arb"});
  ASSERT_EQ(info.exitStatus, 0) << describe(info);
  EXPECT_EQ(outputField(info.out, "Samples:"), "90");
  EXPECT_THAT(info.out, ::testing::HasSubstr("NUMBER SEGMENTS")) << info.out;

  const Samples a = csvPairs(arbtool(dir, {"dump", "a.arb"}).out);
  const Samples b = csvPairs(arbtool(dir, {"dump", "b.arb"}).out);
  Samples expected = a;
  expected.insert(expected.end(), 7, {0, 0});
  expected.insert(expected.end(), b.begin(), b.end());
  EXPECT_EQ(csvPairs(arbtool(dir, {"dump", "j.arb"}).out), expected);

  // The written configuration runs again on its own and gives the same samples.
  ASSERT_EQ(arbtool(dir, {"join", "j-segments.txt"}).exitStatus, 0);
  EXPECT_EQ(csvPairs(arbtool(dir, {"dump", "j.arb"}).out), expected);
}

TEST(HostJoin, RefusesAMultiSegmentFileAsASegmentAndABrokenConfiguration) {
  TempDir dir;
  ASSERT_EQ(iqsynth(dir, {"-M", "bpsk", "-n", "8", "-s", "2", "-o", "a.arb"}).exitStatus, 0);
  ASSERT_EQ(arbtool(dir, {"join", "-o", "j.arb", "a.arb", "a.arb"}).exitStatus, 0);
  const ProcessResult nested = arbtool(dir, {"join", "-o", "k.arb", "j.arb"});
  EXPECT_EQ(nested.exitStatus, 2) << describe(nested);
  EXPECT_THAT(nested.err, ::testing::HasSubstr("multi-segment")) << nested.err;

  writeText(dir.file("broken.txt"), "{NUMBER SEGMENTS:1}{LEVEL MODE:RMS}\n");
  const ProcessResult broken = arbtool(dir, {"join", "broken.txt"});
  EXPECT_EQ(broken.exitStatus, 3) << describe(broken);
  EXPECT_THAT(broken.err, ::testing::HasSubstr("(status 2)")) << broken.err;
}

// --- help and version ------------------------------------------------------------

TEST(HostPrograms, HelpShowsExamplesAndVersionAnswers) {
  TempDir dir;
  for (const char* program : {IQSYNTH_PROGRAM, ARBTOOL_PROGRAM}) {
    const ProcessResult help = runProcess(program, {"--help"}, dir.path());
    EXPECT_EQ(help.exitStatus, 0) << describe(help);
    EXPECT_THAT(help.out, ::testing::HasSubstr("Examples:")) << help.out;
    EXPECT_THAT(help.out, ::testing::HasSubstr("Exit status")) << help.out;
    const ProcessResult version = runProcess(program, {"--version"}, dir.path());
    EXPECT_EQ(version.exitStatus, 0) << describe(version);
    EXPECT_THAT(version.out, ::testing::HasSubstr(".")) << version.out;
  }
}

// Help and version are the program's output; a usage error goes to standard
// error only, with the usage line of the command concerned.
TEST(HostPrograms, HelpOnStandardOutputUsageErrorsOnStandardError) {
  TempDir dir;
  const ProcessResult joinHelp = runProcess(ARBTOOL_PROGRAM, {"join", "--help"}, dir.path());
  EXPECT_EQ(joinHelp.exitStatus, 0) << describe(joinHelp);
  EXPECT_EQ(joinHelp.err, "");
  EXPECT_THAT(joinHelp.out, ::testing::HasSubstr("Usage: arbtool join")) << joinHelp.out;
  EXPECT_THAT(joinHelp.out, ::testing::HasSubstr("blank:COUNT")) << joinHelp.out;

  const ProcessResult version = runProcess(IQSYNTH_PROGRAM, {"--version"}, dir.path());
  EXPECT_EQ(version.exitStatus, 0) << describe(version);
  EXPECT_EQ(version.err, "");
  EXPECT_THAT(version.out, ::testing::HasSubstr("iqsynth 1.")) << version.out;

  const ProcessResult wrongCommand =
      runProcess(ARBTOOL_PROGRAM, {"dump", "x.arb", "--level", "rms"}, dir.path());
  EXPECT_EQ(wrongCommand.exitStatus, 1) << describe(wrongCommand);
  EXPECT_EQ(wrongCommand.out, "");
  EXPECT_EQ(wrongCommand.err.rfind("arbtool: dump: unknown option '--level'", 0), 0u)
      << wrongCommand.err;
  EXPECT_THAT(wrongCommand.err, ::testing::HasSubstr("\nUsage: arbtool dump [OPTIONS] FILE.arb"))
      << wrongCommand.err;

  const ProcessResult repeated =
      runProcess(IQSYNTH_PROGRAM, {"-n", "8", "--symbols", "9", "--csv", "w.csv"}, dir.path());
  EXPECT_EQ(repeated.exitStatus, 1) << describe(repeated);
  EXPECT_EQ(repeated.err, "iqsynth: --symbols is given more than once\n");
  EXPECT_THAT(repeated.out, ::testing::Not(::testing::HasSubstr("iqsynth:"))) << repeated.out;
  EXPECT_FALSE(std::filesystem::exists(dir.file("w.csv")));
}

}  // namespace
