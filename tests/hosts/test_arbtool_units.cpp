// Unit tests of arbtool's own code: the segment configuration writer, the checks of
// a join and the words of the multi-segment library's statuses.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "arb_format.h"
#include "config_writer.h"
#include "join_checks.h"
#include "status_words.h"

namespace {

// --- segment configuration ------------------------------------------------------

// An independent reading of one segment item, as the multi-segment reader does
// it: first occurrence of the key, value up to the next "}", name between the
// first two quotes, fields between the commas.
struct ReadSegment {
  std::string name;
  double clock;
  long count;
  double energy;
};

ReadSegment readSegment(const std::string& line, int index) {
  const std::string key = "SEGMENT_" + std::to_string(index);
  const auto start = line.find(key);
  EXPECT_NE(start, std::string::npos);
  const auto end = line.find('}', start);
  const std::string value = line.substr(start + key.size(), end - start - key.size());
  const auto q1 = value.find('"');
  const auto q2 = value.find('"', q1 + 1);
  const auto c1 = value.find(',');
  const auto c2 = value.find(',', c1 + 1);
  const auto c3 = value.find(',', c2 + 1);
  return {value.substr(q1 + 1, q2 - q1 - 1),
          std::strtod(value.substr(c1 + 1, c2 - c1 - 1).c_str(), nullptr),
          std::strtol(value.substr(c2 + 1, c3 - c2 - 1).c_str(), nullptr, 10),
          std::strtod(value.substr(c3 + 1).c_str(), nullptr)};
}

TEST(HostArbtoolSegmentConfig, ElevenSegmentsReadBackExactlyDespiteSharedKeyPrefixes) {
  arbsuite::arbtool::JoinPlan plan;
  plan.output = "out.arb";
  plan.levelMode = "RMS";
  plan.clockMode = "HIGHEST";
  for (int i = 0; i < 11; ++i) {
    plan.segments.push_back(
        {i % 3 == 1 ? std::string("Blank") : "dir/seg" + std::to_string(i) + ".arb",
         1e6 * (i + 1) / 3.0, 100 + i, 0.1 * i + 1.0 / 7});
  }
  const std::string line = arbsuite::arbtool::formatConfigLine(plan);
  ASSERT_EQ(line.find('\n'), line.size() - 1);  // one line
  for (int i = 0; i < 11; ++i) {
    const ReadSegment s = readSegment(line, i);
    EXPECT_EQ(s.name, plan.segments[static_cast<std::size_t>(i)].name);
    EXPECT_EQ(s.clock, plan.segments[static_cast<std::size_t>(i)].clock);  // exact: 17 digits
    EXPECT_EQ(s.count, 100 + i);
    EXPECT_EQ(s.energy, plan.segments[static_cast<std::size_t>(i)].energy);
  }
  EXPECT_EQ(arbsuite::arb::textAfterKey(line, "NUMBER SEGMENTS:"), "11");
  EXPECT_EQ(arbsuite::arb::textAfterKey(line, "LEVEL MODE:"), "RMS");
  EXPECT_EQ(arbsuite::arb::textAfterKey(line, "CLOCKRATE MODE:"), "HIGHEST");
  EXPECT_EQ(arbsuite::arb::textAfterKey(line, "OUTPUT FILE:"), "out.arb");
  for (const char* key : {"USER CLOCKRATE:", "SEGMENT MARKER:", "FIRST SEGMENT RESTART MARKER:",
                          "EVERY SEGMENT RESTART MARKER:"}) {
    EXPECT_TRUE(arbsuite::arb::textAfterKey(line, key).has_value()) << key;
  }
}

class HostArbtoolUnwritableName : public testing::TestWithParam<const char*> {};

TEST_P(HostArbtoolUnwritableName, IsRefusedRatherThanMisread) {
  arbsuite::arbtool::JoinPlan plan;
  plan.output = "out.arb";
  plan.segments.push_back({GetParam(), 1e6, 10, 1.0});
  EXPECT_THROW(arbsuite::arbtool::formatConfigLine(plan), arbsuite::arbtool::ConfigError);
  plan.segments[0].name = "fine.arb";
  plan.output = GetParam();
  if (std::string(GetParam()).find_first_of("\",") == std::string::npos) {
    EXPECT_THROW(arbsuite::arbtool::formatConfigLine(plan), arbsuite::arbtool::ConfigError);
  }
}

INSTANTIATE_TEST_SUITE_P(All, HostArbtoolUnwritableName,
                         testing::Values("a\"b.arb", "a,b.arb", "a}b.arb", "a{b.arb",
                                         "two\nlines.arb", "SEGMENT_3.arb", "x/LEVEL MODE:y.arb",
                                         ""),
                         [](const testing::TestParamInfo<const char*>& info) {
                           return "name" + std::to_string(info.index);
                         });

TEST(HostArbtoolSegmentConfig, RefusesLongNamesAndUnknownModes) {
  arbsuite::arbtool::JoinPlan plan;
  plan.output = std::string(255, 'o');
  plan.segments.push_back({std::string(255, 's'), 1e6, 1, 0});
  EXPECT_NO_THROW(arbsuite::arbtool::formatConfigLine(plan));
  plan.segments[0].name += "s";
  EXPECT_THROW(arbsuite::arbtool::formatConfigLine(plan), arbsuite::arbtool::ConfigError);
  plan.segments[0].name = "s.arb";
  plan.output += "o";
  EXPECT_THROW(arbsuite::arbtool::formatConfigLine(plan), arbsuite::arbtool::ConfigError);
  EXPECT_THROW(arbsuite::arbtool::levelModeWord("loud"), arbsuite::arbtool::ConfigError);
  EXPECT_EQ(arbsuite::arbtool::clockModeWord("Highest"), "HIGHEST");
}

TEST(HostArbtoolSegmentConfig, BlankSegmentItems) {
  const auto plain = arbsuite::arbtool::parseBlankSegment("blank:500");
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->samples, 500);
  EXPECT_FALSE(plain->clock);
  const auto clocked = arbsuite::arbtool::parseBlankSegment("Blank:3@2.5e6");
  ASSERT_TRUE(clocked);
  EXPECT_EQ(clocked->clock, 2.5e6);
  EXPECT_FALSE(arbsuite::arbtool::parseBlankSegment("blank.arb"));
  EXPECT_FALSE(arbsuite::arbtool::parseBlankSegment("c:/blank"));
  for (const char* bad :
       {"blank:", "blank:0", "blank:-4", "blank:12x", "blank:5@", "blank:5@fast"}) {
    EXPECT_THROW(arbsuite::arbtool::parseBlankSegment(bad), arbsuite::arbtool::ConfigError) << bad;
  }
  // Clocks with the units of every frequency option, and only clocks the instrument plays.
  EXPECT_EQ(arbsuite::arbtool::parseBlankSegment("blank:3@2.5MHz")->clock, 2.5e6);
  EXPECT_EQ(arbsuite::arbtool::parseBlankSegment("blank:3@2.5k")->clock, 2500);
  EXPECT_EQ(arbsuite::arbtool::parseBlankSegment("blank:3@100MHz")->clock, 100e6);
  for (const char* unplayable : {"blank:3@2", "blank:3@999", "blank:3@60MHz", "blank:3@0"}) {
    EXPECT_THROW(arbsuite::arbtool::parseBlankSegment(unplayable), arbsuite::arbtool::ConfigError)
        << unplayable;
  }
  EXPECT_EQ(arbsuite::arbtool::defaultConfigPath("out/joined.arb"), "out/joined-segments.txt");
}

