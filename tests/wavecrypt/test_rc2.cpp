// The RC2 core with RFC 2268's PITABLE reproduces the published RC2 vectors, the
// reduction step included at 1024 effective bits; the library's variant is that
// core over its own table.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "hex.h"
#include "rc2.h"
#include "tables.h"
#include "wavecrypt.h"

namespace {

using wavecrypt_test::fromHex;
using wavecrypt_test::toHex;

const std::vector<std::uint8_t> kRfcPiTable = fromHex(
    "d978f9c419ddb5ed28e9fd794aa0d89dc67e37832b76538e624c6488448bfba2"
    "179a59f587b34f1361456d8d09817d32bd8f40eb86b77b0bf09521225c6b4e82"
    "54d66593ce60b21c7356c014a78cf1dc1275ca1f3bbee4d1423dd430a33cb626"
    "6fbf0eda4669075727f21d9bbc944303f811c7f690ef3ee706c3d52fc8661ed7"
    "08e8eade8052eef784aa72ac354d6a2a961ad2715a1549744b9fd05e0418a4ec"
    "c2e0416e0f51cbcc2491af50a1f47039997c3a8523b8b47afc02365b25559731"
    "2d5dfa98e38a92ae05df2910676cbac9d300e6cfe19ea82c6316013f58e289a9"
    "0d38341bab33ffb0bb480c5fb9b1cd2ec5f3db47e5a59c770aa62068fe7fc1ad");

struct Rc2Vector {
  const char* key;
  unsigned effectiveBits;
  const char* plaintext;
  const char* ciphertext;
};

void PrintTo(const Rc2Vector& v, std::ostream* out) { *out << v.key << " T1=" << v.effectiveBits; }

class WavecryptRc2Rfc : public ::testing::TestWithParam<Rc2Vector> {};

TEST_P(WavecryptRc2Rfc, CoreWithRfcTableReproducesVector) {
  const auto key = fromHex(GetParam().key);
  const auto schedule = arbsuite::wavecrypt::rc2ExpandKey(
      key.data(), key.size(), GetParam().effectiveBits, kRfcPiTable.data());
  auto block = fromHex(GetParam().plaintext);
  arbsuite::wavecrypt::rc2EncryptBlock(schedule, block.data());
  EXPECT_EQ(toHex(block), GetParam().ciphertext);
  arbsuite::wavecrypt::rc2DecryptBlock(schedule, block.data());
  EXPECT_EQ(toHex(block), GetParam().plaintext);
}

INSTANTIATE_TEST_SUITE_P(
    Rfc2268, WavecryptRc2Rfc,
    ::testing::Values(
        Rc2Vector{"0000000000000000", 63, "0000000000000000", "ebb773f993278eff"},
        Rc2Vector{"ffffffffffffffff", 64, "ffffffffffffffff", "278b27e42e2f0d49"},
        Rc2Vector{"3000000000000000", 64, "1000000000000001", "30649edf9be7d2c2"},
        Rc2Vector{"88", 64, "0000000000000000", "61a8a244adacccf0"},
        Rc2Vector{"88bca90e90875a", 64, "0000000000000000", "6ccf4308974c267f"},
        Rc2Vector{"88bca90e90875a7f0f79c384627bafb2", 64, "0000000000000000", "1a807d272bbe5db1"},
        Rc2Vector{"88bca90e90875a7f0f79c384627bafb2", 128, "0000000000000000", "2269552ab0f85ca6"},
        Rc2Vector{"88bca90e90875a7f0f79c384627bafb216f80a6f85920584c42fceb0be255daf1e", 129,
                  "0000000000000000", "5b78d3a43dfff1f1"}));

// At 1024 effective bits the reduction step still replaces L[0] by its table entry;
// leaving it out would give 3491b4d787aa0c90 for the first row.
INSTANTIATE_TEST_SUITE_P(
    FullEffectiveLength, WavecryptRc2Rfc,
    ::testing::Values(
        Rc2Vector{"88bca90e90875a7f0f79c384627bafb2", 1024, "0000000000000000", "db66015b97954a43"},
        Rc2Vector{"5068696c6970476c617373", 1024, "0000000000000000", "624fb3e887419e48"},
        Rc2Vector{"5068696c6970476c617373", 1024, "0011223344556677", "078656aaba61cbfb"},
        Rc2Vector{"ffffffffffffffff", 1024, "0000000000000000", "d7bcc5dbb4d6e56a"},
        Rc2Vector{"ffffffffffffffff", 1024, "0011223344556677", "cb15a7f819c0014d"},
        Rc2Vector{"ffffffffffffffff5065746572477265656e6177617953e5ffe553", 1024,
                  "0000000000000000", "63ac98cdf3843a7a"},
        Rc2Vector{"53e5ffe553", 1024, "0000000000000000", "e64221e608be30ab"}));

TEST(WavecryptRc2Schedule, FullEffectiveLengthChangesOnlyTheFirstByte) {
  // Forward expansion alone, then the reduction step's single lookup on L[0].
  const auto key = fromHex("88bca90e90875a7f0f79c384627bafb2");
  std::uint8_t l[128];
  std::copy(key.begin(), key.end(), l);
  for (int i = 16; i < 128; ++i) l[i] = kRfcPiTable[(l[i - 1] + l[i - 16]) & 0xFF];
  l[0] = kRfcPiTable[l[0]];
  const auto schedule =
      arbsuite::wavecrypt::rc2ExpandKey(key.data(), key.size(), 1024, kRfcPiTable.data());
  for (int i = 0; i < 64; ++i) {
    EXPECT_EQ(schedule.k[i], l[2 * i] | (l[2 * i + 1] << 8)) << "word " << i;
  }
  EXPECT_EQ(schedule.k[0], 0xbc84);  // L[0] = 0x84 (was 0x88), L[1] = 0xbc
  EXPECT_EQ(schedule.k[63], 0xcd58);
}

TEST(WavecryptRc2Variant, TableIsNotAPermutationAndHas154Values) {
  const std::set<std::uint8_t> distinct(
      std::begin(arbsuite::wavecrypt::tables::kRc2SubstitutionTable),
      std::end(arbsuite::wavecrypt::tables::kRc2SubstitutionTable));
  EXPECT_EQ(distinct.size(), 154u);
}

TEST(WavecryptRc2Variant, EntryIsTheCoreOverTheLibraryTable) {
  std::mt19937 rng(2268);
  std::vector<std::uint8_t> key(16), data(40);
  for (auto& b : key) b = static_cast<std::uint8_t>(rng());
  for (auto& b : data) b = static_cast<std::uint8_t>(rng());

  std::vector<std::uint8_t> cipher(40);
  std::uint32_t length = 40;
  ASSERT_EQ(EncOrDecOpt(1, data.data(), 40, key.data(), cipher.data(), &length, 0), WAVECRYPT_OK);
  EXPECT_EQ(length, 40u);

  const auto own = arbsuite::wavecrypt::rc2ExpandKey(
      key.data(), 16, 1024, arbsuite::wavecrypt::tables::kRc2SubstitutionTable);
  const auto rfc = arbsuite::wavecrypt::rc2ExpandKey(key.data(), 16, 1024, kRfcPiTable.data());
  for (std::size_t offset = 0; offset < 40; offset += 8) {
    std::vector<std::uint8_t> block(data.begin() + offset, data.begin() + offset + 8);
    std::vector<std::uint8_t> withRfcTable = block;
    arbsuite::wavecrypt::rc2EncryptBlock(own, block.data());
    arbsuite::wavecrypt::rc2EncryptBlock(rfc, withRfcTable.data());
    EXPECT_EQ(std::vector<std::uint8_t>(cipher.begin() + offset, cipher.begin() + offset + 8),
              block);
    EXPECT_NE(block, withRfcTable);  // the table really is the library's own
  }
}

class WavecryptRc2Buffer : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(WavecryptRc2Buffer, RoundTripsWithZeroPadding) {
  const std::uint32_t n = GetParam();
  std::mt19937 rng(n);
  std::vector<std::uint8_t> key(16), data(n);
  for (auto& b : key) b = static_cast<std::uint8_t>(rng());
  for (auto& b : data) b = static_cast<std::uint8_t>(rng());
  data.reserve(1);  // a real pointer also for n = 0
  const std::uint32_t padded = (n + 7) / 8 * 8;
  std::vector<std::uint8_t> cipher(padded + 1), plain(padded + 1);
  std::uint32_t length = padded;
  ASSERT_EQ(EncOrDecOpt(1, data.data(), n, key.data(), cipher.data(), &length, 0), WAVECRYPT_OK);
  EXPECT_EQ(length, padded);
  ASSERT_EQ(EncOrDecOpt(1, cipher.data(), padded, key.data(), plain.data(), &length, 1),
            WAVECRYPT_OK);
  data.resize(padded, 0);
  plain.resize(padded);
  EXPECT_EQ(plain, data);
}

INSTANTIATE_TEST_SUITE_P(Lengths, WavecryptRc2Buffer,
                         ::testing::Values(0u, 1u, 8u, 12u, 16u, 63u, 256u));

}  // namespace
