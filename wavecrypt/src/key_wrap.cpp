// Elliptic-curve key wrap and unwrap, their wire form and the ephemeral-scalar choice.
#include "key_wrap.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "private_rand.h"
#include "seed_counter.h"

namespace arbsuite::wavecrypt {
namespace {

constexpr std::size_t kDigitGroupBytes = 4;

// The message integer of bytes followed by the terminator byte.
BigInt messageInteger(const std::uint8_t* bytes, std::size_t length) {
  std::uint8_t extended[kDataKeyBytes + 1];
  std::memcpy(extended, bytes, length);
  extended[length] = kMessageTerminator;
  return fromBytesLE(extended, length + 1);
}

// One message part from a decrypted coordinate: its little-endian bytes (7 for
// every two 28-bit digits, 3 for a last odd digit), cut at the last 0xFF. A
// foreign ciphertext may put the terminator anywhere or nowhere; the part is then
// clipped to its size or left zero, never longer.
void extractPart(const BigInt& coordinate, std::uint8_t* part, std::size_t partLength) {
  const std::size_t digits = toWireDigits(coordinate).size();
  const std::size_t length = 7 * (digits / 2) + 3 * (digits % 2);
  std::vector<std::uint8_t> bytes(length);
  toBytesLE(coordinate, bytes.data(), length);
  std::size_t taken = 0;
  for (std::size_t i = length; i-- > 0;) {
    if (bytes[i] == kMessageTerminator) {
      taken = std::min(i, partLength);
      break;
    }
  }
  std::memset(part, 0, partLength);
  if (taken > 0) std::memcpy(part, bytes.data(), taken);
}

}  // namespace

BigInt toBigInt(const tables::StoredInteger& stored) {
  const std::size_t used = std::min<std::size_t>(stored.used, tables::kStoredDigitSlots);
  return fromWireDigits(stored.digits, used);
}

const WrapParameters& builtInWrapParameters() {
  static const WrapParameters parameters{{toBigInt(tables::kCurveP), toBigInt(tables::kCurveA)},
                                         {toBigInt(tables::kBaseX), toBigInt(tables::kBaseY)},
                                         {toBigInt(tables::kPublicX), toBigInt(tables::kPublicY)},
                                         toBigInt(tables::kPrivateKey)};
  return parameters;
}

std::uint32_t chooseEphemeralIndex(std::uint32_t nowSeconds) {
  const std::uint32_t seed = nowSeconds + seedCounter() + kWrapSeedOffset;
  advanceSeedCounter(1, true);
  seedRandom(seed);
  return static_cast<std::uint32_t>(nextRandom()) % tables::kScalarEntries;
}

std::size_t serialiseInteger(const BigInt& value, std::uint8_t* out, std::size_t capacity) {
  const std::vector<std::uint32_t> digits = toWireDigits(value);
  const std::size_t length = digits.size() * kDigitGroupBytes + 1;
  if (length > capacity) throw std::length_error("serialised integer does not fit");
  std::size_t position = 0;
  for (const std::uint32_t digit : digits) {
    out[position++] = static_cast<std::uint8_t>(digit >> 24);
    out[position++] = static_cast<std::uint8_t>(digit >> 16);
    out[position++] = static_cast<std::uint8_t>(digit >> 8);
    out[position++] = static_cast<std::uint8_t>(digit);
  }
  out[position++] = 0xFF;
  return position;
}

BigInt parseInteger(const std::uint8_t* buffer, std::size_t length, std::size_t& position) {
  std::vector<std::uint32_t> digits;
  while (position < length) {
    if (buffer[position] == 0xFF) {
      ++position;
      break;
    }
    std::uint32_t digit = 0;
    for (std::size_t i = 0; i < kDigitGroupBytes; ++i) {
      const std::uint8_t byte = position + i < length ? buffer[position + i] : 0;
      digit = (digit << 8) | byte;
    }
    digits.push_back(digit);
    position = std::min(position + kDigitGroupBytes, length);
  }
  return fromWireDigits(digits.data(), digits.size());
}

std::size_t encryptDataKey(const WrapParameters& parameters, const BigInt& k,
                           const std::uint8_t key[kDataKeyBytes],
                           std::uint8_t ciphertext[kWrappedBytes]) {
  // The message is a pair of field elements, not a curve point.
  const Point message{messageInteger(key, kFirstPartBytes),
                      messageInteger(key + kFirstPartBytes, kSecondPartBytes)};
  const Point c1 = multiplyPoint(parameters.curve, k, parameters.base);
  const Point shared = multiplyPoint(parameters.curve, k, parameters.publicKey);
  Point c2 = message;
  addPoints(parameters.curve, message, shared, c2);

  std::memset(ciphertext, 0, kWrappedBytes);
  std::size_t used = 0;
  const BigInt* const coordinates[] = {&c2.x, &c2.y, &c1.x, &c1.y};
  for (const BigInt* coordinate : coordinates) {
    used += serialiseInteger(*coordinate, ciphertext + used, kWrappedBytes - used);
  }
  return used;
}

std::uint32_t decryptDataKey(const WrapParameters& parameters,
                             const std::uint8_t ciphertext[kWrappedBytes],
                             std::uint8_t key[kDataKeyBytes]) {
  std::size_t position = 0;
  Point c2;
  c2.x = parseInteger(ciphertext, kWrappedBytes, position);
  c2.y = parseInteger(ciphertext, kWrappedBytes, position);
  Point c1;
  c1.x = parseInteger(ciphertext, kWrappedBytes, position);
  c1.y = parseInteger(ciphertext, kWrappedBytes, position);
  if (c2.x.isZero()) return 0;

  // M = C2 - K C1.
  Point shared = multiplyPoint(parameters.curve, parameters.privateKey, c1);
  BigInt zero;
  checkMp(mp_submod(zero.get(), shared.y.get(), parameters.curve.p.get(), shared.y.get()));
  Point message = c2;
  addPoints(parameters.curve, c2, shared, message);

  std::uint8_t result[kDataKeyBytes];
  extractPart(message.x, result, kFirstPartBytes);
  extractPart(message.y, result + kFirstPartBytes, kSecondPartBytes);
  std::memcpy(key, result, kDataKeyBytes);
  return kDataKeyBytes;
}

void wrapDataKey(const std::uint8_t key[kDataKeyBytes], std::uint8_t wrapped[kWrappedBytes],
                 std::uint32_t nowSeconds) {
  const BigInt k = toBigInt(tables::kEphemeralScalars[chooseEphemeralIndex(nowSeconds)]);
  std::uint8_t ciphertext[kWrappedBytes];
  encryptDataKey(builtInWrapParameters(), k, key, ciphertext);
  std::uint8_t scrambled[kWrappedBytes];
  scramble(builtInScramble(), ciphertext, scrambled);
  std::memcpy(wrapped, scrambled, kWrappedBytes);
}

std::uint32_t unwrapDataKey(const std::uint8_t wrapped[kWrappedBytes],
                            std::uint8_t key[kDataKeyBytes]) {
  std::uint8_t ciphertext[kWrappedBytes];
  unscramble(builtInScramble(), wrapped, ciphertext);
  return decryptDataKey(builtInWrapParameters(), ciphertext, key);
}

}  // namespace arbsuite::wavecrypt
