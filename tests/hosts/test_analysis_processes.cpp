// Runs arbtool stats, plot and dump and iqsynth --plot as processes on .arb files
// whose stored samples the tests chose (packed with the packer itself, which keeps
// every value as given) or that iqsynth made, and checks what they report against
// figures computed here from the same samples.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <numbers>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "files.h"
#include "image_checks.h"
#include "pair_packer.h"
#include "process.h"
#include "scratch_dir.h"

namespace {

using arbtest::describe;
using arbtest::ProcessResult;
using arbtest::ScratchDir;
using Json = nlohmann::json;
using Samples = std::vector<std::int16_t>;  // I0, Q0, I1, Q1, ...

ProcessResult arbtool(const ScratchDir& dir, const std::vector<std::string>& args) {
  return arbtest::runProcess(ARBTOOL_PROGRAM, args, dir.path());
}
ProcessResult iqsynth(const ScratchDir& dir, const std::vector<std::string>& args) {
  return arbtest::runProcess(IQSYNTH_PROGRAM, args, dir.path());
}
ProcessResult wavepack(const ScratchDir& dir, const std::vector<std::string>& args) {
  return arbtest::runProcess(WAVEPACK_PROGRAM, args, dir.path());
}

std::vector<std::uint8_t> littleEndian16(const Samples& samples) {
  std::vector<std::uint8_t> bytes;
  for (const std::int16_t v : samples) {
    bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(v) & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(v) >> 8));
  }
  return bytes;
}

std::vector<std::uint8_t> littleEndianFloats(const Samples& samples) {
  std::vector<std::uint8_t> bytes;
  for (const std::int16_t v : samples) {
    const auto bits = std::bit_cast<std::uint32_t>(static_cast<float>(v) / 8192.0f);
    for (int k = 0; k < 4; ++k) bytes.push_back(static_cast<std::uint8_t>(bits >> (8 * k)));
  }
  return bytes;
}

// An .arb file holding exactly these stored values at clockHz, made by the packer.
void packArb(const ScratchDir& dir, const std::string& name, const Samples& samples, int clockHz) {
  const int status =
      arbsuite::packSamples(samples, arbsuite::converterFields(clockHz), dir.file(name).c_str());
  ASSERT_EQ(status, arbsuite::kPackOk) << name;
}

Samples parseCsv(const std::string& text) {
  Samples samples;
  for (const auto& [i, q] : arbtest::csvPairs(text)) {
    samples.push_back(static_cast<std::int16_t>(i));
    samples.push_back(static_cast<std::int16_t>(q));
  }
  return samples;
}

// The stored samples, through the CSV dump (unchanged by the analysis work).
Samples dumpedSamples(const ScratchDir& dir, const std::string& file) {
  const ProcessResult r = arbtool(dir, {"dump", file});
  EXPECT_EQ(r.exitStatus, 0) << describe(r);
  return parseCsv(r.out);
}

Json statsJson(const ScratchDir& dir, const std::string& file) {
  const ProcessResult r = arbtool(dir, {"stats", "--json", file});
  EXPECT_EQ(r.exitStatus, 0) << describe(r);
  EXPECT_TRUE(r.err.empty()) << r.err;
  return Json::parse(r.out);
}

// --- figures computed here, by the definitions -----------------------------------------

struct Figures {
  std::size_t samples = 0;
  double peak = 0;
  double meanPower = 0;
  double dcI = 0;
  double dcQ = 0;
  std::size_t clipped = 0;
  std::vector<double> ccdfDb;  // at 10 %, 1 %, 0.1 %, 0.01 %
};

Figures figuresOf(const Samples& s) {
  Figures f;
  f.samples = s.size() / 2;
  std::vector<double> powers;
  for (std::size_t k = 0; k < f.samples; ++k) {
    const double i = s[2 * k];
    const double q = s[2 * k + 1];
    powers.push_back(i * i + q * q);
    f.peak = std::max(f.peak, std::hypot(i, q));
    f.meanPower += i * i + q * q;
    f.dcI += i;
    f.dcQ += q;
    const bool rail = i <= -8192 || i >= 8191 || q <= -8192 || q >= 8191;
    f.clipped += rail ? 1 : 0;
  }
  f.meanPower /= static_cast<double>(f.samples);
  f.dcI /= static_cast<double>(f.samples);
  f.dcQ /= static_cast<double>(f.samples);
  std::sort(powers.begin(), powers.end(), std::greater<>());
  for (const double p : {0.1, 0.01, 0.001, 0.0001}) {
    // The power that the given share of the samples reach: the m-th strongest.
    const auto m = static_cast<std::size_t>(std::ceil(p * static_cast<double>(f.samples) - 1e-9));
    f.ccdfDb.push_back(10 * std::log10(powers[std::max<std::size_t>(m, 1) - 1] / f.meanPower));
  }
  return f;
}

