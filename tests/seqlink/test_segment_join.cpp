// The programs' join (seqlink_join.h) against the three C calls on the same
// configuration: the same info block and the same samples, whether the segments are
// kept between the passes or read again; the piecewise encryptor against one call;
// and what a failed join leaves.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "arb_format.h"
#include "multiseg_writer.h"
#include "segment_config_builder.h"
#include "segment_join.h"
#include "segment_output.h"
#include "seqlink.h"
#include "seqlink_join.h"
#include "seqlink_stream.h"
#include "seqlink_test_support.h"

namespace {

using seqtest::Bytes;
using seqtest::ConfigBuilder;
using Values = std::vector<std::int16_t>;

const std::string kText = "{Clock:1000000HZ}{Value:0}";

// A multi-segment file with its key unwrapped: the info block and the plain samples,
// which are all that two joins of the same plan share (their keys are drawn anew).
struct Opened {
  Bytes block;
  Bytes plain;
};

Opened openJoined(const std::string& path) {
  const Bytes file = arbtest::readBytes(path);
  arbsuite::arb::ArbHeader header;
  EXPECT_EQ(arbsuite::arb::parseHeader(file, header), arbsuite::arb::ParseStatus::ok);
  Opened opened;
  const auto block = arbsuite::arb::headerBlock(file, header);
  opened.block.assign(block.begin(), block.end());
  std::uint8_t key[16];
  std::uint32_t keyLength = sizeof key;
  EXPECT_EQ(EncOrDecOpt(3, header.wrappedKey.data(), 84, nullptr, key, &keyLength, 1) & 0xFFFF, 0);
  opened.plain.resize(file.size() - header.dataOffset);
  std::uint32_t plainLength = static_cast<std::uint32_t>(opened.plain.size());
  if (!opened.plain.empty()) {
    EXPECT_EQ(EncOrDecOpt(2, file.data() + header.dataOffset,
                          static_cast<std::uint32_t>(opened.plain.size()), key, opened.plain.data(),
                          &plainLength, 1) &
                  0xFFFF,
              0);
  }
  return opened;
}

class SeqlinkSegmentJoinTest : public ::testing::Test {
 protected:
  std::string addFile(const std::string& name, const Values& values) {
    const std::string path = dir_.file(name);
    arbtest::writeBytes(path, seqtest::makeVersion1File(kText, values));
    return path;
  }

  static std::string item(const std::string& name, double clock, std::size_t pairs, double energy) {
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, ",%.17g,%zu,%.17g", clock, pairs, energy);
    return "\"" + name + "\"" + buffer;
  }

  // The join through readMultiSegConfig, outputIQDataAndInf and crtMultiSegArb.
  std::string joinWithCalls(const ConfigBuilder& config, const std::string& output) {
    const std::string configPath = dir_.file("calls.txt");
    ConfigBuilder named = config;
    named.outputFile = output;
    arbtest::writeText(configPath, named.line());
    char outputFile[256];
    int count = 0, total = 0;
    EXPECT_EQ(readMultiSegConfig(configPath.c_str(), outputFile, &count, &total), SEQLINK_OK);
    std::vector<short> samples(2 * static_cast<std::size_t>(total) + 2);
    std::vector<char> names(256 * static_cast<std::size_t>(count) + 1);
    std::vector<double> clocks(count + 1), energies(count + 1);
    std::vector<int> counts(count + 1);
    EXPECT_EQ(outputIQDataAndInf(samples.data(), names.data(), clocks.data(), counts.data(),
                                 energies.data()),
              SEQLINK_OK);
    EXPECT_EQ(crtMultiSegArb(names.data(), clocks.data(), counts.data(), energies.data(),
                             static_cast<unsigned>(count), samples.data(),
                             static_cast<unsigned>(total), 0, outputFile),
              SEQLINK_OK);
    return output;
  }