// --- checks of a join ------------------------------------------------------------

arbsuite::arbtool::JoinPlan planOf(const std::vector<double>& clocks, const std::string& mode) {
  arbsuite::arbtool::JoinPlan plan;
  plan.clockMode = mode;
  plan.userClock = 2.5e6;
  for (std::size_t i = 0; i < clocks.size(); ++i) {
    plan.segments.push_back(
        {i % 2 == 0 ? "s" + std::to_string(i) + ".arb" : "Blank", clocks[i], 10, 0});
  }
  return plan;
}

TEST(HostArbtoolJoinChecks, ClocksAreCheckedAsTheyAreWritten) {
  // The clock mode decides which clocks reach the file: an unplayable clock that
  // HIGHEST or USER replaces is no fault.
  EXPECT_EQ(arbsuite::arbtool::writtenClocks(planOf({1e6, 0, 4e6}, "HIGHEST")),
            (std::vector<double>{4e6, 4e6, 4e6}));
  EXPECT_EQ(arbsuite::arbtool::writtenClocks(planOf({1e6, 0}, "USER")),
            (std::vector<double>{2.5e6, 2.5e6}));
  EXPECT_EQ(arbsuite::arbtool::writtenClocks(planOf({1e6, 0}, "UNCHANGED")),
            (std::vector<double>{1e6, 0}));
  EXPECT_NO_THROW(arbsuite::arbtool::checkPlan(planOf({1e6, 0, 4e6}, "HIGHEST")));
  EXPECT_NO_THROW(arbsuite::arbtool::checkPlan(planOf({1e6, 200e6}, "USER")));
  EXPECT_NO_THROW(arbsuite::arbtool::checkPlan(planOf({1e3, 50e6, 100e6}, "UNCHANGED")));
  EXPECT_THROW(arbsuite::arbtool::checkPlan(planOf({1e6, 0}, "UNCHANGED")),
               arbsuite::arbtool::ConfigError);
  EXPECT_THROW(arbsuite::arbtool::checkPlan(planOf({1e6, 60e6}, "HIGHEST")),
               arbsuite::arbtool::ConfigError);
  try {
    arbsuite::arbtool::checkPlan(planOf({1e6, 0}, "UNCHANGED"));
  } catch (const arbsuite::arbtool::ConfigError& e) {
    EXPECT_THAT(std::string(e.what()), ::testing::HasSubstr("segment 1 (Blank)")) << e.what();
    EXPECT_THAT(std::string(e.what()), ::testing::HasSubstr("blank:COUNT@CLOCK")) << e.what();
  }
}

