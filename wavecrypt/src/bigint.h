// Owning C++ wrapper around a LibTomMath integer, and the conversions the key wrap
// needs: 28-bit digit groups (the wire format) and little-endian byte strings.
// Digit groups are derived from the value, never from LibTomMath's own digit size.
#pragma once

#include <tommath.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace arbsuite::wavecrypt {

// Width of one digit group of the serialised form.
inline constexpr int kWireDigitBits = 28;

// Throws std::bad_alloc for MP_MEM and std::runtime_error for any other failure.
void checkMp(mp_err status);

class BigInt {
 public:
  BigInt();
  explicit BigInt(std::uint64_t value);
  BigInt(const BigInt& other);
  BigInt(BigInt&& other) noexcept;
  BigInt& operator=(const BigInt& other);
  BigInt& operator=(BigInt&& other) noexcept;
  ~BigInt();

  mp_int* get() { return &value_; }
  const mp_int* get() const { return &value_; }

  bool isZero() const { return value_.used == 0; }
  int bitCount() const { return mp_count_bits(&value_); }
  bool operator==(const BigInt& other) const { return mp_cmp(&value_, &other.value_) == MP_EQ; }
  bool operator<(const BigInt& other) const { return mp_cmp(&value_, &other.value_) == MP_LT; }

 private:
  mp_int value_;
};

// Sum of digits[i] * 2^(28 i); digits may exceed 28 bits (foreign wire data).
BigInt fromWireDigits(const std::uint32_t* digits, std::size_t count);

// The 28-bit digit groups of a non-negative value, least significant first,
// without leading zero groups (empty for zero).
std::vector<std::uint32_t> toWireDigits(const BigInt& value);

// b[0] + 256 b[1] + ... for a byte string of length bytes.
BigInt fromBytesLE(const std::uint8_t* bytes, std::size_t length);

// The low length bytes of a non-negative value, least significant first.
void toBytesLE(const BigInt& value, std::uint8_t* bytes, std::size_t length);

}  // namespace arbsuite::wavecrypt
