// Fourier resampling against the band-limited interpolant computed in the test from a
// direct DFT, whole-length rules and the occupied band.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

#include "fourier.h"
#include "reference.h"
#include "waveform_prep.h"

namespace {

using arbsuite::prep::Iq;
using preptest::directDft;
using testing::HasSubstr;

// The trigonometric interpolant of x, limited to the output's band, at M points: for
// upsampling the input's Nyquist term is a cosine (split between +N/2 and -N/2); for
// downsampling to an even M the output's Nyquist bin takes X(+M/2) + X(-M/2).
std::vector<Iq> interpolant(const std::vector<Iq>& x, std::size_t m) {
  const std::size_t n = x.size();
  const std::vector<Iq> spectrum = directDft(x);
  const auto bin = [&](long k) {
    return spectrum[static_cast<std::size_t>((k % long(n) + long(n)) % long(n))];
  };
  const std::size_t limit = std::min(n, m);
  std::vector<Iq> y(m);
  for (std::size_t t = 0; t < m; ++t) {
    Iq sum = 0;
    const double at = static_cast<double>(t) / static_cast<double>(m);  // cycles of the period
    const long half = static_cast<long>(limit / 2);
    for (long k = -half; k <= half; ++k) {
      if (limit % 2 == 0 && (k == half || k == -half)) continue;
      sum += bin(k) * std::polar(1.0, 2 * std::numbers::pi * static_cast<double>(k) * at);
    }
    if (limit % 2 == 0) {
      if (m > n)  // the input's Nyquist bin as a cosine
        sum += bin(half) * std::cos(2 * std::numbers::pi * static_cast<double>(half) * at);
      else if (m < n)  // both halves land on the output's Nyquist bin
        sum +=
            (bin(half) + bin(-half)) * std::polar(1.0, std::numbers::pi * static_cast<double>(t));
      else
        sum += bin(half) * std::polar(1.0, std::numbers::pi * static_cast<double>(t));
    }
    y[t] = sum / static_cast<double>(n);
  }
  return y;
}

struct Lengths {
  std::size_t n;
  std::size_t m;
};

class PrepResample : public testing::TestWithParam<Lengths> {};

TEST_P(PrepResample, EqualsTheBandLimitedInterpolant) {
  const auto [n, m] = GetParam();
  preptest::Lcg rng{n * 131 + m};
  std::vector<Iq> x(n);
  for (Iq& v : x) v = rng.gaussian();
  // Rates whose ratio is m / n.
  const std::vector<Iq> y =
      arbsuite::prep::resample(x, 1e6 * static_cast<double>(n), 1e6 * static_cast<double>(m));
  ASSERT_EQ(y.size(), m);
  EXPECT_LT(preptest::maxDifference(y, interpolant(x, m)), 1e-12);
}

// The variant that takes over the input's storage, once and with the input repeated
// three times (the interpolant of the repeated input).
TEST_P(PrepResample, TakingTheInputEqualsTheInterpolantToo) {
  const auto [n, m] = GetParam();
  preptest::Lcg rng{n * 17 + m};
  std::vector<Iq> x(n);
  for (Iq& v : x) v = rng.gaussian();
  std::vector<Iq> repeated;
  for (int r = 0; r < 3; ++r) repeated.insert(repeated.end(), x.begin(), x.end());
  const double in = 1e6 * static_cast<double>(n);
  const double out = 1e6 * static_cast<double>(m);
  const std::vector<Iq> once = arbsuite::prep::resampleOwned(std::vector<Iq>(x), in, out);
  ASSERT_EQ(once.size(), m);
  EXPECT_LT(preptest::maxDifference(once, interpolant(x, m)), 1e-12);
  const std::vector<Iq> thrice = arbsuite::prep::resampleOwned(std::vector<Iq>(x), in, out, 3);
  ASSERT_EQ(thrice.size(), 3 * m);
  EXPECT_LT(preptest::maxDifference(thrice, interpolant(repeated, 3 * m)), 1e-12);
}

INSTANTIATE_TEST_SUITE_P(PrepLengths, PrepResample,
                         testing::Values(Lengths{64, 100}, Lengths{63, 100}, Lengths{64, 101},
                                         Lengths{63, 97}, Lengths{100, 64}, Lengths{101, 64},
                                         Lengths{100, 63}, Lengths{99, 61}, Lengths{2, 5},
                                         Lengths{5, 2}, Lengths{48, 48},
                                         // The kept negative bins move over their own
                                         // place in the input's spectrum.
                                         Lengths{100, 80}, Lengths{101, 90}, Lengths{100, 98}));

TEST(PrepResampleTone, AToneStaysAToneAtItsFrequency) {
  // 96 cycles in 3840 samples at 61.44 MHz (1.536 MHz), to 100 MHz: 6250 samples of
  // the same tone.
  const double in = 61.44e6;
  const double out = 100e6;
  const std::size_t n = 3840;
  const double f = 96.0 * in / static_cast<double>(n);  // a whole number of cycles
  std::vector<Iq> x(n);
  for (std::size_t k = 0; k < n; ++k)
    x[k] = std::polar(0.7, 2 * std::numbers::pi * f * k / in + 0.3);
  const std::vector<Iq> y = arbsuite::prep::resample(x, in, out);
  ASSERT_EQ(y.size(), 6250u);
  double worst = 0;
  for (std::size_t k = 0; k < y.size(); ++k)
    worst =
        std::max(worst, std::abs(y[k] - std::polar(0.7, 2 * std::numbers::pi * f * k / out + 0.3)));
  EXPECT_LT(worst, 1e-12);
}

// Periods of megabytes take the buffers on huge pages, down and up.
TEST(PrepResampleTone, LargePeriodsKeepTheToneBothWays) {
  const std::size_t n = 600'000;
  const double f = 1234.0 / static_cast<double>(n);  // cycles a sample at rate 1
  std::vector<Iq> x(n);
  for (std::size_t k = 0; k < n; ++k) x[k] = std::polar(0.5, 2 * std::numbers::pi * f * k);
  for (const double rate : {0.5, 1.6}) {
    const std::vector<Iq> y = arbsuite::prep::resample(x, 1e6, 1e6 * rate);
    ASSERT_EQ(y.size(), static_cast<std::size_t>(static_cast<double>(n) * rate));
    double worst = 0;
    for (std::size_t k = 0; k < y.size(); ++k)
      worst =
          std::max(worst, std::abs(y[k] - std::polar(0.5, 2 * std::numbers::pi * f * k / rate)));
    EXPECT_LT(worst, 1e-11) << rate;
  }
}

TEST(PrepResampleLength, ALengthThatIsNotWholeNamesTheRepeatCount) {
  const auto ratio = arbsuite::prep::rateRatio(61.44e6, 100e6);
  EXPECT_EQ(ratio.up, 625u);
  EXPECT_EQ(ratio.down, 384u);
  EXPECT_FALSE(arbsuite::prep::resampledLength(1000, ratio));
  EXPECT_EQ(arbsuite::prep::wholeLengthRepeat(1000, ratio), 48u);  // 384 / gcd(1000, 384)
  EXPECT_EQ(*arbsuite::prep::resampledLength(48000, ratio), 78125u);
  std::vector<Iq> x(1000, Iq(1, 0));
  try {
    arbsuite::prep::resample(x, 61.44e6, 100e6);
    ADD_FAILURE() << "no refusal";
  } catch (const std::invalid_argument& e) {
    EXPECT_THAT(e.what(), HasSubstr("not a whole number: repeat the input 48 times (--repeat 48)"));
    EXPECT_THAT(e.what(), HasSubstr("78125 samples"));
  }
  // With the repeat count the period is whole, and of a constant still constant.
  const std::vector<Iq> y = arbsuite::prep::resample(x, 61.44e6, 100e6, 48);
  ASSERT_EQ(y.size(), 78125u);
  for (const Iq& v : y) ASSERT_NEAR(std::abs(v - Iq(1, 0)), 0, 1e-12);
}

// The length a repeat count gives, also where the repeated input passes 64 bits
// (rates far from a simple ratio), where it is given to six digits.
TEST(PrepResampleLength, TheRepeatedLengthIsNamedEvenBeyond64Bits) {
  const arbsuite::prep::RateRatio ratio{625, 384};
  EXPECT_EQ(arbsuite::prep::repeatedLengthText(1000, 48, ratio), "78125");
  // 48e6 x 3.84e14 samples are 1.8432e22, past 2^64; x 625 / 384 = 3e22.
  EXPECT_EQ(arbsuite::prep::repeatedLengthText(48000000, 384000000000000, ratio), "3e+22");
  const auto far = arbsuite::prep::rateRatio(61440000.123457, 100e6);
  const std::uint64_t k = arbsuite::prep::wholeLengthRepeat(1 << 30, far);
  EXPECT_GT(static_cast<double>(k) * (1 << 30), 1.9e19);
  EXPECT_THAT(arbsuite::prep::repeatedLengthText(1 << 30, k, far), HasSubstr("e+"));
}

TEST(PrepResampleLength, BadRatesAreRefused) {
  const std::vector<Iq> x(8, Iq(1, 0));
  for (const double bad : {0.0, -1.0, double(NAN), double(INFINITY), 1e13})
    EXPECT_THROW(arbsuite::prep::resample(x, bad, 1e6), std::invalid_argument) << bad;
  EXPECT_THROW(arbsuite::prep::resample({}, 1e6, 2e6), std::invalid_argument);
  EXPECT_THROW(arbsuite::prep::resample(x, 1e6, 2e6, 0), std::invalid_argument);
}

TEST(PrepOccupiedBand, HoldsNinetyNinePercentAndWarnsWhenCut) {
  // Tones of equal power at bins -50 ... 50 of 1000 samples at 1 MHz: 1 kHz apart.
  const std::vector<Iq> x = preptest::multiTone(1000, -50, 101, 1, 7);
  const auto band = arbsuite::prep::occupiedBand(x, 1e6);
  EXPECT_NEAR(band.low, -50e3, 1e3 + 1);
  EXPECT_NEAR(band.high, 50e3, 1e3 + 1);
  EXPECT_FALSE(arbsuite::prep::downsamplingWarning(x, 1e6, 200e3));
  const auto warning = arbsuite::prep::downsamplingWarning(x, 1e6, 80e3);
  ASSERT_TRUE(warning);
  EXPECT_THAT(*warning, HasSubstr("cuts into the signal's 99 % occupied band"));
  EXPECT_THAT(*warning, HasSubstr("the output holds 80000 Hz"));
}

}  // namespace
