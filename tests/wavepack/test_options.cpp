// Frequency parsing, the output-name and input-option rules, reading the chosen
// input, and the messages of the packer's results.
#include <gtest/gtest.h>

#include <stdexcept>

#include "convert.h"
#include "files.h"
#include "little_endian.h"
#include "scratch_dir.h"

namespace {

struct FrequencyCase {
  std::string text;
  std::int32_t fs;      // expected Fs when accepted
  std::string failure;  // expected message otherwise
};

const std::string kRange = "Fs must in range [1KHz,50MHz] and 100MHz";
const std::string kUnit = "Input string for Frequency is not support";

void PrintTo(const FrequencyCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class WavepackFrequency : public testing::TestWithParam<FrequencyCase> {};

TEST_P(WavepackFrequency, ConvertsAndRangeChecks) {
  const FrequencyCase& c = GetParam();
  if (c.failure.empty()) {
    EXPECT_EQ(arbsuite::wavepack::sampleFrequency(c.text), c.fs);
    return;
  }
  try {
    arbsuite::wavepack::sampleFrequency(c.text);
    FAIL() << c.text << " accepted";
  } catch (const std::exception& e) {
    EXPECT_EQ(e.what(), c.failure) << c.text;
  }
}

INSTANTIATE_TEST_SUITE_P(
    WavepackTexts, WavepackFrequency,
    testing::Values(FrequencyCase{"1MHz", 1000000, ""}, FrequencyCase{"1m", 1000000, ""},
                    FrequencyCase{"1Mxyz", 1000000, ""}, FrequencyCase{"2m", 2000000, ""},
                    FrequencyCase{"1e6", 1000000, ""}, FrequencyCase{"1000000", 1000000, ""},
                    FrequencyCase{"2.5k", 2500, ""}, FrequencyCase{"1000hz", 1000, ""},
                    FrequencyCase{"50000000.9", 50000000, ""}, FrequencyCase{"50MHz", 50000000, ""},
                    FrequencyCase{"100MHz", 100000000, ""}, FrequencyCase{"60MHz", 0, kRange},
                    FrequencyCase{"999", 0, kRange}, FrequencyCase{"999.9", 0, kRange},
                    FrequencyCase{"99.9999999MHz", 0, kRange}, FrequencyCase{"-1MHz", 0, kRange},
                    FrequencyCase{"1e20", 0, kRange}, FrequencyCase{"nan", 0, kRange},
                    FrequencyCase{"inf", 0, kRange}, FrequencyCase{"", 0, kRange},
                    FrequencyCase{"1G", 0, kUnit}, FrequencyCase{"5x", 0, kUnit},
                    FrequencyCase{"1 MHz", 0, kUnit}, FrequencyCase{"abc", 0, kUnit}));

TEST(WavepackOutputName, MustEndInDotArbExactly) {
  EXPECT_NO_THROW(arbsuite::wavepack::checkOutputName("x.arb"));
  EXPECT_NO_THROW(arbsuite::wavepack::checkOutputName("dir/.arb"));
  for (const std::string bad : {"wave.ARB", "ab", "", "wave.arb.bak", "arb"}) {
    try {
      arbsuite::wavepack::checkOutputName(bad);
      FAIL() << bad;
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(e.what(), bad + " must contain extension \".arb\" ");
    }
  }
}

TEST(WavepackInputOptions, Rules) {
  using arbsuite::wavepack::InputOptions;
  const std::string both = "-d and (-i or -q) can not be specified at the same time";
  const std::string none = "-d and (-i or -q) must specify at least one";
  auto message = [](const InputOptions& o) -> std::string {
    try {
      arbsuite::wavepack::checkInputOptions(o);
    } catch (const std::exception& e) {
      return e.what();
    }
    return "";
  };
  EXPECT_EQ(message({false, "d", std::nullopt, "q"}), both);
  EXPECT_EQ(message({false, "d", "i", std::nullopt}), both);
  EXPECT_EQ(message({true, "d", "i", "q"}), both);
  EXPECT_EQ(message({false, std::nullopt, std::nullopt, std::nullopt}), none);
  EXPECT_EQ(message({false, "d", std::nullopt, std::nullopt}), "");
  EXPECT_EQ(message({false, std::nullopt, "i", std::nullopt}), "");
  EXPECT_EQ(message({false, std::nullopt, std::nullopt, "q"}), "");
}

TEST(WavepackReadInput, MergesSeparateFilesAndRefusesUnequalLengths) {
  arbtest::ScratchDir dir;
  const std::string i = dir.file("i.csv");
  const std::string q = dir.file("q.csv");
  const std::string q11 = dir.file("q11.csv");
  arbtest::writeText(i, "1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n");
  arbtest::writeText(q, "-1\n-2\n-3\n-4\n-5\n-6\n-7\n-8\n-9\n-10\n");
  arbtest::writeText(q11, "-1\n-2\n-3\n-4\n-5\n-6\n-7\n-8\n-9\n-10\n-11\n");

  const auto merged = arbsuite::wavepack::readInput({false, std::nullopt, i, q});
  ASSERT_EQ(merged.size(), 10u);
  EXPECT_EQ(merged[9].i, 10.0);
  EXPECT_EQ(merged[9].q, -10.0);

  const auto onlyQ = arbsuite::wavepack::readInput({false, std::nullopt, std::nullopt, q});
  EXPECT_EQ(onlyQ[0].i, 0.0);
  EXPECT_EQ(onlyQ[0].q, -1.0);

  try {
    arbsuite::wavepack::readInput({false, std::nullopt, i, q11});
    FAIL();
  } catch (const std::exception& e) {
    EXPECT_EQ(std::string(e.what()), "Data length is not equal in " + i + " and " + q11);
  }

  const std::string bin = dir.file("i.bin");
  arbtest::writeBytes(bin, arbtest::doubleBytes({0.25, 0.5}));
  const auto binary = arbsuite::wavepack::readInput({true, std::nullopt, bin, std::nullopt});
  ASSERT_EQ(binary.size(), 2u);
  EXPECT_EQ(binary[1].i, 0.5);
}

TEST(WavepackPackerResult, Messages) {
  const std::string t = "/tmp/PN1";
  const std::string o = "w.arb";
  EXPECT_EQ(arbsuite::wavepack::packerResultMessage(17, t, o), "Open or read /tmp/PN1failed");
  EXPECT_EQ(arbsuite::wavepack::packerResultMessage(20, t, o), "Open or read /tmp/PN1failed");
  EXPECT_EQ(arbsuite::wavepack::packerResultMessage(19, t, o), "Created or write w.arbfailed");
  for (int r : {21, 22, 23})
    EXPECT_EQ(arbsuite::wavepack::packerResultMessage(r, t, o), "Can not find the dependent dll");
  EXPECT_EQ(arbsuite::wavepack::packerResultMessage(24, t, o),
            "Input parameter for arb is not support");
  EXPECT_EQ(arbsuite::wavepack::packerResultMessage(25, t, o),
            "Allocation error,Please restart this program and try again");
  EXPECT_EQ(arbsuite::wavepack::packerResultMessage(-3, t, o),
            "Generate arb file error with return value -3");
}

}  // namespace
