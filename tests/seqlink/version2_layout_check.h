// Checks a version-2 (multi-segment) .arb file field by field against the segment
// table it was built from: header, entry table, segment list, records, text header
// (formatted here from its definition) and the decrypted samples.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "seqlink_test_support.h"

namespace seqtest {

struct SegmentTable {
  std::vector<std::string> names;
  std::vector<double> clocks;
  std::vector<int> counts;
  std::vector<double> energies;
  std::vector<short> samples;  // I, Q interleaved, all segments
  unsigned count() const { return static_cast<unsigned>(clocks.size()); }
  unsigned total() const { return static_cast<unsigned>(samples.size() / 2); }
};

template <typename... Args>
std::string format(const char* fmt, Args... args) {
  char buffer[1024];
  std::snprintf(buffer, sizeof buffer, fmt, args...);
  return buffer;
}

// The text header the file must carry.
inline std::string expectedVersion2Text(const SegmentTable& s) {
  long double energy = 0;
  for (const short v : s.samples) energy += (v / 8192.0L) * (v / 8192.0L);
  std::string text =
      format("{Value:%.6Lf}{Num:%llu}{NUMBER SEGMENTS:%u}", energy, 4ull * s.total(), s.count());
  for (unsigned i = 0; i < s.count(); ++i) {
    text += format("{SEGMENT_%u:%s,%.6f,%d,%.6f}", i, s.names[i].c_str(), s.clocks[i], s.counts[i],
                   s.energies[i]);
  }
  return text;
}

inline void checkVersion2File(const Bytes& file, const SegmentTable& s) {
  const std::uint32_t n = s.count() + 2;
  const std::string text = expectedVersion2Text(s);
  const std::uint32_t blockLength =
      4 + 16 * n + 16 + 280 * s.count() + static_cast<std::uint32_t>(text.size());
  const std::uint32_t dataLength = 4 * s.total() + (s.total() % 2 ? 4 : 0);
  ASSERT_EQ(file.size(), 208u + blockLength + dataLength);

  // Header.
  EXPECT_EQ(getU32(file, 0), zlibCrc(&file[208], blockLength));
  EXPECT_EQ(Bytes(file.begin() + 4, file.begin() + 8), (Bytes{'A', 'R', 'B', 0}));
  EXPECT_EQ(getU32(file, 8), 208u);
  EXPECT_EQ(getU32(file, 12), file.size());
  EXPECT_EQ(file[16], 1);
  EXPECT_EQ(file[17], 0);
  EXPECT_EQ(file[18], 0);
  EXPECT_EQ(file[19], 1);
  EXPECT_EQ(getU32(file, 20), 2u);
  for (std::size_t i = 108; i < 200; ++i) ASSERT_EQ(file[i], 0) << i;
  EXPECT_EQ(getU32(file, 200), s.total());
  EXPECT_EQ(getU32(file, 204), 208u + blockLength);

  // Entry table: the segment list, one record per segment, the text.
  EXPECT_EQ(getU32(file, 208), n);
  std::uint32_t offset = 212 + 16 * n;
  for (std::uint32_t e = 0; e < n; ++e) {
    const std::size_t at = 212 + 16 * e;
    const std::uint32_t type = e == 0 ? 2 : e == n - 1 ? 1 : 3;
    const std::uint32_t length = e == 0       ? 16
                                 : e == n - 1 ? static_cast<std::uint32_t>(text.size())
                                              : 280;
    EXPECT_EQ(getU32(file, at), type) << e;
    EXPECT_EQ(getU32(file, at + 4), length) << e;
    EXPECT_EQ(getU32(file, at + 8), offset) << e;
    EXPECT_EQ(getU32(file, at + 12), 0u) << e;
    offset += length;
  }
  const std::size_t list = 212 + 16 * n;
  EXPECT_EQ(getU32(file, list), s.count());
  EXPECT_EQ(getU32(file, list + 4), list + 16);
  EXPECT_EQ(getU32(file, list + 8), 0u);
  EXPECT_EQ(getU32(file, list + 12), 0u);
  std::uint32_t byteOffset = 0;
  for (unsigned i = 0; i < s.count(); ++i) {
    const std::size_t at = list + 16 + 280 * i;
    EXPECT_EQ(getU32(file, at), i);
    EXPECT_EQ(getU32(file, at + 4), byteOffset);
    EXPECT_EQ(getF64(file, at + 8), s.clocks[i]);
    EXPECT_EQ(getU32(file, at + 16), 4u * s.counts[i]);
    char name[256] = {};
    std::strncpy(name, s.names[i].c_str(), 255);
    EXPECT_EQ(std::memcmp(&file[at + 20], name, 256), 0);
    EXPECT_EQ(getU32(file, at + 276), 0u);
    byteOffset += 4 * s.counts[i];
  }
  EXPECT_EQ(
      std::string(file.begin() + list + 16 + 280 * s.count(), file.begin() + 208 + blockLength),
      text);

  // Samples: unwrap the key and decrypt.
  std::uint8_t key[16];
  std::uint32_t keyLength = 16;
  ASSERT_EQ(EncOrDecOpt(3, &file[24], 84, nullptr, key, &keyLength, 1) & 0xFFFF, 0);
  Bytes plain(dataLength + 8);
  std::uint32_t plainLength = static_cast<std::uint32_t>(plain.size());
  if (dataLength > 0) {
    ASSERT_EQ(
        EncOrDecOpt(2, &file[208 + blockLength], dataLength, key, plain.data(), &plainLength, 1) &
            0xFFFF,
        0);
  }
  const Bytes expected =
      plainSamples(std::vector<std::int16_t>(s.samples.begin(), s.samples.end()));
  plain.resize(expected.size());
  EXPECT_EQ(plain, expected);
}

}  // namespace seqtest
