// Shared helpers of the seqlink tests: scratch folders, byte fields, and an
// independent writer of .arb files (zlib CRC, keys wrapped and samples encrypted by
// the crypto library), so the readers are checked against files built here.
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

#include "wavecrypt.h"

namespace seqtest {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using DataKey = std::array<std::uint8_t, 16>;

// A fresh folder under the temporary folder, removed with its content.
class ScratchDir {
 public:
  ScratchDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/seqlink-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const fs::path& path() const { return path_; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

inline void writeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

inline void writeText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

inline Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void putU32(Bytes& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.at(at + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

inline std::uint32_t getU32(const Bytes& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | bytes.at(at + i);
  return value;
}

inline double getF64(const Bytes& bytes, std::size_t at) {
  std::uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = (bits << 8) | bytes.at(at + i);
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

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
