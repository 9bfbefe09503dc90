// arbtool compose and check, and the loop figures of arbtool stats: as processes on
// .arb files whose samples the tests chose (packed with the packer itself), and
// composeCarriers on content made here, against figures computed here: DFTs summed
// directly, carriers shifted and scaled here, step percentiles by sorting.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "arb_samples.h"
#include "composition.h"
#include "files.h"
#include "pair_packer.h"
#include "prep_options.h"
#include "process.h"
#include "scratch_dir.h"

namespace {

using arbtest::describe;
using arbtest::outputField;
using arbtest::ProcessResult;
using arbtest::ScratchDir;
using testing::HasSubstr;
using testing::Not;
using Iq = std::complex<double>;
using Json = nlohmann::ordered_json;
using Samples = std::vector<std::int16_t>;  // I0, Q0, I1, Q1, ...

ProcessResult arbtool(const ScratchDir& dir, const std::vector<std::string>& args) {
  return arbtest::runProcess(ARBTOOL_PROGRAM, args, dir.path());
}

// An .arb file holding exactly these stored values at clockHz, made by the packer.
void packArb(const ScratchDir& dir, const std::string& name, const Samples& samples, int clockHz) {
  const int status =
      arbsuite::packSamples(samples, arbsuite::converterFields(clockHz), dir.file(name).c_str());
  ASSERT_EQ(status, arbsuite::kPackOk) << name;
}

// The samples of an .arb file, decrypted here.
std::vector<Iq> readIq(const ScratchDir& dir, const std::string& name, std::string& text) {
  const Samples s = arbtest::readArb(dir.file(name), text);
  std::vector<Iq> iq;
  for (std::size_t k = 0; k + 1 < s.size(); k += 2) iq.emplace_back(s[k], s[k + 1]);
  return iq;
}
std::vector<Iq> readIq(const ScratchDir& dir, const std::string& name) {
  std::string text;
  return readIq(dir, name, text);
}

// `count` tones of random phase at bins first, first + step, ... of an n-sample
// period, scaled to a peak modulus of `peak`.
std::vector<Iq> tones(std::size_t n, int first, int count, int step, double peak, unsigned seed) {
  std::mt19937 generator(seed);
  std::uniform_real_distribution<double> phase(0, 2 * std::numbers::pi);
  std::vector<Iq> x(n);
  for (int t = 0; t < count; ++t) {
    const double p = phase(generator);
    const long long bin = first + t * step;
    for (std::size_t m = 0; m < n; ++m) {
      const auto turn =
          static_cast<double>((bin * static_cast<long long>(m)) % static_cast<long long>(n));
      x[m] += std::polar(1.0, p + 2 * std::numbers::pi * turn / static_cast<double>(n));
    }
  }
  double largest = 0;
  for (const Iq& v : x) largest = std::max(largest, std::abs(v));
  for (Iq& v : x) v *= peak / largest;
  return x;
}

Samples codes(const std::vector<Iq>& x) {
  Samples s;
  for (const Iq& v : x) {
    s.push_back(static_cast<std::int16_t>(std::lround(v.real())));
    s.push_back(static_cast<std::int16_t>(std::lround(v.imag())));
  }
  return s;
}

std::vector<Iq> asIq(const Samples& s) {
  std::vector<Iq> iq;
  for (std::size_t k = 0; k + 1 < s.size(); k += 2) iq.emplace_back(s[k], s[k + 1]);
  return iq;
}

// |X_k|^2 of the DFT X_k = sum_n x_n e^(-j 2 pi k n / N), summed directly.
std::vector<double> powerSpectrum(const std::vector<Iq>& x) {
  const std::size_t n = x.size();
  std::vector<Iq> turn(n);
  for (std::size_t m = 0; m < n; ++m)
    turn[m] =
        std::polar(1.0, -2 * std::numbers::pi * static_cast<double>(m) / static_cast<double>(n));
  std::vector<double> power(n);
  for (std::size_t k = 0; k < n; ++k) {
    Iq sum = 0;
    for (std::size_t m = 0; m < n; ++m) sum += x[m] * turn[(k * m) % n];
    power[k] = std::norm(sum);
  }
  return power;
}

// Sum of power over the signed bins low..high.
double bandPower(const std::vector<double>& power, long long low, long long high) {
  const auto n = static_cast<long long>(power.size());
  double sum = 0;
  for (long long b = low; b <= high; ++b) sum += power[static_cast<std::size_t>(((b % n) + n) % n)];
  return sum;
}

double meanPower(const std::vector<Iq>& x) {
  double sum = 0;
  for (const Iq& v : x) sum += std::norm(v);
  return sum / static_cast<double>(x.size());
}

double paprOf(const std::vector<Iq>& x) {
  double peak = 0;
  for (const Iq& v : x) peak = std::max(peak, std::norm(v));
  return 10 * std::log10(peak / meanPower(x));
}

double peakOf(const std::vector<Iq>& x) {
  double peak = 0;
  for (const Iq& v : x) peak = std::max(peak, std::abs(v));
  return peak;
}

std::string fixed(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

// The two carriers of most compose tests: A, 21 tones in bins -40 ... 40 of 1,000
// samples at 10 MHz (10 kHz a bin, 400 kHz each side); B, 21 tones in bins -30 ... 30
// of 2,000 samples at 20 MHz (10 kHz a bin too). At 40 MHz both are 4,000 samples,
// still 10 kHz a bin, and a shift of 10 MHz is 1,000 whole cycles of the period.
constexpr int kClockA = 10000000;
constexpr int kClockB = 20000000;
constexpr long long kShiftBins = 1000;  // 10 MHz at 40 MHz over 4,000 samples

void packCarriers(const ScratchDir& dir) {
  packArb(dir, "a.arb", codes(tones(1000, -40, 21, 4, 6000, 1)), kClockA);
  packArb(dir, "b.arb", codes(tones(2000, -30, 21, 3, 6000, 2)), kClockB);
}

// --- compose --------------------------------------------------------------------

TEST(HostArbtoolCompose, CarriersAppearAtTheirOffsetsWithTheAskedPowerRatio) {
  ScratchDir dir;
  packCarriers(dir);
  const ProcessResult r = arbtool(
      dir, {"compose", "-o", "two.arb", "--clock", "40MHz", "a.arb:-10MHz", "b.arb:10M:-6"});
  ASSERT_EQ(r.exitStatus, 0) << describe(r);
  EXPECT_TRUE(r.err.empty()) << r.err;
  std::string text;
  const std::vector<Iq> y = readIq(dir, "two.arb", text);
  ASSERT_EQ(y.size(), 4000u);
  EXPECT_THAT(text, HasSubstr("{Clock:40000000HZ}"));
  // Normalised as wavepack does: the peak modulus at 0.81 x 8191, truncated.
  EXPECT_LE(peakOf(y), 0.81 * 8191 + 1e-9);
  EXPECT_GE(peakOf(y), 0.81 * 8191 - 1.5);

  const std::vector<double> power = powerSpectrum(y);
  const double a = bandPower(power, -kShiftBins - 40, -kShiftBins + 40);
  const double b = bandPower(power, kShiftBins - 30, kShiftBins + 30);
  double all = 0;
  for (const double p : power) all += p;
  EXPECT_NEAR(10 * std::log10(b / a), -6.0, 0.1);
  // Nothing but the quantisation elsewhere.
  EXPECT_LT(10 * std::log10((all - a - b) / all), -50);

  // Each carrier's share of the power: 1 and 10^-0.6 of their sum.
  const double shareB = std::pow(10.0, -0.6);
  EXPECT_THAT(outputField(r.out, "Carrier 1:"),
              HasSubstr("a.arb, shift -10 MHz, power " + fixed(10 * std::log10(1 / (1 + shareB))) +
                        " dB, 4,000 samples at 40 MHz "
                        "(1,000 at 10 MHz), 1 period"));
  EXPECT_THAT(
      outputField(r.out, "Carrier 2:"),
      HasSubstr("b.arb, shift +10 MHz, power " + fixed(10 * std::log10(shareB / (1 + shareB))) +
                " dB, 4,000 samples at 40 MHz (2,000 at 20 MHz), 1 period"));
  EXPECT_EQ(outputField(r.out, "Composite:"), "4,000 samples at 40 MHz, 2 carriers");
  // The PAPR before quantisation: that of the stored samples within its rounding.
  EXPECT_NEAR(std::stod(outputField(r.out, "PAPR:")), paprOf(y), 0.02) << r.out;
  EXPECT_EQ(outputField(r.out, "Wrote"), "two.arb");

  // --level sets the peak.
  const ProcessResult half = arbtool(dir, {"compose", "-o", "half.arb", "--clock", "40MHz",
                                           "--level", "0.5", "a.arb:-10MHz", "b.arb:10M:-6"});
  ASSERT_EQ(half.exitStatus, 0) << describe(half);
  const std::vector<Iq> h = readIq(dir, "half.arb");
  EXPECT_LE(peakOf(h), 0.5 * 8191 + 1e-9);
  EXPECT_GE(peakOf(h), 0.5 * 8191 - 1.5);
}

TEST(HostArbtoolCompose, LengthIsTheLeastCommonMultipleOfThePeriods) {
  ScratchDir dir;
  packArb(dir, "a.arb", codes(tones(1000, -40, 21, 4, 6000, 1)), kClockA);
  // 750 samples at 10 MHz: 3,000 at 40 MHz; with A's 4,000, 12,000 in all.
  packArb(dir, "c.arb", codes(tones(750, -20, 11, 4, 6000, 3)), kClockA);
  const ProcessResult r =
      arbtool(dir, {"compose", "-o", "lcm.arb", "--clock", "40MHz", "a.arb:-5M", "c.arb:5M"});
  ASSERT_EQ(r.exitStatus, 0) << describe(r);
  EXPECT_THAT(outputField(r.out, "Carrier 1:"), HasSubstr("4,000 samples at 40 MHz"));
  EXPECT_THAT(outputField(r.out, "Carrier 1:"), HasSubstr("3 periods"));
  EXPECT_THAT(outputField(r.out, "Carrier 2:"), HasSubstr("4 periods"));
  const std::vector<Iq> y = readIq(dir, "lcm.arb");
  ASSERT_EQ(y.size(), 12000u);
  // Each carrier repeats whole: the composite is one seamless period, its first sample
  // one step on from its last (the 99th-percentile step bounds it).
  double largestStep = 0;
  for (std::size_t k = 1; k < y.size(); ++k)
    largestStep = std::max(largestStep, std::abs(y[k] - y[k - 1]));
  EXPECT_LE(std::abs(y.front() - y.back()), largestStep);
}

TEST(HostArbtoolCompose, WarnsOfSeamsAndRepeatsOnStandardError) {
  ScratchDir dir;
  packArb(dir, "a.arb", codes(tones(1000, -40, 21, 4, 6000, 1)), kClockA);
  // 1,001 samples at 3 MHz are 13,346.67 at 40 MHz: repeated 3 times first.
  packArb(dir, "odd.arb", codes(tones(1001, -10, 5, 4, 6000, 4)), 3000000);
  const ProcessResult r =
      arbtool(dir, {"compose", "-o", "w.arb", "--clock", "40MHz", "a.arb:1.001MHz", "odd.arb:-2M"});
  ASSERT_EQ(r.exitStatus, 0) << describe(r);
  EXPECT_THAT(r.err, HasSubstr("arbtool: warning: a.arb: a shift of 1001000 Hz"));
  EXPECT_THAT(r.err, HasSubstr("1000000 Hz and 1010000 Hz are the nearest seamless shifts"));
  EXPECT_THAT(r.err, HasSubstr("odd.arb is repeated 3 times"));
  EXPECT_THAT(r.out, Not(HasSubstr("warning")));
  EXPECT_THAT(outputField(r.out, "Carrier 2:"), HasSubstr("40,040 samples at 40 MHz"));
}

TEST(HostArbtoolCompose, ReducesTheCrestFactorAndReportsWhatItCosts) {
  ScratchDir dir;
  // Many tones of random phase: a PAPR above 7 dB.
  packArb(dir, "a.arb", codes(tones(1000, -100, 101, 2, 6000, 5)), kClockA);
  packArb(dir, "b.arb", codes(tones(2000, -100, 101, 2, 6000, 6)), kClockB);
  const std::vector<std::string> carriers = {"a.arb:-10MHz", "b.arb:10MHz"};
  std::vector<std::string> plain = {"compose", "-o", "plain.arb", "--clock", "40MHz"};
  plain.insert(plain.end(), carriers.begin(), carriers.end());
  const ProcessResult before = arbtool(dir, plain);
  ASSERT_EQ(before.exitStatus, 0) << describe(before);
  const double own = std::stod(outputField(before.out, "PAPR:"));
  ASSERT_GT(own, 7.0);

  std::vector<std::string> reduce = {"compose", "-o",     "cfr.arb", "--clock",
                                     "40MHz",   "--papr", "5.5"};
  reduce.insert(reduce.end(), carriers.begin(), carriers.end());
  const ProcessResult r = arbtool(dir, reduce);
  ASSERT_EQ(r.exitStatus, 0) << describe(r);
  const double reached = std::stod(outputField(r.out, "PAPR:"));
  EXPECT_NEAR(reached, 5.5, 0.1) << r.out;
  EXPECT_THAT(outputField(r.out, "CFR:"),
              HasSubstr("PAPR " + fixed(own) + " dB -> " + fixed(reached) + " dB (target 5.50"));
  // The stored samples: the same within the 14-bit quantisation.
  const std::vector<Iq> y = readIq(dir, "cfr.arb");
  const std::vector<Iq> x = readIq(dir, "plain.arb");
  EXPECT_NEAR(paprOf(y), 5.5, 0.15);
  EXPECT_LT(paprOf(y), paprOf(x) - 1.5);
  // The EVM in % and dB; the change is at least that left after the best scaling of
  // the stored samples onto the original (the files are each normalised to their peak).
  const std::string evm = outputField(r.out, "EVM:");
  double percent = 0;
  double db = 0;
  ASSERT_EQ(std::sscanf(evm.c_str(), "%lf %% (%lf dB)", &percent, &db), 2) << evm;
  EXPECT_NEAR(db, 20 * std::log10(percent / 100), 0.01);
  Iq cross = 0;
  double yy = 0;
  for (std::size_t k = 0; k < x.size(); ++k) {
    cross += std::conj(y[k]) * x[k];
    yy += std::norm(y[k]);
  }
  double residual = 0;
  double signal = 0;
  for (std::size_t k = 0; k < x.size(); ++k) {
    residual += std::norm(x[k] - y[k] * (cross / yy));
    signal += std::norm(x[k]);
  }
  EXPECT_GE(percent, 100 * std::sqrt(residual / signal) - 0.05);
  EXPECT_THAT(outputField(r.out, "Out of band:"), HasSubstr("before"));
  // Everything outside the two carriers' bands is filtered away (to the quantisation).
  const std::vector<double> power = powerSpectrum(y);
  double all = 0;
  for (const double p : power) all += p;
  const double inside = bandPower(power, -kShiftBins - 100, -kShiftBins + 100) +
                        bandPower(power, kShiftBins - 100, kShiftBins + 100);
  EXPECT_LT(10 * std::log10((all - inside) / all), -50);
}

// Faults: the status, the message, and no output.
struct ComposeFault {
  const char* name;
  std::vector<std::string> args;  // after "compose -o out.arb"
  int status;
  const char* message;
};

void PrintTo(const ComposeFault& c, std::ostream* out) { *out << c.name; }

class HostArbtoolComposeFaults : public testing::TestWithParam<ComposeFault> {};

TEST_P(HostArbtoolComposeFaults, AreRefusedWithNothingWritten) {
  ScratchDir dir;
  packCarriers(dir);
  arbtest::writeText(dir.file("garbage.arb"), std::string(300, 'x'));
  const ProcessResult joined =
      arbtool(dir, {"join", "-o", "joined.arb", "--config", "j.txt", "a.arb", "b.arb"});
  ASSERT_EQ(joined.exitStatus, 0) << describe(joined);
  const auto listed = arbtest::listing(dir.path().string());
  const ComposeFault& c = GetParam();
  std::vector<std::string> args = {"compose", "-o", "out.arb"};
  args.insert(args.end(), c.args.begin(), c.args.end());
  const ProcessResult r = arbtool(dir, args);
  EXPECT_EQ(r.exitStatus, c.status) << describe(r);
  EXPECT_THAT(r.err, HasSubstr(c.message));
  EXPECT_TRUE(r.out.empty()) << r.out;
  EXPECT_EQ(arbtest::listing(dir.path().string()), listed);
}

INSTANTIATE_TEST_SUITE_P(
    All, HostArbtoolComposeFaults,
    testing::Values(
        ComposeFault{"shift_not_finite", {"--clock", "40M", "a.arb:nan"}, 1, "not a frequency"},
        ComposeFault{"gain_not_finite", {"--clock", "40M", "a.arb:0:inf"}, 1, "not a number"},
        ComposeFault{
            "gain_missing_shift_given", {"--clock", "40M", "a.arb:1M:"}, 1, "not a number"},
        ComposeFault{"clock_not_finite", {"--clock", "infHz", "a.arb"}, 1, "--clock"},
        ComposeFault{"clock_not_playable",
                     {"--clock", "60MHz", "a.arb"},
                     1,
                     "not a clock the instrument plays"},
        ComposeFault{
            "clock_not_whole", {"--clock", "1000.5", "a.arb"}, 1, "not a whole number of hertz"},
        ComposeFault{"shift_beyond_half_the_clock",
                     {"--clock", "40M", "a.arb:20.5MHz"},
                     1,
                     "beyond half the clock"},
        // A's band reaches 400 kHz: shifted by 19.8 MHz, it passes 20 MHz.
        ComposeFault{"band_outside_the_clock",
                     {"--clock", "40M", "a.arb:19.8MHz"},
                     1,
                     "outside the band of the clock"},
        ComposeFault{"papr_zero", {"--clock", "40M", "--papr", "0", "a.arb"}, 1, "--papr"},
        ComposeFault{"papr_negative", {"--clock", "40M", "--papr", "-3", "a.arb"}, 1, "--papr"},
        ComposeFault{"papr_above_the_composite",
                     {"--clock", "40M", "--papr", "30", "a.arb:-10M", "b.arb:10M"},
                     1,
                     "above the composite's own PAPR"},
        ComposeFault{"missing_input", {"--clock", "40M", "a.arb", "missing.arb"}, 2, "missing.arb"},
        ComposeFault{"garbage_input", {"--clock", "40M", "garbage.arb"}, 2, "garbage.arb"},
        ComposeFault{"multi_segment_input",
                     {"--clock", "40M", "joined.arb"},
                     2,
                     "a multi-segment file cannot be a carrier"},
        ComposeFault{"no_input", {"--clock", "40M"}, 1, "IN"},
        ComposeFault{"no_clock", {"a.arb"}, 1, "--clock"}),
    [](const testing::TestParamInfo<ComposeFault>& info) { return std::string(info.param.name); });

TEST(HostArbtoolCompose, RefusesAnOutputThatIsNotArbOrIsAnInput) {
  ScratchDir dir;
  packCarriers(dir);
  const auto original = arbtest::readBytes(dir.file("a.arb"));
  ProcessResult r = arbtool(dir, {"compose", "-o", "out.wav", "--clock", "40M", "a.arb"});
  EXPECT_EQ(r.exitStatus, 1) << describe(r);
  EXPECT_THAT(r.err, HasSubstr("'out.wav' does not end in .arb"));
  r = arbtool(dir, {"compose", "-o", "a.arb", "--clock", "40M", "b.arb", "a.arb:1M"});
  EXPECT_EQ(r.exitStatus, 1) << describe(r);
  EXPECT_THAT(r.err, HasSubstr("the output a.arb is the input file a.arb"));
  EXPECT_EQ(arbtest::readBytes(dir.file("a.arb")), original);
  // An output that cannot be written: status 4.
  r = arbtool(dir, {"compose", "-o", "no-folder/out.arb", "--clock", "40M", "a.arb"});
  EXPECT_EQ(r.exitStatus, 4) << describe(r);
  EXPECT_THAT(r.err, HasSubstr("cannot write no-folder/out.arb"));
  EXPECT_FALSE(std::filesystem::exists(dir.file("no-folder")));
}

TEST(HostArbtoolCompose, RefusesACompositeLongerThan2To28SamplesNamingTheLengths) {
  ScratchDir dir;
  // Two prime lengths at the common clock: 16,411 x 16,417 samples exceed 2^28.
  packArb(dir, "p.arb", codes(tones(16411, 3, 1, 1, 5000, 7)), kClockA);
  packArb(dir, "q.arb", codes(tones(16417, 5, 1, 1, 5000, 8)), kClockA);
  const ProcessResult r =
      arbtool(dir, {"compose", "-o", "long.arb", "--clock", "10MHz", "p.arb", "q.arb:1M"});
  EXPECT_EQ(r.exitStatus, 1) << describe(r);
  EXPECT_THAT(r.err, HasSubstr("2^28"));
  EXPECT_THAT(r.err, HasSubstr("16411, 16417"));
  EXPECT_FALSE(std::filesystem::exists(dir.file("long.arb")));
}

// --- composeCarriers, before quantisation ------------------------------------------

arbsuite::ArbContent contentOf(const std::vector<Iq>& x, double clock, const std::string& name) {
  arbsuite::ArbContent content;
  content.path = name;
  content.samples = codes(x);
  content.samples.insert(content.samples.end(), {0, 0});
  content.count = x.size();
  content.clockHz = clock;
  return content;
}

TEST(HostArbtoolComposeCarriers, CrestFactorReductionReachesTheTargetAndTheEvmRecomputedHere) {
  const double clock = 4e6;
  const std::vector<Iq> a = tones(2000, -100, 101, 2, 6000, 11);
  const std::vector<Iq> b = tones(2000, -60, 61, 2, 6000, 12);
  const std::vector<arbsuite::ArbContent> contents = {contentOf(a, clock, "a.arb"),
                                                      contentOf(b, clock, "b.arb")};
  arbsuite::arbtool::ComposeRequest request;
  request.clockHz = clock;
  request.carriers = {arbsuite::arbtool::parseCarrierArgument("a.arb:-1MHz"),
                      arbsuite::arbtool::parseCarrierArgument("b.arb:1M:-3")};
  // The composite computed here: each carrier's stored codes shifted by e^(j 2 pi f n /
  // clock), scaled to unit mean power times its share, summed.
  std::vector<Iq> x(2000);
  const double shares[] = {1.0, std::pow(10.0, -0.3)};
  const double shifts[] = {-1e6, 1e6};
  for (int c = 0; c < 2; ++c) {
    const std::vector<Iq> stored = asIq(contents[static_cast<std::size_t>(c)].samples);
    const double scale = std::sqrt(shares[c] / meanPower({stored.begin(), stored.end() - 1}));
    for (std::size_t m = 0; m < x.size(); ++m) {
      const double cycles = std::fmod(shifts[c] * static_cast<double>(m) / clock, 1.0);
      x[m] += scale * stored[m] * std::polar(1.0, 2 * std::numbers::pi * cycles);
    }
  }
  const arbsuite::arbtool::Composition plain =
      arbsuite::arbtool::composeCarriers(contents, request);
  ASSERT_EQ(plain.composite.iq.size(), x.size());
  double worst = 0;
  for (std::size_t m = 0; m < x.size(); ++m)
    worst = std::max(worst, std::abs(plain.composite.iq[m] - x[m]));
  EXPECT_LT(worst, 1e-9);
  EXPECT_NEAR(plain.paprDb, paprOf(x), 1e-9);
  EXPECT_FALSE(plain.cfr);

  for (const double target : {4.0, 6.0, 8.0}) {
    request.paprDb = target;
    const arbsuite::arbtool::Composition reduced =
        arbsuite::arbtool::composeCarriers(contents, request);
    const std::vector<Iq>& y = reduced.composite.iq;
    EXPECT_NEAR(paprOf(y), target, 0.1) << target;
    EXPECT_NEAR(reduced.paprDb, paprOf(y), 1e-9);
    ASSERT_TRUE(reduced.cfr);
    double change = 0;
    for (std::size_t m = 0; m < x.size(); ++m) change += std::norm(y[m] - x[m]);
    const double evm = std::sqrt(change / (meanPower(x) * static_cast<double>(x.size())));
    EXPECT_NEAR(reduced.cfr->evmPercent, 100 * evm, 1e-6) << target;
    EXPECT_NEAR(reduced.cfr->evmDb, 20 * std::log10(evm), 1e-6) << target;
    const std::string report = arbsuite::arbtool::compositionReport(reduced, request);
    EXPECT_THAT(report, HasSubstr("EVM:         " + fixed(100 * evm) + " % (" +
                                  fixed(20 * std::log10(evm)) + " dB)"));
  }
}

TEST(HostArbtoolComposeCarriers, CarrierWordsSplitAtTheFirstColonAfterTheLastSlash) {
  const auto carrier = arbsuite::arbtool::parseCarrierArgument("run:2/a.arb:2.5MHz:-3");
  EXPECT_EQ(carrier.path, "run:2/a.arb");
  EXPECT_EQ(carrier.shiftHz, 2.5e6);
  EXPECT_EQ(carrier.gainDb, -3);
  const auto gainOnly = arbsuite::arbtool::parseCarrierArgument("a.arb::4.5");
  EXPECT_EQ(gainOnly.path, "a.arb");
  EXPECT_EQ(gainOnly.shiftHz, 0);
  EXPECT_EQ(gainOnly.gainDb, 4.5);
  EXPECT_EQ(arbsuite::arbtool::parseCarrierArgument("a.arb:-250k").shiftHz, -250e3);
  EXPECT_THROW(arbsuite::arbtool::parseCarrierArgument("a.arb:1M:2:3"), std::runtime_error);
  EXPECT_THROW(arbsuite::arbtool::parseCarrierArgument(":1M"), std::runtime_error);
}

// --- stats: seam, boundaries, regrowth --------------------------------------------

Json statsJson(const ScratchDir& dir, const std::string& file) {
  const ProcessResult r = arbtool(dir, {"stats", "--json", file});
  EXPECT_EQ(r.exitStatus, 0) << describe(r);
  return Json::parse(r.out);
}

// The 99th percentile (nearest rank) of the step moduli inside the pieces.
double stepPercentile(const std::vector<std::vector<Iq>>& pieces) {
  std::vector<double> steps;
  for (const auto& piece : pieces)
    for (std::size_t k = 1; k < piece.size(); ++k)
      steps.push_back(std::abs(piece[k] - piece[k - 1]));
  std::sort(steps.begin(), steps.end());
  return steps[static_cast<std::size_t>(std::ceil(0.99 * static_cast<double>(steps.size()))) - 1];
}

TEST(HostArbtoolStatsLoop, SeamOfAWaveformBuiltWithAKnownJump) {
  ScratchDir dir;
  // A ramp from (-4000, 100) up by (8, 0) a sample to (4000, 100), then back: steps of 8,
  // a jump of 8,000 LSB, 1,000 steps.
  Samples ramp;
  for (int k = 0; k <= 1000; ++k)
    ramp.insert(ramp.end(), {static_cast<std::int16_t>(-4000 + 8 * k), 100});
  packArb(dir, "ramp.arb", ramp, 1000000);
  const Json j = statsJson(dir, "ramp.arb");
  EXPECT_DOUBLE_EQ(j["seam_lsb"].get<double>(), 8000);
  EXPECT_DOUBLE_EQ(j["seam_ratio"].get<double>(), 1000);
  EXPECT_TRUE(j["boundaries"].is_array() && j["boundaries"].empty());
  const ProcessResult text = arbtool(dir, {"stats", "ramp.arb"});
  EXPECT_EQ(outputField(text.out, "Seam:"), "8000.0 LSB, 1000.00 x the 99th-percentile step");

  // Random steps: the percentile of the sorted moduli, and a jump of (300, -400).
  std::mt19937 generator(3);
  std::uniform_int_distribution<int> step(-60, 60);
  Samples walk = {0, 0};
  for (int k = 1; k < 20000; ++k) {
    walk.push_back(static_cast<std::int16_t>(walk[walk.size() - 2] + step(generator)));
    walk.push_back(static_cast<std::int16_t>(walk[walk.size() - 2] + step(generator)));
  }
  // The last pair sits at (first - 300, first + 400) of the first pair.
  walk.insert(walk.end(), {-300, 400});
  packArb(dir, "walk.arb", walk, 1000000);
  const Json w = statsJson(dir, "walk.arb");
  const std::vector<Iq> iq = asIq(walk);
  EXPECT_DOUBLE_EQ(w["seam_lsb"].get<double>(), 500);
  EXPECT_NEAR(w["seam_ratio"].get<double>(), 500 / stepPercentile({iq}), 1e-12);

  // Steps of 199 different sizes, 7 to 1,393 LSB in a shuffled order and of alternating
  // sign: the 99th percentile is the 198th smallest, 1,386 LSB, and no neighbour of it
  // in the order is equal to it.
  std::vector<int> sizes;
  for (int k = 1; k <= 199; ++k) sizes.push_back(7 * k);
  std::shuffle(sizes.begin(), sizes.end(), generator);
  Samples distinct = {0, 50};
  for (std::size_t k = 0; k < sizes.size(); ++k) {
    const int step = k % 2 == 0 ? sizes[k] : -sizes[k];
    distinct.insert(distinct.end(),
                    {static_cast<std::int16_t>(distinct[distinct.size() - 2] + step), 50});
  }
  packArb(dir, "distinct.arb", distinct, 1000000);
  const Json d = statsJson(dir, "distinct.arb");
  const std::vector<Iq> steps = asIq(distinct);
  ASSERT_DOUBLE_EQ(stepPercentile({steps}), 1386);
  EXPECT_DOUBLE_EQ(d["seam_lsb"].get<double>(), std::abs(steps.front() - steps.back()));
  EXPECT_NEAR(d["seam_ratio"].get<double>(), std::abs(steps.front() - steps.back()) / 1386, 1e-12);
}

TEST(HostArbtoolStatsLoop, BoundariesBetweenSegmentsAndTheNewKeysAfterTheOldOnes) {
  ScratchDir dir;
  Samples first;
  Samples second;
  for (int k = 0; k < 400; ++k) first.insert(first.end(), {static_cast<std::int16_t>(3 * k), 0});
  for (int k = 0; k < 300; ++k)
    second.insert(second.end(), {static_cast<std::int16_t>(-2000 - 5 * k), 600});
  packArb(dir, "s1.arb", first, 1000000);
  packArb(dir, "s2.arb", second, 1000000);
  const ProcessResult joined =
      arbtool(dir, {"join", "-o", "j.arb", "--config", "j.txt", "s1.arb", "s2.arb"});
  ASSERT_EQ(joined.exitStatus, 0) << describe(joined);
  const Json j = statsJson(dir, "j.arb");
  std::vector<std::string> keys;
  for (const auto& item : j.items()) keys.push_back(item.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"samples", "clock_hz", "duration_s", "peak",
                                            "peak_dbfs", "rms_dbfs", "papr_db", "ccdf_db", "dc",
                                            "clipped", "obw_hz", "seam_lsb", "seam_ratio",
                                            "loop_regrowth_db", "segments", "boundaries"}));
  // From (1197, 0) to (-2000, 600); the steps inside are 3 and 5.
  const std::vector<Iq> a = asIq(first);
  const std::vector<Iq> b = asIq(second);
  ASSERT_EQ(j["boundaries"].size(), 1u);
  const Json& boundary = j["boundaries"][0];
  EXPECT_EQ(boundary["from"], 0);
  EXPECT_EQ(boundary["to"], 1);
  EXPECT_DOUBLE_EQ(boundary["seam_lsb"].get<double>(), std::abs(b.front() - a.back()));
  EXPECT_NEAR(boundary["seam_ratio"].get<double>(),
              std::abs(b.front() - a.back()) / stepPercentile({a, b}), 1e-12);
  // Each segment's own seam, and the whole file's from its last sample to its first.
  EXPECT_DOUBLE_EQ(j["segments"][0]["seam_lsb"].get<double>(), 1197);
  EXPECT_DOUBLE_EQ(j["segments"][1]["seam_lsb"].get<double>(), 1495);
  EXPECT_DOUBLE_EQ(j["seam_lsb"].get<double>(), std::abs(a.front() - b.back()));
  const ProcessResult text = arbtool(dir, {"stats", "j.arb"});
  EXPECT_THAT(text.out, HasSubstr("Boundary 0 -> 1: " + [&] {
                char t[64];
                std::snprintf(t, sizeof t, "%.1f LSB", std::abs(b.front() - a.back()));
                return std::string(t);
              }()));
}

