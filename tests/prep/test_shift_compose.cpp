// Frequency shifts (exact phase, seam rules) and composed carriers (offsets, power
// ratios measured with a DFT in the test, lengths).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

#include "reference.h"
#include "waveform_prep.h"

namespace {

using arbsuite::prep::Iq;
using testing::HasSubstr;

TEST(PrepShift, ThePhaseIsExactOverAnyLength) {
  // A third of the clock: the phase sequence repeats every 3 samples, bit for bit,
  // however far it runs (an accumulated phase drifts).
  std::vector<Iq> x(std::size_t{1} << 22, Iq(1, 0));
  arbsuite::prep::shift(x, 3e6, 1e6);
  for (std::size_t k = 3; k < x.size(); ++k) ASSERT_EQ(x[k], x[k % 3]) << k;
  EXPECT_NEAR(std::arg(x[1]), 2 * std::numbers::pi / 3, 1e-15);
  // Negative shifts turn the other way.
  std::vector<Iq> y(4, Iq(1, 0));
  arbsuite::prep::shift(y, 4e6, -1e6);
  EXPECT_NEAR(std::arg(y[1]), -std::numbers::pi / 2, 1e-15);
}

TEST(PrepShift, WholeCyclesKeepTheSeamAFractionIsWarned) {
  const std::size_t n = 1000;
  // A smooth period: its seam is one more step of its own.
  std::vector<Iq> x = preptest::multiTone(n, 3, 4, 5, 11);
  ASSERT_LT(arbsuite::prep::seam(x).ratio, 1.5);
  std::vector<Iq> whole = x;
  arbsuite::prep::shift(whole, 1e6, 25e3);  // 25 cycles in the period
  EXPECT_LT(arbsuite::prep::seam(whole).ratio, 1.5);
  std::vector<Iq> half = x;
  arbsuite::prep::shift(half, 1e6, 25.5e3);  // half a cycle short: a click
  EXPECT_GT(arbsuite::prep::seam(half).ratio, 2);
  EXPECT_FALSE(arbsuite::prep::shiftWarning(n, 1e6, 25e3));
  const auto warning = arbsuite::prep::shiftWarning(n, 1e6, 25.5e3);
  ASSERT_TRUE(warning);
  EXPECT_THAT(*warning, HasSubstr("25.5 cycles, not a whole number"));
  EXPECT_THAT(*warning, HasSubstr("25000 Hz and 26000 Hz are the nearest seamless shifts"));
  const auto check = arbsuite::prep::checkShift(n, 1e6, -25.5e3);
  EXPECT_FALSE(check.seamless);
  EXPECT_DOUBLE_EQ(check.below, -26e3);
  EXPECT_DOUBLE_EQ(check.above, -25e3);
}

TEST(PrepShift, BadValuesAreRefused) {
  std::vector<Iq> x(4);
  EXPECT_THROW(arbsuite::prep::shift(x, 1e6, NAN), std::invalid_argument);
  EXPECT_THROW(arbsuite::prep::shift(x, 1e6, 6e5), std::invalid_argument);
  EXPECT_THROW(arbsuite::prep::shift(x, 0, 1), std::invalid_argument);
}

// Power of the composite at the bins of a carrier moved by `offset`, from a direct sum.
double powerAt(const std::vector<Iq>& x, double clock, double offset, int firstBin, int count,
               std::size_t periodBins) {
  double power = 0;
  const auto n = static_cast<double>(x.size());
  for (int b = 0; b < count; ++b) {
    // Bin of the carrier's own period, as a frequency, then moved.
    const double f = (firstBin + b) * clock / static_cast<double>(periodBins) + offset;
    Iq sum = 0;
    for (std::size_t m = 0; m < x.size(); ++m)
      sum += x[m] * std::polar(1.0, -2 * std::numbers::pi * f * static_cast<double>(m) / clock);
    power += std::norm(sum / n);
  }
  return power;
}

TEST(PrepCompose, CarriersSitAtTheirOffsetsWithTheAskedPowerRatio) {
  // Two multi-tone carriers at 1 MHz: 200 and 300 samples, composite of 600.
  arbsuite::prep::CarrierInput a{preptest::multiTone(200, -2, 5, 1, 3), 1e6, -200e3, 0, "a.arb"};
  arbsuite::prep::CarrierInput b{preptest::multiTone(300, -3, 7, 1, 4), 1e6, 150e3, -3, "b.arb"};
  const auto composite = arbsuite::prep::compose({a, b}, 1e6);
  ASSERT_EQ(composite.iq.size(), 600u);
  EXPECT_EQ(composite.carriers[0].repeats, 3u);
  EXPECT_EQ(composite.carriers[1].repeats, 2u);
  const double pa = powerAt(composite.iq, 1e6, -200e3, -2, 5, 200);
  const double pb = powerAt(composite.iq, 1e6, 150e3, -3, 7, 300);
  EXPECT_NEAR(10 * std::log10(pb / pa), -3.0, 0.1);
  EXPECT_NEAR(pa + pb, 1 + std::pow(10.0, -0.3), 1e-9);  // all the power is in the carriers
  EXPECT_NEAR(composite.carriers[1].powerDb - composite.carriers[0].powerDb, -3.0, 1e-12);
  EXPECT_TRUE(composite.warnings.empty());
}

TEST(PrepCompose, InputsAtOtherClocksAreResampled) {
  // 128 samples at 0.8 MHz are 160 at 1 MHz; a tone keeps its frequency.
  std::vector<Iq> tone(128);
  for (std::size_t k = 0; k < tone.size(); ++k)
    tone[k] = std::polar(1.0, 2 * std::numbers::pi * 10 * static_cast<double>(k) / 128);
  const auto composite = arbsuite::prep::compose({{tone, 0.8e6, 0, 0, "t.arb"}}, 1e6);
  ASSERT_EQ(composite.iq.size(), 160u);
  EXPECT_NEAR(powerAt(composite.iq, 1e6, 0, 10, 1, 160), 1.0, 1e-9);
}

TEST(PrepCompose, TooLongAndBadInputsAreRefused) {
  const std::vector<Iq> p(65537, Iq(1, 0));
  const std::vector<Iq> q(65539, Iq(0, 1));
  try {
    arbsuite::prep::compose({{p, 1e6, 0, 0, "p"}, {q, 1e6, 0, 0, "q"}}, 1e6);
    ADD_FAILURE();
  } catch (const std::length_error& e) {
    EXPECT_THAT(e.what(), HasSubstr("65537, 65539 samples"));
  }
  EXPECT_THROW(arbsuite::prep::compose({{p, 1e6, 0, NAN, "p"}}, 1e6), std::invalid_argument);
  EXPECT_THROW(arbsuite::prep::compose({{p, 1e6, INFINITY, 0, "p"}}, 1e6), std::invalid_argument);
  EXPECT_THROW(arbsuite::prep::compose({{{}, 1e6, 0, 0, "p"}}, 1e6), std::invalid_argument);
}

}  // namespace
