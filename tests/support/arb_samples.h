// Reads an .arb file written by wavepack back with the format module and decrypts
// its samples, for the program tests.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "arb_format.h"
#include "files.h"
#include "wavecrypt.h"

namespace arbtest {

// The decrypted 16-bit samples I0, Q0, I1, Q1, ... of an .arb file; `text` gets its
// text header. Checks the header, layout and CRC on the way.
inline std::vector<std::int16_t> readArb(const std::string& path, std::string& text) {
  const auto bytes = arbtest::readBytes(path);
  arbsuite::arb::ArbHeader h;
  EXPECT_EQ(arbsuite::arb::parseHeader(bytes, h), arbsuite::arb::ParseStatus::ok);
  EXPECT_EQ(arbsuite::arb::checkLayout(h, bytes.size()), arbsuite::arb::ParseStatus::ok);
  EXPECT_EQ(h.fileLength, bytes.size());
  const auto block = arbsuite::arb::headerBlock(bytes, h);
  text.assign(block.begin(), block.end());
  EXPECT_EQ(h.headerCrc, AfxGetCrcU32(block.data(), static_cast<std::uint32_t>(block.size())));

  std::uint8_t key[16];
  std::uint32_t keyLength = sizeof key;
  EXPECT_EQ(static_cast<std::int16_t>(
                EncOrDecOpt(3, h.wrappedKey.data(), 84, nullptr, key, &keyLength, 1)),
            0);
  std::vector<std::uint8_t> plain(bytes.size() - h.dataOffset);
  std::uint32_t plainLength = static_cast<std::uint32_t>(plain.size());
  EXPECT_EQ(static_cast<std::int16_t>(EncOrDecOpt(2, bytes.data() + h.dataOffset,
                                                  static_cast<std::uint32_t>(plain.size()), key,
                                                  plain.data(), &plainLength, 1)),
            0);
  std::vector<std::int16_t> values;
  for (std::size_t k = 0; k + 1 < plain.size(); k += 2)
    values.push_back(static_cast<std::int16_t>(plain[k] | (plain[k + 1] << 8)));
  values.resize(2 * h.sampleCount);
  return values;
}

// The summary line wavepack prints after its success message, computed here from the
// samples expected in the file: envelope peak and RMS against full scale 8192.
inline std::string expectedSummary(const std::vector<std::int16_t>& samples, int clock,
                                   const std::string& format) {
  double peak = 0;
  double sum = 0;
  for (std::size_t k = 0; k + 1 < samples.size(); k += 2) {
    const double power = double(samples[k]) * samples[k] + double(samples[k + 1]) * samples[k + 1];
    peak = std::max(peak, power);
    sum += power;
  }
  const std::size_t pairs = samples.size() / 2;
  char text[200];
  std::snprintf(text, sizeof text, "Summary: %zu samples, clock %d Hz, duration %.6g s", pairs,
                clock, static_cast<double>(pairs) / clock);
  std::string line = text;
  if (peak == 0) return line + ", silent, read as " + format;
  const double rms = std::sqrt(sum / static_cast<double>(pairs));
  std::snprintf(text, sizeof text, ", peak %.2f dBFS, RMS %.2f dBFS, crest factor %.2f dB",
                20 * std::log10(std::sqrt(peak) / 8192), 20 * std::log10(rms / 8192),
                20 * std::log10(std::sqrt(peak) / rms));
  return line + text + ", read as " + format;
}

}  // namespace arbtest
