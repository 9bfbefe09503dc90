// Unit tests of the iqsynth host's own code: its command line, the constellation and
// taps files, and the header name mapping.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "names.h"
#include "options.h"

namespace {

TEST(HostIqsynthCommandLine, AcceptsEveryNamedModulationAndSetsItsValue) {
  for (const auto& m : arbsuite::iqsynth_host::modulationNames()) {
    std::vector<std::string> args = {"-M", m.name, "--csv", "x.csv"};
    if (m.value == IQSYNTH_MOD_FAMILY_USER) args.insert(args.end(), {"--constellation", "c.csv"});
    const auto parsed = arbsuite::iqsynth_host::parseCommandLine(args);
    EXPECT_EQ(parsed.options.modulation, m.value) << m.name;
  }
}

TEST(HostIqsynthCommandLine, DataSourcesAndInlineValues) {
  auto o = arbsuite::iqsynth_host::parseCommandLine({"--data=hex:a5F0", "--csv", "x.csv"}).options;
  EXPECT_EQ(o.dataSrc, IQSYNTH_DATA_SRC_PATTERN);
  EXPECT_TRUE(o.patternIsHex);
  EXPECT_EQ(o.pattern, "a5F0");
  o = arbsuite::iqsynth_host::parseCommandLine({"-dprbs23", "--csv", "x.csv"}).options;
  EXPECT_EQ(o.dataSrc, IQSYNTH_DATA_SRC_PRBS);
  EXPECT_EQ(o.prbs, 23);
  EXPECT_THROW(arbsuite::iqsynth_host::parseCommandLine({"-n", "5", "-n", "6", "--csv", "x"}),
               arbsuite::iqsynth_host::UsageError);
  EXPECT_THROW(arbsuite::iqsynth_host::parseCommandLine(
                   {"-d", "hex:" + std::string(2049, 'a'), "--csv", "x"}),
               arbsuite::iqsynth_host::UsageError);
  EXPECT_THROW(
      arbsuite::iqsynth_host::parseCommandLine({"-n", "4194304", "-s", "32", "--csv", "x"}),
      arbsuite::iqsynth_host::UsageError);
  // The .arb header holds a 32-bit clock.
  EXPECT_THROW(
      arbsuite::iqsynth_host::parseCommandLine({"-r", "100MHz", "-s", "32", "-o", "x.arb"}),
      arbsuite::iqsynth_host::UsageError);
  EXPECT_NO_THROW(
      arbsuite::iqsynth_host::parseCommandLine({"-r", "100MHz", "-s", "32", "--csv", "x.csv"}));
}

TEST(HostIqsynthInputFiles, PointsAndNumbers) {
  const auto points = arbsuite::iqsynth_host::parsePoints("re,im\n1,0\n\n# c\n-0.5 ; 2e-1\n", "p");
  EXPECT_EQ(points, (std::vector<double>{1, 0, -0.5, 0.2}));
  EXPECT_THROW(arbsuite::iqsynth_host::parsePoints("1,0\n1,2,3\n", "p"),
               arbsuite::iqsynth_host::InputError);
  EXPECT_THROW(arbsuite::iqsynth_host::parsePoints("1,0\nre,im\n", "p"),
               arbsuite::iqsynth_host::InputError);
  EXPECT_EQ(arbsuite::iqsynth_host::parseNumbers("0.25, 0.5\n0.25 # tail\n", "t"),
            (std::vector<double>{0.25, 0.5, 0.25}));
}

TEST(HostIqsynthHeaderNames, ExactEntriesForModulationsTheTableNames) {
  using arbsuite::iqsynth_host::headerNamesFor;
  using arbsuite::iqsynth_host::packerModulationName;
  const std::vector<std::pair<const char*, const char*>> exact = {
      {"16qam", "16QAM"},        {"32qam", "32QAM"}, {"64qam", "64QAM"}, {"128qam", "128QAM"},
      {"256qam", "256QAM"},      {"ask", "2ASK"},    {"bpsk", "BPSK"},   {"qpsk", "QPSK"},
      {"pi4dqpsk", "Pi/4DQPSK"}, {"8psk", "8PSK"},   {"fsk2", "2FSK"},   {"fsk4", "4FSK"}};
  for (const auto& [word, name] : exact) {
    const int value =
        *arbsuite::iqsynth_host::lookUp(arbsuite::iqsynth_host::modulationNames(), word);
    const auto names = headerNamesFor(IQSYNTH_WORKING_MODE_DIGITAL, value, 7, 4, 15);
    EXPECT_STREQ(packerModulationName(names.modulation), name) << word;
    EXPECT_TRUE(names.modulationExact) << word;
    EXPECT_STREQ(arbsuite::iqsynth_host::packerDataSourceName(names.dataSource), "PRBS15");
    EXPECT_STREQ(arbsuite::iqsynth_host::packerFilterName(names.filter), "Root raised cosine");
  }
  for (const auto& m : arbsuite::iqsynth_host::modulationNames()) {
    EXPECT_LE(headerNamesFor(IQSYNTH_WORKING_MODE_DIGITAL, m.value, 3, 3, 0).modulation, 17u);
  }
  const auto user16 = headerNamesFor(IQSYNTH_WORKING_MODE_DIGITAL, 0xE0004, 8, 2, 9);
  EXPECT_STREQ(packerModulationName(user16.modulation), "16QAM");
  EXPECT_STREQ(arbsuite::iqsynth_host::packerDataSourceName(user16.dataSource), "UserData");
  const auto prbs23 = headerNamesFor(IQSYNTH_WORKING_MODE_DIGITAL, 0x90002, 6, 4, 23);
  EXPECT_STREQ(arbsuite::iqsynth_host::packerDataSourceName(prbs23.dataSource), "UserData");
  EXPECT_STREQ(arbsuite::iqsynth_host::packerFilterName(prbs23.filter), "Raised cosine");
}

}  // namespace