void expectFigures(const Json& j, const Figures& f, double clockHz) {
  const double fullScale = 8192.0 * 8192.0;
  EXPECT_EQ(j["samples"].get<std::size_t>(), f.samples);
  EXPECT_DOUBLE_EQ(j["clock_hz"].get<double>(), clockHz);
  EXPECT_NEAR(j["duration_s"].get<double>(), static_cast<double>(f.samples) / clockHz, 1e-12);
  EXPECT_NEAR(j["peak"].get<double>(), f.peak, 1e-9);
  EXPECT_NEAR(j["peak_dbfs"].get<double>(), 10 * std::log10(f.peak * f.peak / fullScale), 1e-9);
  EXPECT_NEAR(j["rms_dbfs"].get<double>(), 10 * std::log10(f.meanPower / fullScale), 1e-9);
  EXPECT_NEAR(j["papr_db"].get<double>(), 10 * std::log10(f.peak * f.peak / f.meanPower), 1e-9);
  EXPECT_NEAR(j["dc"][0].get<double>(), f.dcI, 1e-9);
  EXPECT_NEAR(j["dc"][1].get<double>(), f.dcQ, 1e-9);
  EXPECT_EQ(j["clipped"].get<std::size_t>(), f.clipped);
  const char* keys[] = {"10", "1", "0.1", "0.01"};
  for (int k = 0; k < 4; ++k) {
    EXPECT_NEAR(j["ccdf_db"][keys[k]].get<double>(), f.ccdfDb[k], 0.01) << keys[k];
  }
}

const std::set<std::string> kStatsKeys = {
    "samples", "clock_hz", "duration_s", "peak",   "peak_dbfs", "rms_dbfs",   "papr_db",
    "ccdf_db", "dc",       "clipped",    "obw_hz", "seam_lsb",  "seam_ratio", "loop_regrowth_db"};

std::set<std::string> keysOf(const Json& object) {
  std::set<std::string> keys;
  for (const auto& item : object.items()) keys.insert(item.key());
  return keys;
}

// --- waveforms made here -------------------------------------------------------------

constexpr int kClock = 1000000;

// Long enough for the longest Welch segment, 4096 points: bins of clock/4096.
constexpr int kToneSamples = 40960;

// A tone at 0 Hz: (1000, -2000) throughout.
Samples constantSamples() {
  Samples s;
  for (int k = 0; k < kToneSamples; ++k) s.insert(s.end(), {1000, -2000});
  return s;
}

// A complex tone of `amplitude` at clock/16 (whole periods) plus a constant part,
// each component clipped to the 14-bit rails.
Samples toneSamples(double amplitude, int constantI, int constantQ) {
  Samples s;
  for (int k = 0; k < kToneSamples; ++k) {
    const double phase = 2 * std::numbers::pi * k / 16.0;
    const double i =
        std::clamp(std::round(amplitude * std::cos(phase)) + constantI, -8192.0, 8191.0);
    const double q =
        std::clamp(std::round(amplitude * std::sin(phase)) + constantQ, -8192.0, 8191.0);
    s.push_back(static_cast<std::int16_t>(i));
    s.push_back(static_cast<std::int16_t>(q));
  }
  return s;
}

// Complex Gaussian noise, 1,200 LSB per component: a peak near 6,000 for a million
// samples, far from the rails.
Samples gaussianSamples(std::size_t count) {
  std::mt19937_64 generator(20240611);
  std::normal_distribution<double> normal(0.0, 1200.0);
  Samples s;
  for (std::size_t k = 0; k < 2 * count; ++k) {
    s.push_back(
        static_cast<std::int16_t>(std::clamp(std::round(normal(generator)), -8192.0, 8191.0)));
  }
  return s;
}

void expectPicture(const std::string& path, int width, int height, bool curves = true);

struct StatsCase {
  const char* name;
  std::function<Samples()> make;
  std::function<void(const Json&, const Figures&)> expect;  // what the case shows besides
};

void PrintTo(const StatsCase& c, std::ostream* out) { *out << c.name; }

const double kBin = kClock / 4096.0;  // the Welch bin of long waveforms

class HostArbtoolStats : public testing::TestWithParam<StatsCase> {};

TEST_P(HostArbtoolStats, MatchFiguresComputedFromTheStoredSamples) {
  ScratchDir dir;
  const Samples samples = GetParam().make();
  packArb(dir, "w.arb", samples, kClock);
  ASSERT_EQ(dumpedSamples(dir, "w.arb"), samples);
  const Json j = statsJson(dir, "w.arb");
  EXPECT_EQ(keysOf(j), [] {
    auto keys = kStatsKeys;
    keys.insert({"segments", "boundaries"});
    return keys;
  }());
  EXPECT_EQ(keysOf(j["ccdf_db"]), (std::set<std::string>{"10", "1", "0.1", "0.01"}));
  EXPECT_TRUE(j["segments"].is_array() && j["segments"].empty());
  const Figures f = figuresOf(samples);
  expectFigures(j, f, kClock);
  GetParam().expect(j, f);
}

