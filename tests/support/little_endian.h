// Little-endian fields of byte buffers, written here independently of the format
// module under test, so that tests check its layout against a second reading.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace arbtest {

inline void putU16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t value) {
  bytes.at(at) = static_cast<std::uint8_t>(value);
  bytes.at(at + 1) = static_cast<std::uint8_t>(value >> 8);
}

inline void putU32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.at(at + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

inline std::uint16_t getU16(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes.at(at) | (bytes.at(at + 1) << 8));
}

inline std::uint32_t getU32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline std::uint32_t getU32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  (void)bytes.at(at + 3);
  return getU32(bytes.data() + at);
}

inline double getF64(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  std::uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = (bits << 8) | bytes.at(at + i);
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// Doubles as little-endian IEEE-754 bytes.
inline std::vector<std::uint8_t> doubleBytes(const std::vector<double>& values) {
  std::vector<std::uint8_t> out;
  for (double v : values) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof v);
    for (int k = 0; k < 8; ++k) out.push_back(static_cast<std::uint8_t>(bits >> (8 * k)));
  }
  return out;
}

}  // namespace arbtest