TEST(HostArbtoolStatsLoop, RegrowthShowsAClickAtTheSeam) {
  ScratchDir dir;
  const std::vector<Iq> clean = tones(8192, -200, 41, 10, 6000, 9);
  packArb(dir, "clean.arb", codes(clean), 1000000);
  const std::vector<Iq> cut(clean.begin(), clean.begin() + 8000);
  packArb(dir, "cut.arb", codes(cut), 1000000);
  EXPECT_LT(statsJson(dir, "clean.arb")["loop_regrowth_db"].get<double>(), 0.5);
  EXPECT_GT(statsJson(dir, "cut.arb")["loop_regrowth_db"].get<double>(), 3.0);
  const ProcessResult text = arbtool(dir, {"stats", "cut.arb"});
  EXPECT_THAT(outputField(text.out, "Regrowth:"),
              HasSubstr("dB outside the 99 % band when looped"));
}

// --- check ---------------------------------------------------------------------------

// A complex tone of whole cycles (seamless) of `amplitude` on a constant part.
Samples cleanTone(double amplitude, int constantI = 0, std::size_t n = 4096) {
  Samples s;
  for (std::size_t k = 0; k < n; ++k) {
    const double phase =
        2 * std::numbers::pi * 16.0 * static_cast<double>(k) / static_cast<double>(n);
    s.push_back(static_cast<std::int16_t>(std::lround(amplitude * std::cos(phase)) + constantI));
    s.push_back(static_cast<std::int16_t>(std::lround(amplitude * std::sin(phase))));
  }
  return s;
}