INSTANTIATE_TEST_SUITE_P(
    All, HostArbtoolStats,
    testing::Values(
        // The constant part is all of the tone.
        StatsCase{"constant", constantSamples,
                  [](const Json& j, const Figures&) {
                    EXPECT_NEAR(j["papr_db"].get<double>(), 0, 1e-12);
                    EXPECT_EQ(j["dc"], Json::array({1000.0, -2000.0}));
                    EXPECT_LT(j["obw_hz"].get<double>(), 4 * kBin);
                    for (const auto& level : j["ccdf_db"])
                      EXPECT_NEAR(level.get<double>(), 0, 1e-9);
                  }},
        // A pure complex tone: constant envelope up to the rounding to whole LSB.
        StatsCase{"tone", [] { return toneSamples(6000, 0, 0); },
                  [](const Json& j, const Figures&) {
                    EXPECT_LT(j["papr_db"].get<double>(), 0.002);
                    EXPECT_LT(j["obw_hz"].get<double>(), 4 * kBin);
                    EXPECT_NEAR(j["dc"][0].get<double>(), 0, 0.01);
                    EXPECT_NEAR(j["dc"][1].get<double>(), 0, 0.01);
                  }},
        // The same tone on a constant part: the DC offset is that part.
        StatsCase{"tone_with_offset", [] { return toneSamples(5000, 700, -300); },
                  [](const Json& j, const Figures&) {
                    EXPECT_NEAR(j["dc"][0].get<double>(), 700, 0.01);
                    EXPECT_NEAR(j["dc"][1].get<double>(), -300, 0.01);
                    EXPECT_EQ(j["clipped"], 0);
                    // Power at 0 Hz and at clock/16: the band spans both.
                    EXPECT_NEAR(j["obw_hz"].get<double>(), kClock / 16.0, 4 * kBin);
                  }},
        // A tone beyond full scale, clipped at the rails: of its 16 phases, 22.5
        // degrees apart, only the four at 45 degrees from the axes keep I and Q
        // below 8191 (|cos| and |sin| under 0.8191).
        StatsCase{"clipped", [] { return toneSamples(10000, 0, 0); },
                  [](const Json& j, const Figures& f) {
                    EXPECT_EQ(f.clipped, kToneSamples / 4 * 3);
                    EXPECT_EQ(j["clipped"].get<std::size_t>(), f.clipped);
                  }},
        // Complex Gaussian noise: P(power > x mean) = exp(-x), 9.64 dB at 0.01 %.
        StatsCase{"gaussian", [] { return gaussianSamples(1000000); },
                  [](const Json& j, const Figures&) {
                    EXPECT_NEAR(j["ccdf_db"]["0.01"].get<double>(), 9.6, 0.5);
                    const char* keys[] = {"10", "1", "0.1", "0.01"};
                    const double shares[] = {0.1, 0.01, 0.001, 0.0001};
                    for (int k = 0; k < 4; ++k) {
                      EXPECT_NEAR(j["ccdf_db"][keys[k]].get<double>(),
                                  10 * std::log10(std::log(1 / shares[k])), 0.15)
                          << keys[k];
                    }
                    // White noise fills the band.
                    EXPECT_NEAR(j["obw_hz"].get<double>(), 0.99 * kClock, 0.01 * kClock);
                    EXPECT_EQ(j["clipped"], 0);
                  }}),
    [](const testing::TestParamInfo<StatsCase>& info) { return std::string(info.param.name); });

// The band holding 99 % of the power of a raised-cosine spectrum of roll-off alpha,
// in symbol rates: flat to (1 - alpha)/2, then half a cosine period down to zero
// at (1 + alpha)/2. The upper tail above f1 + u holds
// (alpha - u)/2 - alpha/(2 pi) sin(pi u / alpha) of the unit power; 0.5 % per side.
double raisedCosineOccupiedBandwidth(double alpha) {
  const auto tail = [alpha](double u) {
    return (alpha - u) / 2 -
           alpha / (2 * std::numbers::pi) * std::sin(std::numbers::pi * u / alpha);
  };
  double low = 0;
  double high = alpha;
  for (int k = 0; k < 100; ++k) {
    const double middle = (low + high) / 2;
    (tail(middle) > 0.005 ? low : high) = middle;
  }
  return 2 * ((1 - alpha) / 2 + low);
}

class HostArbtoolStatsQpsk : public testing::TestWithParam<double> {};

TEST_P(HostArbtoolStatsQpsk, OccupiedBandwidthOfRootRaisedCosineShaping) {
  ScratchDir dir;
  const double alpha = GetParam();
  const double symbolRate = 1e6;
  const ProcessResult made =
      iqsynth(dir, {"-M", "qpsk", "-n", "8192", "-r", "1MHz", "-s", "8", "-f", "rrc", "-a",
                    std::to_string(alpha), "-l", "32", "-d", "prbs15", "-o", "q.arb"});
  ASSERT_EQ(made.exitStatus, 0) << describe(made);
  const Json j = statsJson(dir, "q.arb");
  expectFigures(j, figuresOf(dumpedSamples(dir, "q.arb")), 8e6);
  // Near (1 + alpha) x symbol rate: the 99 % band of the ideal spectrum (0.86 to
  // 0.9 of it for these roll-offs), within the truncation of the filter.
  const double expected = raisedCosineOccupiedBandwidth(alpha) * symbolRate;
  EXPECT_NEAR(j["obw_hz"].get<double>(), expected, 0.04 * expected);
  EXPECT_LT(j["obw_hz"].get<double>(), (1 + alpha) * symbolRate);
  EXPECT_GT(j["papr_db"].get<double>(), 3.0);
  EXPECT_LT(j["papr_db"].get<double>(), 6.0);
}

