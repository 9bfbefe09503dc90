// Unit tests of the carrier phase laws of iqsynth --phases: each law against its
// closed form, and the crest factor each gives to a comb of carriers, computed here
// by a plain sum over a finely sampled period.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <string>
#include <vector>

#include "carrier_phases.h"
#include "synthesis_settings.h"

namespace {

using arbsuite::iqsynth_host::PhaseLaw;

constexpr double kPi = std::numbers::pi;

// The difference of two angles, in (-pi, pi].
double angleBetween(double a, double b) { return std::remainder(a - b, 2 * kPi); }

// Crest factor in dB (peak over RMS of the envelope) of carriers k = 0 ... N-1 at
// k cycles per period, with the given powers and phases, over `points` instants
// of one period.
double combCrestFactorDb(const std::vector<double>& powers, const std::vector<double>& phases,
                         int points) {
  double peak = 0;
  double sum = 0;
  for (int t = 0; t < points; ++t) {
    std::complex<double> x = 0;
    for (std::size_t k = 0; k < phases.size(); ++k) {
      const double angle = phases[k] + 2 * kPi * static_cast<double>(k) * t / points;
      x += std::sqrt(powers[k]) * std::polar(1.0, angle);
    }
    peak = std::max(peak, std::norm(x));
    sum += std::norm(x);
  }
  return 10 * std::log10(peak / (sum / points));
}

// --- each law against its closed form ---------------------------------------------

class HostIqsynthPhaseLaw : public testing::TestWithParam<int> {};

TEST_P(HostIqsynthPhaseLaw, NewmanIsTheQuadraticLawReducedToOneTurn) {
  const int n = GetParam();
  const auto phases = arbsuite::iqsynth_host::newmanPhases(n);
  ASSERT_EQ(phases.size(), static_cast<std::size_t>(n));
  for (int k = 1; k <= n; ++k) {
    const double phase = phases[static_cast<std::size_t>(k - 1)];
    EXPECT_GE(phase, 0.0) << k;
    EXPECT_LT(phase, 2 * kPi) << k;
    const double closedForm = kPi * (k - 1.0) * (k - 1.0) / n;
    // The closed form in floating point loses digits of its many whole turns.
    EXPECT_NEAR(angleBetween(phase, closedForm), 0.0, 1e-15 * closedForm + 1e-12) << k;
  }
}

TEST_P(HostIqsynthPhaseLaw, SchroederOfEqualPowersIsMinusPiKTimesKMinusOneOverN) {
  const int n = GetParam();
  // Any common scale of the powers gives the same phases.
  const auto phases = arbsuite::iqsynth_host::schroederPhases(std::vector<double>(n, 3.5));
  ASSERT_EQ(phases.size(), static_cast<std::size_t>(n));
  for (int k = 1; k <= n; ++k) {
    const double phase = phases[static_cast<std::size_t>(k - 1)];
    EXPECT_GE(phase, 0.0) << k;
    EXPECT_LT(phase, 2 * kPi) << k;
    const double closedForm = -kPi * k * (k - 1.0) / n;
    EXPECT_NEAR(angleBetween(phase, closedForm), 0.0, 1e-9) << k;
  }
}

TEST_P(HostIqsynthPhaseLaw, RandomPhasesRepeatWithTheirSeedAndSpreadOverTheCircle) {
  const int n = GetParam();
  const auto first = arbsuite::iqsynth_host::randomPhases(n, 12345);
  EXPECT_EQ(first, arbsuite::iqsynth_host::randomPhases(n, 12345));
  const auto other = arbsuite::iqsynth_host::randomPhases(n, 12346);
  ASSERT_EQ(first.size(), static_cast<std::size_t>(n));
  int same = 0;
  for (std::size_t k = 0; k < first.size(); ++k) {
    EXPECT_GE(first[k], 0.0);
    EXPECT_LT(first[k], 2 * kPi);
    same += first[k] == other[k] ? 1 : 0;
  }
  EXPECT_EQ(same, 0);
}

INSTANTIATE_TEST_SUITE_P(All, HostIqsynthPhaseLaw, testing::Values(1, 2, 3, 16, 64, 1000, 8192));

TEST(HostIqsynthPhaseLaw, RandomPhasesAreUniform) {
  // The mean of cos and sin of uniform phases is 0 with a standard deviation of
  // sqrt(1 / (2 N)), 0.0078 for 8192 phases: 0.05 is more than six of them.
  const auto phases = arbsuite::iqsynth_host::randomPhases(8192, 7);
  double cosines = 0;
  double sines = 0;
  for (const double phase : phases) {
    cosines += std::cos(phase);
    sines += std::sin(phase);
  }
  EXPECT_NEAR(cosines / 8192, 0.0, 0.05);
  EXPECT_NEAR(sines / 8192, 0.0, 0.05);
}

TEST(HostIqsynthPhaseLaw, SchroederGivesSilentCarriersNoWeight) {
  // Carriers of no power leave the phases of the others as if they were absent
  // from the sum: the phase of carrier k counts the powers below it only.
  const auto phases = arbsuite::iqsynth_host::schroederPhases({1, 0, 1, 0});
  const auto twoAlone = arbsuite::iqsynth_host::schroederPhases({1, 1});
  EXPECT_NEAR(angleBetween(phases[0], twoAlone[0]), 0.0, 1e-12);
  // Carrier 3 sits two places above carrier 1: -2 pi (2 x 1/2).
  EXPECT_NEAR(angleBetween(phases[2], -2 * kPi * 2 * 0.5), 0.0, 1e-12);
  EXPECT_EQ(arbsuite::iqsynth_host::schroederPhases({0, 0, 0}), (std::vector<double>{0, 0, 0}));
  EXPECT_TRUE(arbsuite::iqsynth_host::schroederPhases({}).empty());
}

// --- the crest factor the laws give ---------------------------------------------------

class HostIqsynthPhaseLawCrestFactor : public testing::TestWithParam<int> {};

TEST_P(HostIqsynthPhaseLawCrestFactor, NewmanAndSchroederKeepEqualCarriersNearTwoAndAHalfDb) {
  const int n = GetParam();
  const std::vector<double> equal(n, 1.0);
  const int points = 16 * n;  // 16 instants per cycle of the highest carrier
  // Zero phases add up at t = 0: peak N^2 over mean power N.
  EXPECT_NEAR(combCrestFactorDb(equal, std::vector<double>(n, 0.0), points), 10 * std::log10(n),
              1e-9);
  const double newman = combCrestFactorDb(equal, arbsuite::iqsynth_host::newmanPhases(n), points);
  const double schroeder =
      combCrestFactorDb(equal, arbsuite::iqsynth_host::schroederPhases(equal), points);
  EXPECT_LT(newman, 3.0) << n;
  EXPECT_LT(schroeder, 3.0) << n;
  // For equal powers the two laws differ by a phase ramp (a delay) and a reversal
  // of time: the same envelope.
  EXPECT_NEAR(newman, schroeder, 0.01) << n;
}

INSTANTIATE_TEST_SUITE_P(All, HostIqsynthPhaseLawCrestFactor, testing::Values(8, 16, 64, 256));

TEST(HostIqsynthPhaseLawCrestFactor, SchroederFollowsUnequalLevels) {
  // Levels falling by 1 dB per carrier: Schroeder's phases from the powers beat
  // Newman's, which assume equal carriers, and zero phases by far.
  std::vector<double> powers;
  for (int k = 0; k < 16; ++k) powers.push_back(std::pow(10.0, -k / 10.0));
  const int points = 256;
  const double zero = combCrestFactorDb(powers, std::vector<double>(16, 0.0), points);
  const double newman = combCrestFactorDb(powers, arbsuite::iqsynth_host::newmanPhases(16), points);
  const double schroeder =
      combCrestFactorDb(powers, arbsuite::iqsynth_host::schroederPhases(powers), points);
  EXPECT_LT(schroeder, 3.5);
  EXPECT_LT(schroeder, newman - 1.0);
  EXPECT_LT(schroeder, zero - 6.0);
}

// --- the phases a command line asks for ------------------------------------------------

TEST(HostIqsynthCarrierPhases, FollowTheOptions) {
  arbsuite::iqsynth_host::Options o;
  o.mode = IQSYNTH_WORKING_MODE_MCCW;
  o.carriers = 4;
  EXPECT_EQ(arbsuite::iqsynth_host::carrierPhases(o, 1), (std::vector<double>{0, 0, 0, 0}));
  o.phases = {0.25};
  EXPECT_EQ(arbsuite::iqsynth_host::carrierPhases(o, 1),
            (std::vector<double>{0.25, 0.25, 0.25, 0.25}));
  o.phases = {0.1, 0.2, 0.3, 0.4};
  EXPECT_EQ(arbsuite::iqsynth_host::carrierPhases(o, 1), o.phases);
  o.phases.clear();
  o.phaseLaw = PhaseLaw::Newman;
  EXPECT_EQ(arbsuite::iqsynth_host::carrierPhases(o, 1), arbsuite::iqsynth_host::newmanPhases(4));
  o.phaseLaw = PhaseLaw::Random;
  EXPECT_EQ(arbsuite::iqsynth_host::carrierPhases(o, 9),
            arbsuite::iqsynth_host::randomPhases(4, 9));
  EXPECT_NE(arbsuite::iqsynth_host::carrierPhases(o, 9),
            arbsuite::iqsynth_host::carrierPhases(o, 10));
  // Schroeder weighs the carriers by their levels and switches: -10 dB is a tenth
  // of the power, a carrier switched off none.
  o.phaseLaw = PhaseLaw::Schroeder;
  o.levels = {0, -10, 0, 0};
  o.switches = {1, 1, 0, 1};
  EXPECT_EQ(arbsuite::iqsynth_host::carrierPhases(o, 1),
            arbsuite::iqsynth_host::schroederPhases({1, 0.1, 0, 1}));
  o.phaseLaw = PhaseLaw::Zero;
  EXPECT_EQ(arbsuite::iqsynth_host::carrierPhases(o, 1), (std::vector<double>{0, 0, 0, 0}));
}

}  // namespace