  // The same configuration through readJoinSettings and joinSegments.
  arbsuite::seqlink::JoinStatus joinFromSettings(
      const ConfigBuilder& config, const std::string& output, std::uint64_t keptBytes,
      std::vector<arbsuite::seqlink::JoinSegment>& joined,
      const arbsuite::seqlink::JoinCheck& check = {},
      const arbsuite::seqlink::JoinProgress& progress = {}) {
    const std::string configPath = dir_.file("settings.txt");
    ConfigBuilder named = config;
    named.outputFile = output;
    arbtest::writeText(configPath, named.line());
    arbsuite::seqlink::JoinSettings settings;
    const arbsuite::seqlink::JoinStatus read =
        arbsuite::seqlink::readJoinSettings(configPath.c_str(), settings);
    if (read.status != SEQLINK_OK) return read;
    return arbsuite::seqlink::joinSegments(settings, joined, check, keptBytes, progress);
  }

  arbtest::ScratchDir dir_;
};

// Segments of odd lengths (so the cipher pieces straddle them), a blank, a level
// that the RMS mode scales and a clock the HIGHEST mode raises: the same file.
TEST_F(SeqlinkSegmentJoinTest, WritesTheFileOfTheThreeCalls) {
  const Values loud = seqtest::rampValues(3001, 6000, 3);
  const Values quiet = seqtest::rampValues(1237, 900, 5);
  const Values middle = seqtest::rampValues(70001, 3000, 7);
  ConfigBuilder config;
  config.segments = {item(addFile("loud.arb", loud), 1e6, 3001, seqtest::energyOf(loud)),
                     item("Blank", 2e6, 513, 0),
                     item(addFile("quiet.arb", quiet), 5e5, 1237, seqtest::energyOf(quiet)),
                     item(addFile("middle.arb", middle), 1e6, 70001, seqtest::energyOf(middle))};
  const Opened expected = openJoined(joinWithCalls(config, dir_.file("calls.arb")));
  for (const std::uint64_t kept :
       {arbsuite::seqlink::kKeptSampleBytes, std::uint64_t{0}, std::uint64_t{20000}}) {
    SCOPED_TRACE(kept);
    const std::string output = dir_.file("settings" + std::to_string(kept) + ".arb");
    std::vector<arbsuite::seqlink::JoinSegment> joined;
    const arbsuite::seqlink::JoinStatus status = joinFromSettings(config, output, kept, joined);
    ASSERT_EQ(status.status, SEQLINK_OK);
    const Opened got = openJoined(output);
    EXPECT_EQ(got.block, expected.block);
    EXPECT_EQ(got.plain, expected.plain);
    ASSERT_EQ(joined.size(), 4u);
    for (const arbsuite::seqlink::JoinSegment& segment : joined) EXPECT_EQ(segment.clock, 2e6);
    EXPECT_EQ(joined[1].name, "Blank");
    EXPECT_EQ(joined[3].samples, 70001);
  }
}

// The progress of a join: each pass names every segment's pairs once, in order, the
// check runs between the passes, and the file is the one written without a report
// (whether the segments are kept between the passes or read again).
TEST_F(SeqlinkSegmentJoinTest, ReportsEverySegmentOnceInEachPass) {
  const Values first = seqtest::rampValues(2001, 5000, 3);
  const Values second = seqtest::rampValues(30001, 2000, 5);
  ConfigBuilder config;
  config.segments = {item(addFile("first.arb", first), 1e6, 2001, seqtest::energyOf(first)),
                     item("Blank", 1e6, 77, 0),
                     item(addFile("second.arb", second), 1e6, 30001, seqtest::energyOf(second))};
  const Opened expected = openJoined(joinWithCalls(config, dir_.file("calls.arb")));
  for (const std::uint64_t kept : {arbsuite::seqlink::kKeptSampleBytes, std::uint64_t{0}}) {
    SCOPED_TRACE(kept);
    std::vector<std::uint64_t> reported;
    std::size_t reportedAtCheck = 0;
    const std::string output = dir_.file("progress" + std::to_string(kept) + ".arb");
    std::vector<arbsuite::seqlink::JoinSegment> joined;
    const arbsuite::seqlink::JoinStatus status = joinFromSettings(
        config, output, kept, joined,
        [&](const std::vector<arbsuite::seqlink::JoinSegment>&) {
          reportedAtCheck = reported.size();
        },
        [&](std::uint64_t pairs) { reported.push_back(pairs); });
    ASSERT_EQ(status.status, SEQLINK_OK);
    EXPECT_EQ(reported, (std::vector<std::uint64_t>{2001, 77, 30001, 2001, 77, 30001}));
    EXPECT_EQ(reportedAtCheck, 3u);
    const Opened got = openJoined(output);
    EXPECT_EQ(got.block, expected.block);
    EXPECT_EQ(got.plain, expected.plain);
  }
}

