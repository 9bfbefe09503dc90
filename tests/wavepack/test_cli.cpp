// The wavepack program run as a process: messages, exit statuses, and a full
// conversion read back with the format module and decrypted.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "arb_format.h"
#include "arb_samples.h"
#include "files.h"
#include "little_endian.h"
#include "process.h"
#include "scratch_dir.h"
#include "wavecrypt.h"

namespace {

namespace fs = std::filesystem;
using arbtest::ProcessResult;
using arbtest::readArb;

class WavepackProgram : public testing::Test {
 protected:
  void SetUp() override { fs::create_directory(tmp_); }

  // Runs wavepack in the scratch folder with TMPDIR pointing at a private folder.
  ProcessResult run(const std::vector<std::string>& args, const std::string& tmpdir = "") {
    arbtest::ProcessOptions options;
    options.workingDirectory = dir_.path().string();
    options.environment = {"TMPDIR=" + (tmpdir.empty() ? tmp_.string() : tmpdir)};
    return arbtest::runProcess(WAVEPACK_PROGRAM, args, options);
  }
  std::string file(const std::string& name, const std::string& text) {
    const std::string path = dir_.file(name);
    arbtest::writeText(path, text);
    return path;
  }
  std::size_t tempFilesLeft() const {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(tmp_), fs::directory_iterator()));
  }

  arbtest::ScratchDir dir_;
  fs::path tmp_ = dir_.path() / "tmp";
};

TEST_F(WavepackProgram, CopyrightEndsTheRunWithStatus0EvenWithoutOutput) {
  const ProcessResult r = run({"-c"});
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.out.rfind("Copyright (c) 2026 arbsuite developers\n"
                        "This program  using Templatized C++ Command Line Parser ",
                        0),
            0u)
      << r.out;
}

TEST_F(WavepackProgram, VersionAndHelpEndWithStatus0) {
  const ProcessResult v = run({"--version"});
  EXPECT_EQ(v.exitStatus, 0);
  EXPECT_THAT(v.out, ::testing::HasSubstr("1.3.1.150320"));
  const ProcessResult h = run({"-h"});
  EXPECT_EQ(h.exitStatus, 0);
  EXPECT_THAT(h.out, ::testing::HasSubstr("in-phase and quadrature components"));
}

TEST_F(WavepackProgram, ParserErrorsEndWithStatus1) {
  for (const auto& args :
       std::vector<std::vector<std::string>>{{}, {"-d", "x.csv"}, {"-z"}, {"-o"}}) {
    const ProcessResult r = run(args);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_FALSE(r.err.empty());
  }
}

struct RuleCase {
  std::vector<std::string> args;
  std::string message;
};

void PrintTo(const RuleCase& c, std::ostream* os) {
  for (const auto& a : c.args) *os << a << ' ';
}

class WavepackProgramRules : public WavepackProgram,
                             public testing::WithParamInterface<RuleCase> {};

TEST_P(WavepackProgramRules, ReportProgramErrorAndStatus1) {
  const ProcessResult r = run(GetParam().args);
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.err, "PROGRAM ERROR: " + GetParam().message + "\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(tempFilesLeft(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    WavepackRules, WavepackProgramRules,
    testing::Values(RuleCase{{"-o", "wave.ARB", "-d", "x.csv"},
                             "wave.ARB must contain extension \".arb\" "},
                    RuleCase{{"-o", "ab", "-d", "x.csv"}, "ab must contain extension \".arb\" "},
                    RuleCase{{"-o", "x.arb", "-f", "60MHz", "-d", "x.csv"},
                             "Fs must in range [1KHz,50MHz] and 100MHz"},
                    RuleCase{{"-o", "x.arb", "-f", "999", "-d", "x.csv"},
                             "Fs must in range [1KHz,50MHz] and 100MHz"},
                    RuleCase{{"-o", "x.arb", "-f", "1G", "-d", "x.csv"},
                             "Input string for Frequency is not support"},
                    RuleCase{{"-o", "x.arb", "-f", "5x", "-d", "x.csv"},
                             "Input string for Frequency is not support"},
                    // Nonexistent files: the rule is checked before anything is opened.
                    RuleCase{{"-o", "x.arb", "-d", "nothing.csv", "-q", "nothing.csv"},
                             "-d and (-i or -q) can not be specified at the same time"},
                    RuleCase{{"-o", "x.arb"}, "-d and (-i or -q) must specify at least one"},
                    RuleCase{{"-o", "x.arb", "-d", "nothing.csv"}, "Open nothing.csv failed"}));

TEST_F(WavepackProgram, UnequalLengthsWriteNothingAndKeepAnExistingOutput) {
  std::string ten, eleven;
  for (int k = 1; k <= 10; ++k) ten += std::to_string(k) + "\n";
  eleven = ten + "11\n";
  file("i.csv", ten);
  file("q.csv", eleven);
  const std::string existing = file("out.arb", "old");
  const ProcessResult r = run({"-i", "i.csv", "-q", "q.csv", "-o", "out.arb"});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.err, "PROGRAM ERROR: Data length is not equal in i.csv and q.csv\n");
  EXPECT_EQ(arbtest::readText(existing), "old");
}

