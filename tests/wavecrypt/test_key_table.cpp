// The key table and the data-key draw: every entry deciphers to a distinct 16-byte
// key, the seed and counter rules, and the host's rand left alone.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <set>

#include "key_table.h"
#include "reference_rand.h"
#include "seed_counter.h"
#include "tables.h"
#include "wavecrypt.h"

namespace {

using wavecrypt_test::ReferenceRand;
using Key = std::array<std::uint8_t, 16>;

class WavecryptKeyDraw : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = arbsuite::wavecrypt::seedCounter(); }
  void TearDown() override { arbsuite::wavecrypt::setSeedCounter(saved_); }
  std::uint32_t saved_ = 0;
};

std::set<Key> decipheredTable() {
  std::set<Key> keys;
  for (std::uint32_t i = 0; i < arbsuite::wavecrypt::tables::kKeyTableEntries; ++i) {
    Key key{};
    std::uint32_t length = 16;
    EXPECT_EQ(EncOrDecOpt(1, arbsuite::wavecrypt::tables::kKeyTable[i], 16,
                          arbsuite::wavecrypt::tables::kKeyTableKey, key.data(), &length, 1),
              WAVECRYPT_OK);
    EXPECT_EQ(length, 16u) << "entry " << i;
    keys.insert(key);
  }
  return keys;
}

TEST_F(WavecryptKeyDraw, EveryEntryDeciphersToADistinctKey) {
  EXPECT_EQ(decipheredTable().size(), arbsuite::wavecrypt::tables::kKeyTableEntries);
}

TEST_F(WavecryptKeyDraw, DrawFollowsTheSeedAndCounterRules) {
  const std::uint32_t now = 1700000000u;
  arbsuite::wavecrypt::setSeedCounter(41);
  const arbsuite::wavecrypt::KeyDraw draw = arbsuite::wavecrypt::drawKeyIndex(now);

  ReferenceRand rand(now + 41);
  const std::uint32_t step = rand.next() % 500;
  EXPECT_EQ(draw.seed, now + 41);
  EXPECT_EQ(arbsuite::wavecrypt::seedCounter(), 41 + 1 + step);
  EXPECT_EQ(draw.index, rand.next() % 5000);
}

TEST_F(WavecryptKeyDraw, TwoDrawsInTheSameSecondUseDifferentSeeds) {
  const std::uint32_t now = 1234567890u;
  arbsuite::wavecrypt::setSeedCounter(0);
  const auto first = arbsuite::wavecrypt::drawKeyIndex(now);
  const auto second = arbsuite::wavecrypt::drawKeyIndex(now);
  EXPECT_NE(first.seed, second.seed);
  EXPECT_GT(second.seed - first.seed, 0u);
  EXPECT_LE(second.seed - first.seed, 500u);
}

// Counter values just below the reset limit: the draw adds 1 and then r1 mod 500.
class WavecryptKeyDrawCounter : public WavecryptKeyDraw,
                                public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(WavecryptKeyDrawCounter, ResetsToZeroAtTheLimit) {
  const std::uint32_t now = 1000u;
  const std::uint32_t start = GetParam();
  arbsuite::wavecrypt::setSeedCounter(start);
  arbsuite::wavecrypt::drawKeyIndex(now);

  ReferenceRand rand(now + start);
  const std::uint64_t reached = (std::uint64_t{start} + 1 + rand.next() % 500) & 0xFFFFFFFFu;
  const std::uint32_t expected = reached >= 0xFFFFFE0Bu ? 0u : static_cast<std::uint32_t>(reached);
  EXPECT_EQ(arbsuite::wavecrypt::seedCounter(), expected);
}

INSTANTIATE_TEST_SUITE_P(NearLimit, WavecryptKeyDrawCounter,
                         ::testing::Values(0u, 0xFFFFFC00u, 0xFFFFFD00u, 0xFFFFFE09u, 0xFFFFFE0Au,
                                           0xFFFFFFFEu, 0xFFFFFFFFu));

TEST_F(WavecryptKeyDraw, CounterAtLimitMinusOneAlwaysResets) {
  arbsuite::wavecrypt::setSeedCounter(0xFFFFFE0Au);  // + 1 reaches the limit whatever r1 is
  arbsuite::wavecrypt::drawKeyIndex(77u);
  EXPECT_EQ(arbsuite::wavecrypt::seedCounter(), 0u);
}

TEST_F(WavecryptKeyDraw, ExportedDrawReturnsATableKey) {
  const std::set<Key> table = decipheredTable();
  for (int i = 0; i < 20; ++i) {
    Key key{};
    ASSERT_EQ(AfxgetRandKeyR5(key.data()) & 0xFFFF, 0);
    EXPECT_TRUE(table.count(key) == 1);
  }
}

TEST_F(WavecryptKeyDraw, HostRandSequenceIsUntouched) {
  std::srand(4242);
  const int expectedFirst = std::rand();
  const int expectedSecond = std::rand();
  std::srand(4242);
  EXPECT_EQ(std::rand(), expectedFirst);
  Key key{};
  ASSERT_EQ(AfxgetRandKeyR5(key.data()), WAVECRYPT_OK);
  std::uint8_t wrapped[84];
  std::uint32_t length = 84;
  ASSERT_EQ(EncOrDecOpt(3, key.data(), 16, nullptr, wrapped, &length, 0), WAVECRYPT_OK);
  EXPECT_EQ(std::rand(), expectedSecond);
}

TEST_F(WavecryptKeyDraw, NullOutputIsRejectedWithoutADraw) {
  arbsuite::wavecrypt::setSeedCounter(123);
  EXPECT_EQ(AfxgetRandKeyR5(nullptr), WAVECRYPT_REJECTED);
  EXPECT_EQ(arbsuite::wavecrypt::seedCounter(), 123u);
}

}  // namespace
