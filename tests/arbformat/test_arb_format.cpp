// The .arb format module: header bytes at their offsets, bounds checks of the
// parsers, text items, the version-2 info block and the signal energy.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "arb_format.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void putU32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) b[at + k] = static_cast<std::uint8_t>(v >> (8 * k));
}
std::uint32_t getU32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

arb::ArbHeader sampleHeader() {
  arb::ArbHeader h;
  h.headerCrc = 0xA1B2C3D4;
  h.fileLength = 0x01020304;
  h.encryptedFlag = 1;
  h.entryTableFlag = 1;
  h.version = 2;
  for (std::size_t k = 0; k < h.wrappedKey.size(); ++k)
    h.wrappedKey[k] = static_cast<std::uint8_t>(k + 1);
  h.sampleCount = 0x0A0B0C0D;
  h.dataOffset = 0x11223344;
  return h;
}

TEST(ArbFormatHeader, EncodesEveryFieldLittleEndianAtItsOffsetAndZeroElsewhere) {
  const arb::HeaderBytes b = arb::encodeHeader(sampleHeader());
  Bytes expected(208, 0);
  putU32(expected, 0, 0xA1B2C3D4);
  expected[4] = 'A';
  expected[5] = 'R';
  expected[6] = 'B';
  putU32(expected, 8, 208);
  putU32(expected, 12, 0x01020304);
  expected[16] = 1;
  expected[19] = 1;
  putU32(expected, 20, 2);
  for (int k = 0; k < 84; ++k) expected[24 + k] = static_cast<std::uint8_t>(k + 1);
  putU32(expected, 200, 0x0A0B0C0D);
  putU32(expected, 204, 0x11223344);
  EXPECT_EQ(Bytes(b.begin(), b.end()), expected);
}

TEST(ArbFormatHeader, ParseReadsBackWhatEncodeWrote) {
  const arb::ArbHeader in = sampleHeader();
  const arb::HeaderBytes b = arb::encodeHeader(in);
  arb::ArbHeader out;
  ASSERT_EQ(arb::parseHeader(b, out), arb::ParseStatus::ok);
  EXPECT_EQ(out.headerCrc, in.headerCrc);
  EXPECT_EQ(out.fileLength, in.fileLength);
  EXPECT_EQ(out.encryptedFlag, in.encryptedFlag);
  EXPECT_EQ(out.entryTableFlag, in.entryTableFlag);
  EXPECT_EQ(out.version, in.version);
  EXPECT_EQ(out.wrappedKey, in.wrappedKey);
  EXPECT_EQ(out.sampleCount, in.sampleCount);
  EXPECT_EQ(out.dataOffset, in.dataOffset);
}

TEST(ArbFormatHeader, ParseRefusesShortInputBadMagicAndBadHeaderLength) {
  arb::ArbHeader h;
  arb::HeaderBytes b = arb::encodeHeader(arb::ArbHeader{});
  EXPECT_EQ(arb::parseHeader(std::span(b).first(207), h), arb::ParseStatus::tooShort);
  arb::HeaderBytes wrongMagic = b;
  wrongMagic[7] = 1;
  EXPECT_EQ(arb::parseHeader(wrongMagic, h), arb::ParseStatus::badMagic);
  arb::HeaderBytes wrongLength = b;
  wrongLength[8] = 209;
  EXPECT_EQ(arb::parseHeader(wrongLength, h), arb::ParseStatus::badHeaderLength);
}

struct LayoutCase {
  std::uint32_t dataOffset;
  std::uint32_t sampleCount;
  std::uint32_t version;
  std::uint64_t fileSize;
  arb::ParseStatus expected;
};

void PrintTo(const LayoutCase& c, std::ostream* os) {
  *os << "offset " << c.dataOffset << " pairs " << c.sampleCount << " v" << c.version << " size "
      << c.fileSize;
}

class ArbFormatLayout : public testing::TestWithParam<LayoutCase> {};