// More samples than one cipher piece, in segments that are no multiple of a block.
TEST_F(SeqlinkSegmentJoinTest, PiecesAcrossSegmentsGiveTheSameSamples) {
  const std::size_t pairs = arbsuite::seqlink::kCipherPieceLength / 4 + 3;
  const Values first = seqtest::rampValues(pairs, 5000, 11);
  const Values second = seqtest::rampValues(pairs - 2, 5000, 13);
  ConfigBuilder config;
  config.levelMode = "UNCHANGED";
  config.clockRateMode = "UNCHANGED";
  config.segments = {item(addFile("a.arb", first), 1e6, pairs, seqtest::energyOf(first)),
                     item(addFile("b.arb", second), 1e6, pairs - 2, seqtest::energyOf(second))};
  const Opened expected = openJoined(joinWithCalls(config, dir_.file("calls.arb")));
  std::vector<arbsuite::seqlink::JoinSegment> joined;
  ASSERT_EQ(joinFromSettings(config, dir_.file("settings.arb"), 0, joined).status, SEQLINK_OK);
  const Opened got = openJoined(dir_.file("settings.arb"));
  EXPECT_EQ(got.block, expected.block);
  EXPECT_EQ(got.plain, expected.plain);
}

// Segments read in pieces (each longer than several of the reader's pieces, no multiple
// of one) and levelled by the RMS mode piece by piece, a blank longer than a piece: the
// samples of the three calls, also for a segment cut short; a damaged one stops the join
// with the readers' status and leaves no output.
TEST_F(SeqlinkSegmentJoinTest, SegmentsReadInPiecesGiveTheSamplesOfTheCalls) {
  const std::size_t piece = arbsuite::seqlink::kStreamPiecePairs;
  const Values loud = seqtest::rampValues(2 * piece + 12345, 7000, 23);
  const Values quiet = seqtest::rampValues(piece + 3, 1500, 29);
  ConfigBuilder config;
  config.segments = {
      item(addFile("loud.arb", loud), 1e6, loud.size() / 2, seqtest::energyOf(loud)),
      item("Blank", 1e6, piece + 7, 0),
      item(addFile("quiet.arb", quiet), 1e6, quiet.size() / 2, seqtest::energyOf(quiet))};
  const Opened expected = openJoined(joinWithCalls(config, dir_.file("calls.arb")));
  std::vector<arbsuite::seqlink::JoinSegment> joined;
  ASSERT_EQ(joinFromSettings(config, dir_.file("pieces.arb"), 0, joined).status, SEQLINK_OK);
  const Opened got = openJoined(dir_.file("pieces.arb"));
  EXPECT_EQ(got.block, expected.block);
  EXPECT_EQ(got.plain, expected.plain);

  // Cut short, the segment reads as the calls read it (the missing pairs as silence).
  const std::string loudFile = dir_.file("loud.arb");
  std::filesystem::resize_file(loudFile, std::filesystem::file_size(loudFile) - 4096);
  const Opened cutExpected = openJoined(joinWithCalls(config, dir_.file("cut-calls.arb")));
  ASSERT_EQ(joinFromSettings(config, dir_.file("cut.arb"), 0, joined).status, SEQLINK_OK);
  EXPECT_EQ(openJoined(dir_.file("cut.arb")).plain, cutExpected.plain);

  // A damaged header stops the join with the readers' status and leaves no output.
  {
    std::fstream damaged(loudFile, std::ios::in | std::ios::out | std::ios::binary);
    damaged.seekp(208 + 3);  // a byte of the header's CRC
    damaged.put('\x5a');
  }
  const std::string output = dir_.file("damaged.arb");
  EXPECT_NE(joinFromSettings(config, output, 0, joined).status, SEQLINK_OK);
  EXPECT_FALSE(std::filesystem::exists(output));
}

