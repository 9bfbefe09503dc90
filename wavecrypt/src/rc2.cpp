// RC2 (RFC 2268): key expansion over a given table, block encryption and decryption,
// and the buffer mode of the library's variant.
#include "rc2.h"

#include <stdexcept>

#include "block_mode.h"

namespace arbsuite::wavecrypt {
namespace {

constexpr int kShift[4] = {1, 2, 3, 5};

std::uint16_t rotl16(std::uint16_t value, int count) {
  return static_cast<std::uint16_t>((value << count) | (value >> (16 - count)));
}

std::uint16_t rotr16(std::uint16_t value, int count) {
  return static_cast<std::uint16_t>((value >> count) | (value << (16 - count)));
}

struct Words {
  std::uint16_t r[4];
};

Words load(const std::uint8_t* block) {
  Words words;
  for (int i = 0; i < 4; ++i) {
    words.r[i] = static_cast<std::uint16_t>(block[2 * i] | block[2 * i + 1] << 8);
  }
  return words;
}

void store(const Words& words, std::uint8_t* block) {
  for (int i = 0; i < 4; ++i) {
    block[2 * i] = static_cast<std::uint8_t>(words.r[i]);
    block[2 * i + 1] = static_cast<std::uint8_t>(words.r[i] >> 8);
  }
}

// R[i] += K[j] + (R[i-1] & R[i-2]) + (~R[i-1] & R[i-3]); R[i] <<<= s[i]; for i = 0..3.
void mixRound(const Rc2Schedule& schedule, Words& w, int& j) {
  std::uint16_t* r = w.r;
  for (int i = 0; i < 4; ++i) {
    const std::uint16_t r1 = r[(i + 3) & 3];
    const std::uint16_t r2 = r[(i + 2) & 3];
    const std::uint16_t r3 = r[(i + 1) & 3];
    const auto sum = r[i] + schedule.k[j++] + (r1 & r2) + (~r1 & r3);
    r[i] = rotl16(static_cast<std::uint16_t>(sum), kShift[i]);
  }
}

void mashRound(const Rc2Schedule& schedule, Words& w) {
  std::uint16_t* r = w.r;
  for (int i = 0; i < 4; ++i) {
    r[i] = static_cast<std::uint16_t>(r[i] + schedule.k[r[(i + 3) & 3] & 63]);
  }
}

void reverseMixRound(const Rc2Schedule& schedule, Words& w, int& j) {
  std::uint16_t* r = w.r;
  for (int i = 3; i >= 0; --i) {
    const std::uint16_t r1 = r[(i + 3) & 3];
    const std::uint16_t r2 = r[(i + 2) & 3];
    const std::uint16_t r3 = r[(i + 1) & 3];
    const std::uint16_t rotated = rotr16(r[i], kShift[i]);
    r[i] = static_cast<std::uint16_t>(rotated - schedule.k[j--] - (r1 & r2) - (~r1 & r3));
  }
}

void reverseMashRound(const Rc2Schedule& schedule, Words& w) {
  std::uint16_t* r = w.r;
  for (int i = 3; i >= 0; --i) {
    r[i] = static_cast<std::uint16_t>(r[i] - schedule.k[r[(i + 3) & 3] & 63]);
  }
}

}  // namespace

Rc2Schedule rc2ExpandKey(const std::uint8_t* key, std::size_t keyLength, unsigned effectiveBits,
                         const std::uint8_t table[256]) {
  if (keyLength < 1 || keyLength > 128 || effectiveBits < 1 || effectiveBits > 1024) {
    throw std::invalid_argument("RC2 key length or effective bits out of range");
  }
  std::uint8_t l[128];
  for (std::size_t i = 0; i < keyLength; ++i) l[i] = key[i];
  for (std::size_t i = keyLength; i < 128; ++i) {
    l[i] = table[static_cast<std::uint8_t>(l[i - 1] + l[i - keyLength])];
  }
  // Effective-length reduction. With 1024 bits it still replaces L[0] by its table
  // entry (T8 = 128, TM = 0xFF); the backwards loop is then empty.
  const std::size_t t8 = (effectiveBits + 7) / 8;
  const unsigned tm = 0xFFu >> (8 * t8 - effectiveBits);
  l[128 - t8] = table[l[128 - t8] & tm];
  for (std::size_t i = 128 - t8; i-- > 0;) {
    l[i] = table[l[i + 1] ^ l[i + t8]];
  }

  Rc2Schedule schedule;
  for (int i = 0; i < 64; ++i) {
    schedule.k[i] = static_cast<std::uint16_t>(l[2 * i] | l[2 * i + 1] << 8);
  }
  return schedule;
}

void rc2EncryptBlock(const Rc2Schedule& schedule, std::uint8_t block[8]) {
  Words w = load(block);
  int j = 0;
  for (int round = 0; round < 5; ++round) mixRound(schedule, w, j);
  mashRound(schedule, w);
  for (int round = 0; round < 6; ++round) mixRound(schedule, w, j);
  mashRound(schedule, w);
  for (int round = 0; round < 5; ++round) mixRound(schedule, w, j);
  store(w, block);
}

void rc2DecryptBlock(const Rc2Schedule& schedule, std::uint8_t block[8]) {
  Words w = load(block);
  int j = 63;
  for (int round = 0; round < 5; ++round) reverseMixRound(schedule, w, j);
  reverseMashRound(schedule, w);
  for (int round = 0; round < 6; ++round) reverseMixRound(schedule, w, j);
  reverseMashRound(schedule, w);
  for (int round = 0; round < 5; ++round) reverseMixRound(schedule, w, j);
  store(w, block);
}

void rc2VariantBuffer(const std::uint8_t* input, std::uint32_t n,
                      const std::uint8_t key[kRc2VariantKeyBytes], const std::uint8_t table[256],
                      std::uint8_t* output, std::uint32_t* outputLength, bool encrypt) {
  const Rc2Schedule schedule =
      rc2ExpandKey(key, kRc2VariantKeyBytes, kRc2VariantEffectiveBits, table);
  if (encrypt) {
    processBuffer(input, n, output, outputLength,
                  [&schedule](std::uint8_t* block) { rc2EncryptBlock(schedule, block); });
  } else {
    processBuffer(input, n, output, outputLength,
                  [&schedule](std::uint8_t* block) { rc2DecryptBlock(schedule, block); });
  }
}

}  // namespace arbsuite::wavecrypt