TEST_P(ArbFormatLayout, ChecksOffsetsAgainstTheFileSize) {
  const LayoutCase& c = GetParam();
  arb::ArbHeader h;
  h.dataOffset = c.dataOffset;
  h.sampleCount = c.sampleCount;
  h.version = c.version;
  EXPECT_EQ(arb::checkLayout(h, c.fileSize), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    ArbFormatBounds, ArbFormatLayout,
    testing::Values(LayoutCase{208, 0, 1, 208, arb::ParseStatus::ok},
                    LayoutCase{300, 3, 1, 316, arb::ParseStatus::ok},  // 3 pairs -> 16 bytes
                    LayoutCase{300, 3, 1, 315, arb::ParseStatus::badDataLength},
                    LayoutCase{300, 2, 2, 308, arb::ParseStatus::ok},
                    LayoutCase{207, 0, 1, 400, arb::ParseStatus::badDataOffset},
                    LayoutCase{401, 0, 1, 400, arb::ParseStatus::badDataOffset},
                    LayoutCase{208, 0xFFFFFFFF, 1, 1000,
                               arb::ParseStatus::badDataLength},  // no wrap
                    LayoutCase{0xFFFFFFFF, 0, 1, 1000, arb::ParseStatus::badDataOffset},
                    LayoutCase{208, 0, 3, 208, arb::ParseStatus::badVersion},
                    LayoutCase{208, 0, 0, 208, arb::ParseStatus::badVersion},
                    LayoutCase{208, 0, 1, 100, arb::ParseStatus::tooShort}));

TEST(ArbFormatSizes, DataIsPaddedToWholeCipherBlocks) {
  for (std::uint64_t n = 0; n < 20; ++n) {
    const std::uint64_t expected = 4 * n + (n % 2 ? 4 : 0);
    EXPECT_EQ(arb::roundUpToBlock(4 * n), expected) << n;
    const std::optional<arb::ArbHeader> header = arb::layoutHeader(1, 100, 4 * n);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->fileLength, 308 + expected) << n;
  }
}

TEST(ArbFormatTextItems, AppendAndFindRoundTrip) {
  std::string text;
  arb::appendTextItem(text, "Clock", "100HZ");
  arb::appendTextItem(text, "FilterCoefficients ", "1.000000");
  arb::appendTextItem(text, "Num", "7");
  EXPECT_EQ(text, "{Clock:100HZ}{FilterCoefficients :1.000000}{Num:7}");
  EXPECT_EQ(arb::findTextItem(text, "Clock"), "100HZ");
  EXPECT_EQ(arb::findTextItem(text, "FilterCoefficients "), "1.000000");
  EXPECT_EQ(arb::findTextItem(text, "FilterCoefficients"),
            std::nullopt);  // space is part of the key
  EXPECT_EQ(arb::findTextItem(text, "Num"), "7");
  EXPECT_EQ(arb::findTextItem(text, "Value"), std::nullopt);
  EXPECT_EQ(arb::findTextItem("{Num:7", "Num"), std::nullopt);  // no closing brace
  EXPECT_EQ(arb::findTextItem("{A:1}{A:2}", "A"), "1");         // first occurrence
}

TEST(ArbFormatSignalEnergy, SumsSquaresRelativeTo8192) {
  const std::vector<std::int16_t> values = {8192 / 2, -8192, 0, 32767, -32768};
  const double expected = 0.25 + 1.0 + 0.0 + std::pow(32767.0 / 8192, 2) + 16.0;
  EXPECT_DOUBLE_EQ(arb::signalEnergy(std::span<const std::int16_t>(values)), expected);
  Bytes raw;
  for (std::int16_t v : values) {
    raw.push_back(static_cast<std::uint8_t>(v & 0xFF));
    raw.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
  }
  raw.push_back(0x7F);  // odd trailing byte is not a value
  EXPECT_DOUBLE_EQ(arb::signalEnergy(std::span<const std::uint8_t>(raw)), expected);
}

// Builds an info block the way a version-2 writer lays it out.
Bytes buildInfoBlock(const std::vector<arb::ArbSegmentRecord>& segments, const std::string& text) {
  const std::uint32_t n = static_cast<std::uint32_t>(segments.size() + 2);
  std::vector<arb::ArbEntry> entries;
  std::uint32_t at = 212 + 16 * n;
  entries.push_back({2, 16, at});
  at += 16;
  for (std::size_t k = 0; k < segments.size(); ++k, at += 280) entries.push_back({3, 280, at});
  entries.push_back({1, static_cast<std::uint32_t>(text.size()), at});
  Bytes block(at + text.size() - 208, 0);
  putU32(block, 0, n);
  for (std::size_t k = 0; k < entries.size(); ++k) arb::encodeEntry(&block[4 + 16 * k], entries[k]);
  arb::encodeSegmentList(&block[entries[0].offset - 208],
                         static_cast<std::uint32_t>(segments.size()),
                         segments.empty() ? entries.back().offset : entries[1].offset);
  for (std::size_t k = 0; k < segments.size(); ++k)
    arb::encodeSegmentRecord(&block[entries[k + 1].offset - 208], segments[k]);
  std::memcpy(&block[entries.back().offset - 208], text.data(), text.size());
  return block;
}