INSTANTIATE_TEST_SUITE_P(All, HostArbtoolStatsQpsk, testing::Values(0.22, 0.35, 0.5),
                         [](const testing::TestParamInfo<double>& info) {
                           return "alpha_" + std::to_string(static_cast<int>(info.param * 100));
                         });

TEST(HostArbtoolStats, MultiSegmentFileGivesEverySegment) {
  ScratchDir dir;
  const Samples a = toneSamples(3000, 0, 0);
  Samples b = constantSamples();
  b.resize(2 * 1000);
  packArb(dir, "a.arb", a, 1000000);
  packArb(dir, "b.arb", b, 2000000);
  // Levels and clocks unchanged: the segments keep their samples and clocks.
  ProcessResult r = arbtool(dir, {"join", "-o", "j.arb", "a.arb", "blank:100", "b.arb"});
  ASSERT_EQ(r.exitStatus, 0) << describe(r);
  Json j = statsJson(dir, "j.arb");
  EXPECT_EQ(j["samples"], kToneSamples + 100 + 1000);
  EXPECT_TRUE(j["clock_hz"].is_null());
  EXPECT_TRUE(j["obw_hz"].is_null());
  EXPECT_NEAR(j["duration_s"].get<double>(), kToneSamples / 1e6 + 100 / 1e6 + 1000 / 2e6, 1e-12);
  ASSERT_EQ(j["segments"].size(), 3u);
  const char* names[] = {"a.arb", "Blank", "b.arb"};
  const double clocks[] = {1e6, 1e6, 2e6};
  const Samples blank(200, 0);
  const Samples* parts[] = {&a, &blank, &b};
  for (int k = 0; k < 3; ++k) {
    const Json& segment = j["segments"][k];
    auto keys = kStatsKeys;
    keys.insert("name");
    EXPECT_EQ(keysOf(segment), keys);
    EXPECT_EQ(segment["name"], names[k]);
    if (k == 1) {
      // Silence: no decibels, no bandwidth.
      EXPECT_EQ(segment["samples"], 100);
      EXPECT_TRUE(segment["rms_dbfs"].is_null());
      EXPECT_TRUE(segment["obw_hz"].is_null());
      EXPECT_EQ(segment["dc"], Json::array({0.0, 0.0}));
      continue;
    }
    expectFigures(segment, figuresOf(*parts[k]), clocks[k]);
  }

  // One clock for all: the file's own figures have it.
  r = arbtool(dir, {"join", "-o", "h.arb", "--clock", "highest", "a.arb", "b.arb"});
  ASSERT_EQ(r.exitStatus, 0) << describe(r);
  j = statsJson(dir, "h.arb");
  EXPECT_EQ(j["clock_hz"], 2e6);
  EXPECT_EQ(j["segments"][0]["clock_hz"], 2e6);
  EXPECT_TRUE(j["obw_hz"].is_number());

  // The text form names the file and each segment.
  r = arbtool(dir, {"stats", "j.arb"});
  EXPECT_EQ(r.exitStatus, 0) << describe(r);
  EXPECT_EQ(r.out.rfind("File:       j.arb\n", 0), 0u) << r.out;
  EXPECT_THAT(r.out, ::testing::HasSubstr("Segment 2: b.arb")) << r.out;
  EXPECT_THAT(r.out, ::testing::HasSubstr("PAPR:")) << r.out;
}

TEST(HostArbtoolStats, FileWithoutAClockAndAnEmptyFile) {
  ScratchDir dir;
  // A Clock item of 0 Hz: no duration and no bandwidth, the levels all the same.
  packArb(dir, "c0.arb", toneSamples(3000, 0, 0), 0);
  Json j = statsJson(dir, "c0.arb");
  EXPECT_TRUE(j["clock_hz"].is_null());
  EXPECT_TRUE(j["duration_s"].is_null());
  EXPECT_TRUE(j["obw_hz"].is_null());
  EXPECT_NEAR(j["peak"].get<double>(), figuresOf(toneSamples(3000, 0, 0)).peak, 1e-9);
  ProcessResult r = arbtool(dir, {"plot", "c0.arb", "-o", "s.png", "--kind", "spectrum"});
  EXPECT_EQ(r.exitStatus, 1) << describe(r);
  EXPECT_THAT(r.err, ::testing::HasSubstr("gives no clock above 0 Hz")) << r.err;
  r = arbtool(dir, {"plot", "c0.arb", "-o", "c.png", "--kind", "constellation"});
  EXPECT_EQ(r.exitStatus, 0) << describe(r);

  // No samples: counts of zero, no figure that needs one.
  packArb(dir, "empty.arb", {}, kClock);
  j = statsJson(dir, "empty.arb");
  EXPECT_EQ(j["samples"], 0);
  EXPECT_EQ(j["duration_s"], 0.0);
  EXPECT_EQ(j["peak"], 0.0);
  for (const char* key : {"peak_dbfs", "rms_dbfs", "papr_db", "obw_hz"}) {
    EXPECT_TRUE(j[key].is_null()) << key;
  }
  EXPECT_EQ(j["dc"], Json::parse("[null, null]"));
  for (const auto& level : j["ccdf_db"]) EXPECT_TRUE(level.is_null());
  r = arbtool(dir, {"plot", "empty.arb", "-o", "e.png"});
  EXPECT_EQ(r.exitStatus, 0) << describe(r);
  expectPicture(dir.file("e.png"), 1200, 900, false);
}

