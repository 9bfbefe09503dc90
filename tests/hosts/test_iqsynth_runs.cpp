// Runs iqsynth as a user would and checks what a run leaves behind: the run log
// only where --log puts it, nothing of the library's on standard output, the
// library loaded only for a run, noise repeated by its seed, and the carrier
// phases of --phases in the samples (their crest factors computed here).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <filesystem>
#include <numbers>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "files.h"
#include "power_checks.h"
#include "process.h"
#include "scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using arbtest::describe;
using arbtest::outputField;
using arbtest::ProcessOptions;
using arbtest::ProcessResult;
using arbtest::readText;
using arbtest::runProcess;
using TempDir = arbtest::ScratchDir;
using Args = std::vector<std::string>;
using Samples = std::vector<std::complex<double>>;

constexpr double kPi = std::numbers::pi;

ProcessResult iqsynth(const TempDir& dir, const Args& args,
                      const std::vector<std::string>& environment = {},
                      const std::string& program = IQSYNTH_PROGRAM) {
  ProcessOptions options;
  options.workingDirectory = dir.path().string();
  options.environment = environment;
  return runProcess(program, args, options);
}

Samples parseCsv(const std::string& text) {
  Samples samples;
  for (const auto& [i, q] : arbtest::csvPairs(text)) samples.emplace_back(i, q);
  return samples;
}

// The names of the files in a folder.
std::set<std::string> filesIn(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// The labels of the program's summary, and nothing else, start its lines.
bool onlySummaryLines(const std::string& out) {
  static const char* const kLabels[] = {
      "Run:",     "Samples:",     "Sample rate:", "Peak:",      "RMS:",         "Crest factor:",
      "Energy:",  "Filter taps:", "Noise:",       "Levels:",    "Noise level:", "Seed:",
      "Run log:", "Wrote .arb:",  "Wrote CSV:",   "Wrote plot:"};
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    const bool known = std::any_of(std::begin(kLabels), std::end(kLabels),
                                   [&](const char* label) { return line.rfind(label, 0) == 0; });
    if (!known) return false;
  }
  return true;
}

// Crest factor in dB: peak over RMS of the envelope.
double crestFactorDb(const Samples& samples) { return arbtest::paprDb(samples); }

// --- the run log ---------------------------------------------------------------------

struct RunLogCase {
  const char* name;
  Args args;
  std::vector<std::string> environment;
  const char* log;  // where the log must be, relative to the working folder; nullptr: none
};

void PrintTo(const RunLogCase& c, std::ostream* out) { *out << c.name; }

class HostIqsynthRunLog : public testing::TestWithParam<RunLogCase> {};

TEST_P(HostIqsynthRunLog, AppearsOnlyWhereLogSaysAndNamesTheSeed) {
  const RunLogCase& c = GetParam();
  TempDir dir;
  fs::create_directory(dir.path() / "sub");
  Args args = {"-M", "qpsk", "-n", "64", "--cnr", "20", "--seed", "11", "--csv", "w.csv"};
  args.insert(args.end(), c.args.begin(), c.args.end());
  const ProcessResult r = iqsynth(dir, args, c.environment);
  ASSERT_EQ(r.exitStatus, 0) << describe(r);

  std::set<std::string> expected = {"sub", "w.csv"};
  if (c.log != nullptr && fs::path(c.log).parent_path().empty()) expected.insert(c.log);
  EXPECT_EQ(filesIn(dir.path()), expected);
  if (c.log == nullptr) {
    EXPECT_TRUE(filesIn(dir.path() / "sub").empty());
    EXPECT_EQ(outputField(r.out, "Run log:"), "no log (--log FILE keeps one)");
    return;
  }
  const std::string log = readText(dir.file(c.log));
  EXPECT_THAT(log, ::testing::HasSubstr("workingMode : 1")) << log.substr(0, 200);
  EXPECT_THAT(log, ::testing::HasSubstr("INFO : noise seed is 11 (from GSL_RNG_SEED)"));
  EXPECT_EQ(outputField(r.out, "Run log:"), fs::weakly_canonical(dir.path() / c.log).string());
}

