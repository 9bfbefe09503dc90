// The suite's one reading of frequency texts: the units and their case, "m" as mega,
// what is no frequency, and wavepack -f's lenient reading beside it; and the writing
// of a frequency, which reads back as the same value.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>

#include "frequency_text.h"

namespace {

struct Case {
  const char* text;
  double hertz;
};

class CoreFrequencyText : public testing::TestWithParam<Case> {};

TEST_P(CoreFrequencyText, ReadsTheNumberTimesItsUnit) {
  const std::optional<double> hz = arbsuite::readFrequency(GetParam().text);
  ASSERT_TRUE(hz) << GetParam().text;
  EXPECT_DOUBLE_EQ(*hz, GetParam().hertz) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Units, CoreFrequencyText,
                         testing::Values(Case{"1e6", 1e6}, Case{"1000000", 1e6},
                                         Case{"2.5MHz", 2.5e6}, Case{"2.5mhz", 2.5e6},
                                         Case{"2.5m", 2.5e6}, Case{"2.5M", 2.5e6},
                                         Case{"250k", 250e3}, Case{"10kHz", 10e3},
                                         Case{"10KHZ", 10e3}, Case{"3Hz", 3}, Case{"3h", 3},
                                         Case{"1.5GHz", 1.5e9}, Case{"2g", 2e9}, Case{"+5k", 5e3},
                                         Case{"-20MHz", -20e6}, Case{"1e-3", 1e-3},
                                         Case{"1.5e3k", 1.5e6}, Case{"0", 0}));

TEST(CoreFrequencyTextFaults, WhatIsNoFrequencyIsNone) {
  for (const char* text : {"", "MHz", "fast", "5ms", "5 MHz", " 5MHz", "5MHz ", "1.2.3", "0x10",
                           "inf", "nan", "1e400", "++5", "5kk", "5mHzz", "1,5k"})
    EXPECT_FALSE(arbsuite::readFrequency(text)) << '"' << text << '"';
  // A product beyond a double is infinite, for the caller to name.
  EXPECT_TRUE(std::isinf(*arbsuite::readFrequency("1e300G")));
}

TEST(CoreFrequencyTextParts, TheUnitIsCutAtTheTrailingLetters) {
  const arbsuite::FrequencyParts parts = arbsuite::splitFrequency("1.2.3MHz");
  EXPECT_EQ(parts.number, "1.2.3");
  EXPECT_EQ(parts.factor, 1e6);
  EXPECT_EQ(arbsuite::splitFrequency("1e6").number, "1e6");  // the exponent stays
  EXPECT_EQ(arbsuite::splitFrequency("5ms").factor, 0);
}

TEST(CoreFrequencyTextLenient, TheFirstCharacterAfterTheNumberIsTheUnit) {
  EXPECT_DOUBLE_EQ(*arbsuite::readFrequencyLeniently("1m"), 1e6);
  EXPECT_DOUBLE_EQ(*arbsuite::readFrequencyLeniently("1MHz"), 1e6);
  EXPECT_DOUBLE_EQ(*arbsuite::readFrequencyLeniently("1Mega"), 1e6);
  EXPECT_DOUBLE_EQ(*arbsuite::readFrequencyLeniently(" 2.5k"), 2.5e3);
  EXPECT_DOUBLE_EQ(*arbsuite::readFrequencyLeniently("7h"), 7);
  EXPECT_DOUBLE_EQ(*arbsuite::readFrequencyLeniently("0x10"), 16);
  EXPECT_DOUBLE_EQ(*arbsuite::readFrequencyLeniently(""), 0);  // the range check refuses it
  EXPECT_FALSE(arbsuite::readFrequencyLeniently("1G"));
  EXPECT_FALSE(arbsuite::readFrequencyLeniently("fast"));
  EXPECT_FALSE(arbsuite::readFrequencyLeniently("5 MHz"));
}

TEST(CoreFrequencyTextWriting, TheLargestUnitReachedAndItsDigits) {
  EXPECT_EQ(arbsuite::frequencyText(0), "0Hz");
  EXPECT_EQ(arbsuite::frequencyText(999.5), "999.5Hz");
  EXPECT_EQ(arbsuite::frequencyText(1e3), "1kHz");
  EXPECT_EQ(arbsuite::frequencyText(2.5e6), "2.5MHz");
  EXPECT_EQ(arbsuite::frequencyText(999999), "999.999kHz");
  EXPECT_EQ(arbsuite::frequencyText(1.25e9), "1.25GHz");
  EXPECT_EQ(arbsuite::frequencyText(25e9), "25GHz");  // no unit beyond GHz
  // What the programs write in their messages, a user can give back as an option.
  for (const double hertz : {1.0, 12.5, 100e3, 61.44e6, 123456789.0, 3.2e9}) {
    const std::optional<double> read = arbsuite::readFrequency(arbsuite::frequencyText(hertz));
    ASSERT_TRUE(read) << hertz;
    EXPECT_DOUBLE_EQ(*read, hertz);
  }
}

}  // namespace
