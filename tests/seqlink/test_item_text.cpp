// Item lookup in "{key:value}" texts and the number conversions behind it.
#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>

#include "item_text.h"

namespace {

using arbsuite::seqlink::findItemValue;
using arbsuite::seqlink::numberFromItem;
using arbsuite::seqlink::textToDouble;
using arbsuite::seqlink::textToInt;

struct FindCase {
  std::string text;
  std::string key;
  std::string expected;
};

void PrintTo(const FindCase& c, std::ostream* os) { *os << c.key << " in " << c.text; }

class SeqlinkFindItemValueTest : public ::testing::TestWithParam<FindCase> {};

TEST_P(SeqlinkFindItemValueTest, ReturnsTextBetweenKeyAndTerminator) {
  const FindCase& c = GetParam();
  EXPECT_EQ(findItemValue(c.key, c.text), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SeqlinkFindItemValueTest,
    ::testing::Values(FindCase{"{LEVEL MODE:RMS}", "LEVEL MODE:", "RMS"},
                      FindCase{"{LEVEL MODE: RMS }", "LEVEL MODE:", " RMS "},  // verbatim
                      FindCase{"{A:1}{A:2}", "A:", "1"},                       // first occurrence
                      FindCase{"{SEGMENT_10:x}{SEGMENT_1:y}", "SEGMENT_1", "0:x"},  // prefix match
                      FindCase{"{LEVEL MODE:RMS", "LEVEL MODE:", ""},               // no terminator
                      FindCase{"{level mode:RMS}", "LEVEL MODE:", ""},  // case-sensitive
                      FindCase{"", "A:", ""}, FindCase{"{A:}", "A:", ""}));

struct NumberCase {
  std::string text;
  std::string key;
  std::optional<double> expected;
};

void PrintTo(const NumberCase& c, std::ostream* os) { *os << c.key << " in " << c.text; }

class SeqlinkNumberFromItemTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(SeqlinkNumberFromItemTest, TakesDigitsOfTheValue) {
  const NumberCase& c = GetParam();
  const std::optional<double> got = numberFromItem(c.text, c.key);
  ASSERT_EQ(got.has_value(), c.expected.has_value());
  if (got) {
    EXPECT_DOUBLE_EQ(*got, *c.expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SeqlinkNumberFromItemTest,
    ::testing::Values(NumberCase{"{Clock:100000000HZ}", "{Clock", 100000000.0},
                      NumberCase{"{Clock:-5}", "{Clock", 5.0},  // the sign is not seen
                      NumberCase{"{Value:.5}", "{Value", 5.0},  // nor a leading point
                      NumberCase{"{Value:12.500000}", "{Value", 12.5},
                      NumberCase{"{Value:1.5e3 units}", "{Value", 1500.0},
                      NumberCase{"{Value:none}", "{Value", 0.0},  // no digit
                      NumberCase{"{Value:}", "{Value", 0.0},
                      NumberCase{"{Clock:1HZ}{Value:2}", "{Value", 2.0},
                      NumberCase{"{Clock:1HZ", "{Clock", std::nullopt},     // no closing brace
                      NumberCase{"{Clock:1HZ}", "{Value", std::nullopt}));  // no item

TEST(SeqlinkTextToIntTest, FollowsTheCRulesWithinRange) {
  EXPECT_EQ(textToInt("42"), 42);
  EXPECT_EQ(textToInt("  \t17abc"), 17);
  EXPECT_EQ(textToInt("-3"), -3);
  EXPECT_EQ(textToInt("+8"), 8);
  EXPECT_EQ(textToInt("abc"), 0);
  EXPECT_EQ(textToInt(""), 0);
  EXPECT_EQ(textToInt("2147483647"), INT_MAX);
  EXPECT_EQ(textToInt("-2147483648"), INT_MIN);
}

TEST(SeqlinkTextToIntTest, RefusesNumbersOutsideInt) {
  EXPECT_FALSE(textToInt("2147483648"));
  EXPECT_FALSE(textToInt("-2147483649"));
  EXPECT_FALSE(textToInt("99999999999999999999999999"));
}

TEST(SeqlinkTextToDoubleTest, FollowsTheCRules) {
  EXPECT_DOUBLE_EQ(textToDouble(" 1.5e8"), 1.5e8);
  EXPECT_DOUBLE_EQ(textToDouble("2.25Hz"), 2.25);
  EXPECT_DOUBLE_EQ(textToDouble("garbage"), 0.0);
  EXPECT_DOUBLE_EQ(textToDouble("-0.5"), -0.5);
}

}  // namespace
