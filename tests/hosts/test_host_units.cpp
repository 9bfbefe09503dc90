// Unit tests of the hosts' own code: the segment configuration writer, the checks
// of a join, the command-line value parsers, the header name mapping and the level
// statistics.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "arb_format.h"
#include "config_writer.h"
#include "join_checks.h"
#include "names.h"
#include "options.h"
#include "status_words.h"
#include "statuses.h"
#include "synthesised_waveform.h"

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

TEST(HostSegmentConfig, ElevenSegmentsReadBackExactlyDespiteSharedKeyPrefixes) {
  arbtool::JoinPlan plan;
  plan.output = "out.arb";
  plan.levelMode = "RMS";
  plan.clockMode = "HIGHEST";
  for (int i = 0; i < 11; ++i) {
    plan.segments.push_back(
        {i % 3 == 1 ? std::string("Blank") : "dir/seg" + std::to_string(i) + ".arb",
         1e6 * (i + 1) / 3.0, 100 + i, 0.1 * i + 1.0 / 7});
  }
  const std::string line = arbtool::formatConfigLine(plan);
  ASSERT_EQ(line.find('\n'), line.size() - 1);  // one line
  for (int i = 0; i < 11; ++i) {
    const ReadSegment s = readSegment(line, i);
    EXPECT_EQ(s.name, plan.segments[static_cast<std::size_t>(i)].name);
    EXPECT_EQ(s.clock, plan.segments[static_cast<std::size_t>(i)].clock);  // exact: 17 digits
    EXPECT_EQ(s.count, 100 + i);
    EXPECT_EQ(s.energy, plan.segments[static_cast<std::size_t>(i)].energy);
  }
  EXPECT_EQ(arb::textAfterKey(line, "NUMBER SEGMENTS:"), "11");
  EXPECT_EQ(arb::textAfterKey(line, "LEVEL MODE:"), "RMS");
  EXPECT_EQ(arb::textAfterKey(line, "CLOCKRATE MODE:"), "HIGHEST");
  EXPECT_EQ(arb::textAfterKey(line, "OUTPUT FILE:"), "out.arb");
  for (const char* key : {"USER CLOCKRATE:", "SEGMENT MARKER:", "FIRST SEGMENT RESTART MARKER:",
                          "EVERY SEGMENT RESTART MARKER:"}) {
    EXPECT_TRUE(arb::textAfterKey(line, key).has_value()) << key;
  }
}

class HostUnwritableName : public testing::TestWithParam<const char*> {};

TEST_P(HostUnwritableName, IsRefusedRatherThanMisread) {
  arbtool::JoinPlan plan;
  plan.output = "out.arb";
  plan.segments.push_back({GetParam(), 1e6, 10, 1.0});
  EXPECT_THROW(arbtool::formatConfigLine(plan), arbtool::ConfigError);
  plan.segments[0].name = "fine.arb";
  plan.output = GetParam();
  if (std::string(GetParam()).find_first_of("\",") == std::string::npos) {
    EXPECT_THROW(arbtool::formatConfigLine(plan), arbtool::ConfigError);
  }
}

INSTANTIATE_TEST_SUITE_P(All, HostUnwritableName,
                         testing::Values("a\"b.arb", "a,b.arb", "a}b.arb", "a{b.arb",
                                         "two\nlines.arb", "SEGMENT_3.arb", "x/LEVEL MODE:y.arb",
                                         ""),
                         [](const testing::TestParamInfo<const char*>& info) {
                           return "name" + std::to_string(info.index);
                         });

TEST(HostSegmentConfig, RefusesLongNamesAndUnknownModes) {
  arbtool::JoinPlan plan;
  plan.output = std::string(255, 'o');
  plan.segments.push_back({std::string(255, 's'), 1e6, 1, 0});
  EXPECT_NO_THROW(arbtool::formatConfigLine(plan));
  plan.segments[0].name += "s";
  EXPECT_THROW(arbtool::formatConfigLine(plan), arbtool::ConfigError);
  plan.segments[0].name = "s.arb";
  plan.output += "o";
  EXPECT_THROW(arbtool::formatConfigLine(plan), arbtool::ConfigError);
  EXPECT_THROW(arbtool::levelModeWord("loud"), arbtool::ConfigError);
  EXPECT_EQ(arbtool::clockModeWord("Highest"), "HIGHEST");
}

