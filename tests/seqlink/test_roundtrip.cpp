// Round trips with the real deliverables: .arb files made by the wavepack program
// are read through libseqlink.so (linked as a host links it) and joined into
// multi-segment files, which are read back.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "segment_config_builder.h"
#include "seqlink.h"
#include "seqlink_test_support.h"
#include "version2_layout_check.h"

namespace {

using seqtest::Bytes;
using seqtest::ConfigBuilder;
using seqtest::ScratchDir;
using Values = std::vector<std::int16_t>;

using seqtest::format;

// The samples wavepack must write for (I, Q) pairs: normalised to the peak
// modulus, scaled to 0.81 of 8191 and truncated.
Values quantised(const std::vector<double>& i, const std::vector<double>& q) {
  double peak = 0;
  for (std::size_t k = 0; k < i.size(); ++k) peak = std::max(peak, std::hypot(i[k], q[k]));
  Values values;
  for (std::size_t k = 0; k < i.size(); ++k) {
    values.push_back(static_cast<std::int16_t>(std::trunc(i[k] / peak * (0.81 * 8191))));
    values.push_back(static_cast<std::int16_t>(std::trunc(q[k] / peak * (0.81 * 8191))));
  }
  return values;
}

// The display form of items whose keys are padded to `width` (distance "{" to ":").
std::string displayLines(const std::vector<std::pair<std::string, std::string>>& items,
                         std::size_t width) {
  std::string text;
  for (const auto& [key, value] : items) {
    if (!text.empty()) text += "\n";
    text += " " + key + std::string(width - key.size() - 1, ' ') + ":" + value;
  }
  return text;
}

struct Wave {
  std::string path;
  Values values;
  double clock;
  double energy;  // as wavepack writes it
  std::size_t pairs() const { return values.size() / 2; }
};

class SeqlinkRoundTripTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<ScratchDir>();
    first_ = pack("first", 40, 1.0, "10MHz", 1e7);
    second_ = pack("second", 25, 3.0, "2m", 2e6);
  }
  static void TearDownTestSuite() { dir_.reset(); }

  // Writes I and Q CSV files and runs wavepack on them.
  static Wave pack(const std::string& name, std::size_t pairs, double shape, const std::string& fs,
                   double clock) {
    std::vector<double> i, q;
    std::string iCsv = "I\n", qCsv;
    for (std::size_t k = 0; k < pairs; ++k) {
      i.push_back(std::cos(0.21 * shape * k) * (1 + 0.3 * std::sin(0.05 * k)));
      q.push_back(std::sin(0.17 * shape * k) * 0.7);
      iCsv += format("%.17g\n", i.back());
      qCsv += format("%.17g\n", q.back());
    }
    Wave wave;
    wave.path = dir_->file(name + ".arb");
    arbtest::writeText(dir_->file(name + "_i.csv"), iCsv);
    arbtest::writeText(dir_->file(name + "_q.csv"), qCsv);
    const std::string command = std::string("\"") + WAVEPACK_PROGRAM + "\" -i \"" +
                                dir_->file(name + "_i.csv") + "\" -q \"" +
                                dir_->file(name + "_q.csv") + "\" -f " + fs + " -o \"" + wave.path +
                                "\" > /dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0);
    wave.values = quantised(i, q);
    wave.clock = clock;
    // wavepack's "Value": squared 14-bit magnitudes over 8192.
    double energy = 0;
    for (const std::int16_t v : wave.values) {
      const unsigned w = static_cast<std::uint16_t>(v);
      const double m = (w & 0x2000) ? 8192 - (w & 0x1FFF) : (w & 0x1FFF);
      energy += (m / 8192) * (m / 8192);
    }
    wave.energy = energy;
    return wave;
  }

  static std::unique_ptr<ScratchDir> dir_;
  static Wave first_, second_;
};

std::unique_ptr<ScratchDir> SeqlinkRoundTripTest::dir_;
Wave SeqlinkRoundTripTest::first_;
Wave SeqlinkRoundTripTest::second_;