// Without a check the join is written in one pass, its header put in front at the
// end; with one it takes two passes. Both give the file of the three calls, also
// where the one pass must give way to the two: configured energies whose digits
// differ from the measured ones (the text, and so the data's offset, come out
// longer), and a join without a single pair.
TEST_F(SeqlinkSegmentJoinTest, OnePassAndTwoPassesWriteTheSameFile) {
  const std::size_t piece = arbsuite::seqlink::kStreamPiecePairs;
  const Values loud = seqtest::rampValues(piece + 4097, 9000, 31);
  const Values quiet = seqtest::rampValues(3333, 700, 37);
  struct Case {
    const char* what;
    std::string levelMode;
    double loudEnergy;  // as configured
    std::size_t blankPairs;
  };
  const std::vector<Case> cases = {
      {"levels kept", "UNCHANGED", seqtest::energyOf(loud), 10},
      {"levelled", "RMS", seqtest::energyOf(loud), piece + 1},
      {"energy configured too small", "UNCHANGED", 1.0, 10},
      {"levelled from an energy too large", "RMS", 1e9, 10},
      {"levelled from a negative energy", "RMS", -3.5, 10},
      {"levelled from an energy of silence", "RMS", 0.0, 10},
  };
  const auto noCheck = arbsuite::seqlink::JoinCheck{};
  const auto check = [](const std::vector<arbsuite::seqlink::JoinSegment>&) {};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ConfigBuilder config;
    config.levelMode = c.levelMode;
    config.segments = {
        item(addFile("loud.arb", loud), 1e6, loud.size() / 2, c.loudEnergy),
        item("Blank", 1e6, c.blankPairs, 0),
        item(addFile("quiet.arb", quiet), 1e6, quiet.size() / 2, seqtest::energyOf(quiet))};
    const Opened expected = openJoined(joinWithCalls(config, dir_.file("calls.arb")));
    for (const std::uint64_t kept : {arbsuite::seqlink::kKeptSampleBytes, std::uint64_t{0}}) {
      std::vector<arbsuite::seqlink::JoinSegment> once;
      std::vector<arbsuite::seqlink::JoinSegment> twice;
      ASSERT_EQ(joinFromSettings(config, dir_.file("once.arb"), kept, once, noCheck).status,
                SEQLINK_OK);
      ASSERT_EQ(joinFromSettings(config, dir_.file("twice.arb"), kept, twice, check).status,
                SEQLINK_OK);
      const Opened gotOnce = openJoined(dir_.file("once.arb"));
      const Opened gotTwice = openJoined(dir_.file("twice.arb"));
      EXPECT_EQ(gotOnce.block, expected.block) << kept;
      EXPECT_EQ(gotOnce.plain, expected.plain) << kept;
      EXPECT_EQ(gotTwice.block, expected.block) << kept;
      EXPECT_EQ(gotTwice.plain, expected.plain) << kept;
      ASSERT_EQ(once.size(), twice.size());
      for (std::size_t i = 0; i < once.size(); ++i) EXPECT_EQ(once[i].energy, twice[i].energy);
    }
  }

  // No pairs at all: the file is its header and info block.
  ConfigBuilder empty;
  empty.segments = {item("Blank", 1e6, 0, 0)};
  const Opened expected = openJoined(joinWithCalls(empty, dir_.file("calls.arb")));
  std::vector<arbsuite::seqlink::JoinSegment> joined;
  ASSERT_EQ(joinFromSettings(empty, dir_.file("empty.arb"), 0, joined).status, SEQLINK_OK);
  const Opened got = openJoined(dir_.file("empty.arb"));
  EXPECT_EQ(got.block, expected.block);
  EXPECT_TRUE(got.plain.empty());
}

