// arbtool's streamed commands (dump, stats, plot, join) as processes: the peak memory on a
// file of 24 million pairs (the child's largest resident size, from wait4) is little
// more than on a small file, far from the 96 MB its samples take; stats at the loop
// regrowth's limit; and failures in the words of plot, which reads the whole file.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "process.h"
#include "scratch_dir.h"

namespace {

using arbtest::ScratchDir;

constexpr std::size_t kPairs = 24'000'000;
constexpr std::size_t kSmallPairs = 100'000;
// What the big file may take beyond the small one: its samples alone are 93,750 KiB
// more. A relative bound holds in every build (a sanitizer's runtime and shadow memory
// add tens of MB to every run). A file of more than one piece is read ahead on a second
// thread into two more piece buffers (8 MiB), which the small file of one piece does
// without.
constexpr long kGrowthKb = 36 * 1024;

// Raw ci16_le noise of pairs written a block at a time (the test itself stays small),
// packed by wavepack into name.
std::string packFile(const ScratchDir& dir, const std::string& name, std::size_t pairs) {
  const std::string raw = dir.file(name + ".ci16");
  std::FILE* out = std::fopen(raw.c_str(), "wb");
  EXPECT_NE(out, nullptr);
  std::vector<std::int16_t> block(1 << 16);
  std::uint32_t state = 12345;
  for (std::size_t written = 0; written < 2 * pairs; written += block.size()) {
    for (auto& v : block) {
      state = state * 1664525u + 1013904223u;
      v = static_cast<std::int16_t>(static_cast<int>(state >> 19) - 4096);
    }
    std::fwrite(block.data(), sizeof(std::int16_t), block.size(), out);
  }
  std::fclose(out);
  const arbtest::ProcessResult r = arbtest::runProcess(
      WAVEPACK_PROGRAM, {"--format", "ci16_le", "-f", "10MHz", "-d", raw, "-o", name}, dir.path());
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  std::remove(raw.c_str());
  return dir.file(name);
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
    // An AddressSanitizer build keeps freed memory in a quarantine of 256 MB, which a
    // streamed command fills piece by piece: a small one measures the program instead
    // (ignored by a build without the sanitizer).
    const char* options = std::getenv("ASAN_OPTIONS");
    const std::string asan = std::string(options ? options : "") + ":quarantine_size_mb=16";
    ::setenv("ASAN_OPTIONS", asan.c_str(), 1);
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

TEST(HostStreamedMemory, CommandsOnTwentyFourMillionPairsTakeLittleMoreThanOnASmallFile) {
  ScratchDir dir;
  const std::string big = packFile(dir, "big.arb", kPairs);
  const std::string small = packFile(dir, "small.arb", kSmallPairs);
  ASSERT_GE(std::filesystem::file_size(big), 4 * kPairs);
  const auto commands = [&](const std::string& file) {
    return std::vector<std::vector<std::string>>{
        {"dump", "--format", "ci16_le", "-o", "/dev/null", file},
        {"dump", "--format", "cf32_le", file},
        {"stats", file},
        {"stats", "--json", file},
        // The sheet with the symbol instants: two passes over the pieces.
        {"plot", "--symbol-rate", "1MHz", "-o", file + ".png", file},
        // The file twice with a blank between: 48 million pairs joined in pieces.
        {"join", "-o", file + ".joined.arb", file, "blank:1000", file},
    };
  };
  const auto onBig = commands(big);
  const auto onSmall = commands(small);
  for (std::size_t i = 0; i < onBig.size(); ++i) {
    const Peak bigPeak = runMeasured(onBig[i]);
    const Peak smallPeak = runMeasured(onSmall[i]);
    EXPECT_EQ(bigPeak.exitStatus, 0) << onBig[i][0];
    EXPECT_EQ(smallPeak.exitStatus, 0) << onSmall[i][0];
    EXPECT_GT(smallPeak.maxRssKb, 0) << onSmall[i][0];
    EXPECT_LT(bigPeak.maxRssKb - smallPeak.maxRssKb, kGrowthKb)
        << onBig[i][0] << " " << onBig[i][1] << ": " << bigPeak.maxRssKb << " KiB against "
        << smallPeak.maxRssKb << " KiB";
  }
  // The joined file holds both copies' samples.
  EXPECT_GT(std::filesystem::file_size(big + ".joined.arb"), 8 * kPairs);
}

// The loop regrowth transforms the whole period, up to kLoopRegrowthLimit pairs, in
// double precision: 64 MiB at the limit. The period is held that once, its spectrum
// in the same storage, not beside it with its powers (once 181 MiB more than a small
// file).
TEST(HostStreamedMemory, StatsAtTheLoopRegrowthLimitHoldThePeriodOnce) {
  ScratchDir dir;
  constexpr std::size_t kLimitPairs = std::size_t{1} << 22;
  const std::string large = packFile(dir, "limit.arb", kLimitPairs);
  const std::string small = packFile(dir, "small.arb", kSmallPairs);
  const Peak largePeak = runMeasured({"stats", large});
  const Peak smallPeak = runMeasured({"stats", small});
  ASSERT_EQ(largePeak.exitStatus, 0);
  ASSERT_EQ(smallPeak.exitStatus, 0);
  constexpr long kPeriodKb = 16 * static_cast<long>(kLimitPairs) / 1024;
  EXPECT_LT(largePeak.maxRssKb - smallPeak.maxRssKb, kPeriodKb + 32 * 1024)
      << largePeak.maxRssKb << " KiB against " << smallPeak.maxRssKb << " KiB";
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