TEST_F(SeqlinkRoundTripTest, DescriptionOfAWavepackFile) {
  int count = 0;
  double clock = 0, energy = 0;
  ASSERT_EQ(readArbFileInf(first_.path.c_str(), &count, &clock, &energy), SEQLINK_OK);
  EXPECT_EQ(count, 40);
  EXPECT_EQ(clock, 1e7);
  EXPECT_NEAR(energy, first_.energy, 5e-7);
}

TEST_F(SeqlinkRoundTripTest, DisplayTextOfAWavepackFile) {
  std::vector<char> text(SEQLINK_TEXT_CAPACITY, '\0');
  int length = 0;
  ASSERT_EQ(readArbFileAllInf(second_.path.c_str(), text.data(), &length), SEQLINK_OK);
  const std::string expected = displayLines({{"Clock", "2000000HZ"},
                                             {"ModulationMode", "Digital"},
                                             {"Value", format("%f", second_.energy)},
                                             {"Num", "25"},
                                             {"DataSource", "PRBS9"},
                                             {"Length", "50"},
                                             {"SymbolRate", "2000000Hz"},
                                             {"ModulationType", "32QAM"},
                                             {"FilterType", "Raised cosine"},
                                             {"FilterCoefficients ", "1.000000"},
                                             {"ImpulseLength", "1"},
                                             {"OverSample", "1"}},
                                            20);
  EXPECT_EQ(std::string(text.data()), expected);
  EXPECT_EQ(length, static_cast<int>(expected.size() + 1));
}

TEST_F(SeqlinkRoundTripTest, SamplesOfAWavepackFile) {
  for (const Wave* wave : {&first_, &second_}) {
    std::vector<short> out(wave->values.size());
    ASSERT_EQ(readArbFileData(wave->path.c_str(), static_cast<int>(wave->pairs()), out.data()),
              SEQLINK_OK);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), wave->values.begin())) << wave->path;
  }
}

class SeqlinkMultiSegmentRoundTripTest
    : public SeqlinkRoundTripTest,
      public ::testing::WithParamInterface<std::tuple<std::string, std::string>> {};

