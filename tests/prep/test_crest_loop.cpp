// Crest-factor reduction on Gaussian-like multi-carrier data (target reached, band
// kept, EVM recomputed here), ramps, and the seam and regrowth figures of waveforms
// built with a known jump.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

#include "fourier.h"
#include "power_checks.h"
#include "reference.h"
#include "waveform_prep.h"

namespace {

using arbsuite::prep::Iq;
using testing::HasSubstr;

double papr(const std::vector<Iq>& x) { return arbtest::paprDb(x); }

// Power outside bins [first, last] of the periodic spectrum, over the total.
double outside(const std::vector<Iq>& x, int first, int last) {
  const std::vector<Iq> s = preptest::directDft(x);
  double all = 0;
  double out = 0;
  const int n = static_cast<int>(x.size());
  for (int k = 0; k < n; ++k) {
    const int f = k < (n + 1) / 2 ? k : k - n;
    all += std::norm(s[static_cast<std::size_t>(k)]);
    if (f < first || f > last) out += std::norm(s[static_cast<std::size_t>(k)]);
  }
  return out / all;
}

TEST(PrepCrestFactor, ReachesTheTargetKeepsTheBandAndReportsItsCost) {
  // 201 tones of random phase in bins -100 ... 100 of 2048: Gaussian-like, PAPR near 9 dB,
  // plus a little power outside the band.
  std::vector<Iq> x = preptest::multiTone(2048, -100, 201, 1, 5);
  std::vector<Iq> noise = preptest::multiTone(2048, 400, 3, 50, 6);
  for (std::size_t k = 0; k < x.size(); ++k) x[k] += 0.01 * noise[k];
  const std::vector<Iq> original = x;
  const double clock = 2.048e6;  // 1 kHz a bin
  const double before = papr(x);
  ASSERT_GT(before, 8.5);
  const auto report = arbsuite::prep::reducePapr(x, clock, 6.0, {{-100e3, 100e3}});
  EXPECT_NEAR(papr(x), 6.0, 0.1);
  EXPECT_DOUBLE_EQ(report.paprAfterDb, papr(x));
  EXPECT_NEAR(report.paprBeforeDb, before, 1e-9);
  EXPECT_LE(report.iterations, 16);
  double change = 0;
  double signal = 0;
  for (std::size_t k = 0; k < x.size(); ++k) {
    change += std::norm(x[k] - original[k]);
    signal += std::norm(original[k]);
  }
  // The report's reference is the input in single precision.
  EXPECT_NEAR(report.evmPercent, 100 * std::sqrt(change / signal), 1e-5);
  EXPECT_NEAR(report.evmDb, 10 * std::log10(change / signal), 1e-5);
  EXPECT_NEAR(report.outOfBandBeforeDb, 10 * std::log10(outside(original, -100, 100)), 1e-6);
  // Nothing is added outside the band: neither its power nor its share of the total
  // grows, and the report's figure after is the one the test measures.
  const auto outsidePower = [](const std::vector<Iq>& v) {
    double p = 0;
    for (const Iq& s : v) p += std::norm(s);
    return p * outside(v, -100, 100);
  };
  EXPECT_LT(outsidePower(x), outsidePower(original));
  EXPECT_LT(outside(x, -100, 100), outside(original, -100, 100));
  EXPECT_LT(report.outOfBandAfterDb, report.outOfBandBeforeDb);
  EXPECT_NEAR(report.outOfBandAfterDb, 10 * std::log10(outside(x, -100, 100)), 1e-6);
  // The shoulders keep their distance below the carrier: the share falls by no more
  // than the margin.
  EXPECT_NEAR(report.outOfBandAfterDb, report.outOfBandBeforeDb, 1e-4);
  // The same input gives the same samples.
  std::vector<Iq> again = original;
  arbsuite::prep::reducePapr(again, clock, 6.0, {{-100e3, 100e3}});
  EXPECT_EQ(again, x);
}

TEST(PrepCrestFactor, BadTargetsAndBandsAreRefused) {
  std::vector<Iq> x = preptest::multiTone(256, -10, 21, 1, 9);
  EXPECT_THROW(arbsuite::prep::reducePapr(x, 1e6, 0.0), std::invalid_argument);
  EXPECT_THROW(arbsuite::prep::reducePapr(x, 1e6, 30.0), std::invalid_argument);
  EXPECT_THROW(arbsuite::prep::reducePapr(x, 1e6, 5.0, {{-600e3, 0}}), std::invalid_argument);
  std::vector<Iq> zero(64);
  EXPECT_THROW(arbsuite::prep::reducePapr(zero, 1e6, 3.0), std::invalid_argument);
}

TEST(PrepTaper, FadesBothEndsFromZero) {
  std::vector<Iq> x(100, Iq(2, -2));
  arbsuite::prep::taper(x, 10);
  EXPECT_EQ(x[0], Iq(0, 0));
  EXPECT_EQ(x[99], Iq(0, 0));
  EXPECT_NEAR(std::abs(x[5] - Iq(1, -1)), 0, 1e-12);  // half way: 0.5 of the value
  EXPECT_EQ(x[10], Iq(2, -2));
  EXPECT_EQ(x[89], Iq(2, -2));
  EXPECT_THROW(arbsuite::prep::taper(x, 51), std::invalid_argument);
}

TEST(PrepLoopChecks, SeamFiguresOfAKnownJump) {
  // A slow ramp: steps of 1, and from its end back to its start a jump of 99.
  std::vector<Iq> ramp(100);
  for (std::size_t k = 0; k < ramp.size(); ++k) ramp[k] = Iq(static_cast<double>(k), 0);
  const auto s = arbsuite::prep::seam(ramp);
  EXPECT_DOUBLE_EQ(s.jump, 99);
  EXPECT_DOUBLE_EQ(s.ratio, 99);
  // Between two pieces: the first sample of the second against the last of the first.
  const std::vector<Iq> after = {Iq(99, 3), Iq(100, 3)};
  EXPECT_DOUBLE_EQ(arbsuite::prep::boundary(ramp, after).jump, 3);
  // A clean period: the seam is one more step.
  const std::vector<Iq> tone = preptest::multiTone(4096, 20, 1, 1, 1);
  EXPECT_NEAR(arbsuite::prep::seam(tone).ratio, 1.0, 1e-6);
}

TEST(PrepLoopChecks, RegrowthShowsAClickAtTheSeam) {
  const std::vector<Iq> clean = preptest::multiTone(8192, -200, 41, 10, 2);
  EXPECT_EQ(arbsuite::prep::loopRegrowthDb(clean), 0.0);
  // The same signal cut off mid-cycle: a phase jump at the seam.
  std::vector<Iq> cut(clean.begin(), clean.begin() + 8000);
  EXPECT_GT(arbsuite::prep::loopRegrowthDb(cut), 3.0);
}

}  // namespace
