// outputIQDataAndInf: segment items, clock-rate and level modes, and the segment
// loader, on .arb files built by the tests.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "segment_config_builder.h"
#include "seqlink.h"
#include "seqlink_test_support.h"

namespace {

using seqtest::ConfigBuilder;
using seqtest::ScratchDir;
using Values = std::vector<std::int16_t>;

const std::string kText = "{Clock:1000HZ}{Value:0}";

// What the level mode does to one value, written out: target x v / h + 0.5,
// truncated toward zero, kept in the 16-bit range.
std::int16_t scaled(std::int16_t v, double target, double level) {
  const double x = std::trunc(target * v / level + 0.5);
  return static_cast<std::int16_t>(std::fmax(-32768.0, std::fmin(32767.0, x)));
}

double levelOf(const Values& values) {
  return std::sqrt(seqtest::energyOf(values) / (values.size() / 2));
}

// How far rounding can move a scaled segment's RMS level per pair: trunc(x + 0.5)
// is within 1.5 LSB of x (a negative x below -0.5 goes up to 1.5 LSB toward zero),
// so the level moves by at most sqrt(2) x 1.5 / 8192.
const double kRoundingLevel = std::sqrt(2.0) * 1.5 / 8192;

struct Output {
  int status = -1;
  std::vector<short> samples;
  std::vector<char> names;
  std::vector<double> clocks;
  std::vector<int> counts;
  std::vector<double> energies;

  std::string name(std::size_t i) const { return &names[256 * i]; }
  Values segment(std::size_t first, std::size_t pairs) const {
    return Values(samples.begin() + 2 * first, samples.begin() + 2 * (first + pairs));
  }
};

class SeqlinkSegmentOutputTest : public ::testing::Test {
 protected:
  std::string addFile(const std::string& name, const Values& values) {
    const std::string path = dir_.file(name);
    arbtest::writeBytes(path, seqtest::makeVersion1File(kText, values));
    return path;
  }

  static std::string segment(const std::string& name, double clock, std::size_t pairs,
                             double energy) {
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, ",%.17g,%zu,%.17g", clock, pairs, energy);
    return "\"" + name + "\"" + buffer;
  }

  Output run(const ConfigBuilder& config) {
    const std::string path = dir_.file("config.txt");
    arbtest::writeText(path, config.line());
    char outputFile[256];
    int count = 0, total = 0;
    Output out;
    out.status = readMultiSegConfig(path.c_str(), outputFile, &count, &total);
    if (out.status != 0) return out;
    out.samples.assign(2 * static_cast<std::size_t>(total), 0x7777);
    out.names.assign(256 * count, 'x');
    out.clocks.assign(count, -1);
    out.counts.assign(count, -1);
    out.energies.assign(count, -1);
    out.status = outputIQDataAndInf(out.samples.data(), out.names.data(), out.clocks.data(),
                                    out.counts.data(), out.energies.data());
    return out;
  }

  ScratchDir dir_;
};

