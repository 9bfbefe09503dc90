// CRC-32 (the reflected CRC of zlib) used for the .arb header checksum.
#pragma once

#include <cstddef>
#include <cstdint>

namespace arbsuite::wavecrypt {

// CRC-32 of length bytes at data; 0 for an empty input.
std::uint32_t crc32(const std::uint8_t* data, std::size_t length);

}  // namespace arbsuite::wavecrypt
