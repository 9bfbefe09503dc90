// Shared helpers of the seqlink tests: an independent writer of .arb files (zlib
// CRC, keys wrapped and samples encrypted by the crypto library), so the readers
// are checked against files built here.
#pragma once

#include <zlib.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "files.h"
#include "little_endian.h"
#include "scratch_dir.h"
#include "wavecrypt.h"

namespace seqtest {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using DataKey = std::array<std::uint8_t, 16>;

using arbtest::getF64;
using arbtest::getU32;
using arbtest::putU32;
using arbtest::ScratchDir;

inline std::uint32_t zlibCrc(const std::uint8_t* data, std::size_t length) {
  return static_cast<std::uint32_t>(crc32(0L, data, static_cast<uInt>(length)));
}

inline DataKey testKey() {
  DataKey key{};
  for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(0xA5 ^ (i * 17));
  return key;
}

inline std::array<std::uint8_t, 84> wrapKey(const DataKey& key) {
  std::array<std::uint8_t, 84> wrapped{};
  std::uint32_t length = 84;
  if ((EncOrDecOpt(3, key.data(), 16, nullptr, wrapped.data(), &length, 0) & 0xFFFF) != 0) {
    std::abort();
  }
  return wrapped;
}

// Little-endian bytes of the values, padded with zeros to a multiple of 8.
inline Bytes plainSamples(const std::vector<std::int16_t>& values) {
  Bytes plain;
  for (const std::int16_t v : values) {
    plain.push_back(static_cast<std::uint8_t>(v & 0xFF));
    plain.push_back(static_cast<std::uint8_t>((static_cast<std::uint16_t>(v) >> 8) & 0xFF));
  }
  plain.resize((plain.size() + 7) / 8 * 8, 0);
  return plain;
}

inline Bytes encryptSamples(const std::vector<std::int16_t>& values, const DataKey& key) {
  const Bytes plain = plainSamples(values);
  Bytes cipher(plain.size() + 8);
  std::uint32_t length = static_cast<std::uint32_t>(cipher.size());
  if (!plain.empty() && (EncOrDecOpt(2, plain.data(), static_cast<std::uint32_t>(plain.size()),
                                     key.data(), cipher.data(), &length, 0) &
                         0xFFFF) != 0) {
    std::abort();
  }
  cipher.resize(plain.size());
  return cipher;
}

// A version-1 file: header, text header, encrypted samples (values I, Q interleaved).
inline Bytes makeVersion1File(const std::string& text, const std::vector<std::int16_t>& values,
                              const DataKey& key = testKey()) {
  Bytes file(208, 0);
  const std::uint32_t pairs = static_cast<std::uint32_t>(values.size() / 2);
  const Bytes cipher = encryptSamples(values, key);
  putU32(file, 0, zlibCrc(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  file[4] = 'A';
  file[5] = 'R';
  file[6] = 'B';
  putU32(file, 8, 208);
  putU32(file, 12, static_cast<std::uint32_t>(208 + text.size() + cipher.size()));
  putU32(file, 20, 1);
  const auto wrapped = wrapKey(key);
  std::copy(wrapped.begin(), wrapped.end(), file.begin() + 24);
  putU32(file, 200, pairs);
  putU32(file, 204, static_cast<std::uint32_t>(208 + text.size()));
  file.insert(file.end(), text.begin(), text.end());
  file.insert(file.end(), cipher.begin(), cipher.end());
  return file;
}

// The signal energy of 16-bit values: the sum of (v / 8192)^2.
inline double energyOf(const std::vector<std::int16_t>& values) {
  double sum = 0;
  for (const std::int16_t v : values) sum += (v / 8192.0) * (v / 8192.0);
  return sum;
}

// A simple test waveform of the given number of pairs and amplitude.
inline std::vector<std::int16_t> rampValues(std::size_t pairs, int amplitude, int seed = 1) {
  std::vector<std::int16_t> values(2 * pairs);
  for (std::size_t i = 0; i < values.size(); ++i) {
    const double phase = 0.37 * static_cast<double>(i) + seed;
    values[i] = static_cast<std::int16_t>(std::lround(amplitude * std::sin(phase)));
  }
  return values;
}

}  // namespace seqtest