TEST_F(WavepackProgram, MissingTemporaryFolderIsReported) {
  file("d.csv", "1,2\n");
  const ProcessResult r = run({"-d", "d.csv", "-o", "w.arb"}, (dir_.path() / "absent").string());
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.err, "PROGRAM ERROR: Get Temp Path failed\n");
  EXPECT_FALSE(fs::exists(dir_.path() / "w.arb"));
}

TEST_F(WavepackProgram, OverflowingCsvNumberIsRefusedBeforeWriting) {
  file("d.csv", "1,2\n3,1e999\n");
  const ProcessResult r = run({"-d", "d.csv", "-o", "w.arb"});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.err, "PROGRAM ERROR: Number out of range in d.csv at line 2\n");
  EXPECT_FALSE(fs::exists(dir_.path() / "w.arb"));
  EXPECT_EQ(tempFilesLeft(), 0u);
}

TEST_F(WavepackProgram, ConvertsACsvFileEndToEnd) {
  std::vector<std::pair<double, double>> input;
  std::string csv = "I,Q\n";
  for (int k = 0; k < 301; ++k) {  // odd count: the data gets its 4 padding bytes
    const double i = std::sin(0.05 * k) * (1 + k % 7);
    const double q = std::cos(0.031 * k) * -3.5;
    input.emplace_back(i, q);
    char line[80];
    std::snprintf(line, sizeof line, "%.17g,%.17g\n", i, q);
    csv += line;
  }
  file("wave.csv", csv);
  const ProcessResult r = run({"-d", "wave.csv", "-f", "2.5k", "-o", "out.arb"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(tempFilesLeft(), 0u);

  double peak = 0;
  for (const auto& [i, q] : input) peak = std::max(peak, std::hypot(i, q));
  std::vector<std::int16_t> expected;
  double energy = 0;
  for (const auto& [i, q] : input) {
    for (double v : {i, q}) {
      const auto s = static_cast<std::int16_t>(std::trunc(v / peak * (0.81 * 8191)));
      expected.push_back(s);
      energy += (s / 8192.0) * (s / 8192.0);
    }
  }
  std::string text;
  EXPECT_EQ(readArb(dir_.file("out.arb"), text), expected);
  EXPECT_EQ(arbsuite::arb::findTextItem(text, "Clock"), "2500HZ");
  EXPECT_EQ(arbsuite::arb::findTextItem(text, "SymbolRate"), "2500Hz");
  EXPECT_EQ(arbsuite::arb::findTextItem(text, "Num"), "301");
  EXPECT_EQ(arbsuite::arb::findTextItem(text, "DataSource"), "PRBS9");
  EXPECT_EQ(arbsuite::arb::findTextItem(text, "ModulationType"), "32QAM");
  EXPECT_EQ(arbsuite::arb::findTextItem(text, "FilterType"), "Raised cosine");
  EXPECT_EQ(arbsuite::arb::findTextItem(text, "FilterCoefficients "), "1.000000");
  EXPECT_NEAR(std::stod(std::string(*arbsuite::arb::findTextItem(text, "Value"))), energy,
              5e-7);  // six decimals in the text
  // The success message stays the first line; the summary follows it.
  EXPECT_EQ(r.out, "Successfully converts the CSV format file to out.arb\n" +
                       arbtest::expectedSummary(expected, 2500, "CSV") + "\n");
}

TEST_F(WavepackProgram, ConvertsSeparateBinaryFilesWithTheDefaultFrequency) {
  arbtest::writeBytes(dir_.file("i.bin"), arbtest::doubleBytes({3, 0}));
  arbtest::writeBytes(dir_.file("q.bin"), arbtest::doubleBytes({4, 1}));
  const ProcessResult r = run({"-b", "-i", "i.bin", "-q", "q.bin", "-o", "b.arb"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  const std::vector<std::int16_t> expected = {3980, 5307, 0, 1326};
  EXPECT_EQ(r.out, "Successfully converts the binary format file to b.arb\n" +
                       arbtest::expectedSummary(expected, 50000000, "rf64_le (-b), I and Q files") +
                       "\n");
  std::string text;
  EXPECT_EQ(readArb(dir_.file("b.arb"), text), expected);
  EXPECT_EQ(arbsuite::arb::findTextItem(text, "Clock"), "50000000HZ");
}

TEST_F(WavepackProgram, NonFiniteBinaryInputIsRefused) {
  arbtest::writeBytes(dir_.file("d.bin"), arbtest::doubleBytes({1, NAN}));
  const ProcessResult r = run({"-b", "-d", "d.bin", "-o", "b.arb"});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.err, "PROGRAM ERROR: Value 2 in d.bin is not a finite number\n");
  EXPECT_FALSE(fs::exists(dir_.path() / "b.arb"));
}

}  // namespace