// --- dump ----------------------------------------------------------------------------

// A waveform whose strongest pair is (6634, 0), the largest stored value the
// converter writes at its default level, with every other modulus below it: the
// converter's normalisation then gives back the same values.
Samples roundTripSamples() {
  Samples s = {6634, 0};
  for (int k = 1; k < 3001; ++k) {
    const double phase = 0.37 * k;
    const double radius = 200 + (k * 7919 % 6000);
    s.push_back(static_cast<std::int16_t>(std::lround(radius * std::cos(phase))));
    s.push_back(static_cast<std::int16_t>(std::lround(radius * std::sin(phase))));
  }
  return s;
}

struct DumpCase {
  const char* format;
  std::vector<std::uint8_t> (*encode)(const Samples&);
};

std::vector<std::uint8_t> csvBytes(const Samples& s) {
  std::string text;
  for (std::size_t k = 0; k < s.size(); k += 2) {
    text += std::to_string(s[k]) + "," + std::to_string(s[k + 1]) + "\n";
  }
  return {text.begin(), text.end()};
}

void PrintTo(const DumpCase& c, std::ostream* out) { *out << c.format; }

class HostArbtoolDump : public testing::TestWithParam<DumpCase> {};

TEST_P(HostArbtoolDump, WritesTheStoredValuesToAFileOrStandardOutput) {
  ScratchDir dir;
  const Samples samples = roundTripSamples();
  packArb(dir, "w.arb", samples, kClock);
  const std::vector<std::uint8_t> expected = GetParam().encode(samples);

  ProcessResult r = arbtool(dir, {"dump", "w.arb", "--format", GetParam().format, "-o", "out.bin"});
  ASSERT_EQ(r.exitStatus, 0) << describe(r);
  EXPECT_EQ(r.out, "Wrote 3001 samples of w.arb to out.bin\n");
  EXPECT_EQ(arbtest::readBytes(dir.file("out.bin")), expected);

  for (const std::vector<std::string>& to :
       {std::vector<std::string>{"-o", "-"}, std::vector<std::string>{}}) {
    std::vector<std::string> args = {"dump", "--format", GetParam().format, "w.arb"};
    args.insert(args.end(), to.begin(), to.end());
    r = arbtool(dir, args);
    ASSERT_EQ(r.exitStatus, 0) << describe(r);
    // Standard output carries the samples and nothing else.
    EXPECT_EQ(std::vector<std::uint8_t>(r.out.begin(), r.out.end()), expected);
  }
  // Only the output is left in the folder.
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    names.insert(entry.path().filename().string());
  }
  EXPECT_EQ(names, (std::set<std::string>{"w.arb", "out.bin"}));
}

INSTANTIATE_TEST_SUITE_P(All, HostArbtoolDump,
                         testing::Values(DumpCase{"csv", csvBytes},
                                         DumpCase{"ci16_le", littleEndian16},
                                         DumpCase{"cf32_le", littleEndianFloats}),
                         [](const testing::TestParamInfo<DumpCase>& info) {
                           return std::string(info.param.format);
                         });

TEST(HostArbtoolDump, SigmfPairOfASingleWaveform) {
  ScratchDir dir;
  const Samples samples = roundTripSamples();
  packArb(dir, "w.arb", samples, 2500000);
  const ProcessResult r =
      arbtool(dir, {"dump", "w.arb", "--format", "sigmf", "-o", "rec.sigmf-meta"});
  ASSERT_EQ(r.exitStatus, 0) << describe(r);
  EXPECT_EQ(r.out, "Wrote 3001 samples of w.arb to rec.sigmf-data and rec.sigmf-meta\n");
  EXPECT_EQ(arbtest::readBytes(dir.file("rec.sigmf-data")), littleEndian16(samples));
  const Json meta = Json::parse(arbtest::readText(dir.file("rec.sigmf-meta")));
  // The fields SigMF 1.x requires, and those the recording fills.
  EXPECT_EQ(keysOf(meta), (std::set<std::string>{"global", "captures", "annotations"}));
  const Json& global = meta["global"];
  EXPECT_EQ(global["core:datatype"], "ci16_le");
  // X.Y.Z of a 1.x version.
  const std::string version = global["core:version"];
  EXPECT_EQ(version.rfind("1.", 0), 0u) << version;
  EXPECT_EQ(std::count(version.begin(), version.end(), '.'), 2) << version;
  EXPECT_EQ(version.find_first_not_of("0123456789."), std::string::npos) << version;
  EXPECT_EQ(global["core:sample_rate"], 2.5e6);
  EXPECT_EQ(global["core:recorder"].get<std::string>().rfind("arbtool ", 0), 0u);
  const std::string description = global["core:description"];
  for (const char* item : {"Clock: 2500000HZ", "Num: 3001", "ModulationType: 32QAM"}) {
    EXPECT_THAT(description, ::testing::HasSubstr(item)) << item << " in " << description;
  }
  EXPECT_EQ(meta["captures"], Json::parse(R"([{"core:sample_start": 0}])"));
  EXPECT_EQ(meta["annotations"], Json::array());
}