// The one pass writes no further than the two would: a damaged segment after a good
// one leaves no output, and an output that is a folder is refused with the status of
// the two passes.
TEST_F(SeqlinkSegmentJoinTest, AOnePassJoinThatFailsLeavesWhatTheTwoPassesLeave) {
  const Values values = seqtest::rampValues(3000, 4000, 41);
  const std::string good = addFile("good.arb", values);
  const std::string bad = addFile("bad.arb", values);
  {
    std::fstream damaged(bad, std::ios::in | std::ios::out | std::ios::binary);
    damaged.seekp(208 + 3);  // a byte of the header's CRC
    damaged.put('\x5a');
  }
  ConfigBuilder config;
  config.segments = {item(good, 1e6, 3000, seqtest::energyOf(values)),
                     item(bad, 1e6, 3000, seqtest::energyOf(values))};
  const auto check = [](const std::vector<arbsuite::seqlink::JoinSegment>&) {};
  std::vector<arbsuite::seqlink::JoinSegment> joined;
  const std::string output = dir_.file("out.arb");
  const arbsuite::seqlink::JoinStatus once = joinFromSettings(config, output, 0, joined);
  EXPECT_FALSE(std::filesystem::exists(output));
  const arbsuite::seqlink::JoinStatus twice = joinFromSettings(config, output, 0, joined, check);
  EXPECT_NE(once.status, SEQLINK_OK);
  EXPECT_EQ(once.status, twice.status);
  EXPECT_EQ(once.step, twice.step);
  EXPECT_FALSE(std::filesystem::exists(output));

  config.segments = {item(good, 1e6, 3000, seqtest::energyOf(values))};
  std::filesystem::create_directory(dir_.file("folder"));
  const arbsuite::seqlink::JoinStatus folderOnce =
      joinFromSettings(config, dir_.file("folder"), 0, joined);
  const arbsuite::seqlink::JoinStatus folderTwice =
      joinFromSettings(config, dir_.file("folder"), 0, joined, check);
  EXPECT_EQ(folderOnce.status, SEQLINK_DATA_CANNOT_OPEN);
  EXPECT_EQ(folderOnce.status, folderTwice.status);
  EXPECT_EQ(folderOnce.step, folderTwice.step);
  EXPECT_TRUE(std::filesystem::is_directory(dir_.file("folder")));
}

// The encryptor fed in random lengths writes the bytes of one call over everything.
TEST(SeqlinkPieceEncryptor, AnySplitOfTheSamplesGivesTheBytesOfOneCall) {
  std::mt19937 random(17);
  Bytes plain(20003);
  for (auto& b : plain) b = static_cast<std::uint8_t>(random());
  const seqtest::DataKey key = seqtest::testKey();
  Bytes whole(arbsuite::arb::roundUpToBlock(plain.size()));
  std::uint32_t wholeLength = static_cast<std::uint32_t>(whole.size());
  ASSERT_EQ(EncOrDecOpt(2, plain.data(), static_cast<std::uint32_t>(plain.size()), key.data(),
                        whole.data(), &wholeLength, 0) &
                0xFFFF,
            0);
  for (const std::size_t pieceLength : {std::size_t{64}, std::size_t{4096}, std::size_t{65536}}) {
    Bytes written;
    std::size_t calls = 0;
    arbsuite::seqlink::PieceEncryptor pieces(key.data(), pieceLength,
                                             [&](const std::uint8_t* p, std::size_t n) {
                                               written.insert(written.end(), p, p + n);
                                               ++calls;
                                               return true;
                                             });
    for (std::size_t at = 0; at < plain.size();) {
      const std::size_t take = std::min<std::size_t>(plain.size() - at, random() % 3000);
      ASSERT_EQ(pieces.add(plain.data() + at, take), SEQLINK_OK);
      at += take;
    }
    ASSERT_EQ(pieces.finish(), SEQLINK_OK);
    EXPECT_EQ(written, whole) << pieceLength;
    EXPECT_EQ(calls, (whole.size() + pieceLength - 1) / pieceLength) << pieceLength;
  }
}

// Segments of many pieces each (read ahead on a second thread), one levelled, the
// same file twice and a long blank between: the one pass and the two give the
// samples and energies of the three calls.
TEST_F(SeqlinkSegmentJoinTest, AJoinOfManyPiecesGivesTheSamplesOfTheCalls) {
  const std::size_t piece = arbsuite::seqlink::kStreamPiecePairs;
  const Values loud = seqtest::rampValues(3 * piece + 777, 12000, 43);
  const Values quiet = seqtest::rampValues(2 * piece, 2500, 47);
  const std::string loudFile = addFile("loud.arb", loud);
  ConfigBuilder config;
  config.levelMode = "RMS";
  config.segments = {
      item(loudFile, 1e6, loud.size() / 2, seqtest::energyOf(loud)),
      item("Blank", 1e6, 2 * piece + 5, 0),
      item(addFile("quiet.arb", quiet), 1e6, quiet.size() / 2, seqtest::energyOf(quiet)),
      item(loudFile, 1e6, piece + 1, seqtest::energyOf(loud))};
  const Opened expected = openJoined(joinWithCalls(config, dir_.file("calls.arb")));
  const auto check = [](const std::vector<arbsuite::seqlink::JoinSegment>&) {};
  for (const bool twoPasses : {false, true}) {
    SCOPED_TRACE(twoPasses ? "two passes" : "one pass");
    std::vector<arbsuite::seqlink::JoinSegment> joined;
    const arbsuite::seqlink::JoinCheck noCheck;
    ASSERT_EQ(
        joinFromSettings(config, dir_.file("ahead.arb"), 0, joined, twoPasses ? check : noCheck)
            .status,
        SEQLINK_OK);
    const Opened got = openJoined(dir_.file("ahead.arb"));
    EXPECT_EQ(got.block, expected.block);
    EXPECT_TRUE(got.plain == expected.plain);
  }
}

