// readMultiSegConfig: the one-line segment configuration file and what it keeps.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "multi_segment_config.h"
#include "segment_config_builder.h"
#include "seqlink.h"
#include "seqlink_test_support.h"

namespace {

using seqtest::ConfigBuilder;
using seqtest::ScratchDir;

struct Result {
  int status = -1;
  char outputFile[256] = "untouched";
  int segmentCount = -7;
  int totalSamples = -7;
};

class SeqlinkSegmentConfigTest : public ::testing::Test {
 protected:
  Result read(const std::string& content) {
    const std::string path = dir_.file("config.txt");
    arbtest::writeText(path, content);
    Result r;
    r.status = readMultiSegConfig(path.c_str(), r.outputFile, &r.segmentCount, &r.totalSamples);
    return r;
  }

  static ConfigBuilder threeSegments() {
    ConfigBuilder b;
    b.segments = {ConfigBuilder::segment("a.arb", "100000000", "10", "1.5"),
                  ConfigBuilder::segment("Blank", "200000000", "20", "0"),
                  ConfigBuilder::segment("c d.arb", "1e6", "5", "2.25")};
    return b;
  }

  ScratchDir dir_;
};

TEST_F(SeqlinkSegmentConfigTest, ReadsCountsOutputAndKeepsTheConfiguration) {
  ConfigBuilder b = threeSegments();
  b.levelMode = "UNCHANGED";
  b.clockRateMode = "USER";
  b.userClockRate = "2.5e7";
  b.marker = "M1";
  b.firstRestart = "F2";
  b.everyRestart = "E3";
  const std::string line = b.line();
  const Result r = read(line + "\n{ignored second line}");
  ASSERT_EQ(r.status, SEQLINK_OK);
  EXPECT_EQ(r.segmentCount, 3);
  EXPECT_EQ(r.totalSamples, 35);
  EXPECT_STREQ(r.outputFile, "out.arb");

  const arbsuite::seqlink::SegmentConfig& config = arbsuite::seqlink::segmentConfig();
  EXPECT_EQ(config.configLine, line);
  EXPECT_EQ(config.segmentCount, 3);
  EXPECT_EQ(config.levelMode, "UNCHANGED");
  EXPECT_EQ(config.clockRateMode, "USER");
  EXPECT_DOUBLE_EQ(config.userClockRate, 2.5e7);
  EXPECT_EQ(config.segmentMarker, "M1");
  EXPECT_EQ(config.firstSegmentRestartMarker, "F2");
  EXPECT_EQ(config.everySegmentRestartMarker, "E3");
}

TEST_F(SeqlinkSegmentConfigTest, ItemsMayStandInAnyOrder) {
  const Result r = read(
      "junk{OUTPUT FILE:x.arb}{EVERY SEGMENT RESTART MARKER:1}{SEGMENT_0:\"Blank\",1,4,0}"
      "{USER CLOCKRATE:5}{LEVEL MODE:RMS}{FIRST SEGMENT RESTART MARKER:1}"
      "{CLOCKRATE MODE:UNCHANGED}{SEGMENT MARKER:1}{NUMBER SEGMENTS:1}");
  ASSERT_EQ(r.status, SEQLINK_OK);
  EXPECT_EQ(r.totalSamples, 4);
  EXPECT_STREQ(r.outputFile, "x.arb");
}

TEST_F(SeqlinkSegmentConfigTest, OnlyTheFirstLineCounts) {
  ConfigBuilder b = threeSegments();
  b.omit = {"OUTPUT FILE:"};
  const Result r = read(b.line() + "\n{OUTPUT FILE:later.arb}");
  EXPECT_EQ(r.status, SEQLINK_BAD_ITEM);
}

TEST_F(SeqlinkSegmentConfigTest, EmptyFileIsConfigEmptyAndEmptyFirstLineIsBadItem) {
  EXPECT_EQ(read("").status, SEQLINK_CONFIG_EMPTY);
  EXPECT_EQ(read("\n" + threeSegments().line()).status, SEQLINK_BAD_ITEM);
}

TEST_F(SeqlinkSegmentConfigTest, MissingFileIsConfigCannotOpen) {
  Result r;
  EXPECT_EQ(readMultiSegConfig(dir_.file("absent.txt").c_str(), r.outputFile, &r.segmentCount,
                               &r.totalSamples),
            SEQLINK_CONFIG_CANNOT_OPEN);
  EXPECT_EQ(readMultiSegConfig(dir_.path().c_str(), r.outputFile, &r.segmentCount, &r.totalSamples),
            SEQLINK_CONFIG_CANNOT_OPEN);
  EXPECT_STREQ(r.outputFile, "untouched");
}

TEST_F(SeqlinkSegmentConfigTest, SpecialFilesAreRefusedBeforeTheyCanBlock) {
  // A FIFO without a writer would block an open for reading; /dev/zero would feed
  // the line without end.
  ASSERT_EQ(::mkfifo(dir_.file("fifo.txt").c_str(), 0666), 0);
  for (const std::string& path : {dir_.file("fifo.txt"), std::string("/dev/zero")}) {
    Result r;
    EXPECT_EQ(readMultiSegConfig(path.c_str(), r.outputFile, &r.segmentCount, &r.totalSamples),
              SEQLINK_CONFIG_CANNOT_OPEN)
        << path;
    EXPECT_STREQ(r.outputFile, "untouched");
  }
}

TEST_F(SeqlinkSegmentConfigTest, FirstLineLongerThanTheLimitIsBadItem) {
  // A marker value fills the line up to exactly the limit: still read. One more
  // byte, with or without a line feed after it, and the line is refused.
  ConfigBuilder b = threeSegments();
  const std::size_t base = b.line().size();
  ASSERT_LT(base, SEQLINK_CONFIG_LINE_LIMIT);
  b.marker = std::string(SEQLINK_CONFIG_LINE_LIMIT - base + 1, 'm');
  ASSERT_EQ(b.line().size(), SEQLINK_CONFIG_LINE_LIMIT);
  EXPECT_EQ(read(b.line() + "\n").status, SEQLINK_OK);
  EXPECT_EQ(read(b.line()).status, SEQLINK_OK);
  b.marker += "m";
  EXPECT_EQ(read(b.line() + "\nsecond line").status, SEQLINK_BAD_ITEM);
  const Result r = read(b.line() + std::string(3 << 20, 'x'));  // no line feed at all
  EXPECT_EQ(r.status, SEQLINK_BAD_ITEM);
  EXPECT_STREQ(r.outputFile, "untouched");
}

TEST_F(SeqlinkSegmentConfigTest, ZeroSegmentsGiveTotalZero) {
  ConfigBuilder b;
  const Result r = read(b.line());
  ASSERT_EQ(r.status, SEQLINK_OK);
  EXPECT_EQ(r.segmentCount, 0);
  EXPECT_EQ(r.totalSamples, 0);
}

class SeqlinkRequiredItemTest : public SeqlinkSegmentConfigTest,
                                public ::testing::WithParamInterface<const char*> {};

TEST_P(SeqlinkRequiredItemTest, MissingItemIsBadItem) {
  ConfigBuilder b = threeSegments();
  b.clockRateMode = "UNCHANGED";  // USER CLOCKRATE is required whatever the mode
  b.omit = {GetParam()};
  EXPECT_EQ(read(b.line()).status, SEQLINK_BAD_ITEM);
}

TEST_P(SeqlinkRequiredItemTest, EmptyItemIsBadItem) {
  ConfigBuilder b = threeSegments();
  const std::string key = GetParam();
  std::string line = b.line();
  // Empty the value of the item.
  const std::size_t at = line.find("{" + key) + 1 + key.size();
  line.erase(at, line.find('}', at) - at);
  EXPECT_EQ(read(line).status, SEQLINK_BAD_ITEM);
}

INSTANTIATE_TEST_SUITE_P(Items, SeqlinkRequiredItemTest,
                         ::testing::Values("NUMBER SEGMENTS:", "SEGMENT_1", "LEVEL MODE:",
                                           "CLOCKRATE MODE:", "USER CLOCKRATE:", "OUTPUT FILE:",
                                           "SEGMENT MARKER:", "FIRST SEGMENT RESTART MARKER:",
                                           "EVERY SEGMENT RESTART MARKER:"));

class SeqlinkMalformedSegmentTest : public SeqlinkSegmentConfigTest,
                                    public ::testing::WithParamInterface<const char*> {};

TEST_P(SeqlinkMalformedSegmentTest, IsBadItem) {
  ConfigBuilder b;
  b.segments = {GetParam()};
  EXPECT_EQ(read(b.line()).status, SEQLINK_BAD_ITEM);
}

INSTANTIATE_TEST_SUITE_P(Values, SeqlinkMalformedSegmentTest,
                         ::testing::Values("a.arb,1,2,3",                 // no quotes
                                           "\"a.arb,1,2,3",               // one quote
                                           "\"\",1,2,3",                  // empty name
                                           "\"a.arb\",1,2",               // energy missing
                                           "\"a.arb\",,2,3",              // empty clock
                                           "\"a.arb\",1,,3",              // empty count
                                           "\"a.arb\",1,2,",              // empty energy
                                           "\"a.arb\",1,-2,3",            // negative count
                                           "\"a.arb\",1,3000000000,3"));  // count beyond int

TEST_F(SeqlinkSegmentConfigTest, ANameWithACommaShiftsTheFields) {
  // Commas are counted over the whole value: the count field becomes "1".
  ConfigBuilder b;
  b.segments = {"\"a,b.arb\",1,2,3"};
  const Result r = read(b.line());
  ASSERT_EQ(r.status, SEQLINK_OK);
  EXPECT_EQ(r.totalSamples, 1);
}

TEST_F(SeqlinkSegmentConfigTest, TotalOverflowingIntIsBadItem) {
  ConfigBuilder b;
  b.segments = {ConfigBuilder::segment("Blank", "1", "2147483647", "0"),
                ConfigBuilder::segment("Blank", "1", "1", "0")};
  EXPECT_EQ(read(b.line()).status, SEQLINK_BAD_ITEM);
  b.segments.pop_back();
  const Result r = read(b.line());
  EXPECT_EQ(r.status, SEQLINK_OK);
  EXPECT_EQ(r.totalSamples, 2147483647);
}

TEST_F(SeqlinkSegmentConfigTest, NegativeOrHugeSegmentCountIsBadItem) {
  ConfigBuilder b = threeSegments();
  b.count = "-1";
  Result r = read(b.line());
  EXPECT_EQ(r.status, SEQLINK_BAD_ITEM);
  EXPECT_EQ(r.segmentCount, -1);  // stored before the failure
  b.count = "2000000000";         // asks for items the line does not hold
  r = read(b.line());
  EXPECT_EQ(r.status, SEQLINK_BAD_ITEM);
  EXPECT_EQ(r.segmentCount, 2000000000);
  b.count = "99999999999999999999";
  EXPECT_EQ(read(b.line()).status, SEQLINK_BAD_ITEM);
}

TEST_F(SeqlinkSegmentConfigTest, FewerSegmentsThanItemsReadsOnlyThose) {
  ConfigBuilder b = threeSegments();
  b.count = "2";
  const Result r = read(b.line());
  ASSERT_EQ(r.status, SEQLINK_OK);
  EXPECT_EQ(r.totalSamples, 30);
}

TEST_F(SeqlinkSegmentConfigTest, OutputNameOf255IsAcceptedAnd256IsNameTooLong) {
  ConfigBuilder b = threeSegments();
  b.outputFile = std::string(251, 'x') + ".arb";
  Result r = read(b.line());
  ASSERT_EQ(r.status, SEQLINK_OK);
  EXPECT_EQ(std::string(r.outputFile), b.outputFile);
  b.outputFile = std::string(252, 'x') + ".arb";
  r = read(b.line());
  EXPECT_EQ(r.status, SEQLINK_NAME_TOO_LONG);
  EXPECT_STREQ(r.outputFile, "untouched");
  EXPECT_EQ(r.totalSamples, 35);  // written before the failure
}

TEST_F(SeqlinkSegmentConfigTest, ValuesKeepTheirSpaces) {
  ConfigBuilder b = threeSegments();
  b.levelMode = " RMS";
  ASSERT_EQ(read(b.line()).status, SEQLINK_OK);
  EXPECT_EQ(arbsuite::seqlink::segmentConfig().levelMode, " RMS");
}

TEST_F(SeqlinkSegmentConfigTest, AFailedReadLeavesNoConfigurationBehind) {
  ASSERT_EQ(read(threeSegments().line()).status, SEQLINK_OK);
  ConfigBuilder broken = threeSegments();
  broken.omit = {"SEGMENT MARKER:"};
  ASSERT_EQ(read(broken.line()).status, SEQLINK_BAD_ITEM);
  EXPECT_EQ(arbsuite::seqlink::segmentConfig().segmentCount, 0);
  EXPECT_TRUE(arbsuite::seqlink::segmentConfig().configLine.empty());
  EXPECT_EQ(outputIQDataAndInf(nullptr, nullptr, nullptr, nullptr, nullptr), SEQLINK_BAD_ITEM);
}

TEST_F(SeqlinkSegmentConfigTest, NullArgumentsAreRefused) {
  const std::string path = dir_.file("config.txt");
  arbtest::writeText(path, threeSegments().line());
  char output[256];
  int count = 0, total = 0;
  EXPECT_EQ(readMultiSegConfig(nullptr, output, &count, &total), SEQLINK_CONFIG_CANNOT_OPEN);
  EXPECT_EQ(readMultiSegConfig(path.c_str(), nullptr, &count, &total), SEQLINK_BAD_ITEM);
  EXPECT_EQ(readMultiSegConfig(path.c_str(), output, nullptr, &total), SEQLINK_BAD_ITEM);
  EXPECT_EQ(readMultiSegConfig(path.c_str(), output, &count, nullptr), SEQLINK_BAD_ITEM);
}

TEST_F(SeqlinkSegmentConfigTest, AZeroByteEndsTheLine) {
  ConfigBuilder b = threeSegments();
  std::string content = b.line();
  const std::size_t at = content.find("{OUTPUT FILE:");
  content.insert(at, std::string(1, '\0'));
  EXPECT_EQ(read(content).status, SEQLINK_BAD_ITEM);
}

}  // namespace