TEST(HostSegmentConfig, BlankSpecifications) {
  const auto plain = arbtool::parseBlankSpec("blank:500");
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->samples, 500);
  EXPECT_FALSE(plain->clock);
  const auto clocked = arbtool::parseBlankSpec("Blank:3@2.5e6");
  ASSERT_TRUE(clocked);
  EXPECT_EQ(clocked->clock, 2.5e6);
  EXPECT_FALSE(arbtool::parseBlankSpec("blank.arb"));
  EXPECT_FALSE(arbtool::parseBlankSpec("c:/blank"));
  for (const char* bad :
       {"blank:", "blank:0", "blank:-4", "blank:12x", "blank:5@", "blank:5@fast"}) {
    EXPECT_THROW(arbtool::parseBlankSpec(bad), arbtool::ConfigError) << bad;
  }
  // Clocks with the units of every frequency option, and only clocks the instrument plays.
  EXPECT_EQ(arbtool::parseBlankSpec("blank:3@2.5MHz")->clock, 2.5e6);
  EXPECT_EQ(arbtool::parseBlankSpec("blank:3@2.5k")->clock, 2500);
  EXPECT_EQ(arbtool::parseBlankSpec("blank:3@100MHz")->clock, 100e6);
  for (const char* unplayable : {"blank:3@2", "blank:3@999", "blank:3@60MHz", "blank:3@0"}) {
    EXPECT_THROW(arbtool::parseBlankSpec(unplayable), arbtool::ConfigError) << unplayable;
  }
  EXPECT_EQ(arbtool::defaultConfigPath("out/joined.arb"), "out/joined-segments.txt");
}

// --- checks of a join ------------------------------------------------------------

arbtool::JoinPlan planOf(const std::vector<double>& clocks, const std::string& mode) {
  arbtool::JoinPlan plan;
  plan.clockMode = mode;
  plan.userClock = 2.5e6;
  for (std::size_t i = 0; i < clocks.size(); ++i) {
    plan.segments.push_back(
        {i % 2 == 0 ? "s" + std::to_string(i) + ".arb" : "Blank", clocks[i], 10, 0});
  }
  return plan;
}

