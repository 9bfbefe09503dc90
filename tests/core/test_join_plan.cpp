// The internal library's join plans: the segment configuration writer, the checks of
// a join and the words of the multi-segment library's statuses.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "arb_format.h"
#include "join_checks.h"
#include "join_plan.h"
#include "seqlink_status_words.h"

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

TEST(CoreSegmentConfig, ElevenSegmentsReadBackExactlyDespiteSharedKeyPrefixes) {
  arbsuite::JoinPlan plan;
  plan.output = "out.arb";
  plan.levelMode = "RMS";
  plan.clockMode = "HIGHEST";
  for (int i = 0; i < 11; ++i) {
    plan.segments.push_back(
        {i % 3 == 1 ? std::string("Blank") : "dir/seg" + std::to_string(i) + ".arb",
         1e6 * (i + 1) / 3.0, 100 + i, 0.1 * i + 1.0 / 7});
  }
  const std::string line = arbsuite::formatConfigLine(plan);
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

class CoreUnwritableName : public testing::TestWithParam<const char*> {};

TEST_P(CoreUnwritableName, IsRefusedRatherThanMisread) {
  arbsuite::JoinPlan plan;
  plan.output = "out.arb";
  plan.segments.push_back({GetParam(), 1e6, 10, 1.0});
  EXPECT_THROW(arbsuite::formatConfigLine(plan), arbsuite::ConfigError);
  plan.segments[0].name = "fine.arb";
  plan.output = GetParam();
  if (std::string(GetParam()).find_first_of("\",") == std::string::npos) {
    EXPECT_THROW(arbsuite::formatConfigLine(plan), arbsuite::ConfigError);
  }
}

INSTANTIATE_TEST_SUITE_P(All, CoreUnwritableName,
                         testing::Values("a\"b.arb", "a,b.arb", "a}b.arb", "a{b.arb",
                                         "two\nlines.arb", "SEGMENT_3.arb", "x/LEVEL MODE:y.arb",
                                         ""),
                         [](const testing::TestParamInfo<const char*>& info) {
                           return "name" + std::to_string(info.index);
                         });

TEST(CoreSegmentConfig, RefusesLongNamesAndUnknownModes) {
  arbsuite::JoinPlan plan;
  plan.output = std::string(255, 'o');
  plan.segments.push_back({std::string(255, 's'), 1e6, 1, 0});
  EXPECT_NO_THROW(arbsuite::formatConfigLine(plan));
  plan.segments[0].name += "s";
  EXPECT_THROW(arbsuite::formatConfigLine(plan), arbsuite::ConfigError);
  plan.segments[0].name = "s.arb";
  plan.output += "o";
  EXPECT_THROW(arbsuite::formatConfigLine(plan), arbsuite::ConfigError);
  EXPECT_THROW(arbsuite::levelModeWord("loud"), arbsuite::ConfigError);
  EXPECT_EQ(arbsuite::clockModeWord("Highest"), "HIGHEST");
}

TEST(CoreSegmentConfig, BlankSegmentItems) {
  const auto plain = arbsuite::parseBlankSegment("blank:500");
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->samples, 500);
  EXPECT_FALSE(plain->clock);
  const auto clocked = arbsuite::parseBlankSegment("Blank:3@2.5e6");
  ASSERT_TRUE(clocked);
  EXPECT_EQ(clocked->clock, 2.5e6);
  EXPECT_FALSE(arbsuite::parseBlankSegment("blank.arb"));
  EXPECT_FALSE(arbsuite::parseBlankSegment("c:/blank"));
  for (const char* bad :
       {"blank:", "blank:0", "blank:-4", "blank:12x", "blank:5@", "blank:5@fast"}) {
    EXPECT_THROW(arbsuite::parseBlankSegment(bad), arbsuite::ConfigError) << bad;
  }
  // Clocks with the units of every frequency option, and only clocks the instrument plays.
  EXPECT_EQ(arbsuite::parseBlankSegment("blank:3@2.5MHz")->clock, 2.5e6);
  EXPECT_EQ(arbsuite::parseBlankSegment("blank:3@2.5k")->clock, 2500);
  EXPECT_EQ(arbsuite::parseBlankSegment("blank:3@100MHz")->clock, 100e6);
  for (const char* unplayable : {"blank:3@2", "blank:3@999", "blank:3@60MHz", "blank:3@0"}) {
    EXPECT_THROW(arbsuite::parseBlankSegment(unplayable), arbsuite::ConfigError) << unplayable;
  }
  EXPECT_EQ(arbsuite::defaultConfigPath("out/joined.arb"), "out/joined-segments.txt");
}

