// RC5-32/12/16 and its buffer mode: the designer's published vectors, and buffers
// compared with a plain reference implementation written here from the algorithm.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "hex.h"
#include "wavecrypt.h"

namespace {

using wavecrypt_test::fromHex;
using wavecrypt_test::toHex;

// Reference RC5-32/12/b: the published description, one block at a time.
class ReferenceRc5 {
 public:
  explicit ReferenceRc5(const std::vector<std::uint8_t>& key) {
    const std::size_t c = key.empty() ? 1 : (key.size() + 3) / 4;
    std::vector<std::uint32_t> l(c, 0);
    for (std::size_t i = key.size(); i-- > 0;) l[i / 4] = (l[i / 4] << 8) + key[i];
    s_[0] = 0xB7E15163u;
    for (int i = 1; i < 26; ++i) s_[i] = s_[i - 1] + 0x9E3779B9u;
    std::uint32_t a = 0, b = 0;
    std::size_t i = 0, j = 0;
    const std::size_t steps = 3 * std::max<std::size_t>(26, c);
    for (std::size_t k = 0; k < steps; ++k) {
      a = s_[i] = rotl(s_[i] + a + b, 3);
      b = l[j] = rotl(l[j] + a + b, a + b);
      i = (i + 1) % 26;
      j = (j + 1) % c;
    }
  }

  void encrypt(std::uint8_t* block) const {
    std::uint32_t a = load(block) + s_[0];
    std::uint32_t b = load(block + 4) + s_[1];
    for (int i = 1; i <= 12; ++i) {
      a = rotl(a ^ b, b) + s_[2 * i];
      b = rotl(b ^ a, a) + s_[2 * i + 1];
    }
    store(a, block);
    store(b, block + 4);
  }

 private:
  static std::uint32_t rotl(std::uint32_t x, std::uint32_t n) {
    n &= 31;
    return n == 0 ? x : (x << n) | (x >> (32 - n));
  }
  static std::uint32_t load(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24);
  }
  static void store(std::uint32_t w, std::uint8_t* p) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(w >> (8 * i));
  }
  std::uint32_t s_[26];
};

std::vector<std::uint8_t> referenceEncrypt(const std::vector<std::uint8_t>& key,
                                           std::vector<std::uint8_t> data) {
  data.resize((data.size() + 7) / 8 * 8, 0);
  const ReferenceRc5 cipher(key);
  for (std::size_t i = 0; i < data.size(); i += 8) cipher.encrypt(data.data() + i);
  return data;
}

struct Rc5Vector {
  const char* key;
  const char* plaintext;
  const char* ciphertext;
};

void PrintTo(const Rc5Vector& v, std::ostream* out) { *out << v.key << " " << v.plaintext; }

class WavecryptRc5Vector : public ::testing::TestWithParam<Rc5Vector> {};

TEST_P(WavecryptRc5Vector, EncryptsAndDecryptsThroughEntry) {
  const auto key = fromHex(GetParam().key);
  const auto plain = fromHex(GetParam().plaintext);
  std::vector<std::uint8_t> out(8);
  std::uint32_t length = 8;
  ASSERT_EQ(EncOrDecOpt(2, plain.data(), 8, key.data(), out.data(), &length, 0), 0);
  EXPECT_EQ(length, 8u);
  EXPECT_EQ(toHex(out), GetParam().ciphertext);

  std::vector<std::uint8_t> back(8);
  ASSERT_EQ(EncOrDecOpt(2, out.data(), 8, key.data(), back.data(), &length, 1), 0);
  EXPECT_EQ(back, plain);
}

TEST_P(WavecryptRc5Vector, ReferenceAgrees) {
  EXPECT_EQ(toHex(referenceEncrypt(fromHex(GetParam().key), fromHex(GetParam().plaintext))),
            GetParam().ciphertext);
}

