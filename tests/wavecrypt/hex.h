// Hex-string helpers for the known-answer tables of the crypto tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace wavecrypt_test {

inline std::vector<std::uint8_t> fromHex(const std::string& hex) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

inline std::string toHex(const std::uint8_t* bytes, std::size_t length) {
  static const char* digits = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < length; ++i) {
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 15];
  }
  return text;
}

inline std::string toHex(const std::vector<std::uint8_t>& bytes) {
  return toHex(bytes.data(), bytes.size());
}

}  // namespace wavecrypt_test
