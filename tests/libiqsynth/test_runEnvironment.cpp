// The environment a host sets for libiqsynth.so, tried as a host process would: where the run
// log goes (IQSYNTH_RUN_LOG), whether the library prints (IQSYNTH_STDOUT), both read when the
// library loads, and the noise seed (GSL_RNG_SEED), read at every run that makes noise.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "files.h"
#include "process.h"
#include "scratch_dir.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kDefaultLog = "iqSynthRun.log";

// One run of the child host in its own working folder; the samples go to a file outside it,
// so that the working folder holds only what the library created.
struct ChildRun {
  arbtest::ScratchDir scratch;
  fs::path work;
  fs::path samples;
  arbtest::ProcessResult result;

  ChildRun(const std::string& kind, std::vector<std::string> environment) {
    work = scratch.path() / "work";
    fs::create_directories(work);
    samples = scratch.path() / "samples.bin";
    // Start from a clean environment for the three variables, then apply the case's own.
    std::vector<std::string> changes = {"IQSYNTH_RUN_LOG", "IQSYNTH_STDOUT", "GSL_RNG_SEED"};
    for (std::string& change : environment) {
      changes.push_back(std::move(change));
    }
    arbtest::ProcessOptions options;
    options.workingDirectory = work.string();
    options.environment = changes;
    result = arbtest::runProcess(IQSYNTH_RUN_CHILD, {kind, samples.string()}, options);
  }
  std::vector<std::string> filesInWork() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(work)) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }
  arbtest::Bytes sampleBytes() const { return arbtest::readBytes(samples.string()); }
};

// What the library prints on standard output today when nothing is set: the load line first,
// then the per-symbol lines of the data source and the mapping, and the filter taps.
void expectTodaysStandardOutput(const std::string& out) {
  EXPECT_EQ(out.rfind("start iqsynth from global\n", 0), 0u) << out.substr(0, 200);
  EXPECT_THAT(out, ::testing::HasSubstr("\n0th is : "));
  EXPECT_THAT(out, ::testing::HasSubstr("\n599th is : "));
  EXPECT_THAT(out, ::testing::HasSubstr("\niMapDat[ i ] : "));
  EXPECT_THAT(out, ::testing::HasSubstr("\nsize is 32\n"));
}

// A run log of the child's digital run: the parameter report, the lists and the end.
void expectDigitalRunLog(const std::string& log) {
  EXPECT_THAT(log, ::testing::HasSubstr("workingMode : 1\nsequenceLenth : 600\n"));
  EXPECT_THAT(log, ::testing::HasSubstr("\n2399th pIDat is "));
  EXPECT_THAT(log, ::testing::HasSubstr("\n2399th pQDat is "));
  EXPECT_THAT(log, ::testing::HasSubstr("\nINFO : Running to end \n"));
  EXPECT_THAT(log, ::testing::HasSubstr("\n255th mapbuf is "));
}

enum class LogPlace { WorkingFolder, ChosenPath, None, Unopenable };

struct EnvironmentCase {
  const char* name;
  std::vector<std::string> environment;  // besides the three variables removed
  LogPlace log;
  bool printed;  // today's standard output
};

void PrintTo(const EnvironmentCase& c, std::ostream* os) { *os << c.name; }

class IqsynthRunEnvironmentTest : public ::testing::TestWithParam<EnvironmentCase> {};