TEST_F(SeqlinkSegmentOutputTest, RmsScalesLouderSegmentsToTheQuietestOne) {
  const Values a = seqtest::rampValues(40, 4096, 1), b = seqtest::rampValues(30, 2048, 2),
               c = seqtest::rampValues(20, 6554, 3);
  ConfigBuilder config;
  config.clockRateMode = "UNCHANGED";
  config.segments = {segment(addFile("a.arb", a), 1e8, 40, seqtest::energyOf(a)),
                     segment(addFile("b.arb", b), 2e8, 30, seqtest::energyOf(b)),
                     segment(addFile("c.arb", c), 3e8, 20, seqtest::energyOf(c)),
                     segment("Blank", 4e8, 15, 0.0)};
  const Output out = run(config);
  ASSERT_EQ(out.status, SEQLINK_OK);

  const double target = levelOf(b);
  ASSERT_NEAR(levelOf(a), 0.5, 0.02);
  ASSERT_NEAR(target, 0.25, 0.02);
  ASSERT_NEAR(levelOf(c), 0.8, 0.03);
  Values expectA(a), expectC(c);
  for (auto& v : expectA) v = scaled(v, target, levelOf(a));
  for (auto& v : expectC) v = scaled(v, target, levelOf(c));
  EXPECT_EQ(out.segment(0, 40), expectA);
  EXPECT_EQ(out.segment(40, 30), b);  // the reference is left as it is
  EXPECT_EQ(out.segment(70, 20), expectC);
  EXPECT_DOUBLE_EQ(out.energies[0], seqtest::energyOf(expectA));
  EXPECT_DOUBLE_EQ(out.energies[1], seqtest::energyOf(b));
  EXPECT_DOUBLE_EQ(out.energies[2], seqtest::energyOf(expectC));
  EXPECT_EQ(out.counts, (std::vector<int>{40, 30, 20, 15}));
  EXPECT_EQ(out.clocks, (std::vector<double>{1e8, 2e8, 3e8, 4e8}));
  EXPECT_EQ(out.name(0), dir_.file("a.arb"));
  EXPECT_EQ(out.name(2), dir_.file("c.arb"));

  // Absolute levels, per pair: every scaled segment now sits at the reference
  // segment's RMS level, up to the rounding of each value, and the silence reports
  // the energy of that level.
  EXPECT_NEAR(levelOf(out.segment(0, 40)), target, kRoundingLevel);
  EXPECT_NEAR(levelOf(out.segment(70, 20)), target, kRoundingLevel);
  EXPECT_NEAR(std::sqrt(out.energies[0] / 40), target, kRoundingLevel);
  EXPECT_NEAR(std::sqrt(out.energies[2] / 20), target, kRoundingLevel);
  EXPECT_DOUBLE_EQ(out.energies[3], target * target * 15);
}

TEST_F(SeqlinkSegmentOutputTest, RmsWithAllLevelsAtOrAboveOneKeepsSegmentZero) {
  const Values a = seqtest::rampValues(10, 11000, 1), b = seqtest::rampValues(12, 9000, 2);
  ConfigBuilder config;
  config.segments = {segment(addFile("a.arb", a), 1e8, 10, seqtest::energyOf(a)),
                     segment(addFile("b.arb", b), 1e8, 12, seqtest::energyOf(b))};
  const Output out = run(config);
  ASSERT_EQ(out.status, SEQLINK_OK);
  ASSERT_GT(levelOf(b), 1.0);
  Values expectB(b);
  for (auto& v : expectB) v = scaled(v, 1.0, levelOf(b));
  EXPECT_EQ(out.segment(0, 10), a);
  EXPECT_EQ(out.segment(10, 12), expectB);
}

// The level mode over sets of segment levels (RMS per pair, full scale 1.0 = 8192)
// on both sides of the starting reference 1.0: the segment kept as it is, and the
// absolute level every other segment is brought to.
struct LevelCase {
  const char* name;
  std::vector<double> levels;  // per pair
  int reference;               // the segment left as it is
  double target;               // 0: the reference segment's own level
};

void PrintTo(const LevelCase& c, std::ostream* os) { *os << c.name; }

class SeqlinkRmsLevelTest : public SeqlinkSegmentOutputTest,
                            public ::testing::WithParamInterface<LevelCase> {};