struct CheckCase {
  const char* name;
  Samples samples;
  int clock;
  std::vector<std::string> options;
  std::vector<std::string> kinds;  // the findings, in order; none: ready
};

void PrintTo(const CheckCase& c, std::ostream* out) { *out << c.name; }

class HostArbtoolCheck : public testing::TestWithParam<CheckCase> {};

TEST_P(HostArbtoolCheck, GivesOneLinePerFindingAndTheVerdict) {
  ScratchDir dir;
  const CheckCase& c = GetParam();
  packArb(dir, "w.arb", c.samples, c.clock);
  std::vector<std::string> args = {"check", "w.arb"};
  args.insert(args.end(), c.options.begin(), c.options.end());
  const ProcessResult r = arbtool(dir, args);
  EXPECT_EQ(r.exitStatus, c.kinds.empty() ? 0 : 6) << describe(r);
  EXPECT_TRUE(r.err.empty()) << r.err;
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < r.out.size();) {
    const std::size_t end = r.out.find('\n', start);
    lines.push_back(r.out.substr(start, end - start));
    start = end == std::string::npos ? r.out.size() : end + 1;
  }
  ASSERT_EQ(lines.size(), c.kinds.size() + 1) << r.out;
  for (std::size_t k = 0; k < c.kinds.size(); ++k)
    EXPECT_EQ(lines[k].rfind(c.kinds[k] + ": ", 0), 0u) << lines[k];
  if (c.kinds.empty()) {
    EXPECT_EQ(lines.back(), "ready: w.arb");
  } else {
    EXPECT_EQ(lines.back(), "not ready: w.arb (" + std::to_string(c.kinds.size()) +
                                (c.kinds.size() == 1 ? " finding)" : " findings)"));
  }
}

