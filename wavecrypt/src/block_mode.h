// The buffer mode shared by both block ciphers: independent 8-byte blocks (ECB),
// a final partial block zero-padded to 8 bytes.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>

namespace arbsuite::wavecrypt {

inline constexpr std::uint32_t kBlockBytes = 8;

// Output bytes for an input of n bytes: n rounded up to whole blocks (64-bit so
// that no n can wrap around).
inline std::uint64_t paddedLength(std::uint32_t n) {
  return (std::uint64_t{n} + kBlockBytes - 1) / kBlockBytes * kBlockBytes;
}

// Runs processBlock(std::uint8_t block[8]) in place over every block of input and
// writes the results to output, which must hold paddedLength(n) bytes. Each block
// is copied out before it is processed, and the walk goes backwards when output
// lies after input, so output may be input itself or overlap it.
template <typename ProcessBlock>
void processBuffer(const std::uint8_t* input, std::uint32_t n, std::uint8_t* output,
                   std::uint32_t* outputLength, ProcessBlock&& processBlock) {
  const std::uint32_t fullBlocks = n / kBlockBytes;
  const std::uint32_t tail = n % kBlockBytes;
  const std::uint32_t blocks = fullBlocks + (tail != 0 ? 1 : 0);

  auto runBlock = [&](std::uint32_t index) {
    std::uint8_t block[kBlockBytes] = {};
    const std::size_t offset = std::size_t{index} * kBlockBytes;
    std::memcpy(block, input + offset, index < fullBlocks ? kBlockBytes : tail);
    processBlock(block);
    std::memcpy(output + offset, block, kBlockBytes);
  };
  if (std::greater<const std::uint8_t*>()(output, input)) {
    for (std::uint32_t index = blocks; index-- > 0;) runBlock(index);
  } else {
    for (std::uint32_t index = 0; index < blocks; ++index) runBlock(index);
  }
  if (outputLength != nullptr) *outputLength = blocks * kBlockBytes;
}

}  // namespace arbsuite::wavecrypt