TEST_P(SeqlinkRmsLevelTest, ScaledSegmentsSitAtTheReferenceLevel) {
  const LevelCase& c = GetParam();
  ConfigBuilder config;
  std::vector<Values> inputs;
  for (std::size_t i = 0; i < c.levels.size(); ++i) {
    // A sine of amplitude A has the level A / 8192 per pair (two values of A / sqrt(2)).
    inputs.push_back(seqtest::rampValues(200 + 10 * i, static_cast<int>(c.levels[i] * 8192),
                                         static_cast<int>(i) + 1));
    config.segments.push_back(segment(addFile("s" + std::to_string(i) + ".arb", inputs[i]), 1e8,
                                      inputs[i].size() / 2, seqtest::energyOf(inputs[i])));
  }
  const Output out = run(config);
  ASSERT_EQ(out.status, SEQLINK_OK);

  const double target = c.target > 0 ? c.target : levelOf(inputs[c.reference]);
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    ASSERT_NEAR(levelOf(inputs[i]), c.levels[i], 0.01) << "segment " << i;
    ASSERT_EQ(levelOf(inputs[i]) < 1.0, c.levels[i] < 1.0) << "segment " << i;
  }
  std::size_t first = 0;
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    const std::size_t pairs = inputs[i].size() / 2;
    const Values got = out.segment(first, pairs);
    first += pairs;
    if (static_cast<int>(i) == c.reference) {
      EXPECT_EQ(got, inputs[i]) << "segment " << i;
      EXPECT_DOUBLE_EQ(out.energies[i], seqtest::energyOf(inputs[i])) << "segment " << i;
      continue;
    }
    Values expect(inputs[i]);
    for (auto& v : expect) v = scaled(v, target, levelOf(inputs[i]));
    EXPECT_EQ(got, expect) << "segment " << i;
    EXPECT_NEAR(levelOf(got), target, kRoundingLevel) << "segment " << i;
    EXPECT_NEAR(std::sqrt(out.energies[i] / static_cast<double>(pairs)), target, kRoundingLevel)
        << "segment " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Levels, SeqlinkRmsLevelTest,
    ::testing::Values(LevelCase{"QuietestInTheMiddle", {0.5, 0.25, 0.8}, 1, 0},
                      LevelCase{"AllBelowOneQuietestLast", {0.9, 0.7, 0.3}, 2, 0},
                      LevelCase{"AllAtOrAboveOne", {1.35, 1.15, 1.05}, 0, 1.0},
                      LevelCase{"FirstAboveOneSecondJustAbove", {1.2, 1.04}, 0, 1.0},
                      LevelCase{"OneBelowOneAmongLouder", {1.3, 0.9, 1.1}, 1, 0},
                      LevelCase{"FirstQuietestRestAboveOne", {0.6, 1.3, 1.4}, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SeqlinkSegmentOutputTest, BlankIsSilenceAtTheReferenceEnergyAndNeverTheReference) {
  const Values a = seqtest::rampValues(10, 4096, 1), b = seqtest::rampValues(10, 2048, 2);
  ConfigBuilder config;
  config.segments = {segment(addFile("a.arb", a), 1e8, 10, seqtest::energyOf(a)),
                     segment("Blank", 1e8, 25, 0.0),
                     segment(addFile("b.arb", b), 1e8, 10, seqtest::energyOf(b))};
  const Output out = run(config);
  ASSERT_EQ(out.status, SEQLINK_OK);
  const double target = levelOf(b);
  const Values blank = out.segment(10, 25);
  EXPECT_TRUE(std::all_of(blank.begin(), blank.end(), [](auto v) { return v == 0; }));
  EXPECT_DOUBLE_EQ(out.energies[1], target * target * 25);
  EXPECT_EQ(out.segment(35, 10), b);
  EXPECT_EQ(out.name(1), "Blank");
}

TEST_F(SeqlinkSegmentOutputTest, ConfiguredEnergyZeroKeepsTheSamplesAndReportsTheTarget) {
  const Values a = seqtest::rampValues(10, 2048, 1), b = seqtest::rampValues(8, 4096, 2);
  ConfigBuilder config;
  config.segments = {segment(addFile("a.arb", a), 1e8, 10, seqtest::energyOf(a)),
                     segment(addFile("b.arb", b), 1e8, 8, 0.0)};
  const Output out = run(config);
  ASSERT_EQ(out.status, SEQLINK_OK);
  EXPECT_EQ(out.segment(10, 8), b);
  EXPECT_DOUBLE_EQ(out.energies[1], levelOf(a) * levelOf(a) * 8);
}

TEST_F(SeqlinkSegmentOutputTest, UnchangedLevelsKeepSamplesAndEnergies) {
  const Values a = seqtest::rampValues(10, 4096, 1), b = seqtest::rampValues(10, 2048, 2);
  ConfigBuilder config;
  config.levelMode = "UNCHANGED";
  config.segments = {segment(addFile("a.arb", a), 1e8, 10, 7.5),
                     segment(addFile("b.arb", b), 1e8, 10, 2.5), segment("Blank", 1e8, 3, 1.0)};
  const Output out = run(config);
  ASSERT_EQ(out.status, SEQLINK_OK);
  EXPECT_EQ(out.segment(0, 10), a);
  EXPECT_EQ(out.segment(10, 10), b);
  EXPECT_EQ(out.energies, (std::vector<double>{7.5, 2.5, 1.0}));
}

TEST_F(SeqlinkSegmentOutputTest, SegmentWithoutPairsHasNoLevelAndIsNeverTheReference) {
  // All levels above 1.0: the first segment with pairs, not an empty segment 0,
  // keeps its samples; the others are scaled to 1.0.
  const Values b = seqtest::rampValues(10, 11000, 2), c = seqtest::rampValues(10, 9000, 3);
  ConfigBuilder config;
  config.segments = {segment(addFile("a.arb", {}), 1e8, 0, 0.0), segment("Blank", 1e8, 0, 5.0),
                     segment(addFile("b.arb", b), 1e8, 10, seqtest::energyOf(b)),
                     segment(addFile("c.arb", c), 1e8, 10, seqtest::energyOf(c))};
  const Output out = run(config);
  ASSERT_EQ(out.status, SEQLINK_OK);
  EXPECT_EQ(out.energies[0], 0.0);
  EXPECT_EQ(out.energies[1], 5.0);  // left as it is
  EXPECT_EQ(out.segment(0, 10), b);
  Values expectC(c);
  for (auto& v : expectC) v = scaled(v, 1.0, levelOf(c));
  EXPECT_EQ(out.segment(10, 10), expectC);
}

TEST_F(SeqlinkSegmentOutputTest, EnergyThatDoesNotMatchTheSamplesCannotOverflowThem) {
  // A configured level far below the real one asks for a gain of thousands.
  const std::size_t pairs = 150000;
  const Values a = seqtest::rampValues(pairs, 1000, 1), b = seqtest::rampValues(10, 2048, 2);
  ConfigBuilder config;
  config.segments = {segment(addFile("a.arb", a), 1e8, pairs, 1.2e-5),
                     segment(addFile("b.arb", b), 1e8, 10, seqtest::energyOf(b))};
  const Output out = run(config);
  ASSERT_EQ(out.status, SEQLINK_OK);
  const double level = std::sqrt(1.2e-5 / pairs);
  Values expectA(a);
  for (auto& v : expectA) v = scaled(v, levelOf(b), level);
  EXPECT_EQ(out.segment(0, pairs), expectA);
  EXPECT_EQ(*std::max_element(expectA.begin(), expectA.end()), 32767);
}

TEST_F(SeqlinkSegmentOutputTest, NegativeOrNotANumberEnergyKeepsTheSamples) {
  const Values a = seqtest::rampValues(10, 4096, 1), b = seqtest::rampValues(10, 2048, 2);
  for (const char* energy : {"-4", "nan"}) {
    ConfigBuilder config;
    config.segments = {"\"" + addFile("a.arb", a) + "\",1,10," + energy,
                       segment(addFile("b.arb", b), 1e8, 10, seqtest::energyOf(b))};
    const Output out = run(config);
    ASSERT_EQ(out.status, SEQLINK_OK) << energy;
    EXPECT_EQ(out.segment(0, 10), a) << energy;
  }
}

TEST_F(SeqlinkSegmentOutputTest, FileWithFewerPairsThanConfiguredEndsInSilence) {
  const Values a = seqtest::rampValues(5, 3000, 1);
  ConfigBuilder config;
  config.levelMode = "UNCHANGED";
  config.segments = {segment(addFile("a.arb", a), 1e8, 8, 1.0)};
  const Output out = run(config);
  ASSERT_EQ(out.status, SEQLINK_OK);
  Values expect(a);
  expect.resize(16, 0);
  EXPECT_EQ(out.segment(0, 8), expect);
}

// Long segments are scaled through a table of every value's result, short ones
// value by value: the same samples either way, and the reported energy is exactly
// the ordered sum of (v / 8192)^2 over the scaled samples.
class SeqlinkRmsLengthTest : public SeqlinkSegmentOutputTest,
                             public ::testing::WithParamInterface<std::size_t> {};

TEST_P(SeqlinkRmsLengthTest, ScaledSamplesAndTheirExactEnergy) {
  const std::size_t pairs = GetParam();
  // Full scale in places, so that every scaled value of the table is used.
  Values a = seqtest::rampValues(pairs, 32767, 1);
  a.front() = -32768;
  const Values b = seqtest::rampValues(10, 2048, 2);
  ConfigBuilder config;
  config.segments = {segment(addFile("a.arb", a), 1e8, pairs, seqtest::energyOf(a)),
                     segment(addFile("b.arb", b), 1e8, 10, seqtest::energyOf(b))};
  const Output out = run(config);
  ASSERT_EQ(out.status, SEQLINK_OK);
  const double target = levelOf(b);
  const double level = levelOf(a);
  Values expectA(a);
  for (auto& v : expectA) v = scaled(v, target, level);
  EXPECT_TRUE(out.segment(0, pairs) == expectA);
  EXPECT_EQ(out.energies[0], seqtest::energyOf(expectA));
  EXPECT_EQ(out.segment(pairs, 10), b);
}

INSTANTIATE_TEST_SUITE_P(AroundTheTable, SeqlinkRmsLengthTest,
                         ::testing::Values(1, 3, 65535, 65536, 65537, 400001));

struct ClockCase {
  const char* mode;
  std::vector<double> rates;
  std::vector<double> expected;
};

void PrintTo(const ClockCase& c, std::ostream* os) {
  *os << c.mode;
  for (const double rate : c.rates) *os << " " << rate;
}

class SeqlinkClockRateModeTest : public SeqlinkSegmentOutputTest,
                                 public ::testing::WithParamInterface<ClockCase> {};

TEST_P(SeqlinkClockRateModeTest, SetsTheRates) {
  const ClockCase& c = GetParam();
  ConfigBuilder config;
  config.clockRateMode = c.mode;
  config.userClockRate = "123456.5";
  for (const double rate : c.rates) config.segments.push_back(segment("Blank", rate, 2, 0.0));
  const Output out = run(config);
  ASSERT_EQ(out.status, SEQLINK_OK);
  EXPECT_EQ(out.clocks, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Modes, SeqlinkClockRateModeTest,
                         ::testing::Values(ClockCase{"HIGHEST", {1e8, 2e8, 2e8}, {2e8, 2e8, 2e8}},
                                           ClockCase{"HIGHEST", {3e8, 1e8, 2e8}, {3e8, 3e8, 3e8}},
                                           ClockCase{"HIGHEST", {-5, -1}, {0, 0}},
                                           ClockCase{"USER", {1e8, 2e8}, {123456.5, 123456.5}},
                                           ClockCase{
                                               "UNCHANGED", {1e8, 2e8, 5e7}, {1e8, 2e8, 5e7}}));

class SeqlinkUnknownModeTest
    : public SeqlinkSegmentOutputTest,
      public ::testing::WithParamInterface<std::pair<std::string, std::string>> {};

TEST_P(SeqlinkUnknownModeTest, IsBadItem) {
  ConfigBuilder config;
  config.levelMode = GetParam().first;
  config.clockRateMode = GetParam().second;
  config.segments = {segment("Blank", 1, 2, 0.0)};
  EXPECT_EQ(run(config).status, SEQLINK_BAD_ITEM);
}

INSTANTIATE_TEST_SUITE_P(Modes, SeqlinkUnknownModeTest,
                         ::testing::Values(std::pair<std::string, std::string>{" RMS", "HIGHEST"},
                                           std::pair<std::string, std::string>{"rms", "HIGHEST"},
                                           std::pair<std::string, std::string>{"RMS", "HIGHEST "},
                                           std::pair<std::string, std::string>{"RMS", "TAKEOVER"},
                                           std::pair<std::string, std::string>{"IGNORE", "USER"}));

TEST_F(SeqlinkSegmentOutputTest, NamesOf255AreCopiedAnd256AreNameTooLong) {
  const Values a = seqtest::rampValues(3, 100, 1);
  std::string name = dir_.file("");
  name += std::string(255 - name.size(), 'n');
  ASSERT_EQ(name.size(), 255u);
  arbtest::writeBytes(name, seqtest::makeVersion1File(kText, a));
  ConfigBuilder config;
  config.levelMode = "UNCHANGED";
  config.segments = {segment(name, 1, 3, 1.0)};
  Output out = run(config);
  ASSERT_EQ(out.status, SEQLINK_OK);
  EXPECT_EQ(out.name(0), name);
  config.segments = {segment(name + "n", 1, 3, 1.0)};
  EXPECT_EQ(run(config).status, SEQLINK_NAME_TOO_LONG);
}

TEST_F(SeqlinkSegmentOutputTest, ReaderFailureIsReturnedAndEarlierSegmentsStay) {
  const Values a = seqtest::rampValues(4, 1000, 1);
  ConfigBuilder config;
  config.levelMode = "UNCHANGED";
  config.segments = {segment(addFile("a.arb", a), 1, 4, 1.0),
                     segment(dir_.file("absent.arb"), 1, 4, 1.0)};
  const Output out = run(config);
  EXPECT_EQ(out.status, SEQLINK_DATA_CANNOT_OPEN);
  EXPECT_EQ(out.segment(0, 4), a);
}

TEST_F(SeqlinkSegmentOutputTest, CanRunTwiceOnTheSameConfiguration) {
  const Values a = seqtest::rampValues(4, 4096, 1), b = seqtest::rampValues(4, 2048, 2);
  ConfigBuilder config;
  config.segments = {segment(addFile("a.arb", a), 1, 4, seqtest::energyOf(a)),
                     segment(addFile("b.arb", b), 1, 4, seqtest::energyOf(b))};
  const Output first = run(config);
  ASSERT_EQ(first.status, SEQLINK_OK);
  Output second = first;
  second.status =
      outputIQDataAndInf(second.samples.data(), second.names.data(), second.clocks.data(),
                         second.counts.data(), second.energies.data());
  EXPECT_EQ(second.status, SEQLINK_OK);
  EXPECT_EQ(second.samples, first.samples);
  EXPECT_EQ(second.energies, first.energies);
}

TEST_F(SeqlinkSegmentOutputTest, NullBuffersAreBadItem) {
  ConfigBuilder config;
  config.segments = {segment("Blank", 1, 2, 0.0)};
  ASSERT_EQ(run(config).status, SEQLINK_OK);
  std::vector<short> samples(4);
  char names[256];
  double clock = 0, energy = 0;
  int count = 0;
  EXPECT_EQ(outputIQDataAndInf(nullptr, names, &clock, &count, &energy), SEQLINK_BAD_ITEM);
  EXPECT_EQ(outputIQDataAndInf(samples.data(), nullptr, &clock, &count, &energy), SEQLINK_BAD_ITEM);
  EXPECT_EQ(outputIQDataAndInf(samples.data(), names, &clock, &count, nullptr), SEQLINK_BAD_ITEM);
  EXPECT_EQ(outputIQDataAndInf(samples.data(), names, &clock, &count, &energy), SEQLINK_OK);
}

}  // namespace