TEST(HostArbtoolJoinChecks, AFileHoldsAtMost69Segments) {
  EXPECT_NO_THROW(arbsuite::arbtool::checkPlan(planOf(std::vector<double>(69, 1e6), "UNCHANGED")));
  EXPECT_THROW(arbsuite::arbtool::checkPlan(planOf(std::vector<double>(70, 1e6), "UNCHANGED")),
               arbsuite::arbtool::ConfigError);
}

TEST(HostArbtoolJoinChecks, ConfiguredClocksOutsideTheRangeAreNamed) {
  EXPECT_FALSE(arbsuite::arbtool::unplayableClock({"a.arb", "Blank"}, {1e6, 100e6}));
  const auto fault = arbsuite::arbtool::unplayableClock({"a.arb", "Blank"}, {1e6, 999});
  ASSERT_TRUE(fault);
  EXPECT_THAT(*fault, ::testing::HasSubstr("segment 1 (Blank)")) << *fault;
  EXPECT_THAT(*fault, ::testing::HasSubstr("999 Hz")) << *fault;
}

TEST(HostArbtoolStatusWords, SameNumberDependsOnTheCall) {
  using arbsuite::arbtool::Call;
  EXPECT_NE(arbsuite::arbtool::statusWords(Call::ReadData, 240),
            arbsuite::arbtool::statusWords(Call::BuildFile, 240));
  for (int status : {4, 7, 9, 15}) {
    EXPECT_THAT(arbsuite::arbtool::statusWords(Call::ReadInfo, status),
                ::testing::Not(::testing::HasSubstr("unknown")));
  }
  for (int status : {240, 241, 242, 243, 246, 247, 248}) {
    EXPECT_THAT(arbsuite::arbtool::statusWords(Call::ReadData, status),
                ::testing::Not(::testing::HasSubstr("unknown")));
  }
  EXPECT_EQ(arbsuite::arbtool::statusWords(Call::ReadConfig, 77), "unknown status 77");
}

}  // namespace