TEST_P(IqsynthRunEnvironmentTest, LogAndStandardOutputWhereTheEnvironmentSays) {
  EnvironmentCase c = GetParam();
  arbtest::ScratchDir elsewhere;
  const fs::path chosen = elsewhere.path() / "logs" / "chosen.log";
  fs::create_directories(chosen.parent_path());
  for (std::string& change : c.environment) {
    if (change == "IQSYNTH_RUN_LOG=<chosen>") {
      change = "IQSYNTH_RUN_LOG=" + chosen.string();
    } else if (change == "IQSYNTH_RUN_LOG=<unopenable>") {
      change = "IQSYNTH_RUN_LOG=" + (elsewhere.path() / "no such folder" / "x.log").string();
    }
  }
  const ChildRun run("digital", c.environment);
  ASSERT_EQ(run.result.exitStatus, 0) << run.result.err;

  // The samples never depend on the log or the standard output.
  const ChildRun reference("digital", {});
  ASSERT_EQ(reference.result.exitStatus, 0) << reference.result.err;
  EXPECT_EQ(run.sampleBytes(), reference.sampleBytes());
  EXPECT_EQ(run.sampleBytes().size(), 2u * 2400u * sizeof(short));

  switch (c.log) {
    case LogPlace::WorkingFolder:
      EXPECT_EQ(run.filesInWork(), std::vector<std::string>{kDefaultLog});
      expectDigitalRunLog(arbtest::readText((run.work / kDefaultLog).string()));
      break;
    case LogPlace::ChosenPath:
      EXPECT_TRUE(run.filesInWork().empty());
      expectDigitalRunLog(arbtest::readText(chosen.string()));
      // The same text as in the working folder, apart from nothing.
      EXPECT_EQ(arbtest::readText(chosen.string()),
                arbtest::readText((reference.work / kDefaultLog).string()));
      break;
    case LogPlace::None:
    case LogPlace::Unopenable:
      EXPECT_TRUE(run.filesInWork().empty());
      EXPECT_FALSE(fs::exists(chosen));
      break;
  }

  if (c.printed) {
    std::string out = run.result.out;
    if (c.log == LogPlace::Unopenable) {
      // Printed while the library loads, before the load line of the configuration.
      const std::string notice = "can not open the log file\n";
      ASSERT_EQ(out.rfind(notice, 0), 0u) << out.substr(0, 200);
      out = out.substr(notice.size());
    }
    expectTodaysStandardOutput(out);
    EXPECT_EQ(out, reference.result.out);
  } else {
    EXPECT_EQ(run.result.out, "");
  }
  EXPECT_EQ(run.result.err, "");
}

INSTANTIATE_TEST_SUITE_P(
    Settings, IqsynthRunEnvironmentTest,
    ::testing::Values(
        EnvironmentCase{"Unset", {}, LogPlace::WorkingFolder, true},
        EnvironmentCase{"LogPath", {"IQSYNTH_RUN_LOG=<chosen>"}, LogPlace::ChosenPath, true},
        EnvironmentCase{"NoLog", {"IQSYNTH_RUN_LOG="}, LogPlace::None, true},
        EnvironmentCase{
            "UnopenableLog", {"IQSYNTH_RUN_LOG=<unopenable>"}, LogPlace::Unopenable, true},
        EnvironmentCase{"UnopenableLogQuiet",
                        {"IQSYNTH_RUN_LOG=<unopenable>", "IQSYNTH_STDOUT=0"},
                        LogPlace::Unopenable,
                        false},
        EnvironmentCase{"StdoutOff", {"IQSYNTH_STDOUT=0"}, LogPlace::WorkingFolder, false},
        EnvironmentCase{"StdoutOne", {"IQSYNTH_STDOUT=1"}, LogPlace::WorkingFolder, true},
        EnvironmentCase{"StdoutEmpty", {"IQSYNTH_STDOUT="}, LogPlace::WorkingFolder, true},
        EnvironmentCase{"StdoutNo", {"IQSYNTH_STDOUT=no"}, LogPlace::WorkingFolder, true},
        EnvironmentCase{"StdoutZeroZero", {"IQSYNTH_STDOUT=00"}, LogPlace::WorkingFolder, true},
        EnvironmentCase{
            "NoLogStdoutOff", {"IQSYNTH_RUN_LOG=", "IQSYNTH_STDOUT=0"}, LogPlace::None, false}),
    [](const ::testing::TestParamInfo<EnvironmentCase>& info) {
      return std::string(info.param.name);
    });

// The seed line of a run log, "INFO : noise seed is <s> (<origin>...".
struct SeedLine {
  bool found = false;
  unsigned long long seed = 0;
  std::string origin;
};

