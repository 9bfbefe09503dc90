// CRC-32 of the .arb text header and info block: the reflected CRC of zlib and
// IEEE 802.3 (polynomial 0x04C11DB7, initial value and final complement 0xFFFFFFFF).
#include "crc32.h"

#include <array>

#include "wavecrypt.h"

namespace arbsuite::wavecrypt {
namespace {

constexpr std::uint32_t kPolynomial = 0x04C11DB7u;

// The table of the reflected CRC, built from the non-reflected polynomial by
// reversing the index bits on the way in and the result bits on the way out.
constexpr std::array<std::uint32_t, 256> buildTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t reg = 0;
    for (int bit = 0; bit < 8; ++bit) reg = (reg << 1) | ((i >> bit) & 1u);
    reg <<= 24;
    for (int step = 0; step < 8; ++step) {
      const bool carry = (reg & 0x80000000u) != 0;
      reg <<= 1;
      if (carry) reg ^= kPolynomial;
    }
    std::uint32_t reflected = 0;
    for (int bit = 0; bit < 32; ++bit) reflected = (reflected << 1) | ((reg >> bit) & 1u);
    table[i] = reflected;
  }
  return table;
}

// Built at compile time: the table is a constant of the algorithm, rebuilding it
// per call would change nothing but the cost.
constexpr std::array<std::uint32_t, 256> kTable = buildTable();

}  // namespace

std::uint32_t crc32(const std::uint8_t* data, std::size_t length) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < length; ++i) {
    crc = (crc >> 8) ^ kTable[(crc ^ data[i]) & 0xFFu];
  }
  return crc ^ 0xFFFFFFFFu;
}

}  // namespace arbsuite::wavecrypt

extern "C" WAVECRYPT_API std::uint32_t AfxGetCrcU32(const void* data, std::uint32_t length) {
  if (data == nullptr) return 0;  // only an empty input may come without a buffer
  return arbsuite::wavecrypt::crc32(static_cast<const std::uint8_t*>(data), length);
}
