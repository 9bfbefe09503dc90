// RC5-32/12/16 and its buffer mode: the designer's published vectors, and buffers
// compared with a plain reference implementation written here from the algorithm.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "hex.h"
#include "reference_rc5.h"
#include "wavecrypt.h"

namespace {

using wavecrypt_test::fromHex;
using wavecrypt_test::toHex;

using wavecrypt_test::publishedRc5Vectors;
using wavecrypt_test::Rc5Vector;
using wavecrypt_test::referenceEncrypt;

class WavecryptRc5Vector : public ::testing::TestWithParam<Rc5Vector> {};

TEST_P(WavecryptRc5Vector, EncryptsAndDecryptsThroughEntry) {
  const auto key = fromHex(GetParam().key);
  const auto plain = fromHex(GetParam().plaintext);
  std::vector<std::uint8_t> out(8);
  std::uint32_t length = 8;
  ASSERT_EQ(EncOrDecOpt(2, plain.data(), 8, key.data(), out.data(), &length, 0), WAVECRYPT_OK);
  EXPECT_EQ(length, 8u);
  EXPECT_EQ(toHex(out), GetParam().ciphertext);

  std::vector<std::uint8_t> back(8);
  ASSERT_EQ(EncOrDecOpt(2, out.data(), 8, key.data(), back.data(), &length, 1), WAVECRYPT_OK);
  EXPECT_EQ(back, plain);
}

TEST_P(WavecryptRc5Vector, ReferenceAgrees) {
  EXPECT_EQ(toHex(referenceEncrypt(fromHex(GetParam().key), fromHex(GetParam().plaintext))),
            GetParam().ciphertext);
}

// The vector in every block of a buffer long enough for every kernel (AVX-512 groups of 16, an
// AVX2 group of 8, single blocks), through the exported entry with the kernels it picked.
TEST_P(WavecryptRc5Vector, EveryBlockOfALongBufferThroughEntry) {
  constexpr std::uint32_t kBlocks = 3 * 16 + 8 + 5;
  const auto key = fromHex(GetParam().key);
  const auto block = fromHex(GetParam().plaintext);
  std::vector<std::uint8_t> plain;
  for (std::uint32_t i = 0; i < kBlocks; ++i) plain.insert(plain.end(), block.begin(), block.end());
  std::vector<std::uint8_t> cipher(plain.size());
  std::uint32_t length = kBlocks * 8;
  ASSERT_EQ(EncOrDecOpt(2, plain.data(), kBlocks * 8, key.data(), cipher.data(), &length, 0),
            WAVECRYPT_OK);
  ASSERT_EQ(length, kBlocks * 8);
  for (std::uint32_t i = 0; i < kBlocks; ++i) {
    ASSERT_EQ(toHex(cipher.data() + 8 * i, 8), GetParam().ciphertext) << "block " << i;
  }
  std::vector<std::uint8_t> back(plain.size());
  ASSERT_EQ(EncOrDecOpt(2, cipher.data(), kBlocks * 8, key.data(), back.data(), &length, 1),
            WAVECRYPT_OK);
  EXPECT_EQ(back, plain);
}

INSTANTIATE_TEST_SUITE_P(Published, WavecryptRc5Vector, ::testing::ValuesIn(publishedRc5Vectors()));

class WavecryptRc5Buffer : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(WavecryptRc5Buffer, EqualsReferenceAndRoundTrips) {
  const std::uint32_t n = GetParam();
  std::mt19937 rng(n + 11u);
  std::vector<std::uint8_t> key(16), data(n);
  for (auto& b : key) b = static_cast<std::uint8_t>(rng());
  for (auto& b : data) b = static_cast<std::uint8_t>(rng());

  const std::uint32_t padded = (n + 7) / 8 * 8;
  std::vector<std::uint8_t> cipher(padded);
  std::uint32_t length = padded;
  ASSERT_EQ(EncOrDecOpt(2, data.data(), n, key.data(), cipher.data(), &length, 0), WAVECRYPT_OK);
  EXPECT_EQ(length, padded);
  EXPECT_EQ(cipher, referenceEncrypt(key, data));