Samples withJump() {
  Samples s = cleanTone(6000);
  // The last quarter turned by half a cycle: a jump at the seam (and one inside).
  for (std::size_t k = s.size() * 3 / 4; k < s.size(); ++k) s[k] = static_cast<std::int16_t>(-s[k]);
  return s;
}

Samples withRail() {
  Samples s = cleanTone(6000);
  s[100] = 8191;
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    All, HostArbtoolCheck,
    testing::Values(
        CheckCase{"ready", cleanTone(6000), 1000000, {}, {}},
        CheckCase{"ready_at_100_mhz", cleanTone(6000), 100000000, {}, {}},
        CheckCase{"clock_above_50_mhz", cleanTone(6000), 60000000, {}, {"clock"}},
        CheckCase{"clock_below_1_khz", cleanTone(6000), 500, {}, {"clock"}},
        CheckCase{"clipped", withRail(), 1000000, {}, {"clipped"}},
        CheckCase{"seam", withJump(), 1000000, {}, {"seam"}},
        // 1 % of full scale is 81.92 LSB.
        CheckCase{"dc_offset", cleanTone(5000, 82), 1000000, {}, {"dc"}},
        CheckCase{"dc_within_one_percent", cleanTone(5000, 81), 1000000, {}, {}},
        // -6 dBFS is a modulus of 4105.9 LSB.
        CheckCase{"peak_low", cleanTone(4100), 1000000, {}, {"peak"}},
        CheckCase{"peak_just_enough", cleanTone(4110), 1000000, {}, {}},
        CheckCase{"silent", Samples(2000, 0), 1000000, {}, {"peak"}},
        CheckCase{
            "too_few_samples", cleanTone(6000), 1000000, {"--min-samples", "4097"}, {"samples"}},
        CheckCase{"enough_samples", cleanTone(6000), 1000000, {"--min-samples", "4096"}, {}},
        CheckCase{"several",
                  withJump(),
                  60000000,
                  {"--min-samples", "5000"},
                  {"clock", "seam", "samples"}}),
    [](const testing::TestParamInfo<CheckCase>& info) { return std::string(info.param.name); });