// A write that fails in the middle of a segment read ahead (the file size limit
// reached after the first pieces) stops the join with the status and step it always
// had, in one pass and in two, and leaves no file, not even a temporary one. Run in a
// child process, whose limit is its own.
TEST_F(SeqlinkSegmentJoinTest, AWriteThatFailsInTheMiddleOfASegmentLeavesNoFile) {
  const std::size_t piece = arbsuite::seqlink::kStreamPiecePairs;
  const Values values = seqtest::rampValues(4 * piece + 99, 9000, 53);
  ConfigBuilder config;
  config.segments = {
      item(addFile("long.arb", values), 1e6, values.size() / 2, seqtest::energyOf(values))};
  const auto check = [](const std::vector<arbsuite::seqlink::JoinSegment>&) {};
  const std::filesystem::path out = dir_.file("out");
  std::filesystem::create_directory(out);
  for (const bool twoPasses : {false, true}) {
    SCOPED_TRACE(twoPasses ? "two passes" : "one pass");
    int channel[2];
    ASSERT_EQ(::pipe(channel), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(channel[0]);
      std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
      const rlimit limit{6 << 20, 6 << 20};
      ::setrlimit(RLIMIT_FSIZE, &limit);
      std::vector<arbsuite::seqlink::JoinSegment> joined;
      const arbsuite::seqlink::JoinStatus status = joinFromSettings(
          config, (out / "joined.arb").string(), 0, joined,
          twoPasses ? arbsuite::seqlink::JoinCheck(check) : arbsuite::seqlink::JoinCheck());
      const int report[2] = {status.status, static_cast<int>(status.step)};
      const bool sent = ::write(channel[1], report, sizeof report) == sizeof report;
      ::_exit(sent ? 0 : 1);
    }
    ::close(channel[1]);
    int report[2] = {0, -1};
    const bool received = ::read(channel[0], report, sizeof report) == sizeof report;
    ::close(channel[0]);
    int exit = 0;
    ASSERT_EQ(::waitpid(child, &exit, 0), child);
    ASSERT_TRUE(received && WIFEXITED(exit) && WEXITSTATUS(exit) == 0);
    EXPECT_EQ(report[0], SEQLINK_DATA_CANNOT_OPEN);
    EXPECT_EQ(report[1], static_cast<int>(arbsuite::seqlink::JoinStep::BuildFile));
    EXPECT_TRUE(std::filesystem::is_empty(out));
  }
}

