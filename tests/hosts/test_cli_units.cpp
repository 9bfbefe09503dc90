// Unit tests of what the hosts' command lines share (hosts/cli): the reading of
// frequency texts with their units.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "host_cli.h"

namespace {

// --- frequency values --------------------------------------------------------------

struct FrequencyCase {
  const char* text;
  double hertz;
};

void PrintTo(const FrequencyCase& c, std::ostream* out) { *out << c.text; }

class HostCliFrequencyText : public testing::TestWithParam<FrequencyCase> {};

TEST_P(HostCliFrequencyText, ConvertsToHertz) {
  EXPECT_DOUBLE_EQ(arbsuite::cli::parseFrequency("r", GetParam().text), GetParam().hertz);
}

INSTANTIATE_TEST_SUITE_P(All, HostCliFrequencyText,
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

TEST(HostCliFrequencyRefusal, OtherUnitsAndNonNumbers) {
  for (const char* bad : {"", "MHz", "5x", "1.2.3", "1e400", "1 MHz", "0x10", "5mhzz"}) {
    EXPECT_THROW(arbsuite::cli::parseFrequency("r", bad), arbsuite::cli::UsageError) << bad;
  }
}

}  // namespace
