// Unit tests of the hosts' analysis on sample arrays made here: the power
// distribution against a sort, the Welch spectrum against Parseval and known
// tones, the occupied bandwidth of spectra of known shape, symbol timing, eye
// interpolation, the sample exports, outputs through temporary files, and
// arbtool's reading of the display text of a header.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "analysed_waveform.h"
#include "analysis_output.h"
#include "files.h"
#include "levels.h"
#include "plot_data.h"
#include "power_distribution.h"
#include "sample_export.h"
#include "scratch_dir.h"
#include "waveform_header.h"
#include "welch.h"

namespace {

using Samples = std::vector<std::int16_t>;

Samples randomSamples(std::size_t count, int range, unsigned seed) {
  std::mt19937 generator(seed);
  std::uniform_int_distribution<int> value(-range, range);
  Samples s(2 * count);
  for (auto& v : s) v = static_cast<std::int16_t>(value(generator));
  return s;
}

// --- power distribution ------------------------------------------------------------

struct DistributionCase {
  int range;           // values within +-range
  double toleranceDb;  // 0: exact
};

void PrintTo(const DistributionCase& c, std::ostream* out) { *out << c.range; }

class HostAnalysisPowerDistribution : public testing::TestWithParam<DistributionCase> {};

TEST_P(HostAnalysisPowerDistribution, LevelsMatchTheSortedPowers) {
  for (const std::size_t count : {1u, 7u, 1000u, 50000u}) {
    const Samples s = randomSamples(count, GetParam().range, static_cast<unsigned>(count));
    std::vector<double> powers;
    for (std::size_t k = 0; k < count; ++k) {
      powers.push_back(double(s[2 * k]) * s[2 * k] + double(s[2 * k + 1]) * s[2 * k + 1]);
    }
    std::sort(powers.begin(), powers.end(), std::greater<>());
    const arbsuite::analysis::Levels levels = arbsuite::analysis::measureLevels(s);
    EXPECT_EQ(static_cast<double>(levels.peakPower), powers.front());
    const arbsuite::analysis::PowerDistribution distribution(s, levels.peakPower);
    for (const double share : {1.0, 0.5, 0.1, 0.01, 0.001, 0.0001}) {
      const auto m = std::max<std::size_t>(1, static_cast<std::size_t>(std::ceil(share * count)));
      const double expected = powers[m - 1];
      const double level = distribution.powerReachedBy(share);
      if (GetParam().toleranceDb == 0) {
        EXPECT_EQ(level, expected) << count << " " << share;
      } else if (expected > 0) {
        EXPECT_NEAR(10 * std::log10(level / expected), 0, GetParam().toleranceDb)
            << count << " " << share;
      }
      // The share above a level just under it includes the m-th strongest sample.
      if (GetParam().toleranceDb == 0 && expected > 0) {
        EXPECT_GE(distribution.fractionAbove(expected - 0.5), static_cast<double>(m) / count);
      }
    }
    EXPECT_EQ(distribution.fractionAbove(powers.front()), 0.0);
  }
}

INSTANTIATE_TEST_SUITE_P(All, HostAnalysisPowerDistribution,
                         // Peak powers below 2^16 (one power per bin) and up to the full 16-bit
                         // range, where a bin is 1/65,536 of the peak power wide.
                         testing::Values(DistributionCase{100, 0}, DistributionCase{8191, 0.001},
                                         DistributionCase{32767, 0.001}),
                         [](const testing::TestParamInfo<DistributionCase>& info) {
                           return "range_" + std::to_string(info.param.range);
                         });

TEST(HostAnalysisLevels, ClippingCountsPairsOnOrBeyondARail) {
  const Samples s = {8191, 0, 0, -8192, 8190, -8191, -9000, 12000, 100, 100, 8191, 8191};
  const arbsuite::analysis::Levels levels = arbsuite::analysis::measureLevels(s);
  EXPECT_EQ(levels.samples, 6u);
  EXPECT_EQ(levels.clipped, 4u);
  EXPECT_DOUBLE_EQ(levels.dcI, (8191 + 0 + 8190 - 9000 + 100 + 8191) / 6.0);
  EXPECT_EQ(levels.peakPower, 9000u * 9000u + 12000u * 12000u);
}

// --- Welch spectrum and occupied bandwidth ------------------------------------------

struct SegmentLengthCase {
  std::size_t samples;
  std::size_t length;
};

class HostAnalysisWelchSegment : public testing::TestWithParam<SegmentLengthCase> {};

TEST_P(HostAnalysisWelchSegment, LongestThatLeavesEightHalfOverlappingSegments) {
  EXPECT_EQ(arbsuite::analysis::welchSegmentLength(GetParam().samples), GetParam().length);
}

INSTANTIATE_TEST_SUITE_P(All, HostAnalysisWelchSegment,
                         testing::Values(SegmentLengthCase{16, 16}, SegmentLengthCase{63, 63},
                                         SegmentLengthCase{100, 64}, SegmentLengthCase{288, 64},
                                         SegmentLengthCase{576, 128},
                                         SegmentLengthCase{18431, 2048},
                                         SegmentLengthCase{18432, 4096},
                                         SegmentLengthCase{16000000, 4096}),
                         [](const testing::TestParamInfo<SegmentLengthCase>& info) {
                           return std::to_string(info.param.samples);
                         });

TEST(HostAnalysisWelch, DensityIntegratesToTheMeanPower) {
  // Parseval over the averaged periodograms: noise of any length, with the tail
  // segment included.
  for (const std::size_t count : {16u, 100u, 5000u, 100001u}) {
    const Samples s = randomSamples(count, 4000, 7);
    const auto spectrum = arbsuite::analysis::welchSpectrum(s, 1e6);
    ASSERT_TRUE(spectrum);
    double integral = 0;
    for (const double v : spectrum->density) integral += v * spectrum->binHz();
    const double mean = arbsuite::analysis::measureLevels(s).meanPower / (8192.0 * 8192.0);
    EXPECT_NEAR(integral / mean, 1.0, count < 1000 ? 0.3 : 0.05) << count;
  }
  EXPECT_FALSE(arbsuite::analysis::welchSpectrum(randomSamples(15, 100, 1), 1e6));
  EXPECT_FALSE(arbsuite::analysis::welchSpectrum(randomSamples(100, 100, 1), 0));
}

TEST(HostAnalysisWelch, ToneLandsInItsBinWithItsPower) {
  // A complex tone of amplitude 4096 (-6 dBFS, power 0.25) at bin 300 of 4096.
  const double clock = 4096e3;
  const int bin = 300;
  Samples s;
  for (int k = 0; k < 40000; ++k) {
    const double phase = 2 * std::numbers::pi * bin * k / 4096.0;
    s.push_back(static_cast<std::int16_t>(std::lround(4096 * std::cos(phase))));
    s.push_back(static_cast<std::int16_t>(std::lround(4096 * std::sin(phase))));
  }
  const auto spectrum = arbsuite::analysis::welchSpectrum(s, clock);
  ASSERT_TRUE(spectrum);
  const auto peak = std::max_element(spectrum->density.begin(), spectrum->density.end()) -
                    spectrum->density.begin();
  EXPECT_DOUBLE_EQ(spectrum->frequency(static_cast<std::size_t>(peak)), bin * 1e3);
  // The Hann window spreads it over three bins: 2/3, 1/6, 1/6.
  const double peakPower = spectrum->density[static_cast<std::size_t>(peak)] * spectrum->binHz();
  EXPECT_NEAR(peakPower, 0.25 * 2 / 3, 1e-6);  // single-precision transform
  const auto bandwidth = arbsuite::analysis::occupiedBandwidth(*spectrum, 0.99);
  ASSERT_TRUE(bandwidth);
  // 99 % lies within the three bins, less 0.5 % of the total at each outer edge:
  // 3 bins less 2 x 0.005 / (1/6) of a bin.
  EXPECT_NEAR(*bandwidth, (3 - 2 * 0.03) * 1e3, 0.01);  // worst 6e-5 Hz
}

struct BandCase {
  const char* name;
  std::function<double(double)> shape;  // density at f / (clock/2), f in [-1, 1)
  double share;
  double bandwidth;  // expected, in units of the clock
};

void PrintTo(const BandCase& c, std::ostream* out) { *out << c.name; }

class HostAnalysisOccupiedBandwidth : public testing::TestWithParam<BandCase> {};

TEST_P(HostAnalysisOccupiedBandwidth, OfSpectraOfKnownShape) {
  arbsuite::analysis::Spectrum spectrum;
  spectrum.clockHz = 1e6;
  spectrum.density.resize(4096);
  for (std::size_t k = 0; k < 4096; ++k) {
    spectrum.density[k] = GetParam().shape(spectrum.frequency(k) / 0.5e6);
  }
  const auto bandwidth = arbsuite::analysis::occupiedBandwidth(spectrum, GetParam().share);
  ASSERT_TRUE(bandwidth);
  // Within one bin.
  EXPECT_NEAR(*bandwidth, GetParam().bandwidth * 1e6, 1e6 / 4096);
}

INSTANTIATE_TEST_SUITE_P(
    All, HostAnalysisOccupiedBandwidth,
    testing::Values(
        // Flat over half the band: 99 % of it.
        BandCase{"flat_half", [](double x) { return std::fabs(x) < 0.5 ? 1.0 : 0.0; }, 0.99,
                 0.99 * 0.5},
        // Flat everywhere: the share of the clock.
        BandCase{"white", [](double) { return 2.0; }, 0.9, 0.9},
        // All power on one side: the band sits off centre, its width is the same.
        BandCase{"one_side", [](double x) { return x >= 0.2 && x < 0.6 ? 1.0 : 0.0; }, 0.99,
                 0.99 * 0.2},
        // Two equal lines at -0.5 and +0.5 of half the clock: the band spans both.
        BandCase{"two_lines",
                 [](double x) { return std::fabs(std::fabs(x) - 0.5) < 1e-9 ? 1.0 : 0.0; }, 0.99,
                 0.5}),
    [](const testing::TestParamInfo<BandCase>& info) { return std::string(info.param.name); });

TEST(HostAnalysisOccupiedBandwidth, NoneWithoutPower) {
  arbsuite::analysis::Spectrum spectrum;
  spectrum.clockHz = 1e6;
  spectrum.density.assign(64, 0.0);
  EXPECT_FALSE(arbsuite::analysis::occupiedBandwidth(spectrum, 0.99));
}

// --- symbol timing and eye -----------------------------------------------------------

struct TimingCase {
  double samplesPerSymbol;
  double phase;
};

void PrintTo(const TimingCase& c, std::ostream* out) {
  *out << c.samplesPerSymbol << "/" << c.phase;
}

class HostAnalysisSymbolTiming : public testing::TestWithParam<TimingCase> {};

// Raised-cosine pulses of random sign peak at the symbol instants: the timing
// search finds the phase the test put them at.
TEST_P(HostAnalysisSymbolTiming, FindsThePhaseOfThePulses) {
  const double sps = GetParam().samplesPerSymbol;
  const double phase = GetParam().phase;
  std::mt19937 generator(3);
  std::vector<double> symbolsI(2000);
  std::vector<double> symbolsQ(2000);
  for (auto& v : symbolsI) v = generator() % 2 ? 1 : -1;
  for (auto& v : symbolsQ) v = generator() % 2 ? 1 : -1;
  const auto count = static_cast<std::size_t>(2000 * sps);
  Samples s(2 * count);
  for (std::size_t k = 0; k < count; ++k) {
    double i = 0;
    double q = 0;
    const double t = (static_cast<double>(k) - phase) / sps;
    const auto nearest = static_cast<long>(std::lround(t));
    for (long n = std::max(0L, nearest - 4); n <= std::min(1999L, nearest + 4); ++n) {
      const double x = t - static_cast<double>(n);
      // A raised-cosine pulse (roll-off 0.5): zero at every other instant.
      const double sinc = x == 0 ? 1 : std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
      const double denominator = 1 - 4 * 0.25 * x * x;
      const double shape = std::fabs(denominator) < 1e-9
                               ? std::numbers::pi / 4
                               : std::cos(0.5 * std::numbers::pi * x) / denominator;
      i += symbolsI[static_cast<std::size_t>(n)] * sinc * shape;
      q += symbolsQ[static_cast<std::size_t>(n)] * sinc * shape;
    }
    s[2 * k] = static_cast<std::int16_t>(std::lround(3000 * i));
    s[2 * k + 1] = static_cast<std::int16_t>(std::lround(3000 * q));
  }
  const arbsuite::analysis::SymbolTiming timing = arbsuite::analysis::estimateSymbolTiming(s, sps);
  EXPECT_NEAR(timing.phase, phase, sps / 32 + 1e-9);
  // At the instants the values are the symbols.
  const auto values = arbsuite::analysis::symbolValues(s, timing, 500);
  EXPECT_EQ(values.size(), 500u);
  for (const auto& v : values) {
    EXPECT_NEAR(std::fabs(v.real()), 3000, 250);
    EXPECT_NEAR(std::fabs(v.imag()), 3000, 250);
  }
}

INSTANTIATE_TEST_SUITE_P(
    All, HostAnalysisSymbolTiming,
    testing::Values(TimingCase{4, 0}, TimingCase{4, 3}, TimingCase{8, 5}, TimingCase{5.5, 2.75}),
    [](const testing::TestParamInfo<TimingCase>& info) {
      return "sps_" + std::to_string(static_cast<int>(info.param.samplesPerSymbol * 10)) +
             "_phase_" + std::to_string(static_cast<int>(info.param.phase * 100));
    });

TEST(HostAnalysisEyeTraces, InterpolateABandLimitedSignalExactly) {
  // A tone of 1/8 of the sample rate, whole periods in the block: the
  // zero-padded transform reproduces it between the samples.
  Samples s;
  for (int k = 0; k < 4096; ++k) {
    s.push_back(
        static_cast<std::int16_t>(std::lround(5000 * std::cos(2 * std::numbers::pi * k / 8.0))));
    s.push_back(
        static_cast<std::int16_t>(std::lround(5000 * std::sin(2 * std::numbers::pi * k / 8.0))));
  }
  const arbsuite::analysis::SymbolTiming timing{4, 1};
  const arbsuite::analysis::EyeTraces eye = arbsuite::analysis::eyeTraces(s, timing, 50, 16);
  ASSERT_EQ(eye.i.size(), 50u);
  ASSERT_EQ(eye.time.size(), 33u);
  EXPECT_EQ(eye.time.front(), -1.0);
  EXPECT_EQ(eye.time.back(), 1.0);
  for (std::size_t t = 0; t < eye.i.size(); ++t) {
    // Trace t is centred on instant 1 + 4 (t + 5): guard symbols skipped first.
    const double centre = 1 + 4.0 * static_cast<double>(t + 5);
    for (std::size_t p = 0; p < eye.time.size(); ++p) {
      // The samples' rounding to whole LSB (0.5) carried through the interpolation.
      const double at = centre + eye.time[p] * 4;
      EXPECT_NEAR(eye.i[t][p], 5000 * std::cos(2 * std::numbers::pi * at / 8.0), 1.0);
      EXPECT_NEAR(eye.q[t][p], 5000 * std::sin(2 * std::numbers::pi * at / 8.0), 1.0);
    }
  }
}

TEST(HostAnalysisPlotData, DensityCountsTheSamplesInsideItsSquare) {
  const Samples s = {0, 0, 99, -99, -100, 0, 100, 0, 50, 50, 1000, 0};
  const arbsuite::analysis::DensityGrid grid = arbsuite::analysis::constellationDensity(s, 4, 100);
  double total = 0;
  for (const double c : grid.counts) total += c;
  // Cells 50 LSB wide from -100; (100, 0) and (1000, 0) lie outside [-100, 100).
  EXPECT_EQ(total, 4);
  EXPECT_EQ(grid.counts[2 * 4 + 2], 1);  // (0, 0)
  EXPECT_EQ(grid.counts[3 * 4 + 3], 1);  // (50, 50)
  EXPECT_EQ(grid.counts[3 * 4 + 0], 1);  // (99, -99)
  EXPECT_EQ(grid.counts[0 * 4 + 2], 1);  // (-100, 0)
}

TEST(HostAnalysisPlotData, CcdfCurveOfAConstantEnvelopeAndTheGaussianReference) {
  Samples s;
  for (int k = 0; k < 100; ++k) s.insert(s.end(), {3000, 4000});
  const arbsuite::analysis::CcdfCurve curve = arbsuite::analysis::ccdfCurve(s, 0.1);
  ASSERT_FALSE(curve.db.empty());
  EXPECT_EQ(curve.fraction.front(), 0.0);  // nothing above the mean power
  EXPECT_NEAR(arbsuite::analysis::gaussianCcdf(10 * std::log10(std::log(1e4))), 1e-4, 1e-12);
  EXPECT_TRUE(arbsuite::analysis::ccdfCurve(Samples(20, 0), 0.1).db.empty());
}

// The drawn line of a constant envelope falls down the axis where the curve ends; a
// curve of several points is drawn as it is.
TEST(HostAnalysisPlotData, CcdfLineOfAConstantEnvelopeFallsWhereNoSampleIsLeft) {
  using arbsuite::analysis::CcdfCurve;
  using arbsuite::analysis::ccdfLine;
  const double lowest = -4;
  // Exactly at the mean power: nothing above it, the line at 0 dB from 100 %.
  const auto exact = ccdfLine(CcdfCurve{{0, 0.05}, {0, 0}}, lowest);
  EXPECT_TRUE(exact.constantEnvelope);
  EXPECT_EQ(exact.edgeDb, 0);
  EXPECT_EQ(exact.x, (std::vector<double>{0, 0}));
  EXPECT_EQ(exact.y, (std::vector<double>{2, lowest}));
  // A quantised tone: half the samples a little above the mean, none 0.05 dB above.
  const auto tone = ccdfLine(CcdfCurve{{0, 0.05}, {0.5, 0}}, lowest);
  EXPECT_TRUE(tone.constantEnvelope);
  EXPECT_EQ(tone.edgeDb, 0.05);
  EXPECT_EQ(tone.x, (std::vector<double>{0, 0.05, 0.05}));
  ASSERT_EQ(tone.y.size(), 3u);
  EXPECT_DOUBLE_EQ(tone.y[0], std::log10(50.0));
  EXPECT_DOUBLE_EQ(tone.y[1], std::log10(50.0));
  EXPECT_EQ(tone.y[2], lowest);
  // Noise: its points, nothing added; below the axis the line stops.
  const auto noise = ccdfLine(CcdfCurve{{0, 1, 2, 3}, {0.4, 0.1, 1e-7, 0}}, lowest);
  EXPECT_FALSE(noise.constantEnvelope);
  EXPECT_EQ(noise.x, (std::vector<double>{0, 1}));
  // Silence has no curve and no line.
  EXPECT_TRUE(ccdfLine(CcdfCurve{}, lowest).x.empty());
  // The curve of a real constant envelope, as measured.
  Samples s;
  for (int k = 0; k < 100; ++k) s.insert(s.end(), {3000, 4000});
  EXPECT_TRUE(ccdfLine(arbsuite::analysis::ccdfCurve(s, 0.1), lowest).constantEnvelope);
}

// --- exports -------------------------------------------------------------------------

std::string writtenBy(const std::function<void(std::FILE*)>& write) {
  std::FILE* file = std::tmpfile();
  write(file);
  std::rewind(file);
  std::string text;
  for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
  std::fclose(file);
  return text;
}

TEST(HostAnalysisSampleExport, EachFormatOfTheSameValues) {
  const Samples s = {0, -1, 8191, -8192, 32767, -32768, 1234, -4321};
  const auto as = [&](arbsuite::analysis::SampleFormat format) {
    return writtenBy([&](std::FILE* f) { arbsuite::analysis::writeSamples(f, s, format, "test"); });
  };
  EXPECT_EQ(as(arbsuite::analysis::SampleFormat::Csv),
            "0,-1\n8191,-8192\n32767,-32768\n1234,-4321\n");
  std::string ci16;
  std::string cf32;
  for (const std::int16_t v : s) {
    const auto word = static_cast<std::uint16_t>(v);
    ci16 += static_cast<char>(word & 0xFF);
    ci16 += static_cast<char>(word >> 8);
    const auto bits = std::bit_cast<std::uint32_t>(static_cast<float>(v / 8192.0));
    for (int k = 0; k < 4; ++k) cf32 += static_cast<char>((bits >> (8 * k)) & 0xFF);
  }
  EXPECT_EQ(as(arbsuite::analysis::SampleFormat::Ci16Le), ci16);
  EXPECT_EQ(as(arbsuite::analysis::SampleFormat::Cf32Le), cf32);
  // Longer than one write block.
  const Samples many = randomSamples(100000, 8000, 5);
  EXPECT_EQ(writtenBy([&](std::FILE* f) {
              arbsuite::analysis::writeSamples(f, many, arbsuite::analysis::SampleFormat::Ci16Le,
                                               "test");
            }).size(),
            400000u);
}

TEST(HostAnalysisSampleExport, NamesAndSigmfMetadata) {
  EXPECT_EQ(arbsuite::analysis::sampleFormatNamed("cf32_le"),
            arbsuite::analysis::SampleFormat::Cf32Le);
  EXPECT_FALSE(arbsuite::analysis::sampleFormatNamed("CF32_LE"));
  EXPECT_FALSE(arbsuite::analysis::sampleFormatNamed("cf32"));
  for (const auto& [given, base] :
       std::vector<std::pair<std::string, std::string>>{{"rec", "rec"},
                                                        {"rec.sigmf-meta", "rec"},
                                                        {"dir/rec.sigmf-data", "dir/rec"},
                                                        {"rec.sigmf", "rec"},
                                                        {"rec.arb", "rec.arb"}}) {
    EXPECT_EQ(arbsuite::analysis::sigmfBaseName(given), base) << given;
  }
  arbsuite::analysis::SigmfRecording recording;
  recording.description = "Value: 1.0";
  recording.recorder = "test 1";
  recording.segments = {{"a.arb", 0, 10, 1e6}, {"Blank", 10, 5, 2e6}};
  const auto meta = arbsuite::analysis::sigmfMetadata(recording);
  // Mixed clocks: no sample rate, each segment's clock in its annotation.
  EXPECT_FALSE(meta["global"].contains("core:sample_rate"));
  EXPECT_EQ(meta["annotations"][1]["core:comment"], "clock 2000000 Hz");
  EXPECT_EQ(meta["annotations"][1]["core:sample_start"], 10);
  EXPECT_EQ(meta.begin().key(), "global");
}

// --- output files --------------------------------------------------------------------

std::size_t entriesIn(const std::filesystem::path& folder) {
  std::size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    (void)entry;
    ++count;
  }
  return count;
}

