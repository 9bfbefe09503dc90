// LibTomMath integer wrapper and the digit-group and byte-string conversions.
#include "bigint.h"

#include <algorithm>
#include <new>
#include <stdexcept>
#include <utility>

namespace arbsuite::wavecrypt {

void checkMp(mp_err status) {
  if (status == MP_OKAY) return;
  if (status == MP_MEM) throw std::bad_alloc();
  throw std::runtime_error("multiple-precision arithmetic failed");
}

BigInt::BigInt() { checkMp(mp_init(&value_)); }

BigInt::BigInt(std::uint64_t value) : BigInt() { mp_set_u64(&value_, value); }

BigInt::BigInt(const BigInt& other) : BigInt() { checkMp(mp_copy(&other.value_, &value_)); }

// A moved-from integer owns no digits; LibTomMath grows or clears such a value safely.
BigInt::BigInt(BigInt&& other) noexcept : value_(other.value_) {
  other.value_.used = 0;
  other.value_.alloc = 0;
  other.value_.sign = MP_ZPOS;
  other.value_.dp = nullptr;
}

BigInt& BigInt::operator=(const BigInt& other) {
  if (this != &other) checkMp(mp_copy(&other.value_, &value_));
  return *this;
}

BigInt& BigInt::operator=(BigInt&& other) noexcept {
  std::swap(value_, other.value_);
  return *this;
}

BigInt::~BigInt() { mp_clear(&value_); }

BigInt fromWireDigits(const std::uint32_t* digits, std::size_t count) {
  BigInt result;
  BigInt digit;
  for (std::size_t i = count; i-- > 0;) {
    checkMp(mp_mul_2d(result.get(), kWireDigitBits, result.get()));
    mp_set_u32(digit.get(), digits[i]);
    checkMp(mp_add(result.get(), digit.get(), result.get()));
  }
  return result;
}

std::vector<std::uint32_t> toWireDigits(const BigInt& value) {
  const std::size_t byteCount = mp_ubin_size(value.get());
  std::vector<std::uint8_t> bigEndian(byteCount);
  std::size_t written = 0;
  if (byteCount > 0) checkMp(mp_to_ubin(value.get(), bigEndian.data(), byteCount, &written));

  constexpr std::uint64_t kMask = (std::uint64_t{1} << kWireDigitBits) - 1;
  std::vector<std::uint32_t> digits;
  std::uint64_t pending = 0;
  int pendingBits = 0;
  for (std::size_t i = written; i-- > 0;) {  // least significant byte first
    pending |= std::uint64_t{bigEndian[i]} << pendingBits;
    pendingBits += 8;
    if (pendingBits >= kWireDigitBits) {
      digits.push_back(static_cast<std::uint32_t>(pending & kMask));
      pending >>= kWireDigitBits;
      pendingBits -= kWireDigitBits;
    }
  }
  if (pendingBits > 0) digits.push_back(static_cast<std::uint32_t>(pending));
  while (!digits.empty() && digits.back() == 0) digits.pop_back();
  return digits;
}

BigInt fromBytesLE(const std::uint8_t* bytes, std::size_t length) {
  std::vector<std::uint8_t> bigEndian(bytes, bytes + length);
  std::reverse(bigEndian.begin(), bigEndian.end());
  BigInt result;
  checkMp(mp_from_ubin(result.get(), bigEndian.data(), bigEndian.size()));
  return result;
}

void toBytesLE(const BigInt& value, std::uint8_t* bytes, std::size_t length) {
  const std::size_t byteCount = mp_ubin_size(value.get());
  std::vector<std::uint8_t> bigEndian(byteCount);
  std::size_t written = 0;
  if (byteCount > 0) checkMp(mp_to_ubin(value.get(), bigEndian.data(), byteCount, &written));
  for (std::size_t i = 0; i < length; ++i) {
    bytes[i] = i < written ? bigEndian[written - 1 - i] : 0;
  }
}

}  // namespace arbsuite::wavecrypt
