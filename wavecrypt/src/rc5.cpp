// RC5-32/12/16 (Rivest): key schedule, block encryption and decryption, buffer mode.
#include "rc5.h"

#include <bit>

#include "block_mode.h"

namespace wavecrypt {
namespace {

constexpr std::uint32_t kP32 = 0xB7E15163u;
constexpr std::uint32_t kQ32 = 0x9E3779B9u;
constexpr int kKeyWords = kRc5KeyBytes / 4;
constexpr int kScheduleWords = 2 * kRc5Rounds + 2;

std::uint32_t loadWord(const std::uint8_t* bytes) {
  return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
         std::uint32_t{bytes[3]} << 24;
}

void storeWord(std::uint32_t word, std::uint8_t* bytes) {
  bytes[0] = static_cast<std::uint8_t>(word);
  bytes[1] = static_cast<std::uint8_t>(word >> 8);
  bytes[2] = static_cast<std::uint8_t>(word >> 16);
  bytes[3] = static_cast<std::uint8_t>(word >> 24);
}

// Rotation counts are the low 5 bits of a word.
int rotation(std::uint32_t word) { return static_cast<int>(word & 31u); }

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

void rc5Buffer(const std::uint8_t* input, std::uint32_t n, const std::uint8_t key[kRc5KeyBytes],
               std::uint8_t* output, std::uint32_t* outputLength, bool encrypt) {
  const Rc5Schedule schedule = rc5ExpandKey(key);  // once per call, not per block
  if (encrypt) {
    processBuffer(input, n, output, outputLength,
                  [&schedule](std::uint8_t* block) { rc5EncryptBlock(schedule, block); });
  } else {
    processBuffer(input, n, output, outputLength,
                  [&schedule](std::uint8_t* block) { rc5DecryptBlock(schedule, block); });
  }
}

}  // namespace wavecrypt