TEST(HostArbtoolDump, SigmfAnnotatesEachSegment) {
  ScratchDir dir;
  packArb(dir, "a.arb", toneSamples(3000, 0, 0), 1000000);
  std::filesystem::create_directory(dir.file("sub"));
  packArb(dir, "sub/b.arb", constantSamples(), 1000000);
  ProcessResult r = arbtool(dir, {"join", "-o", "j.arb", "a.arb", "blank:10", "sub/b.arb"});
  ASSERT_EQ(r.exitStatus, 0) << describe(r);
  r = arbtool(dir, {"dump", "j.arb", "--format", "sigmf", "-o", "j"});
  ASSERT_EQ(r.exitStatus, 0) << describe(r);
  const Json meta = Json::parse(arbtest::readText(dir.file("j.sigmf-meta")));
  EXPECT_EQ(meta["global"]["core:sample_rate"], 1e6);
  EXPECT_THAT(meta["global"]["core:description"].get<std::string>(),
              ::testing::HasSubstr("NUMBER SEGMENTS: 3"));
  const Json& annotations = meta["annotations"];
  ASSERT_EQ(annotations.size(), 3u);
  const std::size_t starts[] = {0, kToneSamples, kToneSamples + 10};
  const std::size_t counts[] = {kToneSamples, 10, kToneSamples};
  const char* labels[] = {"a.arb", "Blank", "sub/b.arb"};
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(annotations[k]["core:sample_start"], starts[k]);
    EXPECT_EQ(annotations[k]["core:sample_count"], counts[k]);
    EXPECT_EQ(annotations[k]["core:label"], labels[k]);
  }
  EXPECT_EQ(arbtest::readBytes(dir.file("j.sigmf-data")).size(), 4u * (2 * kToneSamples + 10));
}

TEST(HostArbtoolDump, RefusalsLeaveNothingBehind) {
  ScratchDir dir;
  packArb(dir, "w.arb", constantSamples(), kClock);
  arbtest::writeText(dir.file("keep.bin"), "old");
  struct Refusal {
    std::vector<std::string> args;
    int status;
    const char* message;
  };
  const Refusal refusals[] = {
      {{"dump", "w.arb", "--format", "sigmf"}, 1, "needs -o OUT"},
      {{"dump", "w.arb", "--format", "sigmf", "-o", "-"}, 1, "needs -o OUT"},
      {{"dump", "w.arb", "--format", "cf64_le"}, 1, "'cf64_le' is not one of"},
      {{"dump", "w.arb", "--format", "ci16_le", "-o", "missing/x.bin"}, 4, "missing/x.bin"},
      {{"dump", "gone.arb", "--format", "ci16_le", "-o", "keep.bin"}, 2, "gone.arb"},
      {{"dump", "w.arb", "--format", "ci16_le", "-o", "./w.arb"}, 1, "is the input file w.arb"},
  };
  for (const Refusal& refusal : refusals) {
    const ProcessResult r = arbtool(dir, refusal.args);
    EXPECT_EQ(r.exitStatus, refusal.status) << describe(r);
    EXPECT_THAT(r.err, ::testing::HasSubstr(refusal.message)) << describe(r);
  }
  EXPECT_EQ(arbtest::readText(dir.file("keep.bin")), "old");
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 2u);
}

// Round trips through the converter's raw and SigMF readers (`wavepack --format`,
// and the SigMF pair found from its meta file).
struct ConverterRoundTrip {
  const char* format;
  std::vector<std::string> convert;  // wavepack arguments
};

void PrintTo(const ConverterRoundTrip& c, std::ostream* out) { *out << c.format; }

class HostArbtoolDumpThroughWavepack : public testing::TestWithParam<ConverterRoundTrip> {};

TEST_P(HostArbtoolDumpThroughWavepack, GivesTheSameSamplesAndClock) {
  ScratchDir dir;
  const Samples samples = roundTripSamples();
  packArb(dir, "w.arb", samples, 2500000);
  const bool sigmf = std::string(GetParam().format) == "sigmf";
  ProcessResult r = arbtool(
      dir, {"dump", "w.arb", "--format", GetParam().format, "-o", sigmf ? "rec" : "rec.raw"});
  ASSERT_EQ(r.exitStatus, 0) << describe(r);
  r = wavepack(dir, GetParam().convert);
  ASSERT_EQ(r.exitStatus, 0) << describe(r);
  EXPECT_EQ(dumpedSamples(dir, "back.arb"), samples);
  r = arbtool(dir, {"info", "back.arb"});
  EXPECT_THAT(r.out, ::testing::HasSubstr("Clock:    2500000 Hz")) << r.out;
}