INSTANTIATE_TEST_SUITE_P(
    All, HostIqsynthRunLog,
    testing::Values(RunLogCase{"NoneByDefault", {}, {}, nullptr},
                    // The caller's own setting does not bring the library's log back.
                    RunLogCase{
                        "NoneWhatTheEnvironmentSays", {}, {"IQSYNTH_RUN_LOG=env.log"}, nullptr},
                    RunLogCase{"WhereLogSays", {"--log", "run.log"}, {}, "run.log"},
                    RunLogCase{"InAnotherFolder",
                               {"--log", "sub/run.log"},
                               {"IQSYNTH_RUN_LOG=env.log"},
                               "sub/run.log"}),
    [](const testing::TestParamInfo<RunLogCase>& info) { return std::string(info.param.name); });

TEST(HostIqsynthRunLog, ALogThatCannotBeWrittenStopsTheRunBeforeAnyOutput) {
  TempDir dir;
  fs::create_directory(dir.path() / "folder");
  for (const char* log : {"missing/run.log", "folder"}) {
    const ProcessResult r = iqsynth(dir, {"-M", "bpsk", "-n", "8", "--log", log, "--csv", "w.csv"});
    EXPECT_EQ(r.exitStatus, 4) << describe(r);
    EXPECT_EQ(r.err.rfind(std::string("iqsynth: cannot write the run log ") + log + ": ", 0), 0u)
        << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(filesIn(dir.path()), std::set<std::string>{"folder"});
  }
}

// --- standard output ------------------------------------------------------------------

class HostIqsynthStandardOutput : public testing::TestWithParam<Args> {};

TEST_P(HostIqsynthStandardOutput, HoldsTheSummaryOnly) {
  TempDir dir;
  Args args = GetParam();
  args.insert(args.end(), {"--csv", "w.csv", "-o", "w.arb"});
  // Whatever the caller's environment says about the library's lines.
  for (const std::vector<std::string>& environment :
       {std::vector<std::string>{}, std::vector<std::string>{"IQSYNTH_STDOUT=1"}}) {
    const ProcessResult r = iqsynth(dir, args, environment);
    ASSERT_EQ(r.exitStatus, 0) << describe(r);
    EXPECT_TRUE(onlySummaryLines(r.out)) << r.out;
    EXPECT_THAT(r.out, ::testing::Not(::testing::HasSubstr("start iqsynth from global")));
    EXPECT_EQ(r.err, "");
  }
}

INSTANTIATE_TEST_SUITE_P(
    All, HostIqsynthStandardOutput,
    testing::Values(Args{"-M", "qpsk", "-n", "100", "-d", "prbs15"},
                    Args{"-M", "16qam", "-d", "hex:A5F0", "-n", "20", "--cnr", "10"},
                    Args{"-M", "fsk4", "-f", "gauss-fsk", "-a", "0.5", "-n", "50"},
                    Args{"-m", "noise", "--noise-samples", "3000"},
                    Args{"-m", "mccw", "--carriers", "16", "--phases", "newman"}),
    [](const testing::TestParamInfo<Args>& info) {
      std::string name = info.param[1] + "_" + std::to_string(info.index);
      for (auto& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      }
      return name;
    });

TEST(HostIqsynthStandardOutput, VerboseLetsTheLibraryPrint) {
  TempDir dir;
  const ProcessResult r = iqsynth(dir, {"-M", "bpsk", "-n", "8", "-v", "--csv", "w.csv"});
  ASSERT_EQ(r.exitStatus, 0) << describe(r);
  EXPECT_EQ(r.out.rfind("start iqsynth from global\n", 0), 0u) << r.out;
  EXPECT_FALSE(onlySummaryLines(r.out));
}

TEST(HostIqsynthStandardOutput, HelpAndVersionPrintTheirOwnTextOnly) {
  TempDir dir;
  const ProcessResult version = iqsynth(dir, {"--version"});
  EXPECT_EQ(version.exitStatus, 0) << describe(version);
  EXPECT_EQ(version.out.rfind("iqsynth ", 0), 0u) << version.out;
  EXPECT_EQ(std::count(version.out.begin(), version.out.end(), '\n'), 1) << version.out;
  EXPECT_EQ(version.err, "");
  const ProcessResult help = iqsynth(dir, {"-M", "qpsk", "--help"});
  EXPECT_EQ(help.exitStatus, 0) << describe(help);
  EXPECT_EQ(help.out.rfind("Synthesises ", 0), 0u) << help.out.substr(0, 200);
  EXPECT_THAT(help.out, ::testing::Not(::testing::HasSubstr("start iqsynth")));
  EXPECT_EQ(help.err, "");
  EXPECT_TRUE(filesIn(dir.path()).empty());
}

