// CRC-32: published check values and agreement with zlib's crc32 on random data.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "wavecrypt.h"

namespace {

struct CrcVector {
  const char* text;
  std::uint32_t crc;
};

void PrintTo(const CrcVector& v, std::ostream* out) { *out << '"' << v.text << '"'; }

class WavecryptCrcVector : public ::testing::TestWithParam<CrcVector> {};

TEST_P(WavecryptCrcVector, MatchesPublishedValue) {
  const std::string text = GetParam().text;
  EXPECT_EQ(AfxGetCrcU32(text.data(), static_cast<std::uint32_t>(text.size())), GetParam().crc);
}

INSTANTIATE_TEST_SUITE_P(
    Published, WavecryptCrcVector,
    ::testing::Values(CrcVector{"", 0x00000000u}, CrcVector{"a", 0xE8B7BE43u},
                      CrcVector{"abc", 0x352441C2u}, CrcVector{"123456789", 0xCBF43926u},
                      CrcVector{"The quick brown fox jumps over the lazy dog", 0x414FA339u}));

class WavecryptCrcZlib : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(WavecryptCrcZlib, EqualsZlibOnRandomBytes) {
  std::mt19937 rng(GetParam() * 7919u + 1u);
  for (int round = 0; round < 8; ++round) {
    std::vector<std::uint8_t> data(GetParam());
    for (auto& b : data) b = static_cast<std::uint8_t>(rng());
    const auto expected = static_cast<std::uint32_t>(
        crc32(crc32(0L, Z_NULL, 0), data.data(), static_cast<uInt>(data.size())));
    EXPECT_EQ(AfxGetCrcU32(data.data(), static_cast<std::uint32_t>(data.size())), expected);
  }
}

INSTANTIATE_TEST_SUITE_P(Lengths, WavecryptCrcZlib,
                         ::testing::Values(1u, 2u, 3u, 7u, 8u, 255u, 256u, 1000u, 4096u, 65537u));

TEST(WavecryptCrc, NullPointerWithZeroLengthGivesZero) { EXPECT_EQ(AfxGetCrcU32(nullptr, 0), 0u); }

}  // namespace