// The streamer's read-ahead seen from take: each piece stays as it was handed over
// while take works on it (the next one is read meanwhile), the pieces join to the
// file's pairs, and a take that fails or throws part-way stops the reading there,
// with its status or exception, leaving the streamer fit for the next segment.
TEST_F(SeqlinkSegmentJoinTest, TheStreamerHandsOverPiecesThatStayPutAndStopsWhereTakeStops) {
  const std::size_t piece = arbsuite::seqlink::kStreamPiecePairs;
  const Values values = seqtest::rampValues(3 * piece + 5, 20000, 59);
  const std::string file = addFile("wave.arb", values);
  arbsuite::seqlink::SegmentStreamer streamer;
  double energy = seqtest::energyOf(values);
  std::uint64_t squares = 0;
  Values got;
  int calls = 0;
  const auto keepAndCheck = [&](std::span<const std::int16_t> values) {
    const Values copy(values.begin(), values.end());
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the next read is done
    EXPECT_TRUE(std::equal(values.begin(), values.end(), copy.begin(), copy.end())) << calls;
    got.insert(got.end(), copy.begin(), copy.end());
    ++calls;
    return SEQLINK_OK;
  };
  ASSERT_EQ(streamer.stream(file, values.size() / 2, std::nullopt, energy, squares, keepAndCheck),
            SEQLINK_OK);
  EXPECT_EQ(calls, 4);
  EXPECT_TRUE(got == values);

  calls = 0;
  const auto failSecond = [&](std::span<const std::int16_t>) {
    return ++calls == 2 ? SEQLINK_DATA_CANNOT_OPEN : SEQLINK_OK;
  };
  EXPECT_EQ(streamer.stream(file, values.size() / 2, std::nullopt, energy, squares, failSecond),
            SEQLINK_DATA_CANNOT_OPEN);
  EXPECT_EQ(calls, 2);

  struct Stop {};
  calls = 0;
  const auto throwSecond = [&](std::span<const std::int16_t>) {
    if (++calls == 2) throw Stop{};
    return SEQLINK_OK;
  };
  EXPECT_THROW(streamer.stream(file, values.size() / 2, std::nullopt, energy, squares, throwSecond),
               Stop);
  EXPECT_EQ(calls, 2);

  got.clear();
  calls = 0;
  ASSERT_EQ(streamer.stream(file, values.size() / 2, std::nullopt, energy, squares, keepAndCheck),
            SEQLINK_OK);
  EXPECT_TRUE(got == values);
}

// A streamer of any piece size hands over the samples, energy and sum of squares of
// the whole segment loaded at once, levelled or not, in pieces of the size asked
// (the first one capped by firstPairs); also from configured energies with no level
// to scale from (negative, silence, NaN, infinite).
TEST_F(SeqlinkSegmentJoinTest, AStreamerOfAnyPieceSizeGivesTheWholeLoadsSamplesAndEnergy) {
  const Values values = seqtest::rampValues(1001, 12000, 61);
  const std::string file = addFile("wave.arb", values);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (const double configured : {seqtest::energyOf(values), -4.0, 0.0, nan, inf}) {
    for (const std::optional<double> target :
         {std::optional<double>{}, std::optional<double>{0.1}}) {
      Values whole(values.size());
      double wholeEnergy = configured;
      ASSERT_EQ(
          arbsuite::seqlink::loadSegmentSamples(whole.data(), 1001, target, wholeEnergy, file),
          SEQLINK_OK);
      std::uint64_t wholeSquares = 0;
      for (const std::int16_t v : whole) wholeSquares += static_cast<std::uint64_t>(v * v);
      for (const std::size_t piece : {2u, 3u, 7u, 256u, 5000u}) {
        arbsuite::seqlink::SegmentStreamer streamer(piece);
        for (const std::size_t firstPairs : {0u, 1u, 5u}) {
          SCOPED_TRACE(testing::Message()
                       << "energy " << configured << ", target " << target.value_or(0) << ", piece "
                       << piece << ", first " << firstPairs);
          Values got;
          std::vector<std::size_t> sizes;
          double energy = configured;
          std::uint64_t squares = 0;
          ASSERT_EQ(streamer.stream(
                        file, 1001, target, energy, squares,
                        [&](std::span<const std::int16_t> part) {
                          sizes.push_back(part.size() / 2);
                          got.insert(got.end(), part.begin(), part.end());
                          return SEQLINK_OK;
                        },
                        firstPairs),
                    SEQLINK_OK);
          EXPECT_TRUE(got == whole);
          if (std::isnan(wholeEnergy)) {
            EXPECT_TRUE(std::isnan(energy));
          } else {
            EXPECT_EQ(energy, wholeEnergy);
          }
          EXPECT_EQ(squares, wholeSquares);
          ASSERT_FALSE(sizes.empty());
          const std::size_t first = firstPairs > 0 ? std::min(firstPairs, piece) : piece;
          EXPECT_EQ(sizes.front(), std::min<std::size_t>(first, 1001));
          for (std::size_t k = 1; k + 1 < sizes.size(); ++k) EXPECT_EQ(sizes[k], piece) << k;
        }
      }
    }
  }
}