TEST(ArbFormatInfoBlock, ParsesSegmentsAndTextOfAWellFormedBlock) {
  const std::vector<arb::ArbSegmentRecord> segments = {{0, 0, 1e6, 400, "a.arb"},
                                                       {1, 400, 2.5e6, 8, std::string(300, 'n')}};
  const Bytes block = buildInfoBlock(segments, "{Value:1.0}{Num:408}");
  arb::InfoBlock info;
  ASSERT_EQ(arb::parseInfoBlock(block, 208, info), arb::ParseStatus::ok);
  ASSERT_EQ(info.entries.size(), 4u);
  EXPECT_EQ(info.segmentCount, 2u);
  EXPECT_EQ(info.firstRecordOffset, 212u + 64 + 16);
  ASSERT_EQ(info.segments.size(), 2u);
  EXPECT_EQ(info.segments[1].index, 1u);
  EXPECT_EQ(info.segments[1].dataOffset, 400u);
  EXPECT_EQ(info.segments[1].clockRate, 2.5e6);
  EXPECT_EQ(info.segments[1].dataLength, 8u);
  EXPECT_EQ(info.segments[0].name, "a.arb");
  EXPECT_EQ(info.segments[1].name, std::string(255, 'n'));  // slot stays zero-terminated
  EXPECT_EQ(info.text, "{Value:1.0}{Num:408}");
  // Record bytes at their offsets, decoded independently.
  const std::uint8_t* rec = &block[info.entries[2].offset - 208];
  EXPECT_EQ(getU32(rec + 16), 8u);
  EXPECT_EQ(rec[20 + 255], 0);
}

TEST(ArbFormatInfoBlock, ZeroSegmentsHasTwoEntries) {
  const Bytes block = buildInfoBlock({}, "{Value:0.000000}");
  arb::InfoBlock info;
  ASSERT_EQ(arb::parseInfoBlock(block, 208, info), arb::ParseStatus::ok);
  EXPECT_EQ(info.entries.size(), 2u);
  EXPECT_EQ(info.segmentCount, 0u);
  EXPECT_EQ(info.firstRecordOffset, info.entries[1].offset);
  EXPECT_EQ(info.text, "{Value:0.000000}");
}

TEST(ArbFormatInfoBlock, RefusesEntriesThatPointOutsideTheBlock) {
  const Bytes good = buildInfoBlock({{0, 0, 1.0, 4, "x"}}, "{Num:4}");
  arb::InfoBlock info;
  EXPECT_EQ(arb::parseInfoBlock(std::span(good).first(3), 208, info), arb::ParseStatus::tooShort);
  EXPECT_EQ(arb::parseInfoBlock(std::span(good).first(good.size() - 1), 208, info),
            arb::ParseStatus::badInfoBlock);  // text runs past the end

  Bytes hugeCount = good;
  putU32(hugeCount, 0, 0xFFFFFFFF);
  EXPECT_EQ(arb::parseInfoBlock(hugeCount, 208, info), arb::ParseStatus::badInfoBlock);
  Bytes zeroCount = good;
  putU32(zeroCount, 0, 0);
  EXPECT_EQ(arb::parseInfoBlock(zeroCount, 208, info), arb::ParseStatus::badInfoBlock);
  Bytes offsetBefore = good;
  putU32(offsetBefore, 4 + 8, 100);  // entry 0 block before the info block
  EXPECT_EQ(arb::parseInfoBlock(offsetBefore, 208, info), arb::ParseStatus::badInfoBlock);
  Bytes lengthWraps = good;
  putU32(lengthWraps, 4 + 16 + 4, 0xFFFFFFF0);  // entry 1 length would wrap in 32 bits
  EXPECT_EQ(arb::parseInfoBlock(lengthWraps, 208, info), arb::ParseStatus::badInfoBlock);
  Bytes shortRecord = good;
  putU32(shortRecord, 4 + 16 + 4, 279);
  EXPECT_EQ(arb::parseInfoBlock(shortRecord, 208, info), arb::ParseStatus::badInfoBlock);
}

TEST(ArbFormatLittleEndian, F64AndU16RoundTrip) {
  std::uint8_t b[8];
  arb::storeF64(b, -1.5);
  EXPECT_EQ(b[7], 0xBF);  // sign and exponent in the last byte
  EXPECT_EQ(b[6], 0xF8);
  EXPECT_EQ(arb::loadF64(b), -1.5);
  arb::storeU16(b, 0xBEEF);
  EXPECT_EQ(b[0], 0xEF);
  EXPECT_EQ(arb::loadU16(b), 0xBEEF);
}

}  // namespace