// Rivest's chain of examples, the draft-krovetz vector and the NESSIE set 8 pairs.
INSTANTIATE_TEST_SUITE_P(
    Published, WavecryptRc5Vector,
    ::testing::Values(
        Rc5Vector{"00000000000000000000000000000000", "0000000000000000", "21a5dbee154b8f6d"},
        Rc5Vector{"915f4619be41b2516355a50110a9ce91", "21a5dbee154b8f6d", "f7c013ac5b2b8952"},
        Rc5Vector{"783348e75aeb0f2fd7b169bb8dc16787", "f7c013ac5b2b8952", "2f42b3b70369fc92"},
        Rc5Vector{"dc49db1375a5584f6485b413b5f12baf", "2f42b3b70369fc92", "65c178b284d197cc"},
        Rc5Vector{"5269f149d41ba0152497574d7f153125", "65c178b284d197cc", "eb44e415da319824"},
        Rc5Vector{"000102030405060708090a0b0c0d0e0f", "0001020304050607", "c8d3b3c486700cfa"},
        Rc5Vector{"000102030405060708090a0b0c0d0e0f", "96950dda654a3d62", "0011223344556677"},
        Rc5Vector{"2bd6459f82c5b300952c49104881ff48", "638b3a5ef72b663f", "ea024714ad5c4d84"}));

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
  ASSERT_EQ(EncOrDecOpt(2, data.data(), n, key.data(), cipher.data(), &length, 0), 0);
  EXPECT_EQ(length, padded);
  EXPECT_EQ(cipher, referenceEncrypt(key, data));

  std::vector<std::uint8_t> plain(padded);
  ASSERT_EQ(EncOrDecOpt(2, cipher.data(), padded, key.data(), plain.data(), &length, 1), 0);
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
  ASSERT_EQ(EncOrDecOpt(2, in, 0, key, out, &length, 0), 0);
  EXPECT_EQ(length, 0u);
  for (const std::uint8_t b : out) EXPECT_EQ(b, 0x5A);
}

TEST(WavecryptRc5BufferMode, TwelveBytesGiveSixteenAndDecryptWithZeroPadding) {
  const auto key = fromHex("000102030405060708090a0b0c0d0e0f");
  std::vector<std::uint8_t> data(12);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(0xA0 + i);
  std::vector<std::uint8_t> cipher(16);
  std::uint32_t length = 16;
  ASSERT_EQ(EncOrDecOpt(2, data.data(), 12, key.data(), cipher.data(), &length, 0), 0);
  EXPECT_EQ(length, 16u);
  std::vector<std::uint8_t> plain(16);
  ASSERT_EQ(EncOrDecOpt(2, cipher.data(), 16, key.data(), plain.data(), &length, 1), 0);
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
  ASSERT_EQ(EncOrDecOpt(2, data.data(), 256, key.data(), whole.data(), &length, 0), 0);
  for (std::size_t offset = 0; offset < 256; offset += 8) {
    std::uint32_t pieceLength = 8;
    ASSERT_EQ(EncOrDecOpt(2, data.data() + offset, 8, key.data(), pieces.data() + offset,
                          &pieceLength, 0),
              0);
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
  ASSERT_EQ(EncOrDecOpt(2, buffer.data(), 100, key.data(), buffer.data(), &length, 0), 0);
  EXPECT_EQ(buffer, expected);

  // Output three bytes after, then five bytes before the input.
  for (const int shift : {3, -5}) {
    std::vector<std::uint8_t> work(120, 0);
    const std::size_t inOffset = 8;
    std::copy(data.begin(), data.end(), work.begin() + inOffset);
    std::uint8_t* out = work.data() + inOffset + shift;
    length = 104;
    ASSERT_EQ(EncOrDecOpt(2, work.data() + inOffset, 100, key.data(), out, &length, 0), 0);
    EXPECT_EQ(std::vector<std::uint8_t>(out, out + 104), expected) << "shift " << shift;
  }
}

}  // namespace
