// The exact sums of squares behind the signal energy: the vector sum against a
// plain one, and the energy from it against the ordered double sum of the format
// module, on both sides of 2^53.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <span>
#include <vector>

#include "arb_format.h"

namespace {

std::uint64_t plainSumOfSquares(const std::vector<std::int16_t>& values) {
  std::uint64_t sum = 0;
  for (const std::int16_t v : values) sum += static_cast<std::uint64_t>(std::int64_t{v} * v);
  return sum;
}

std::vector<std::int16_t> randomValues(std::size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<std::int16_t> values(n);
  for (auto& v : values) v = static_cast<std::int16_t>(random());
  return values;
}

class ArbformatSumOfSquaresTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(ArbformatSumOfSquaresTest, EqualsThePlainSum) {
  const std::size_t n = GetParam();
  const auto values = randomValues(n, static_cast<unsigned>(n));
  EXPECT_EQ(arbsuite::arb::sumOfSquares(values), plainSumOfSquares(values));
  // Full scale in every value, where two squares fill 32 bits.
  for (const std::int16_t extreme : {std::int16_t{-32768}, std::int16_t{32767}}) {
    const std::vector<std::int16_t> full(n, extreme);
    EXPECT_EQ(arbsuite::arb::sumOfSquares(full), plainSumOfSquares(full)) << extreme;
  }
  // Unaligned starts and tails of every length.
  for (std::size_t skip = 1; skip < 8 && skip <= n; ++skip) {
    const std::span<const std::int16_t> tail(values.data() + skip, n - skip);
    EXPECT_EQ(arbsuite::arb::sumOfSquares(tail),
              plainSumOfSquares(std::vector<std::int16_t>(tail.begin(), tail.end())))
        << skip;
  }
}

INSTANTIATE_TEST_SUITE_P(Lengths, ArbformatSumOfSquaresTest,
                         ::testing::Values(0, 1, 7, 8, 9, 15, 16, 17, 1000, 65537));

TEST(ArbformatOrderedEnergyTest, EqualsTheOrderedDoubleSumBelowAndAbove2To53) {
  for (const std::size_t n : {0, 1, 2, 3, 1000, 100001}) {
    const auto values = randomValues(n, static_cast<unsigned>(n) + 7);
    EXPECT_EQ(arbsuite::arb::orderedSignalEnergy(arbsuite::arb::sumOfSquares(values), values),
              arbsuite::arb::signalEnergy(std::span<const std::int16_t>(values)))
        << n;
  }
  // 2^23 + 1 values of -32768 sum to 2^53 + 2^30: beyond what a double holds exactly
  // from the point where the partial sums reach 2^53 (x 2^-26); a few smaller values
  // after that point round away.
  std::vector<std::int16_t> loud((std::size_t{1} << 23) + 1, -32768);
  loud.insert(loud.end(), {1, 3, 5, 7});
  const std::uint64_t sum = arbsuite::arb::sumOfSquares(loud);
  ASSERT_GT(sum, std::uint64_t{1} << 53);
  const double ordered = arbsuite::arb::signalEnergy(std::span<const std::int16_t>(loud));
  EXPECT_EQ(arbsuite::arb::orderedSignalEnergy(sum, loud), ordered);
  EXPECT_NE(static_cast<double>(sum) / (8192.0 * 8192.0), ordered);  // the case is real
}

}  // namespace