INSTANTIATE_TEST_SUITE_P(All, HostArbtoolDumpThroughWavepack,
                         testing::Values(ConverterRoundTrip{"cf32_le",
                                                            {"--format", "cf32_le", "-d", "rec.raw",
                                                             "-f", "2.5MHz", "-o", "back.arb"}},
                                         ConverterRoundTrip{"ci16_le",
                                                            {"--format", "ci16_le", "-d", "rec.raw",
                                                             "-f", "2.5MHz", "-o", "back.arb"}},
                                         ConverterRoundTrip{
                                             "sigmf", {"-d", "rec.sigmf-meta", "-o", "back.arb"}}),
                         [](const testing::TestParamInfo<ConverterRoundTrip>& info) {
                           return std::string(info.param.format);
                         });

// --- plot ----------------------------------------------------------------------------

// Checks that path is a picture of its extension's format, width x height large,
// with something drawn on it (curves and points unless only the frames).
void expectPicture(const std::string& path, int width, int height, bool curves) {
  const auto bytes = arbtest::readBytes(path);
  const std::string extension = std::filesystem::path(path).extension().string();
  if (extension == ".png") {
    const auto png = arbtest::readPng(bytes);
    ASSERT_EQ(png.problem, "") << path;
    EXPECT_EQ(png.width, static_cast<std::uint32_t>(width));
    EXPECT_EQ(png.height, static_cast<std::uint32_t>(height));
    EXPECT_GT(png.lumaVariance, curves ? 50.0 : 5.0) << path;
    EXPECT_GT(png.distinctColours, 20u) << path;
  } else if (extension == ".svg") {
    const auto svg = arbtest::readSvg(arbtest::readText(path));
    ASSERT_EQ(svg.problem, "") << path;
    EXPECT_EQ(svg.width, width);
    EXPECT_EQ(svg.height, height);
    EXPECT_GT(svg.paths, 100u) << path;
  } else {
    const auto pdf = arbtest::readPdf(bytes);
    ASSERT_EQ(pdf.problem, "") << path;
    EXPECT_EQ(pdf.width, width);
    EXPECT_EQ(pdf.height, height);
    EXPECT_GT(pdf.strokesAndFills + pdf.images, 50u) << path;
  }
}