TEST(HostJoinChecks, ClocksAreCheckedAsTheyAreWritten) {
  // The clock mode decides which clocks reach the file: an unplayable clock that
  // HIGHEST or USER replaces is no fault.
  EXPECT_EQ(arbtool::writtenClocks(planOf({1e6, 0, 4e6}, "HIGHEST")),
            (std::vector<double>{4e6, 4e6, 4e6}));
  EXPECT_EQ(arbtool::writtenClocks(planOf({1e6, 0}, "USER")), (std::vector<double>{2.5e6, 2.5e6}));
  EXPECT_EQ(arbtool::writtenClocks(planOf({1e6, 0}, "UNCHANGED")), (std::vector<double>{1e6, 0}));
  EXPECT_NO_THROW(arbtool::checkPlan(planOf({1e6, 0, 4e6}, "HIGHEST")));
  EXPECT_NO_THROW(arbtool::checkPlan(planOf({1e6, 200e6}, "USER")));
  EXPECT_NO_THROW(arbtool::checkPlan(planOf({1e3, 50e6, 100e6}, "UNCHANGED")));
  EXPECT_THROW(arbtool::checkPlan(planOf({1e6, 0}, "UNCHANGED")), arbtool::ConfigError);
  EXPECT_THROW(arbtool::checkPlan(planOf({1e6, 60e6}, "HIGHEST")), arbtool::ConfigError);
  try {
    arbtool::checkPlan(planOf({1e6, 0}, "UNCHANGED"));
  } catch (const arbtool::ConfigError& e) {
    EXPECT_NE(std::string(e.what()).find("segment 1 (Blank)"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("blank:COUNT@CLOCK"), std::string::npos) << e.what();
  }
}

TEST(HostJoinChecks, AFileHoldsAtMost69Segments) {
  EXPECT_NO_THROW(arbtool::checkPlan(planOf(std::vector<double>(69, 1e6), "UNCHANGED")));
  EXPECT_THROW(arbtool::checkPlan(planOf(std::vector<double>(70, 1e6), "UNCHANGED")),
               arbtool::ConfigError);
}

TEST(HostJoinChecks, ConfiguredClocksOutsideTheRangeAreNamed) {
  EXPECT_FALSE(arbtool::unplayableClock({"a.arb", "Blank"}, {1e6, 100e6}));
  const auto fault = arbtool::unplayableClock({"a.arb", "Blank"}, {1e6, 999});
  ASSERT_TRUE(fault);
  EXPECT_NE(fault->find("segment 1 (Blank)"), std::string::npos) << *fault;
  EXPECT_NE(fault->find("999 Hz"), std::string::npos) << *fault;
}

TEST(HostStatusWords, SameNumberDependsOnTheCall) {
  using arbtool::Call;
  EXPECT_NE(arbtool::statusWords(Call::ReadData, 240), arbtool::statusWords(Call::BuildFile, 240));
  for (int status : {4, 7, 9, 15}) {
    EXPECT_EQ(arbtool::statusWords(Call::ReadInfo, status).find("unknown"), std::string::npos);
  }
  for (int status : {240, 241, 242, 243, 246, 247, 248}) {
    EXPECT_EQ(arbtool::statusWords(Call::ReadData, status).find("unknown"), std::string::npos);
  }
  EXPECT_EQ(arbtool::statusWords(Call::ReadConfig, 77), "unknown status 77");
  EXPECT_EQ(iqsynth_host::synthesisStatusWords(-(0xF000 | 2)),
            "noise generation failed (noise stage code 2)");
  EXPECT_EQ(iqsynth_host::synthesisStatusWords(-0x40002), "the modulation type is not supported");
}

// --- iqsynth values ----------------------------------------------------------------

struct FrequencyCase {
  const char* text;
  double hertz;
};

void PrintTo(const FrequencyCase& c, std::ostream* out) { *out << c.text; }

class HostFrequencyText : public testing::TestWithParam<FrequencyCase> {};

TEST_P(HostFrequencyText, ConvertsToHertz) {
  EXPECT_DOUBLE_EQ(iqsynth_host::parseFrequency("r", GetParam().text), GetParam().hertz);
}

INSTANTIATE_TEST_SUITE_P(All, HostFrequencyText,
                         testing::Values(FrequencyCase{"1e6", 1e6}, FrequencyCase{"1000000", 1e6},
                                         FrequencyCase{"2.5MHz", 2.5e6},
                                         FrequencyCase{"250k", 250e3}, FrequencyCase{"10kHz", 10e3},
                                         FrequencyCase{"1G", 1e9}, FrequencyCase{"3m", 3e6},
                                         FrequencyCase{"7Hz", 7}),
                         [](const testing::TestParamInfo<FrequencyCase>& info) {
                           std::string name = info.param.text;
                           for (auto& c : name) {
                             if (c == '.') c = '_';
                           }
                           return name;
                         });

TEST(HostFrequencyRefusal, OtherUnitsAndNonNumbers) {
  for (const char* bad : {"", "MHz", "5x", "1.2.3", "1e400", "1 MHz", "0x10", "5mhzz"}) {
    EXPECT_THROW(iqsynth_host::parseFrequency("r", bad), iqsynth_host::UsageError) << bad;
  }
}

TEST(HostCommandLine, AcceptsEveryNamedModulationAndSetsItsValue) {
  for (const auto& m : iqsynth_host::modulationNames()) {
    std::vector<std::string> args = {"-M", m.name, "--csv", "x.csv"};
    if (m.value == IQSYNTH_MOD_FAMILY_USER) args.insert(args.end(), {"--constellation", "c.csv"});
    const auto parsed = iqsynth_host::parseCommandLine(args);
    EXPECT_EQ(parsed.options.modulation, m.value) << m.name;
  }
}

TEST(HostCommandLine, DataSourcesAndInlineValues) {
  auto o = iqsynth_host::parseCommandLine({"--data=hex:a5F0", "--csv", "x.csv"}).options;
  EXPECT_EQ(o.dataSrc, IQSYNTH_DATA_SRC_PATTERN);
  EXPECT_TRUE(o.patternIsHex);
  EXPECT_EQ(o.pattern, "a5F0");
  o = iqsynth_host::parseCommandLine({"-dprbs23", "--csv", "x.csv"}).options;
  EXPECT_EQ(o.dataSrc, IQSYNTH_DATA_SRC_PRBS);
  EXPECT_EQ(o.prbs, 23);
  EXPECT_THROW(iqsynth_host::parseCommandLine({"-n", "5", "-n", "6", "--csv", "x"}),
               iqsynth_host::UsageError);
  EXPECT_THROW(
      iqsynth_host::parseCommandLine({"-d", "hex:" + std::string(2049, 'a'), "--csv", "x"}),
      iqsynth_host::UsageError);
  EXPECT_THROW(iqsynth_host::parseCommandLine({"-n", "4194304", "-s", "32", "--csv", "x"}),
               iqsynth_host::UsageError);
  // The .arb header holds a 32-bit clock.
  EXPECT_THROW(iqsynth_host::parseCommandLine({"-r", "100MHz", "-s", "32", "-o", "x.arb"}),
               iqsynth_host::UsageError);
  EXPECT_NO_THROW(iqsynth_host::parseCommandLine({"-r", "100MHz", "-s", "32", "--csv", "x.csv"}));
}

TEST(HostInputFiles, PointsAndNumbers) {
  const auto points = iqsynth_host::parsePoints("re,im\n1,0\n\n# c\n-0.5 ; 2e-1\n", "p");
  EXPECT_EQ(points, (std::vector<double>{1, 0, -0.5, 0.2}));
  EXPECT_THROW(iqsynth_host::parsePoints("1,0\n1,2,3\n", "p"), iqsynth_host::InputError);
  EXPECT_THROW(iqsynth_host::parsePoints("1,0\nre,im\n", "p"), iqsynth_host::InputError);
  EXPECT_EQ(iqsynth_host::parseNumbers("0.25, 0.5\n0.25 # tail\n", "t"),
            (std::vector<double>{0.25, 0.5, 0.25}));
}

TEST(HostHeaderNames, ExactEntriesForModulationsTheTableNames) {
  using iqsynth_host::headerNamesFor;
  using iqsynth_host::packerModulationName;
  const std::vector<std::pair<const char*, const char*>> exact = {
      {"16qam", "16QAM"},        {"32qam", "32QAM"}, {"64qam", "64QAM"}, {"128qam", "128QAM"},
      {"256qam", "256QAM"},      {"ask", "2ASK"},    {"bpsk", "BPSK"},   {"qpsk", "QPSK"},
      {"pi4dqpsk", "Pi/4DQPSK"}, {"8psk", "8PSK"},   {"fsk2", "2FSK"},   {"fsk4", "4FSK"}};
  for (const auto& [word, name] : exact) {
    const int value = *iqsynth_host::lookUp(iqsynth_host::modulationNames(), word);
    const auto names = headerNamesFor(IQSYNTH_WORKING_MODE_DIGITAL, value, 7, 4, 15);
    EXPECT_STREQ(packerModulationName(names.modulation), name) << word;
    EXPECT_TRUE(names.modulationExact) << word;
    EXPECT_STREQ(iqsynth_host::packerDataSourceName(names.dataSource), "PRBS15");
    EXPECT_STREQ(iqsynth_host::packerFilterName(names.filter), "Root raised cosine");
  }
  for (const auto& m : iqsynth_host::modulationNames()) {
    EXPECT_LE(headerNamesFor(IQSYNTH_WORKING_MODE_DIGITAL, m.value, 3, 3, 0).modulation, 17u);
  }
  const auto user16 = headerNamesFor(IQSYNTH_WORKING_MODE_DIGITAL, 0xE0004, 8, 2, 9);
  EXPECT_STREQ(packerModulationName(user16.modulation), "16QAM");
  EXPECT_STREQ(iqsynth_host::packerDataSourceName(user16.dataSource), "UserData");
  const auto prbs23 = headerNamesFor(IQSYNTH_WORKING_MODE_DIGITAL, 0x90002, 6, 4, 23);
  EXPECT_STREQ(iqsynth_host::packerDataSourceName(prbs23.dataSource), "UserData");
  EXPECT_STREQ(iqsynth_host::packerFilterName(prbs23.filter), "Raised cosine");
}

TEST(HostStatistics, PeakRmsAndEnergyFollowTheirFormulas) {
  iqsynth_host::Waveform wave;
  wave.i = {3000, 0, -4096, 0};
  wave.q = {4000, 0, 0, 8191};
  const auto s = iqsynth_host::measure(wave);
  EXPECT_EQ(s.samples, 4u);
  EXPECT_DOUBLE_EQ(s.peak, 8191);
  const double sumSquares = 5000.0 * 5000 + 4096.0 * 4096 + 8191.0 * 8191;
  EXPECT_DOUBLE_EQ(s.rms, std::sqrt(sumSquares / 4));
  EXPECT_DOUBLE_EQ(s.energy, sumSquares / (8192.0 * 8192));
  EXPECT_DOUBLE_EQ(iqsynth_host::crestFactorDb(s),
                   20 * std::log10(8191 / std::sqrt(sumSquares / 4)));
  const auto bytes = iqsynth_host::interleavedSamples(wave);
  ASSERT_EQ(bytes.size(), 16u);
  EXPECT_EQ(bytes[8], 0x00);  // -4096 = 0xF000, low byte first
  EXPECT_EQ(bytes[9], 0xF0);
  EXPECT_EQ(iqsynth_host::measure(iqsynth_host::Waveform{}).rms, 0);
}

}  // namespace