// A segment that cannot be read again leaves no output, and a check that throws stops
// the join before anything is written.
TEST_F(SeqlinkSegmentJoinTest, AFailedSecondPassOrCheckLeavesNoFile) {
  const Values values = seqtest::rampValues(2000, 4000, 19);
  const std::string segmentFile = addFile("gone.arb", values);
  ConfigBuilder config;
  config.segments = {item(segmentFile, 1e6, 2000, seqtest::energyOf(values)),
                     item("Blank", 1e6, 10, 0)};
  const std::string output = dir_.file("out.arb");
  std::vector<arbsuite::seqlink::JoinSegment> joined;
  const arbsuite::seqlink::JoinStatus status = joinFromSettings(
      config, output, 0, joined, [&](const std::vector<arbsuite::seqlink::JoinSegment>&) {
        std::filesystem::remove(segmentFile);
      });
  EXPECT_EQ(status.status, SEQLINK_DATA_CANNOT_OPEN);
  EXPECT_EQ(status.step, arbsuite::seqlink::JoinStep::BuildFile);
  EXPECT_FALSE(std::filesystem::exists(output));

  addFile("gone.arb", values);
  struct Stop {};
  EXPECT_THROW(
      joinFromSettings(config, output, arbsuite::seqlink::kKeptSampleBytes, joined,
                       [](const std::vector<arbsuite::seqlink::JoinSegment>&) { throw Stop{}; }),
      Stop);
  EXPECT_FALSE(std::filesystem::exists(output));
}

// The configuration reader gives readMultiSegConfig's statuses, and a bad segment
// item outputIQDataAndInf's, each with its step; the kept configuration is untouched.
TEST_F(SeqlinkSegmentJoinTest, ReadsConfigurationsWithTheCallsStatuses) {
  // A failed read clears what readMultiSegConfig keeps.
  char outputFile[256];
  int segments = 0, total = 0;
  readMultiSegConfig(dir_.file("missing.txt").c_str(), outputFile, &segments, &total);
  arbsuite::seqlink::JoinSettings settings;
  EXPECT_EQ(arbsuite::seqlink::readJoinSettings(dir_.file("missing.txt").c_str(), settings).status,
            SEQLINK_CONFIG_CANNOT_OPEN);
  ConfigBuilder noMode;
  noMode.segments = {item("Blank", 1e6, 10, 0)};
  noMode.omit = {"LEVEL MODE:"};
  arbtest::writeText(dir_.file("c.txt"), noMode.line());
  arbsuite::seqlink::JoinStatus status =
      arbsuite::seqlink::readJoinSettings(dir_.file("c.txt").c_str(), settings);
  EXPECT_EQ(status.status, SEQLINK_BAD_ITEM);
  EXPECT_EQ(status.step, arbsuite::seqlink::JoinStep::ReadConfig);

  ConfigBuilder longName;
  longName.segments = {item(std::string(300, 'n'), 1e6, 10, 0)};
  arbtest::writeText(dir_.file("c.txt"), longName.line());
  status = arbsuite::seqlink::readJoinSettings(dir_.file("c.txt").c_str(), settings);
  EXPECT_EQ(status.status, SEQLINK_NAME_TOO_LONG);
  EXPECT_EQ(status.step, arbsuite::seqlink::JoinStep::LoadSegments);

  ConfigBuilder good;
  good.segments = {item("Blank", 1e6, 10, 0), item("Blank", 2e6, 20, 0)};
  good.clockRateMode = "USER";
  good.userClockRate = "5000000";
  arbtest::writeText(dir_.file("c.txt"), good.line());
  status = arbsuite::seqlink::readJoinSettings(dir_.file("c.txt").c_str(), settings);
  ASSERT_EQ(status.status, SEQLINK_OK);
  ASSERT_EQ(settings.segments.size(), 2u);
  EXPECT_EQ(settings.segments[1].samples, 20);
  EXPECT_EQ(settings.clockMode, "USER");
  EXPECT_EQ(settings.userClock, 5e6);
  EXPECT_EQ(settings.output, "out.arb");
  // outputIQDataAndInf still has no configuration to work on.
  short sample[2];
  char name[256];
  double clock, energy;
  int count;
  EXPECT_NE(outputIQDataAndInf(sample, name, &clock, &count, &energy), SEQLINK_OK);
}

}  // namespace