// --- where the library comes from -------------------------------------------------------

// A copy of the program in <dir>/bin, and lib/libiqsynth.so beside it copied from
// library (none when empty): the layout of an installation.
std::string installCopy(const TempDir& dir, const std::string& library) {
  fs::create_directories(dir.path() / "bin");
  fs::create_directories(dir.path() / "lib");
  const fs::path program = dir.path() / "bin" / "iqsynth";
  fs::copy_file(IQSYNTH_PROGRAM, program);
  if (!library.empty()) fs::copy_file(library, dir.path() / "lib" / "libiqsynth.so");
  return program.string();
}

TEST(HostIqsynthLibrary, IsFoundInTheLibFolderBesideTheProgram) {
  TempDir dir;
  const std::string program = installCopy(dir, IQSYNTH_LIBRARY);
  const Args args = {"-m", "mccw", "--carriers", "5", "--csv", "w.csv"};
  const ProcessResult copied = iqsynth(dir, args, {"LD_LIBRARY_PATH"}, program);
  ASSERT_EQ(copied.exitStatus, 0) << describe(copied);
  const std::string samples = readText(dir.file("w.csv"));
  ASSERT_EQ(iqsynth(dir, args).exitStatus, 0);
  EXPECT_EQ(readText(dir.file("w.csv")), samples);
}

struct BrokenLibraryCase {
  const char* name;
  std::string library;  // copied as lib/libiqsynth.so; empty: none
  const char* message;
};

void PrintTo(const BrokenLibraryCase& c, std::ostream* out) { *out << c.name; }

class HostIqsynthBrokenLibrary : public testing::TestWithParam<BrokenLibraryCase> {};

TEST_P(HostIqsynthBrokenLibrary, StopsARunWithStatusFiveButNotHelp) {
  TempDir dir;
  const std::string program = installCopy(dir, GetParam().library);
  const ProcessResult r = iqsynth(dir, {"-M", "qpsk", "--csv", "w.csv", "--log", "run.log"},
                                  {"LD_LIBRARY_PATH"}, program);
  EXPECT_EQ(r.signal, 0) << describe(r);
  EXPECT_EQ(r.exitStatus, 5) << describe(r);
  EXPECT_EQ(r.err.rfind(std::string("iqsynth: ") + GetParam().message, 0), 0u) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(fs::exists(dir.file("w.csv")));
  EXPECT_FALSE(fs::exists(dir.file("run.log")));
  // Help and version need no library.
  for (const char* request : {"--help", "--version"}) {
    const ProcessResult answered = iqsynth(dir, {request}, {"LD_LIBRARY_PATH"}, program);
    EXPECT_EQ(answered.exitStatus, 0) << request << describe(answered);
    EXPECT_EQ(answered.err, "") << request;
  }
}

INSTANTIATE_TEST_SUITE_P(
    All, HostIqsynthBrokenLibrary,
    testing::Values(
        BrokenLibraryCase{"Missing", "", "cannot load the synthesis library libiqsynth.so: "},
        // Another library of the suite in its place: it loads, but has none of the functions.
        BrokenLibraryCase{"WithoutItsFunctions", WAVECRYPT_LIBRARY,
                          "the synthesis library libiqsynth.so has no function setWorkingMode"}),
    [](const testing::TestParamInfo<BrokenLibraryCase>& info) {
      return std::string(info.param.name);
    });

// --- the seed -----------------------------------------------------------------------------

struct SeedCase {
  const char* name;
  Args args;
};

void PrintTo(const SeedCase& c, std::ostream* out) { *out << c.name; }