TEST(HostAnalysisOutputFile, ReplacesOnlyAtCommit) {
  arbtest::ScratchDir dir;
  const std::string path = dir.file("out.txt");
  arbtest::writeText(path, "old");
  {
    arbsuite::analysis::OutputFile file(path);
    std::fputs("new", file.stream());
    EXPECT_EQ(arbtest::readText(path), "old");  // not before commit
  }
  EXPECT_EQ(arbtest::readText(path), "old");  // dropped without commit
  EXPECT_EQ(entriesIn(dir.path()), 1u);
  {
    arbsuite::analysis::OutputFile file(path);
    std::fputs("new", file.stream());
    file.commit();
  }
  EXPECT_EQ(arbtest::readText(path), "new");
  EXPECT_EQ(entriesIn(dir.path()), 1u);
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  const mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);  // not mkstemp's private mode
}

TEST(HostAnalysisOutputFile, LinksStayDevicesAreWrittenThrough) {
  arbtest::ScratchDir dir;
  arbtest::writeText(dir.file("target.txt"), "old");
  std::filesystem::create_symlink("target.txt", dir.file("link.txt"));
  {
    arbsuite::analysis::OutputFile file(dir.file("link.txt"));
    std::fputs("new", file.stream());
    file.commit();
  }
  EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.txt")));
  EXPECT_EQ(arbtest::readText(dir.file("target.txt")), "new");
  {
    arbsuite::analysis::OutputFile file("/dev/null");
    EXPECT_EQ(file.writePath(), "/dev/null");
    std::fputs("nothing", file.stream());
    file.commit();
  }
  struct stat info {};
  ASSERT_EQ(::stat("/dev/null", &info), 0);
  EXPECT_TRUE(S_ISCHR(info.st_mode));
  EXPECT_THROW(arbsuite::analysis::OutputFile(dir.file("missing/x")),
               arbsuite::analysis::OutputError);
  EXPECT_THROW(arbsuite::analysis::OutputFile(dir.path().string()),
               arbsuite::analysis::OutputError);
}