TEST_P(SeqlinkMultiSegmentRoundTripTest, BuildsAndReadsBackAVersion2File) {
  const auto [levelMode, clockMode] = GetParam();
  const std::size_t blankPairs = 10;
  const double blankClock = 5e6, userClock = 3e6;

  // Configuration: the descriptions as the host gets them from readArbFileInf.
  ConfigBuilder config;
  config.levelMode = levelMode;
  config.clockRateMode = clockMode;
  config.userClockRate = "3e6";
  config.outputFile = dir_->file("multi_" + levelMode + "_" + clockMode + ".arb");
  std::vector<double> configuredEnergy;
  for (const Wave* wave : {&first_, &second_}) {
    int count = 0;
    double clock = 0, energy = 0;
    ASSERT_EQ(readArbFileInf(wave->path.c_str(), &count, &clock, &energy), SEQLINK_OK);
    config.segments.push_back(format("\"%s\",%f,%d,%f", wave->path.c_str(), clock, count, energy));
    configuredEnergy.push_back(energy);
  }
  config.segments.push_back(format("\"Blank\",%f,%zu,0", blankClock, blankPairs));
  const std::string configPath = dir_->file("config_" + levelMode + clockMode);
  arbtest::writeText(configPath, config.line() + "\n");

  char outputFile[256] = "";
  int segments = 0, total = 0;
  ASSERT_EQ(readMultiSegConfig(configPath.c_str(), outputFile, &segments, &total), SEQLINK_OK);
  ASSERT_EQ(segments, 3);
  ASSERT_EQ(total, static_cast<int>(40 + 25 + blankPairs));
  EXPECT_EQ(std::string(outputFile), config.outputFile);

  std::vector<short> samples(2 * total);
  std::vector<char> names(256 * segments);
  std::vector<double> clocks(segments), energies(segments);
  std::vector<int> counts(segments);
  ASSERT_EQ(outputIQDataAndInf(samples.data(), names.data(), clocks.data(), counts.data(),
                               energies.data()),
            SEQLINK_OK);

  // What the modes must give, worked out here.
  const std::vector<double> configuredClock = {1e7, 2e6, blankClock};
  std::vector<double> expectedClock = configuredClock;
  if (clockMode == "HIGHEST") expectedClock.assign(3, 1e7);
  if (clockMode == "USER") expectedClock.assign(3, userClock);
  EXPECT_EQ(clocks, expectedClock);
  EXPECT_EQ(counts, (std::vector<int>{40, 25, static_cast<int>(blankPairs)}));

  Values expected = first_.values;
  Values second = second_.values;
  std::vector<double> expectedEnergy = {configuredEnergy[0], configuredEnergy[1], 0.0};
  if (levelMode == "RMS") {
    const double level0 = std::sqrt(configuredEnergy[0] / 40);
    const double level1 = std::sqrt(configuredEnergy[1] / 25);
    ASSERT_NE(level0, level1);
    // The quieter file is the reference; the louder one is scaled down to it.
    const double target = std::min(level0, level1);
    Values& louder = level0 > level1 ? expected : second;
    const double louderLevel = std::max(level0, level1);
    for (auto& v : louder)
      v = static_cast<std::int16_t>(std::trunc(target * v / louderLevel + 0.5));
    expectedEnergy[level0 > level1 ? 0 : 1] = seqtest::energyOf(louder);
    expectedEnergy[2] = target * target * blankPairs;
  }
  expected.insert(expected.end(), second.begin(), second.end());
  expected.resize(2 * total, 0);
  EXPECT_TRUE(std::equal(samples.begin(), samples.end(), expected.begin()));
  // The same formula on the same values: equal to rounding.
  for (int s = 0; s < 3; ++s) EXPECT_DOUBLE_EQ(energies[s], expectedEnergy[s]) << s;

  ASSERT_EQ(crtMultiSegArb(names.data(), clocks.data(), counts.data(), energies.data(), 3,
                           samples.data(), static_cast<unsigned>(total), 0, outputFile),
            0);

  // The file, field by field, with the names without their quotes.
  const std::vector<std::string> segmentNames = {first_.path, second_.path, "Blank"};
  seqtest::checkVersion2File(arbtest::readBytes(outputFile),
                             {segmentNames, expectedClock, counts, energies, samples});

  // The display lines of the text header.
  long double totalEnergy = 0;
  for (const short v : samples) totalEnergy += (v / 8192.0L) * (v / 8192.0L);
  std::vector<std::pair<std::string, std::string>> items = {{"Value", format("%Lf", totalEnergy)},
                                                            {"Num", std::to_string(4 * total)},
                                                            {"NUMBER SEGMENTS", "3"}};
  for (int s = 0; s < 3; ++s) {
    items.emplace_back(
        "SEGMENT_" + std::to_string(s),
        format("%s,%f,%d,%f", segmentNames[s].c_str(), expectedClock[s], counts[s], energies[s]));
  }

  // Read back through the library.
  std::vector<char> display(SEQLINK_TEXT_CAPACITY, '\0');
  int length = 0;
  ASSERT_EQ(readArbFileAllInf(outputFile, display.data(), &length), SEQLINK_OK);
  EXPECT_EQ(std::string(display.data()), displayLines(items, 16));
  std::vector<short> back(2 * total);
  ASSERT_EQ(readArbFileData(outputFile, total, back.data()), SEQLINK_OK);
  EXPECT_EQ(back, samples);
  int count = -1;
  double clock = -1, energy = -1;
  EXPECT_EQ(readArbFileInf(outputFile, &count, &clock, &energy), SEQLINK_MULTI_SEGMENT_REFUSED);
  EXPECT_EQ(count, total);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, SeqlinkMultiSegmentRoundTripTest,
    ::testing::Combine(::testing::Values(std::string("RMS"), std::string("UNCHANGED")),
                       ::testing::Values(std::string("HIGHEST"), std::string("USER"),
                                         std::string("UNCHANGED"))));

}  // namespace
