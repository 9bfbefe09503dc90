// The RC5 kernels of the buffer mode: each one the processor offers (scalar, AVX2, AVX-512)
// gives the bytes of the reference written in reference_rc5.h on random keys and every length
// from 0 to 4,096 bytes, and those of the scalar path on large, unaligned and overlapping
// buffers, in both directions; the detected level is the processor's.
#include <gtest/gtest.h>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "hex.h"
#include "rc5.h"
#include "reference_rc5.h"
#include "simd_levels.h"

namespace {

using arbsuite::SimdLevel;
using wavecrypt_test::fromHex;
using wavecrypt_test::toHex;

constexpr std::uint8_t kSentinel = 0xA5;

std::vector<std::uint8_t> randomBytes(std::mt19937& rng, std::size_t n) {
  std::vector<std::uint8_t> bytes(n);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
  return bytes;
}

std::uint32_t padded(std::uint32_t n) { return (n + 7) / 8 * 8; }

// The buffer mode at `level` from input to a separate output of the padded length, with a
// guard band after it that must stay untouched.
std::vector<std::uint8_t> runAt(SimdLevel level, const std::vector<std::uint8_t>& key,
                                const std::uint8_t* input, std::uint32_t n, bool encrypt) {
  std::vector<std::uint8_t> out(padded(n) + 16, kSentinel);
  std::uint32_t length = 0xDEADBEEFu;
  arbsuite::wavecrypt::rc5BufferAtLevel(level, input, n, key.data(), out.data(), &length, encrypt);
  EXPECT_EQ(length, padded(n));
  for (std::size_t i = padded(n); i < out.size(); ++i) {
    EXPECT_EQ(out[i], kSentinel) << "written past the padded length at " << i;
  }
  out.resize(padded(n));
  return out;
}

class WavecryptRc5Kernel : public ::testing::TestWithParam<SimdLevel> {
 protected:
  void SetUp() override {
    if (arbsuite::usableSimdLevel(GetParam()) != GetParam()) {
      GTEST_SKIP() << "this processor lacks " << arbsuite::simdLevelName(GetParam());
    }
  }
};

// Encryption against the reference, decryption against the scalar path and back to the data.
TEST_P(WavecryptRc5Kernel, EveryLengthUpTo4096EqualsTheReference) {
  std::mt19937 rng(4096);
  for (std::uint32_t n = 0; n <= 4096; ++n) {
    const auto key = randomBytes(rng, 16);
    const auto data = randomBytes(rng, n);
    const auto cipher = runAt(GetParam(), key, data.data(), n, true);
    ASSERT_EQ(cipher, wavecrypt_test::referenceEncrypt(key, data)) << "n " << n;
    const auto plain = runAt(GetParam(), key, cipher.data(), padded(n), false);
    ASSERT_EQ(plain, runAt(SimdLevel::kScalar, key, cipher.data(), padded(n), false)) << "n " << n;
    ASSERT_TRUE(std::equal(data.begin(), data.end(), plain.begin())) << "n " << n;
    ASSERT_TRUE(std::all_of(plain.begin() + n, plain.end(), [](std::uint8_t b) { return b == 0; }))
        << "the padding of n " << n << " does not come back as zeros";
  }
}

TEST_P(WavecryptRc5Kernel, LargeBuffersEqualTheScalarPath) {
  std::mt19937 rng(77);
  // Whole AVX-512 groups, then with an AVX2 group, single blocks and a tail after them.
  for (const std::uint32_t n : {4u << 20, (1u << 20) + 8 * 8 + 8 * 3 + 5, 3u * 1000 * 1000 + 1}) {
    const auto key = randomBytes(rng, 16);
    const auto data = randomBytes(rng, n);
    for (const bool encrypt : {true, false}) {
      EXPECT_EQ(runAt(GetParam(), key, data.data(), n, encrypt),
                runAt(SimdLevel::kScalar, key, data.data(), n, encrypt))
          << "n " << n << (encrypt ? " encrypt" : " decrypt");
    }
  }
}

TEST_P(WavecryptRc5Kernel, UnalignedBuffersEqualTheScalarPath) {
  std::mt19937 rng(13);
  const auto key = randomBytes(rng, 16);
  for (const std::uint32_t n : {129u, 1000u, 4099u}) {
    const auto data = randomBytes(rng, n);
    const auto want = runAt(SimdLevel::kScalar, key, data.data(), n, true);
    for (const std::size_t inOffset : {1u, 3u, 7u, 13u, 32u, 63u}) {
      for (const std::size_t outOffset : {0u, 1u, 5u, 31u, 60u}) {
        std::vector<std::uint8_t> in(n + 64), out(padded(n) + 64, kSentinel);
        std::copy(data.begin(), data.end(), in.begin() + static_cast<std::ptrdiff_t>(inOffset));
        std::uint32_t length = 0;
        arbsuite::wavecrypt::rc5BufferAtLevel(GetParam(), in.data() + inOffset, n, key.data(),
                                              out.data() + outOffset, &length, true);
        EXPECT_EQ(std::vector<std::uint8_t>(
                      out.begin() + static_cast<std::ptrdiff_t>(outOffset),
                      out.begin() + static_cast<std::ptrdiff_t>(outOffset + length)),
                  want)
            << "n " << n << " input at +" << inOffset << " output at +" << outOffset;
      }
    }
  }
}

// Output the input itself, or overlapping it before or after by less than a block, by exactly
// a group and by more: the result is that of a separate copy of the input, in both directions.
TEST_P(WavecryptRc5Kernel, OverlappingBuffersGiveTheBytesOfACopy) {
  std::mt19937 rng(5);
  const auto key = randomBytes(rng, 16);
  constexpr std::ptrdiff_t kMargin = 400;
  for (const std::uint32_t n : {300u, 1000u, 4101u}) {
    const auto data = randomBytes(rng, n);
    for (const bool encrypt : {true, false}) {
      const auto want = runAt(SimdLevel::kScalar, key, data.data(), n, encrypt);
      for (const std::ptrdiff_t shift :
           {-300, -129, -128, -64, -9, -8, -5, -1, 0, 1, 3, 8, 64, 127, 128, 136, 257}) {
        std::vector<std::uint8_t> work(n + 2 * kMargin + 8, 0);
        std::copy(data.begin(), data.end(), work.begin() + kMargin);
        std::uint8_t* out = work.data() + kMargin + shift;
        std::uint32_t length = 0;
        arbsuite::wavecrypt::rc5BufferAtLevel(GetParam(), work.data() + kMargin, n, key.data(), out,
                                              &length, encrypt);
        ASSERT_EQ(length, padded(n));
        EXPECT_EQ(std::vector<std::uint8_t>(out, out + length), want)
            << "n " << n << " shift " << shift << (encrypt ? " encrypt" : " decrypt");
      }
    }
  }
}

// Each published vector in every block of buffers whose lengths reach every kernel's share.
TEST_P(WavecryptRc5Kernel, PublishedVectorsInEveryBlock) {
  for (const auto& v : wavecrypt_test::publishedRc5Vectors()) {
    const auto key = fromHex(v.key);
    const auto block = fromHex(v.plaintext);
    for (const std::uint32_t blocks : {1u, 8u, 16u, 31u, 32u, 61u}) {
      std::vector<std::uint8_t> plain;
      for (std::uint32_t i = 0; i < blocks; ++i) {
        plain.insert(plain.end(), block.begin(), block.end());
      }
      const auto cipher = runAt(GetParam(), key, plain.data(), blocks * 8, true);
      for (std::uint32_t i = 0; i < blocks; ++i) {
        ASSERT_EQ(toHex(cipher.data() + 8 * i, 8), v.ciphertext)
            << v.key << " block " << i << " of " << blocks;
      }
      EXPECT_EQ(runAt(GetParam(), key, cipher.data(), blocks * 8, false), plain) << v.key;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Levels, WavecryptRc5Kernel, ::testing::ValuesIn(arbtest::kAllSimdLevels),
                         arbtest::SimdLevelCaseName());

// The scalar path forced, whatever the processor offers: the bytes of the independent reference.
TEST(WavecryptRc5ScalarPath, ForcedScalarEqualsTheReference) {
  std::mt19937 rng(21);
  for (const std::uint32_t n : {0u, 1u, 8u, 127u, 128u, 129u, 1000u, 4096u, 65543u}) {
    const auto key = randomBytes(rng, 16);
    const auto data = randomBytes(rng, n);
    EXPECT_EQ(runAt(SimdLevel::kScalar, key, data.data(), n, true),
              wavecrypt_test::referenceEncrypt(key, data))
        << "n " << n;
  }
}

// The level the library picks, against the processor's own answer read here with cpuid and
// xgetbv: AVX2 and AVX-512F offered, and their registers saved by the operating system (XCR0:
// SSE and AVX state for AVX2; also the opmask and both halves of the upper ZMM state for
// AVX-512). Emulators and valgrind answer for the processor they emulate, and so does this.
TEST(WavecryptRc5ScalarPath, DetectedLevelMatchesCpuid) {
#if defined(__x86_64__) || defined(__i386__)
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  __get_cpuid(1, &eax, &ebx, &ecx, &edx);
  std::uint64_t xcr0 = 0;
  if ((ecx & bit_OSXSAVE) != 0) {
    unsigned lo = 0, hi = 0;
    __asm__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    xcr0 = (std::uint64_t{hi} << 32) | lo;
  }
  const bool ymmSaved = (xcr0 & 0x06) == 0x06;
  const bool zmmSaved = (xcr0 & 0xE6) == 0xE6;
  __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx);
  const bool avx2 = ymmSaved && (ebx & bit_AVX2) != 0;
  const bool avx512f = ymmSaved && zmmSaved && (ebx & bit_AVX512F) != 0;
  const SimdLevel want = !avx2     ? SimdLevel::kScalar
                         : avx512f ? SimdLevel::kAvx512
                                   : SimdLevel::kAvx2;
  EXPECT_EQ(arbsuite::detectedSimdLevel(), want);
#else
  EXPECT_EQ(arbsuite::detectedSimdLevel(), SimdLevel::kScalar);
#endif
}

}  // namespace
