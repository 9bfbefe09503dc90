// RC5-32/12/16 (Rivest): key schedule, block encryption and decryption, buffer mode.
#include "rc5.h"

#include <bit>
#include <cstddef>
#include <cstring>
#include <functional>

#include "block_mode.h"
#include "rc5_simd.h"

namespace arbsuite::wavecrypt {
namespace {

constexpr std::uint32_t kP32 = 0xB7E15163u;
constexpr std::uint32_t kQ32 = 0x9E3779B9u;
constexpr int kKeyWords = kRc5KeyBytes / 4;
constexpr int kScheduleWords = 2 * kRc5Rounds + 2;

// Little-endian words, as one memory access each (a byte-wise form costs the portable kernel
// a quarter of its speed: the compiler does not always merge the byte stores).
std::uint32_t loadWord(const std::uint8_t* bytes) {
  std::uint32_t word;
  std::memcpy(&word, bytes, sizeof word);
  if constexpr (std::endian::native == std::endian::big) {
    word = __builtin_bswap32(word);
  }
  return word;
}

void storeWord(std::uint32_t word, std::uint8_t* bytes) {
  if constexpr (std::endian::native == std::endian::big) {
    word = __builtin_bswap32(word);
  }
  std::memcpy(bytes, &word, sizeof word);
}

// Rotation counts are the low 5 bits of a word.
int rotation(std::uint32_t word) { return static_cast<int>(word & 31u); }

// The portable kernel of the buffer mode: two blocks at a time, read before either is written.
// Their rounds are independent chains of dependent operations that the processor overlaps: half
// as fast again as one block after the other. The same rounds as rc5EncryptBlock and
// rc5DecryptBlock.
constexpr std::size_t kPairBytes = 16;

void encryptPair(const std::uint32_t* s, const std::uint8_t* in, std::uint8_t* out) {
  std::uint32_t a0 = loadWord(in) + s[0];
  std::uint32_t b0 = loadWord(in + 4) + s[1];
  std::uint32_t a1 = loadWord(in + 8) + s[0];
  std::uint32_t b1 = loadWord(in + 12) + s[1];
  for (int round = 1; round <= kRc5Rounds; ++round) {
    a0 = std::rotl(a0 ^ b0, rotation(b0)) + s[2 * round];
    a1 = std::rotl(a1 ^ b1, rotation(b1)) + s[2 * round];
    b0 = std::rotl(b0 ^ a0, rotation(a0)) + s[2 * round + 1];
    b1 = std::rotl(b1 ^ a1, rotation(a1)) + s[2 * round + 1];
  }
  storeWord(a0, out);
  storeWord(b0, out + 4);
  storeWord(a1, out + 8);
  storeWord(b1, out + 12);
}

void decryptPair(const std::uint32_t* s, const std::uint8_t* in, std::uint8_t* out) {
  std::uint32_t a0 = loadWord(in);
  std::uint32_t b0 = loadWord(in + 4);
  std::uint32_t a1 = loadWord(in + 8);
  std::uint32_t b1 = loadWord(in + 12);
  for (int round = kRc5Rounds; round >= 1; --round) {
    b0 = std::rotr(b0 - s[2 * round + 1], rotation(a0)) ^ a0;
    b1 = std::rotr(b1 - s[2 * round + 1], rotation(a1)) ^ a1;
    a0 = std::rotr(a0 - s[2 * round], rotation(b0)) ^ b0;
    a1 = std::rotr(a1 - s[2 * round], rotation(b1)) ^ b1;
  }
  storeWord(a0 - s[0], out);
  storeWord(b0 - s[1], out + 4);
  storeWord(a1 - s[0], out + 8);
  storeWord(b1 - s[1], out + 12);
}

// `pairs` pairs of blocks from input to output, from the last one down when `backwards`.
template <bool kEncrypt>
void walkPairs(const std::uint32_t* s, const std::uint8_t* in, std::uint8_t* out, std::size_t pairs,
               bool backwards) {
  for (std::size_t i = 0; i < pairs; ++i) {
    const std::size_t offset = (backwards ? pairs - 1 - i : i) * kPairBytes;
    if constexpr (kEncrypt) {
      encryptPair(s, in + offset, out + offset);
    } else {
      decryptPair(s, in + offset, out + offset);
    }
  }
}

}  // namespace

Rc5Schedule rc5ExpandKey(const std::uint8_t key[kRc5KeyBytes]) {
  std::uint32_t l[kKeyWords];
  for (int j = 0; j < kKeyWords; ++j) l[j] = loadWord(key + 4 * j);

  Rc5Schedule schedule;
  schedule.s[0] = kP32;
  for (int i = 1; i < kScheduleWords; ++i) schedule.s[i] = schedule.s[i - 1] + kQ32;

  std::uint32_t a = 0;
  std::uint32_t b = 0;
  int i = 0;
  int j = 0;
  for (int step = 0; step < 3 * kScheduleWords; ++step) {
    a = schedule.s[i] = std::rotl(schedule.s[i] + a + b, 3);
    b = l[j] = std::rotl(l[j] + a + b, rotation(a + b));
    i = (i + 1) % kScheduleWords;
    j = (j + 1) % kKeyWords;
  }
  return schedule;
}

void rc5EncryptBlock(const Rc5Schedule& schedule, std::uint8_t block[8]) {
  const std::uint32_t* s = schedule.s.data();
  std::uint32_t a = loadWord(block) + s[0];
  std::uint32_t b = loadWord(block + 4) + s[1];
  for (int round = 1; round <= kRc5Rounds; ++round) {
    a = std::rotl(a ^ b, rotation(b)) + s[2 * round];
    b = std::rotl(b ^ a, rotation(a)) + s[2 * round + 1];
  }
  storeWord(a, block);
  storeWord(b, block + 4);
}

void rc5DecryptBlock(const Rc5Schedule& schedule, std::uint8_t block[8]) {
  const std::uint32_t* s = schedule.s.data();
  std::uint32_t a = loadWord(block);
  std::uint32_t b = loadWord(block + 4);
  for (int round = kRc5Rounds; round >= 1; --round) {
    b = std::rotr(b - s[2 * round + 1], rotation(a)) ^ a;
    a = std::rotr(a - s[2 * round], rotation(b)) ^ b;
  }
  storeWord(b - s[1], block + 4);
  storeWord(a - s[0], block);
}

void rc5BufferAtLevel(arbsuite::SimdLevel level, const std::uint8_t* input, std::uint32_t n,
                      const std::uint8_t key[kRc5KeyBytes], std::uint8_t* output,
                      std::uint32_t* outputLength, bool encrypt) {
  using arbsuite::SimdLevel;
  level = arbsuite::usableSimdLevel(level);
  const Rc5Schedule schedule = rc5ExpandKey(key);  // once per call, not per block

  // The whole blocks from the start go to the kernels in groups (AVX-512: groups of 16, then
  // at most one group of 8 with AVX2, then pairs); the block functions do the last whole block
  // left, if any, and the tail.
  const std::size_t fullBytes = n / kBlockBytes * kBlockBytes;
  const std::size_t avx512Groups =
      level >= SimdLevel::kAvx512 ? fullBytes / (kRc5Avx512GroupBlocks * kBlockBytes) : 0;
  const std::size_t avx2Start = avx512Groups * kRc5Avx512GroupBlocks * kBlockBytes;
  const std::size_t avx2Groups =
      level >= SimdLevel::kAvx2 ? (fullBytes - avx2Start) / (kRc5Avx2GroupBlocks * kBlockBytes) : 0;
  const std::size_t pairStart = avx2Start + avx2Groups * kRc5Avx2GroupBlocks * kBlockBytes;
  const std::size_t pairs = (fullBytes - pairStart) / kPairBytes;
  const std::size_t scalarStart = pairStart + pairs * kPairBytes;

  // Each kernel reads a whole group before writing it. Walking backwards when output lies
  // after input (forwards otherwise) then never overwrites input that is still to be read,
  // across the parts as within them.
  const bool backwards = std::greater<const std::uint8_t*>()(output, input);
  auto runAvx512 = [&] {
    if (avx512Groups > 0) {
      rc5GroupsAvx512(schedule, input, output, avx512Groups, encrypt, backwards);
    }
  };
  auto runAvx2 = [&] {
    if (avx2Groups > 0) {
      rc5GroupsAvx2(schedule, input + avx2Start, output + avx2Start, avx2Groups, encrypt,
                    backwards);
    }
  };
  auto runPairs = [&] {
    if (encrypt) {
      walkPairs<true>(schedule.s.data(), input + pairStart, output + pairStart, pairs, backwards);
    } else {
      walkPairs<false>(schedule.s.data(), input + pairStart, output + pairStart, pairs, backwards);
    }
  };
  auto runScalar = [&] {
    const auto rest = static_cast<std::uint32_t>(n - scalarStart);
    if (encrypt) {
      processBuffer(input + scalarStart, rest, output + scalarStart, nullptr,
                    [&schedule](std::uint8_t* block) { rc5EncryptBlock(schedule, block); });
    } else {
      processBuffer(input + scalarStart, rest, output + scalarStart, nullptr,
                    [&schedule](std::uint8_t* block) { rc5DecryptBlock(schedule, block); });
    }
  };
  if (backwards) {
    runScalar();
    runPairs();
    runAvx2();
    runAvx512();
  } else {
    runAvx512();
    runAvx2();
    runPairs();
    runScalar();
  }
  if (outputLength != nullptr) {
    *outputLength = static_cast<std::uint32_t>(paddedLength(n));
  }
}

void rc5Buffer(const std::uint8_t* input, std::uint32_t n, const std::uint8_t key[kRc5KeyBytes],
               std::uint8_t* output, std::uint32_t* outputLength, bool encrypt) {
  rc5BufferAtLevel(arbsuite::detectedSimdLevel(), input, n, key, output, outputLength, encrypt);
}

}  // namespace arbsuite::wavecrypt