  std::vector<std::uint8_t> plain(padded);
  ASSERT_EQ(EncOrDecOpt(2, cipher.data(), padded, key.data(), plain.data(), &length, 1),
            WAVECRYPT_OK);
  std::vector<std::uint8_t> expected = data;
  expected.resize(padded, 0);  // the padding comes back as data
  EXPECT_EQ(plain, expected);
}

INSTANTIATE_TEST_SUITE_P(Lengths, WavecryptRc5Buffer,
                         ::testing::Values(1u, 7u, 8u, 9u, 12u, 15u, 16u, 17u, 255u, 256u, 1001u,
                                           4096u));

TEST(WavecryptRc5BufferMode, EmptyInputProducesNothing) {
  const std::uint8_t key[16] = {};
  std::uint8_t in[1] = {0x42};
  std::uint8_t out[8] = {0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A};
  std::uint32_t length = 8;
  ASSERT_EQ(EncOrDecOpt(2, in, 0, key, out, &length, 0), WAVECRYPT_OK);
  EXPECT_EQ(length, 0u);
  for (const std::uint8_t b : out) EXPECT_EQ(b, 0x5A);
}

TEST(WavecryptRc5BufferMode, TwelveBytesGiveSixteenAndDecryptWithZeroPadding) {
  const auto key = fromHex("000102030405060708090a0b0c0d0e0f");
  std::vector<std::uint8_t> data(12);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(0xA0 + i);
  std::vector<std::uint8_t> cipher(16);
  std::uint32_t length = 16;
  ASSERT_EQ(EncOrDecOpt(2, data.data(), 12, key.data(), cipher.data(), &length, 0), WAVECRYPT_OK);
  EXPECT_EQ(length, 16u);
  std::vector<std::uint8_t> plain(16);
  ASSERT_EQ(EncOrDecOpt(2, cipher.data(), 16, key.data(), plain.data(), &length, 1), WAVECRYPT_OK);
  EXPECT_EQ(length, 16u);
  std::vector<std::uint8_t> expected = data;
  expected.insert(expected.end(), 4, 0);
  EXPECT_EQ(plain, expected);
}

TEST(WavecryptRc5BufferMode, OneCallEqualsBlockByBlockCalls) {
  std::mt19937 rng(99);
  std::vector<std::uint8_t> key(16), data(256);
  for (auto& b : key) b = static_cast<std::uint8_t>(rng());
  for (auto& b : data) b = static_cast<std::uint8_t>(rng());
  std::vector<std::uint8_t> whole(256), pieces(256);
  std::uint32_t length = 256;
  ASSERT_EQ(EncOrDecOpt(2, data.data(), 256, key.data(), whole.data(), &length, 0), WAVECRYPT_OK);
  for (std::size_t offset = 0; offset < 256; offset += 8) {
    std::uint32_t pieceLength = 8;
    ASSERT_EQ(EncOrDecOpt(2, data.data() + offset, 8, key.data(), pieces.data() + offset,
                          &pieceLength, 0),
              WAVECRYPT_OK);
    EXPECT_EQ(pieceLength, 8u);
  }
  EXPECT_EQ(whole, pieces);
}

TEST(WavecryptRc5BufferMode, InPlaceAndOverlappingBuffersGiveTheSameBytes) {
  std::mt19937 rng(5);
  std::vector<std::uint8_t> key(16), data(100);
  for (auto& b : key) b = static_cast<std::uint8_t>(rng());
  for (auto& b : data) b = static_cast<std::uint8_t>(rng());
  const auto expected = referenceEncrypt(key, data);

  std::vector<std::uint8_t> buffer = data;
  buffer.resize(104);
  std::uint32_t length = 104;
  ASSERT_EQ(EncOrDecOpt(2, buffer.data(), 100, key.data(), buffer.data(), &length, 0),
            WAVECRYPT_OK);
  EXPECT_EQ(buffer, expected);

  // Output three bytes after, then five bytes before the input.
  for (const int shift : {3, -5}) {
    std::vector<std::uint8_t> work(120, 0);
    const std::size_t inOffset = 8;
    std::copy(data.begin(), data.end(), work.begin() + inOffset);
    std::uint8_t* out = work.data() + inOffset + shift;
    length = 104;
    ASSERT_EQ(EncOrDecOpt(2, work.data() + inOffset, 100, key.data(), out, &length, 0),
              WAVECRYPT_OK);
    EXPECT_EQ(std::vector<std::uint8_t>(out, out + 104), expected) << "shift " << shift;
  }
}

}  // namespace