// --- checks of a join ------------------------------------------------------------

arbsuite::JoinPlan planOf(const std::vector<double>& clocks, const std::string& mode) {
  arbsuite::JoinPlan plan;
  plan.clockMode = mode;
  plan.userClock = 2.5e6;
  for (std::size_t i = 0; i < clocks.size(); ++i) {
    plan.segments.push_back(
        {i % 2 == 0 ? "s" + std::to_string(i) + ".arb" : "Blank", clocks[i], 10, 0});
  }
  return plan;
}

TEST(CoreJoinChecks, ClocksAreCheckedAsTheyAreWritten) {
  // The clock mode decides which clocks reach the file: an unplayable clock that
  // HIGHEST or USER replaces is no fault.
  EXPECT_EQ(arbsuite::writtenClocks(planOf({1e6, 0, 4e6}, "HIGHEST")),
            (std::vector<double>{4e6, 4e6, 4e6}));
  EXPECT_EQ(arbsuite::writtenClocks(planOf({1e6, 0}, "USER")), (std::vector<double>{2.5e6, 2.5e6}));
  EXPECT_EQ(arbsuite::writtenClocks(planOf({1e6, 0}, "UNCHANGED")), (std::vector<double>{1e6, 0}));
  EXPECT_NO_THROW(arbsuite::checkPlan(planOf({1e6, 0, 4e6}, "HIGHEST")));
  EXPECT_NO_THROW(arbsuite::checkPlan(planOf({1e6, 200e6}, "USER")));
  EXPECT_NO_THROW(arbsuite::checkPlan(planOf({1e3, 50e6, 100e6}, "UNCHANGED")));
  EXPECT_THROW(arbsuite::checkPlan(planOf({1e6, 0}, "UNCHANGED")), arbsuite::ConfigError);
  EXPECT_THROW(arbsuite::checkPlan(planOf({1e6, 60e6}, "HIGHEST")), arbsuite::ConfigError);
  try {
    arbsuite::checkPlan(planOf({1e6, 0}, "UNCHANGED"));
  } catch (const arbsuite::ConfigError& e) {
    EXPECT_THAT(std::string(e.what()), ::testing::HasSubstr("segment 1 (Blank)")) << e.what();
    EXPECT_THAT(std::string(e.what()), ::testing::HasSubstr("blank:COUNT@CLOCK")) << e.what();
  }
}

TEST(CoreJoinChecks, AFileHoldsAtMost69Segments) {
  EXPECT_NO_THROW(arbsuite::checkPlan(planOf(std::vector<double>(69, 1e6), "UNCHANGED")));
  EXPECT_THROW(arbsuite::checkPlan(planOf(std::vector<double>(70, 1e6), "UNCHANGED")),
               arbsuite::ConfigError);
}

TEST(CoreJoinChecks, ConfiguredClocksOutsideTheRangeAreNamed) {
  EXPECT_FALSE(arbsuite::unplayableClock({"a.arb", "Blank"}, {1e6, 100e6}));
  const auto fault = arbsuite::unplayableClock({"a.arb", "Blank"}, {1e6, 999});
  ASSERT_TRUE(fault);
  EXPECT_THAT(*fault, ::testing::HasSubstr("segment 1 (Blank)")) << *fault;
  EXPECT_THAT(*fault, ::testing::HasSubstr("999 Hz")) << *fault;
}

TEST(CoreStatusWords, SameNumberDependsOnTheCall) {
  using arbsuite::SeqlinkCall;
  EXPECT_NE(arbsuite::statusWords(SeqlinkCall::ReadData, 240),
            arbsuite::statusWords(SeqlinkCall::BuildFile, 240));
  for (int status : {4, 7, 9, 15}) {
    EXPECT_THAT(arbsuite::statusWords(SeqlinkCall::ReadInfo, status),
                ::testing::Not(::testing::HasSubstr("unknown")));
  }
  for (int status : {240, 241, 242, 243, 246, 247, 248}) {
    EXPECT_THAT(arbsuite::statusWords(SeqlinkCall::ReadData, status),
                ::testing::Not(::testing::HasSubstr("unknown")));
  }
  EXPECT_EQ(arbsuite::statusWords(SeqlinkCall::ReadConfig, 77), "unknown status 77");
}

}  // namespace