// Kind and extension.
class HostArbtoolPlot : public testing::TestWithParam<std::tuple<const char*, const char*>> {
 protected:
  static void SetUpTestSuite() {
    dir_ = new ScratchDir;
    const ProcessResult made =
        iqsynth(*dir_, {"-M", "16qam", "-n", "2000", "-r", "250k", "-s", "4", "-o", "q.arb"});
    ASSERT_EQ(made.exitStatus, 0) << describe(made);
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static ScratchDir* dir_;
};

ScratchDir* HostArbtoolPlot::dir_ = nullptr;

TEST_P(HostArbtoolPlot, WritesAValidPictureOfTheRequestedSize) {
  const std::string kind = std::get<0>(GetParam());
  const std::string out = "p-" + kind + std::get<1>(GetParam());
  const ProcessResult r =
      arbtool(*dir_, {"plot", "q.arb", "-o", out, "--kind", kind, "--symbol-rate", "250k"});
  ASSERT_EQ(r.exitStatus, 0) << describe(r);
  // One line on standard output, whatever the plotting library does.
  EXPECT_EQ(r.out, "Wrote " + kind + " plot of q.arb to " + out + "\n");
  expectPicture(dir_->file(out), 1200, 900);
}

INSTANTIATE_TEST_SUITE_P(
    All, HostArbtoolPlot,
    testing::Combine(testing::Values("all", "spectrum", "constellation", "time", "ccdf", "eye"),
                     testing::Values(".png", ".svg", ".pdf")),
    [](const testing::TestParamInfo<std::tuple<const char*, const char*>>& info) {
      return std::string(std::get<0>(info.param)) + "_" + (std::get<1>(info.param) + 1);
    });

TEST(HostArbtoolPlotOptions, SizeSegmentAndDensityWithoutSymbolRate) {
  ScratchDir dir;
  packArb(dir, "a.arb", gaussianSamples(20000), 1000000);
  packArb(dir, "b.arb", toneSamples(4000, 0, 0), 2000000);
  ProcessResult r = arbtool(dir, {"plot", "a.arb", "-o", "small.png", "--size", "800x600"});
  ASSERT_EQ(r.exitStatus, 0) << describe(r);
  expectPicture(dir.file("small.png"), 800, 600);
  r = arbtool(dir,
              {"plot", "a.arb", "-o", "wide.pdf", "--size", "1600x700", "--kind", "constellation"});
  ASSERT_EQ(r.exitStatus, 0) << describe(r);
  expectPicture(dir.file("wide.pdf"), 1600, 700);

  r = arbtool(dir, {"join", "-o", "j.arb", "a.arb", "b.arb"});
  ASSERT_EQ(r.exitStatus, 0) << describe(r);
  // Segments at different clocks: one segment at a time, or a plot without clock.
  r = arbtool(dir, {"plot", "j.arb", "-o", "s1.svg", "--segment", "1", "--kind", "spectrum"});
  ASSERT_EQ(r.exitStatus, 0) << describe(r);
  expectPicture(dir.file("s1.svg"), 1200, 900);
  EXPECT_THAT(arbtest::readText(dir.file("s1.svg")), ::testing::HasSubstr("<svg"));
  r = arbtool(dir, {"plot", "j.arb", "-o", "ccdf.png", "--kind", "ccdf"});
  ASSERT_EQ(r.exitStatus, 0) << describe(r);
  expectPicture(dir.file("ccdf.png"), 1200, 900);
}

TEST(HostArbtoolPlotOptions, RefusalsAreUsageErrorsAndLeaveNothingBehind) {
  ScratchDir dir;
  packArb(dir, "a.arb", toneSamples(4000, 0, 0), 1000000);
  packArb(dir, "b.arb", toneSamples(4000, 0, 0), 2000000);
  ASSERT_EQ(arbtool(dir, {"join", "-o", "j.arb", "a.arb", "b.arb"}).exitStatus, 0);
  arbtest::writeText(dir.file("keep.png"), "old");
  // An .arb file under a picture's name.
  std::filesystem::copy_file(dir.file("a.arb"), dir.file("wave.png"));
  struct Refusal {
    std::vector<std::string> args;
    int status;
    const char* message;
  };
  const Refusal refusals[] = {
      {{"plot", "a.arb", "-o", "e.png", "--kind", "eye"}, 1, "--kind eye needs --symbol-rate"},
      {{"plot", "a.arb", "-o", "e.jpg"}, 1, "does not end in .png, .svg or .pdf"},
      {{"plot", "a.arb"}, 1, "--output is required"},
      {{"plot", "a.arb", "-o", "e.png", "--kind", "waterfall"}, 1, "'waterfall' is not one of"},
      {{"plot", "a.arb", "-o", "e.png", "--size", "100x100"}, 1, "--size"},
      {{"plot", "a.arb", "-o", "e.png", "--symbol-rate", "0"}, 1, "--symbol-rate"},
      {{"plot", "a.arb", "-o", "e.png", "--segment", "0"}, 1, "a.arb is a single waveform"},
      {{"plot", "j.arb", "-o", "e.png", "--segment", "2"}, 1, "has 2 segments, numbered from 0"},
      {{"plot", "a.arb", "-o", "e.png", "--symbol-rate", "2MHz"}, 1, "is above the clock, 1 MHz"},
      {{"plot", "j.arb", "-o", "e.png"}, 1, "different clocks; choose one with --segment N"},
      {{"plot", "gone.arb", "-o", "keep.png"}, 2, "gone.arb"},
      {{"plot", "a.arb", "-o", "missing/e.png"}, 4, "missing/e.png"},
      {{"plot", "wave.png", "-o", "wave.png"}, 1, "is the input file wave.png"},
  };
  for (const Refusal& refusal : refusals) {
    const ProcessResult r = arbtool(dir, refusal.args);
    EXPECT_EQ(r.exitStatus, refusal.status) << describe(r);
    EXPECT_THAT(r.err, ::testing::HasSubstr(refusal.message)) << describe(r);
    EXPECT_EQ(r.out, "") << describe(r);
  }
  EXPECT_EQ(arbtest::readText(dir.file("keep.png")), "old");
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    names.insert(entry.path().filename().string());
  }
  EXPECT_EQ(names, (std::set<std::string>{"a.arb", "b.arb", "j.arb", "j-segments.txt", "keep.png",
                                          "wave.png"}));
}

TEST(HostIqsynthPlot, DrawsTheSheetOfTheWaveformItMade) {
  ScratchDir dir;
  ProcessResult r = iqsynth(dir, {"-M", "qpsk", "-n", "512", "-r", "2.5MHz", "-s", "4", "-f", "rrc",
                                  "-o", "q.arb", "--plot", "q.png"});
  ASSERT_EQ(r.exitStatus, 0) << describe(r);
  EXPECT_THAT(r.out, ::testing::HasSubstr("Wrote plot:")) << r.out;
  expectPicture(dir.file("q.png"), 1200, 900);
  // A plot alone is an output; noise has no symbol rate and shows the time view.
  r = iqsynth(dir, {"-m", "noise", "--noise-samples", "20000", "--plot", "n.svg"});
  ASSERT_EQ(r.exitStatus, 0) << describe(r);
  expectPicture(dir.file("n.svg"), 1200, 900);
  r = iqsynth(dir, {"-M", "qpsk", "--plot", "q.gif"});
  EXPECT_EQ(r.exitStatus, 1) << describe(r);
  EXPECT_THAT(r.err, ::testing::HasSubstr("--plot: 'q.gif' does not end in .png, .svg or .pdf"))
      << r.err;
  r = iqsynth(dir, {"-M", "qpsk", "--plot", "missing/q.png"});
  EXPECT_EQ(r.exitStatus, 4) << describe(r);
}

}  // namespace