// --- arbtool: the display text of a header ------------------------------------------

TEST(HostArbtoolHeader, ItemsOfTheDisplayText) {
  const auto items = arbsuite::headerItems(
      " Clock          :1000000HZ\n ModulationMode :Digital\n FilterCoefficients :1.000000\n");
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].key, "Clock");
  EXPECT_EQ(items[0].value, "1000000HZ");
  EXPECT_EQ(items[2].key, "FilterCoefficients");
  EXPECT_EQ(arbsuite::describeItems(items),
            "Clock: 1000000HZ\nModulationMode: Digital\nFilterCoefficients: 1.000000");
}

const char* const kTwoSegments =
    " Value          :2.000000\n Num            :48\n NUMBER SEGMENTS:2\n"
    " SEGMENT_0      :c:/waves/a.arb,1000000.000000,10,1.000000\n"
    " SEGMENT_1      :Blank,2000000.000000,2,0.000000";

TEST(HostArbtoolHeader, SegmentTableFromTheSegmentItems) {
  const auto segments = arbsuite::analysis::segmentTable(arbsuite::headerItems(kTwoSegments), 12);
  ASSERT_EQ(segments.size(), 2u);
  EXPECT_EQ(segments[0].name, "c:/waves/a.arb");
  EXPECT_EQ(segments[0].start, 0u);
  EXPECT_EQ(segments[0].count, 10u);
  EXPECT_EQ(segments[0].clockHz, 1e6);
  EXPECT_EQ(segments[1].name, "Blank");
  EXPECT_EQ(segments[1].start, 10u);
  EXPECT_EQ(arbsuite::analysis::commonClock(segments), std::nullopt);
  arbsuite::analysis::Waveform waveform;
  const Samples samples(24, 1);
  waveform.iq = samples;
  waveform.segments = segments;
  EXPECT_EQ(waveform.segment(1).samples(), 2u);
  EXPECT_EQ(waveform.segment(1).clockHz, 2e6);
  EXPECT_THROW(waveform.segment(2), std::out_of_range);
}

class HostArbtoolHeaderFault : public testing::TestWithParam<std::pair<const char*, std::size_t>> {
};

TEST_P(HostArbtoolHeaderFault, IsReportedNotGuessed) {
  EXPECT_THROW(
      arbsuite::analysis::segmentTable(arbsuite::headerItems(GetParam().first), GetParam().second),
      arbsuite::analysis::HeaderError)
      << GetParam().first;
}

INSTANTIATE_TEST_SUITE_P(
    All, HostArbtoolHeaderFault,
    testing::Values(std::make_pair(kTwoSegments, std::size_t{13}),  // counts do not add up
                    std::make_pair(kTwoSegments, std::size_t{11}),
                    std::make_pair(" Value:1\n SEGMENT_0:a,1,1,1", std::size_t{1}),  // no count
                    std::make_pair(" NUMBER SEGMENTS:2\n SEGMENT_0:a,1,1,1", std::size_t{1}),
                    std::make_pair(" NUMBER SEGMENTS:1\n SEGMENT_0:a,1,x,1", std::size_t{1}),
                    std::make_pair(" NUMBER SEGMENTS:1\n SEGMENT_0:1,1", std::size_t{1})));

}  // namespace
