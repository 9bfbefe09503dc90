// arbtool's streamed commands (dump, stats, join) as processes: the peak memory on a
// file of 24 million pairs (the child's largest resident size, from wait4, stays far below
// the 96 MB its samples take), and failures in the words of plot, which reads the whole file.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "process.h"
#include "scratch_dir.h"

namespace {

using arbtest::ScratchDir;

constexpr std::size_t kPairs = 24'000'000;
constexpr long kBoundKb = 40 * 1024;  // the samples alone are 93,750 KiB

// Raw ci16_le noise written a block at a time (the test itself stays small), packed
// by wavepack into big.arb.
std::string packBigFile(const ScratchDir& dir) {
  const std::string raw = dir.file("big.ci16");
  std::FILE* out = std::fopen(raw.c_str(), "wb");
  EXPECT_NE(out, nullptr);
  std::vector<std::int16_t> block(1 << 16);
  std::uint32_t state = 12345;
  for (std::size_t written = 0; written < 2 * kPairs; written += block.size()) {
    for (auto& v : block) {
      state = state * 1664525u + 1013904223u;
      v = static_cast<std::int16_t>(static_cast<int>(state >> 19) - 4096);
    }
    std::fwrite(block.data(), sizeof(std::int16_t), block.size(), out);
  }
  std::fclose(out);
  const arbtest::ProcessResult r = arbtest::runProcess(
      WAVEPACK_PROGRAM, {"--format", "ci16_le", "-f", "10MHz", "-d", raw, "-o", "big.arb"},
      dir.path());
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  std::remove(raw.c_str());
  return dir.file("big.arb");
}

struct Peak {
  int exitStatus = -1;
  long maxRssKb = 0;
};

// Runs arbtool with args, its output to /dev/null, and gives its own peak (wait4 on
// this one child, so nothing else the test ran counts).
Peak runMeasured(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  std::string program = ARBTOOL_PROGRAM;
  argv.push_back(program.data());
  std::vector<std::string> copies = args;
  for (std::string& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    std::freopen("/dev/null", "w", stdout);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  Peak peak;
  int status = 0;
  struct rusage usage {};
  if (child > 0 && ::wait4(child, &status, 0, &usage) == child && WIFEXITED(status)) {
    peak.exitStatus = WEXITSTATUS(status);
    peak.maxRssKb = usage.ru_maxrss;
  }
  return peak;
}

TEST(HostStreamedMemory, CommandsOnTwentyFourMillionPairsStayBelowTheBound) {
  ScratchDir dir;
  const std::string big = packBigFile(dir);
  ASSERT_GE(std::filesystem::file_size(big), 4 * kPairs);
  const std::vector<std::vector<std::string>> commands = {
      {"dump", "--format", "ci16_le", "-o", "/dev/null", big},
      {"dump", "--format", "cf32_le", big},
      {"stats", big},
      {"stats", "--json", big},
      // The file twice with a blank between: 48 million pairs joined in pieces.
      {"join", "-o", dir.file("joined.arb"), big, "blank:1000", big},
  };
  for (const auto& command : commands) {
    const Peak peak = runMeasured(command);
    EXPECT_EQ(peak.exitStatus, 0) << command[0];
    EXPECT_GT(peak.maxRssKb, 0) << command[0];
    EXPECT_LT(peak.maxRssKb, kBoundKb) << command[0] << " " << command[1];
  }
  // The joined file holds both copies' samples.
  EXPECT_GT(std::filesystem::file_size(dir.file("joined.arb")), 8 * kPairs);
}

// A header block that no longer matches its CRC passes the description readers
// and fails the sample reader: every command says so in the same words.
TEST(HostStreamedFailures, DamagedHeaderIsReportedAsThePlotReportsIt) {
  ScratchDir dir;
  std::vector<std::uint8_t> raw;
  for (int k = 0; k < 4000; ++k) {
    raw.push_back(static_cast<std::uint8_t>(k * 7));
    raw.push_back(static_cast<std::uint8_t>(k % 16));
  }
  std::FILE* out = std::fopen(dir.file("w.ci16").c_str(), "wb");
  ASSERT_NE(out, nullptr);
  std::fwrite(raw.data(), 1, raw.size(), out);
  std::fclose(out);
  ASSERT_EQ(arbtest::runProcess(
                WAVEPACK_PROGRAM,
                {"--format", "ci16_le", "-f", "1MHz", "-d", "w.ci16", "-o", "w.arb"}, dir.path())
                .exitStatus,
            0);
  std::vector<char> bytes(1 << 16);
  std::FILE* in = std::fopen(dir.file("w.arb").c_str(), "rb");
  ASSERT_NE(in, nullptr);
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), in));
  std::fclose(in);
  const std::string text(bytes.begin(), bytes.end());
  const std::size_t at = text.find("PRBS9");
  ASSERT_NE(at, std::string::npos);
  bytes[at + 4] = '8';
  out = std::fopen(dir.file("w.arb").c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), out);
  std::fclose(out);

  const auto run = [&](const std::vector<std::string>& args) {
    return arbtest::runProcess(ARBTOOL_PROGRAM, args, dir.path());
  };
  ASSERT_EQ(run({"info", "w.arb"}).exitStatus, 0);
  const arbtest::ProcessResult plot = run({"plot", "w.arb", "-o", "p.png"});
  EXPECT_EQ(plot.exitStatus, 2);
  EXPECT_NE(plot.err.find("w.arb: "), std::string::npos) << plot.err;
  for (const std::vector<std::string>& command :
       {std::vector<std::string>{"stats", "w.arb"},
        {"stats", "--json", "w.arb"},
        {"dump", "w.arb"},
        {"dump", "--format", "sigmf", "-o", "d", "w.arb"}}) {
    const arbtest::ProcessResult r = run(command);
    EXPECT_EQ(r.exitStatus, 2) << command[0];
    EXPECT_EQ(r.err, plot.err) << command[0];
    EXPECT_TRUE(r.out.empty()) << r.out;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.file("d.sigmf-data")));
}

}  // namespace