SeedLine seedLineOf(const std::string& log) {
  const std::string start = "\nINFO : noise seed is ";
  SeedLine result;
  const std::size_t at = log.find(start);
  if (at == std::string::npos) {
    return result;
  }
  const std::size_t digits = at + start.size();
  const std::size_t space = log.find(" (", digits);
  const std::size_t end = log.find_first_of(";)", space);
  if (space == std::string::npos || end == std::string::npos || space == digits ||
      log.find_first_not_of("0123456789", digits) != space) {
    return result;
  }
  result.found = true;
  result.seed = std::stoull(log.substr(digits, space - digits));
  result.origin = log.substr(space + 2, end - space - 2);
  return result;
}

std::string logOf(const ChildRun& run) {
  return arbtest::readText((run.work / kDefaultLog).string());
}

class IqsynthNoiseSeedProcessTest : public ::testing::TestWithParam<const char*> {};

TEST_P(IqsynthNoiseSeedProcessTest, OneSeedRepeatsTheSamplesAnotherChangesThem) {
  const std::string kind = GetParam();
  const ChildRun first(kind, {"GSL_RNG_SEED=12345"});
  const ChildRun again(kind, {"GSL_RNG_SEED=12345"});
  const ChildRun other(kind, {"GSL_RNG_SEED=12346"});
  for (const ChildRun* run : {&first, &again, &other}) {
    ASSERT_EQ(run->result.exitStatus, 0) << run->result.err;
  }
  EXPECT_EQ(first.sampleBytes(), again.sampleBytes());
  EXPECT_NE(first.sampleBytes(), other.sampleBytes());

  const SeedLine line = seedLineOf(logOf(first));
  ASSERT_TRUE(line.found) << logOf(first).substr(0, 300);
  EXPECT_EQ(line.seed, 12345u);
  EXPECT_EQ(line.origin, "from GSL_RNG_SEED");
  EXPECT_EQ(seedLineOf(logOf(other)).seed, 12346u);
}

TEST_P(IqsynthNoiseSeedProcessTest, WithoutTheVariableTheSeedIsTheCalendarTimeAndLogged) {
  const std::string kind = GetParam();
  const auto before = static_cast<unsigned long long>(std::time(nullptr));
  const ChildRun run(kind, {});
  const auto after = static_cast<unsigned long long>(std::time(nullptr));
  ASSERT_EQ(run.result.exitStatus, 0) << run.result.err;
  const std::string log = logOf(run);
  const SeedLine line = seedLineOf(log);
  ASSERT_TRUE(line.found) << log.substr(0, 300);
  EXPECT_EQ(line.origin, "from the calendar time");
  EXPECT_GE(line.seed, before);
  EXPECT_LE(line.seed, after);
  // The line says how to repeat the run, and doing so repeats its samples.
  const std::string repeat = "GSL_RNG_SEED=" + std::to_string(line.seed);
  EXPECT_THAT(log, ::testing::HasSubstr(repeat + " repeats the noise)\n"));
  const ChildRun repeated(kind, {repeat});
  ASSERT_EQ(repeated.result.exitStatus, 0) << repeated.result.err;
  EXPECT_EQ(repeated.sampleBytes(), run.sampleBytes());
}

INSTANTIATE_TEST_SUITE_P(Kinds, IqsynthNoiseSeedProcessTest,
                         ::testing::Values("noise", "digital-noise"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           std::string name = info.param;
                           name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
                           return name;
                         });

TEST(IqsynthNoiseSeedProcess, RunsWithoutNoiseUseNoSeed) {
  const ChildRun run("digital", {"GSL_RNG_SEED=77"});
  ASSERT_EQ(run.result.exitStatus, 0) << run.result.err;
  EXPECT_FALSE(seedLineOf(logOf(run)).found);
}

TEST(IqsynthCarrierLevelsProcess, OverflowingLevelFailsNamingTheField) {
  const ChildRun run("mccw-overflow", {});
  EXPECT_EQ(run.result.exitStatus, 3);
  EXPECT_EQ(run.result.err, "runIqSynth returned -262149\n");  // -0x40005
  EXPECT_THAT(logOf(run),
              ::testing::HasSubstr("\nmccwCarrierAmp[0] 4000 dB overflows the carrier power"));
  const ChildRun fine("mccw", {});
  EXPECT_EQ(fine.result.exitStatus, 0) << fine.result.err;
}

}  // namespace