TEST(HostArbtoolCheckFiles, MultiSegmentBoundariesUnreadableFilesAndUsage) {
  ScratchDir dir;
  packArb(dir, "tone.arb", cleanTone(6000), 1000000);
  // The same tone with I halved and moved down by 3,000 LSB: it starts at (0, 0).
  Samples moved = cleanTone(6000);
  for (std::size_t k = 0; k < moved.size(); k += 2)
    moved[k] = static_cast<std::int16_t>(moved[k] / 2 - 3000);
  packArb(dir, "moved.arb", moved, 1000000);
  const ProcessResult joined =
      arbtool(dir, {"join", "-o", "j.arb", "--config", "j.txt", "tone.arb", "moved.arb"});
  ASSERT_EQ(joined.exitStatus, 0) << describe(joined);
  ProcessResult r = arbtool(dir, {"check", "j.arb"});
  EXPECT_EQ(r.exitStatus, 6) << describe(r);
  // A jump of about 6,000 LSB at the boundary and at the file's seam; each segment alone
  // loops cleanly.
  EXPECT_THAT(r.out,
              HasSubstr("seam: the jump from segment 0 (tone.arb) to segment 1 (moved.arb)"));
  EXPECT_THAT(r.out, HasSubstr("seam: the jump from the last sample to the first"));
  EXPECT_THAT(r.out, Not(HasSubstr("to its first")));

  arbtest::writeText(dir.file("garbage.arb"), std::string(300, 'x'));
  r = arbtool(dir, {"check", "garbage.arb"});
  EXPECT_EQ(r.exitStatus, 2) << describe(r);
  EXPECT_TRUE(r.out.empty());
  r = arbtool(dir, {"check", "missing.arb"});
  EXPECT_EQ(r.exitStatus, 2) << describe(r);
  r = arbtool(dir, {"check", "tone.arb", "--min-samples", "-1"});
  EXPECT_EQ(r.exitStatus, 1) << describe(r);
  r = arbtool(dir, {"check"});
  EXPECT_EQ(r.exitStatus, 1) << describe(r);
  r = arbtool(dir, {"check", "--help"});
  EXPECT_EQ(r.exitStatus, 0);
  for (const char* kind : {"clock", "clipped", "seam", "dc", "peak", "samples", "exit 6"})
    EXPECT_THAT(r.out, HasSubstr(kind));
  r = arbtool(dir, {"compose", "--help"});
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_THAT(r.out, HasSubstr("IN.arb[:SHIFT[:GAIN_DB]]"));
  EXPECT_THAT(r.out, HasSubstr("--papr DB"));
}

}  // namespace