class HostIqsynthSeed : public testing::TestWithParam<SeedCase> {
 protected:
  // Samples of a run with the extra arguments, and its summary's seed line.
  std::pair<std::string, std::string> run(const Args& extra) {
    Args args = GetParam().args;
    args.insert(args.end(), extra.begin(), extra.end());
    args.insert(args.end(), {"--csv", "w.csv"});
    const ProcessResult r = iqsynth(dir_, args);
    EXPECT_EQ(r.exitStatus, 0) << describe(r);
    const std::string samples = readText(dir_.file("w.csv"));
    EXPECT_FALSE(samples.empty());
    return {samples, outputField(r.out, "Seed:")};
  }
  TempDir dir_;
};

TEST_P(HostIqsynthSeed, RepeatsTheRunAndAnotherSeedDoesNot) {
  const auto [first, firstSeed] = run({"--seed", "5"});
  EXPECT_EQ(firstSeed, "5 (--seed)");
  EXPECT_EQ(run({"--seed", "5"}).first, first);
  EXPECT_NE(run({"--seed", "6"}).first, first);
}

TEST_P(HostIqsynthSeed, ADrawnSeedIsPrintedAndRepeatsTheRun) {
  const auto [drawnSamples, drawn] = run({});
  const std::string seed = drawn.substr(0, drawn.find(' '));
  ASSERT_FALSE(seed.empty());
  ASSERT_TRUE(std::all_of(seed.begin(), seed.end(), [](char c) { return c >= '0' && c <= '9'; }))
      << drawn;
  EXPECT_EQ(drawn, seed + " (drawn; --seed " + seed + " repeats the run)");
  EXPECT_EQ(run({"--seed", seed}).first, drawnSamples);
  // Two runs without a seed draw two (32 bits each: equal once in 4 billion).
  const auto [otherSamples, other] = run({});
  EXPECT_NE(other, drawn);
  EXPECT_NE(otherSamples, drawnSamples);
}

INSTANTIATE_TEST_SUITE_P(
    All, HostIqsynthSeed,
    testing::Values(
        // 3000 samples take the band-limited path of the noise, 1000 the white one.
        SeedCase{"NoiseBandLimited", {"-m", "noise", "--noise-samples", "3000"}},
        SeedCase{"NoiseWhite", {"-m", "noise", "--noise-samples", "1000"}},
        SeedCase{"DigitalWithNoise", {"-M", "qpsk", "-n", "200", "--cnr", "10"}},
        SeedCase{"CarriersWithNoise", {"-m", "mccw", "--carriers", "8", "--cnr", "15"}},
        SeedCase{"RandomPhases", {"-m", "mccw", "--carriers", "8", "--phases", "random"}}),
    [](const testing::TestParamInfo<SeedCase>& info) { return std::string(info.param.name); });

TEST(HostIqsynthSeed, ARunWithoutNoiseSaysItsSeedIsUnused) {
  TempDir dir;
  const ProcessResult r = iqsynth(dir, {"-M", "qpsk", "-n", "16", "--seed", "3", "--csv", "w.csv"});
  ASSERT_EQ(r.exitStatus, 0) << describe(r);
  EXPECT_EQ(outputField(r.out, "Seed:"), "3 (unused: no noise, no random phases)");
}

// --- carrier phases ----------------------------------------------------------------------------

// The comb as the run describes it: carrier i (0 ... N-1) at (i - (N-1)/2) x spacing,
// sampled at the rate the summary gives.
struct Comb {
  Samples samples;
  double rate = 0;     // Hz
  double spacing = 0;  // Hz
  double frequency(std::size_t carrier, std::size_t carriers) const {
    return (static_cast<double>(carrier) - (static_cast<double>(carriers) - 1) / 2) * spacing /
           rate;  // cycles per sample
  }
};

Comb synthesiseComb(const TempDir& dir, int carriers, const Args& extra) {
  Args args = {"-m",        "mccw", "--carriers", std::to_string(carriers),
               "--spacing", "10k",  "--csv",      "w.csv"};
  args.insert(args.end(), extra.begin(), extra.end());
  const ProcessResult r = iqsynth(dir, args);
  EXPECT_EQ(r.exitStatus, 0) << describe(r);
  Comb comb;
  comb.samples = parseCsv(readText(dir.file("w.csv")));
  comb.rate = std::stod(outputField(r.out, "Sample rate:"));
  comb.spacing = 10e3;
  EXPECT_EQ(std::to_string(comb.samples.size()), outputField(r.out, "Samples:"));
  return comb;
}

