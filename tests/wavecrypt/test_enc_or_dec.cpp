// EncOrDecOpt's argument checks: every rejected call returns -1 and writes nothing;
// the accepted edge cases produce exactly the lengths they promise.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "wavecrypt.h"

namespace {

constexpr std::uint8_t kSentinel = 0xA5;
constexpr std::uint32_t kLengthSentinel = 0xDEADBEEFu;

struct BadCall {
  const char* name;
  std::int32_t operation;
  bool nullInput;
  std::uint32_t inputLength;
  bool nullKey;
  bool nullOutput;
  bool nullLength;
  std::uint32_t capacity;
  std::int32_t direction;
};

void PrintTo(const BadCall& call, std::ostream* out) { *out << call.name; }

class WavecryptRejectedCall : public ::testing::TestWithParam<BadCall> {};

TEST_P(WavecryptRejectedCall, ReturnsMinusOneAndWritesNothing) {
  const BadCall& call = GetParam();
  std::vector<std::uint8_t> input(128, 0x3C);
  const std::uint8_t key[16] = {1, 2, 3};
  std::vector<std::uint8_t> output(128, kSentinel);
  std::uint32_t length = call.capacity;

  const std::int32_t status =
      EncOrDecOpt(call.operation, call.nullInput ? nullptr : input.data(), call.inputLength,
                  call.nullKey ? nullptr : key, call.nullOutput ? nullptr : output.data(),
                  call.nullLength ? nullptr : &length, call.direction);
  EXPECT_EQ(status, WAVECRYPT_REJECTED);
  EXPECT_EQ(status & 0xFFFF, 0xFFFF);
  EXPECT_EQ(length, call.capacity);
  for (const std::uint8_t b : output) ASSERT_EQ(b, kSentinel);
}

INSTANTIATE_TEST_SUITE_P(
    Checks, WavecryptRejectedCall,
    ::testing::Values(
        // Operations 1 and 2: null pointers and short capacities.
        BadCall{"Rc5NullInput", 2, true, 8, false, false, false, 8, 0},
        BadCall{"Rc5NullKey", 2, false, 8, true, false, false, 8, 0},
        BadCall{"Rc5NullOutput", 2, false, 8, false, true, false, 8, 0},
        BadCall{"Rc5NullLength", 2, false, 8, false, false, true, 8, 0},
        BadCall{"Rc5NullKeyEmptyInput", 2, false, 0, true, false, false, 8, 0},
        BadCall{"Rc5TwelveIntoFifteen", 2, false, 12, false, false, false, 15, 0},
        BadCall{"Rc5TwelveIntoTwelve", 2, false, 12, false, false, false, 12, 1},
        BadCall{"Rc5OneIntoZero", 2, false, 1, false, false, false, 0, 0},
        // n near 2^32 would round up past 32 bits: still rejected.
        BadCall{"Rc5HugeLengthWrapsToZero", 2, false, 0xFFFFFFF9u, false, false, false, 0, 0},
        BadCall{"Rc5HugeLengthLargestCapacity", 2, false, 0xFFFFFFFFu, false, false, false,
                0xFFFFFFFFu, 0},
        BadCall{"Rc2NullKey", 1, false, 16, true, false, false, 16, 1},
        BadCall{"Rc2NullInput", 1, true, 16, false, false, false, 16, 1},
        BadCall{"Rc2ShortCapacity", 1, false, 17, false, false, false, 23, 0},
        // Operation 3.
        BadCall{"WrapFifteenBytes", 3, false, 15, true, false, false, 84, 0},
        BadCall{"WrapSeventeenBytes", 3, false, 17, true, false, false, 84, 0},
        BadCall{"WrapCapacity83", 3, false, 16, true, false, false, 83, 0},
        BadCall{"WrapNullInput", 3, true, 16, true, false, false, 84, 0},
        BadCall{"WrapNullOutput", 3, false, 16, true, true, false, 84, 0},
        BadCall{"WrapNullLength", 3, false, 16, true, false, true, 84, 0},
        BadCall{"Unwrap83Bytes", 3, false, 83, true, false, false, 16, 1},
        BadCall{"Unwrap85Bytes", 3, false, 85, true, false, false, 16, 1},
        BadCall{"UnwrapCapacity15", 3, false, 84, true, false, false, 15, 1},
        BadCall{"UnwrapNullInput", 3, true, 84, true, false, false, 16, 1},
        // Unknown operations, including values whose low bits look like known ones.
        BadCall{"Operation0", 0, false, 8, false, false, false, 8, 0},
        BadCall{"Operation4", 4, false, 8, false, false, false, 8, 0},
        BadCall{"OperationMinus1", -1, false, 8, false, false, false, 8, 0},
        BadCall{"Operation0x10002", 0x10002, false, 8, false, false, false, 8, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WavecryptEntry, TwelveBytesFitSixteen) {
  const std::uint8_t key[16] = {};
  const std::uint8_t input[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  std::vector<std::uint8_t> output(16);
  std::uint32_t length = 16;
  EXPECT_EQ(EncOrDecOpt(2, input, 12, key, output.data(), &length, 0), WAVECRYPT_OK);
  EXPECT_EQ(length, 16u);
}

TEST(WavecryptEntry, EmptyInputSucceedsWithLengthZero) {
  const std::uint8_t key[16] = {};
  const std::uint8_t input[1] = {};
  std::uint8_t output[1] = {kSentinel};
  std::uint32_t length = 0;
  EXPECT_EQ(EncOrDecOpt(2, input, 0, key, output, &length, 0), WAVECRYPT_OK);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(output[0], kSentinel);
}

TEST(WavecryptEntry, OnlyTheLowDirectionByteCounts) {
  const std::uint8_t key[16] = {9, 8, 7};
  const std::uint8_t input[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  std::array<std::uint8_t, 8> encrypted{}, viaHighBits{}, decrypted{};
  std::uint32_t length = 8;
  ASSERT_EQ(EncOrDecOpt(2, input, 8, key, encrypted.data(), &length, 0), WAVECRYPT_OK);
  ASSERT_EQ(EncOrDecOpt(2, input, 8, key, viaHighBits.data(), &length, 0x100), WAVECRYPT_OK);
  EXPECT_EQ(viaHighBits, encrypted);  // 0x100 has low byte 0: encrypts
  for (const std::int32_t direction : {1, 2, 0xFF, -1, 0x101}) {
    ASSERT_EQ(EncOrDecOpt(2, encrypted.data(), 8, key, decrypted.data(), &length, direction),
              WAVECRYPT_OK);
    EXPECT_EQ(0, std::memcmp(decrypted.data(), input, 8)) << "direction " << direction;
  }
}

TEST(WavecryptEntry, KeyWrapIgnoresTheKeyAndAcceptsLargerCapacities) {
  const std::uint8_t data[16] = {0xDE, 0xAD};
  const std::uint8_t ignoredKey[16] = {0xFF};
  std::vector<std::uint8_t> wrapped(200, kSentinel);
  std::uint32_t length = 200;
  ASSERT_EQ(EncOrDecOpt(3, data, 16, ignoredKey, wrapped.data(), &length, 0), WAVECRYPT_OK);
  EXPECT_EQ(length, 84u);
  for (std::size_t i = 84; i < wrapped.size(); ++i) ASSERT_EQ(wrapped[i], kSentinel);

  std::vector<std::uint8_t> key(40, kSentinel);
  length = 40;
  ASSERT_EQ(EncOrDecOpt(3, wrapped.data(), 84, nullptr, key.data(), &length, 1 | 0x7F00),
            WAVECRYPT_OK);
  EXPECT_EQ(length, 16u);
  EXPECT_EQ(0, std::memcmp(key.data(), data, 16));
  for (std::size_t i = 16; i < key.size(); ++i) ASSERT_EQ(key[i], kSentinel);
}

TEST(WavecryptEntry, KeyWrapInOtherDirectionsDoesNothing) {
  const std::uint8_t data[84] = {};
  for (const std::int32_t direction : {2, 3, 0xFF, -1}) {
    std::vector<std::uint8_t> output(84, kSentinel);
    std::uint32_t length = 84;
    EXPECT_EQ(EncOrDecOpt(3, data, 16, nullptr, output.data(), &length, direction), WAVECRYPT_OK);
    EXPECT_EQ(length, 84u);
    for (const std::uint8_t b : output) ASSERT_EQ(b, kSentinel);
  }
}

TEST(WavecryptEntry, KeyWrapInPlace) {
  std::array<std::uint8_t, 84> buffer{};
  for (int i = 0; i < 16; ++i) buffer[i] = static_cast<std::uint8_t>(0xF0 + i);
  const std::array<std::uint8_t, 84> original = buffer;
  std::uint32_t length = 84;
  ASSERT_EQ(EncOrDecOpt(3, buffer.data(), 16, nullptr, buffer.data(), &length, 0), WAVECRYPT_OK);
  length = 84;
  ASSERT_EQ(EncOrDecOpt(3, buffer.data(), 84, nullptr, buffer.data(), &length, 1), WAVECRYPT_OK);
  EXPECT_EQ(length, 16u);
  EXPECT_EQ(0, std::memcmp(buffer.data(), original.data(), 16));
}

}  // namespace