// The comb of the given amplitudes and phases on the run's sample grid, from the
// carrier sum itself.
Samples combFromFormula(const Comb& comb, const std::vector<double>& amplitudes,
                        const std::vector<double>& phases) {
  Samples samples(comb.samples.size());
  for (std::size_t r = 0; r < samples.size(); ++r) {
    for (std::size_t i = 0; i < phases.size(); ++i) {
      const double angle =
          phases[i] + 2 * kPi * comb.frequency(i, phases.size()) * static_cast<double>(r);
      samples[r] += amplitudes[i] * std::polar(1.0, angle);
    }
  }
  return samples;
}

// Phases of N carriers by each law's closed form; Schroeder's from the powers p.
std::vector<double> lawPhases(const std::string& law, const std::vector<double>& p) {
  const std::size_t n = p.size();
  double total = 0;
  for (const double power : p) total += power;
  std::vector<double> phases(n, 0.0);
  for (std::size_t i = 0; i < n; ++i) {
    const double k = static_cast<double>(i) + 1;  // carrier k = 1 ... N
    if (law == "crest-law") phases[i] = -kPi + static_cast<double>(i) * kPi / (2.0 * n);
    if (law == "newman") phases[i] = kPi * (k - 1) * (k - 1) / static_cast<double>(n);
    if (law == "schroeder") {
      double sum = 0;
      for (std::size_t l = 0; l < i; ++l) sum += static_cast<double>(i - l) * p[l] / total;
      phases[i] = -2 * kPi * sum;
    }
  }
  return phases;
}

struct CrestCase {
  int carriers;
  const char* law;    // zero, crest-law, newman or schroeder
  double levelSlope;  // dB per carrier
};

void PrintTo(const CrestCase& c, std::ostream* out) {
  *out << c.carriers << " " << c.law << " " << c.levelSlope;
}

class HostIqsynthCrestFactor : public testing::TestWithParam<CrestCase> {};

// For N equal carriers, zero phases add up at the first sample: envelope peak N,
// mean power N (the carriers complete whole cycles in the record, so they are
// orthogonal over it), crest factor 10 log10(N) (the 10 log10(2N) of the real
// signal on a carrier is 3.01 dB more). The library's law is a phase ramp,
// -pi + i pi / (2N), that is a delay of the comb: the same crest factor.
// Newman's and Schroeder's quadratic phases keep the envelope near its mean:
// about 2.6 dB for any N sampled finely, never more on the record's grid, so
// under 3 dB. Every measured value also matches the carrier sum computed here on
// the run's own grid, to the 14-bit rounding.
TEST_P(HostIqsynthCrestFactor, MatchesTheLawsCarrierSum) {
  const CrestCase& c = GetParam();
  TempDir dir;
  std::vector<double> levels;
  std::string levelList;
  for (int i = 0; i < c.carriers; ++i) {
    levels.push_back(-c.levelSlope * i);
    levelList += (i == 0 ? "" : ",") + std::to_string(levels.back());
  }
  Args args = {"--levels=" + levelList};
  if (std::string(c.law) == "crest-law") {
    args.push_back("--crest-law");
  } else {
    args.insert(args.end(), {"--phases", c.law});
  }
  const Comb comb = synthesiseComb(dir, c.carriers, args);
  ASSERT_FALSE(comb.samples.empty());

  std::vector<double> amplitudes;
  std::vector<double> powers;
  for (const double level : levels) {
    amplitudes.push_back(std::pow(10.0, level / 20));
    powers.push_back(std::pow(10.0, level / 10));
  }
  const double measured = crestFactorDb(comb.samples);
  const double expected =
      crestFactorDb(combFromFormula(comb, amplitudes, lawPhases(c.law, powers)));
  EXPECT_NEAR(measured, expected, 0.05);

  const std::string law = c.law;
  if (c.levelSlope == 0 && (law == "zero" || law == "crest-law")) {
    EXPECT_NEAR(measured, 10 * std::log10(c.carriers), 0.05);
  } else if (c.levelSlope == 0) {
    EXPECT_LT(measured, 3.0);
  } else if (law == "schroeder") {
    // Falling levels: Schroeder's phases follow the powers and stay low.
    EXPECT_LT(measured, 3.5);
  }
}

INSTANTIATE_TEST_SUITE_P(All, HostIqsynthCrestFactor,
                         testing::Values(CrestCase{16, "zero", 0}, CrestCase{16, "crest-law", 0},
                                         CrestCase{16, "newman", 0}, CrestCase{16, "schroeder", 0},
                                         CrestCase{64, "zero", 0}, CrestCase{64, "crest-law", 0},
                                         CrestCase{64, "newman", 0}, CrestCase{64, "schroeder", 0},
                                         CrestCase{16, "zero", 1}, CrestCase{16, "newman", 1},
                                         CrestCase{16, "schroeder", 1}),
                         [](const testing::TestParamInfo<CrestCase>& info) {
                           std::string name = std::to_string(info.param.carriers) + "_" +
                                              info.param.law +
                                              (info.param.levelSlope != 0 ? "_falling" : "");
                           for (auto& ch : name) {
                             if (ch == '-') ch = '_';
                           }
                           return name;
                         });

TEST(HostIqsynthCrestFactor, NewmanBeatsZeroPhasesByNineDbOnSixteenCarriers) {
  TempDir dir;
  const double zero = crestFactorDb(synthesiseComb(dir, 16, {"--phases", "zero"}).samples);
  const double newman = crestFactorDb(synthesiseComb(dir, 16, {"--phases", "newman"}).samples);
  EXPECT_LT(newman, 5.0);
  EXPECT_LT(newman, zero - 9.0);
}

// --- phases given as radians ------------------------------------------------------------------

struct PhaseListCase {
  int carriers;
  const char* list;
  std::vector<double> phases;  // per carrier, radians
};

void PrintTo(const PhaseListCase& c, std::ostream* out) { *out << c.carriers << ": " << c.list; }

class HostIqsynthPhaseList : public testing::TestWithParam<PhaseListCase> {};

// Each carrier's phase in the samples: the angle of the record's correlation with
// the carrier, sum over r of x[r] exp(-j 2 pi f r). The carriers complete whole
// cycles in the record, so the others contribute nothing to it, and the run's
// scaling to full scale is real and positive.
TEST_P(HostIqsynthPhaseList, ReachesTheSamplesUnchanged) {
  const PhaseListCase& c = GetParam();
  TempDir dir;
  const Comb comb = synthesiseComb(dir, c.carriers, {"--phases", c.list});
  ASSERT_FALSE(comb.samples.empty());
  std::vector<double> measured;
  for (int i = 0; i < c.carriers; ++i) {
    std::complex<double> sum = 0;
    const double f = comb.frequency(static_cast<std::size_t>(i), c.carriers);
    for (std::size_t r = 0; r < comb.samples.size(); ++r) {
      sum += comb.samples[r] * std::polar(1.0, -2 * kPi * f * static_cast<double>(r));
    }
    measured.push_back(std::arg(sum));
    EXPECT_NEAR(std::remainder(measured.back() - c.phases[i], 2 * kPi), 0.0, 0.005)
        << "carrier " << i;
  }
  // The difference between the first two, as a user would read it off.
  EXPECT_NEAR(std::remainder(measured[1] - measured[0] - (c.phases[1] - c.phases[0]), 2 * kPi), 0.0,
              0.005);
}

INSTANTIATE_TEST_SUITE_P(All, HostIqsynthPhaseList,
                         testing::Values(PhaseListCase{2, "0,1", {0, 1}},
                                         PhaseListCase{2, "0.5,-2", {0.5, -2}},
                                         PhaseListCase{2, "2.5", {2.5, 2.5}},
                                         PhaseListCase{2, "-3,3", {-3, 3}},
                                         PhaseListCase{5, "0,0.5,1,1.5,-3", {0, 0.5, 1, 1.5, -3}},
                                         PhaseListCase{5, "10", {10, 10, 10, 10, 10}}));

}  // namespace
