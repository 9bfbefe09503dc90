// The .arb format module: header bytes at their offsets, bounds checks of the
// decoders (from memory and from a byte source, whole and cut short), text items,
// the writers' helpers, the version-2 info block, the playable clocks and the signal
// energy. Reference bytes are built here with the tests' own little-endian helpers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "arb_format.h"
#include "arb_source.h"
#include "failing_source.h"
#include "little_endian.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using arbsuite::arb::ParseStatus;
using arbtest::FailingSource;
using arbtest::getU32;
using arbtest::putU32;

arbsuite::arb::ArbHeader sampleHeader() {
  arbsuite::arb::ArbHeader h;
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

TEST(ArbformatHeader, EncodesEveryFieldLittleEndianAtItsOffsetAndZeroElsewhere) {
  const arbsuite::arb::HeaderBytes b = arbsuite::arb::encodeHeader(sampleHeader());
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

TEST(ArbformatHeader, ParseReadsBackWhatEncodeWrote) {
  const arbsuite::arb::ArbHeader in = sampleHeader();
  const arbsuite::arb::HeaderBytes b = arbsuite::arb::encodeHeader(in);
  arbsuite::arb::ArbHeader out;
  ASSERT_EQ(arbsuite::arb::parseHeader(b, out), arbsuite::arb::ParseStatus::ok);
  EXPECT_EQ(out.headerCrc, in.headerCrc);
  EXPECT_EQ(out.fileLength, in.fileLength);
  EXPECT_EQ(out.encryptedFlag, in.encryptedFlag);
  EXPECT_EQ(out.entryTableFlag, in.entryTableFlag);
  EXPECT_EQ(out.version, in.version);
  EXPECT_EQ(out.wrappedKey, in.wrappedKey);
  EXPECT_EQ(out.sampleCount, in.sampleCount);
  EXPECT_EQ(out.dataOffset, in.dataOffset);
}

TEST(ArbformatHeader, ParseRefusesShortInputBadMagicAndBadHeaderLength) {
  arbsuite::arb::ArbHeader h;
  arbsuite::arb::HeaderBytes b = arbsuite::arb::encodeHeader(arbsuite::arb::ArbHeader{});
  EXPECT_EQ(arbsuite::arb::parseHeader(std::span(b).first(207), h),
            arbsuite::arb::ParseStatus::tooShort);
  arbsuite::arb::HeaderBytes wrongMagic = b;
  wrongMagic[7] = 1;
  EXPECT_EQ(arbsuite::arb::parseHeader(wrongMagic, h), arbsuite::arb::ParseStatus::badMagic);
  arbsuite::arb::HeaderBytes wrongLength = b;
  wrongLength[8] = 209;
  EXPECT_EQ(arbsuite::arb::parseHeader(wrongLength, h),
            arbsuite::arb::ParseStatus::badHeaderLength);
}

struct LayoutCase {
  std::uint32_t dataOffset;
  std::uint32_t sampleCount;
  std::uint32_t version;
  std::uint64_t fileSize;
  arbsuite::arb::ParseStatus expected;
};

void PrintTo(const LayoutCase& c, std::ostream* os) {
  *os << "offset " << c.dataOffset << " pairs " << c.sampleCount << " v" << c.version << " size "
      << c.fileSize;
}

class ArbformatLayout : public testing::TestWithParam<LayoutCase> {};

TEST_P(ArbformatLayout, ChecksOffsetsAgainstTheFileSize) {
  const LayoutCase& c = GetParam();
  arbsuite::arb::ArbHeader h;
  h.dataOffset = c.dataOffset;
  h.sampleCount = c.sampleCount;
  h.version = c.version;
  EXPECT_EQ(arbsuite::arb::checkLayout(h, c.fileSize), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    ArbFormatBounds, ArbformatLayout,
    testing::Values(
        LayoutCase{208, 0, 1, 208, arbsuite::arb::ParseStatus::ok},
        LayoutCase{300, 3, 1, 316, arbsuite::arb::ParseStatus::ok},  // 3 pairs -> 16 bytes
        LayoutCase{300, 3, 1, 315, arbsuite::arb::ParseStatus::badDataLength},
        LayoutCase{300, 2, 2, 308, arbsuite::arb::ParseStatus::ok},
        LayoutCase{207, 0, 1, 400, arbsuite::arb::ParseStatus::badDataOffset},
        LayoutCase{401, 0, 1, 400, arbsuite::arb::ParseStatus::badDataOffset},
        LayoutCase{208, 0xFFFFFFFF, 1, 1000, arbsuite::arb::ParseStatus::badDataLength},  // no wrap
        LayoutCase{0xFFFFFFFF, 0, 1, 1000, arbsuite::arb::ParseStatus::badDataOffset},
        LayoutCase{208, 0, 3, 208, arbsuite::arb::ParseStatus::badVersion},
        LayoutCase{208, 0, 0, 208, arbsuite::arb::ParseStatus::badVersion},
        LayoutCase{208, 0, 1, 100, arbsuite::arb::ParseStatus::tooShort}));

TEST(ArbformatSizes, DataIsPaddedToWholeCipherBlocks) {
  for (std::uint64_t n = 0; n < 20; ++n) {
    const std::uint64_t expected = 4 * n + (n % 2 ? 4 : 0);
    EXPECT_EQ(arbsuite::arb::roundUpToBlock(4 * n), expected) << n;
    const std::optional<arbsuite::arb::ArbHeader> header =
        arbsuite::arb::layoutHeader(1, 100, 4 * n);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->fileLength, 308 + expected) << n;
  }
}

TEST(ArbformatTextItems, AppendAndFindRoundTrip) {
  std::string text;
  arbsuite::arb::appendTextItem(text, "Clock", "100HZ");
  arbsuite::arb::appendTextItem(text, "FilterCoefficients ", "1.000000");
  arbsuite::arb::appendTextItem(text, "Num", "7");
  EXPECT_EQ(text, "{Clock:100HZ}{FilterCoefficients :1.000000}{Num:7}");
  EXPECT_EQ(arbsuite::arb::findTextItem(text, "Clock"), "100HZ");
  EXPECT_EQ(arbsuite::arb::findTextItem(text, "FilterCoefficients "), "1.000000");
  EXPECT_EQ(arbsuite::arb::findTextItem(text, "FilterCoefficients"),
            std::nullopt);  // space is part of the key
  EXPECT_EQ(arbsuite::arb::findTextItem(text, "Num"), "7");
  EXPECT_EQ(arbsuite::arb::findTextItem(text, "Value"), std::nullopt);
  EXPECT_EQ(arbsuite::arb::findTextItem("{Num:7", "Num"), std::nullopt);  // no closing brace
  EXPECT_EQ(arbsuite::arb::findTextItem("{A:1}{A:2}", "A"), "1");         // first occurrence
}

TEST(ArbformatSignalEnergy, SumsSquaresRelativeTo8192) {
  const std::vector<std::int16_t> values = {8192 / 2, -8192, 0, 32767, -32768};
  const double expected = 0.25 + 1.0 + 0.0 + std::pow(32767.0 / 8192, 2) + 16.0;
  EXPECT_DOUBLE_EQ(arbsuite::arb::signalEnergy(std::span<const std::int16_t>(values)), expected);
  Bytes raw;
  for (std::int16_t v : values) {
    raw.push_back(static_cast<std::uint8_t>(v & 0xFF));
    raw.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
  }
  raw.push_back(0x7F);  // odd trailing byte is not a value
  EXPECT_DOUBLE_EQ(arbsuite::arb::signalEnergy(std::span<const std::uint8_t>(raw)), expected);
}

// Builds an info block the way a version-2 writer lays it out.
Bytes buildInfoBlock(const std::vector<arbsuite::arb::ArbSegmentRecord>& segments,
                     const std::string& text) {
  const std::uint32_t n = static_cast<std::uint32_t>(segments.size() + 2);
  std::vector<arbsuite::arb::ArbEntry> entries;
  std::uint32_t at = 212 + 16 * n;
  entries.push_back({2, 16, at});
  at += 16;
  for (std::size_t k = 0; k < segments.size(); ++k, at += 280) entries.push_back({3, 280, at});
  entries.push_back({1, static_cast<std::uint32_t>(text.size()), at});
  Bytes block(at + text.size() - 208, 0);
  putU32(block, 0, n);
  for (std::size_t k = 0; k < entries.size(); ++k)
    arbsuite::arb::encodeEntry(&block[4 + 16 * k], entries[k]);
  arbsuite::arb::encodeSegmentList(&block[entries[0].offset - 208],
                                   static_cast<std::uint32_t>(segments.size()),
                                   segments.empty() ? entries.back().offset : entries[1].offset);
  for (std::size_t k = 0; k < segments.size(); ++k)
    arbsuite::arb::encodeSegmentRecord(&block[entries[k + 1].offset - 208], segments[k]);
  std::memcpy(&block[entries.back().offset - 208], text.data(), text.size());
  return block;
}

TEST(ArbformatInfoBlock, ParsesSegmentsAndTextOfAWellFormedBlock) {
  const std::vector<arbsuite::arb::ArbSegmentRecord> segments = {
      {0, 0, 1e6, 400, "a.arb"}, {1, 400, 2.5e6, 8, std::string(300, 'n')}};
  const Bytes block = buildInfoBlock(segments, "{Value:1.0}{Num:408}");
  arbsuite::arb::InfoBlock info;
  ASSERT_EQ(arbsuite::arb::parseInfoBlock(block, 208, info), arbsuite::arb::ParseStatus::ok);
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

TEST(ArbformatInfoBlock, ZeroSegmentsHasTwoEntries) {
  const Bytes block = buildInfoBlock({}, "{Value:0.000000}");
  arbsuite::arb::InfoBlock info;
  ASSERT_EQ(arbsuite::arb::parseInfoBlock(block, 208, info), arbsuite::arb::ParseStatus::ok);
  EXPECT_EQ(info.entries.size(), 2u);
  EXPECT_EQ(info.segmentCount, 0u);
  EXPECT_EQ(info.firstRecordOffset, info.entries[1].offset);
  EXPECT_EQ(info.text, "{Value:0.000000}");
}

TEST(ArbformatInfoBlock, RefusesEntriesThatPointOutsideTheBlock) {
  const Bytes good = buildInfoBlock({{0, 0, 1.0, 4, "x"}}, "{Num:4}");
  arbsuite::arb::InfoBlock info;
  EXPECT_EQ(arbsuite::arb::parseInfoBlock(std::span(good).first(3), 208, info),
            arbsuite::arb::ParseStatus::tooShort);
  EXPECT_EQ(arbsuite::arb::parseInfoBlock(std::span(good).first(good.size() - 1), 208, info),
            arbsuite::arb::ParseStatus::badInfoBlock);  // text runs past the end

  Bytes hugeCount = good;
  putU32(hugeCount, 0, 0xFFFFFFFF);
  EXPECT_EQ(arbsuite::arb::parseInfoBlock(hugeCount, 208, info),
            arbsuite::arb::ParseStatus::badInfoBlock);
  Bytes zeroCount = good;
  putU32(zeroCount, 0, 0);
  EXPECT_EQ(arbsuite::arb::parseInfoBlock(zeroCount, 208, info),
            arbsuite::arb::ParseStatus::badInfoBlock);
  Bytes offsetBefore = good;
  putU32(offsetBefore, 4 + 8, 100);  // entry 0 block before the info block
  EXPECT_EQ(arbsuite::arb::parseInfoBlock(offsetBefore, 208, info),
            arbsuite::arb::ParseStatus::badInfoBlock);
  Bytes lengthWraps = good;
  putU32(lengthWraps, 4 + 16 + 4, 0xFFFFFFF0);  // entry 1 length would wrap in 32 bits
  EXPECT_EQ(arbsuite::arb::parseInfoBlock(lengthWraps, 208, info),
            arbsuite::arb::ParseStatus::badInfoBlock);
  Bytes shortRecord = good;
  putU32(shortRecord, 4 + 16 + 4, 279);
  EXPECT_EQ(arbsuite::arb::parseInfoBlock(shortRecord, 208, info),
            arbsuite::arb::ParseStatus::badInfoBlock);
}

TEST(ArbformatLittleEndian, F64AndU16RoundTrip) {
  std::uint8_t b[8];
  arbsuite::arb::storeF64(b, -1.5);
  EXPECT_EQ(b[7], 0xBF);  // sign and exponent in the last byte
  EXPECT_EQ(b[6], 0xF8);
  EXPECT_EQ(arbsuite::arb::loadF64(b), -1.5);
  arbsuite::arb::storeU16(b, 0xBEEF);
  EXPECT_EQ(b[0], 0xEF);
  EXPECT_EQ(arbsuite::arb::loadU16(b), 0xBEEF);
}

// ---------------------------------------------------------------------------
// Decoding from a byte source, field by field
// ---------------------------------------------------------------------------

// A 208-byte header whose every u32 field holds a different value.
Bytes distinctHeader() {
  Bytes b(208, 0);
  for (std::size_t k = 0; k < b.size(); ++k) b[k] = static_cast<std::uint8_t>(0x40 + k);
  b[4] = 'A';
  b[5] = 'R';
  b[6] = 'B';
  b[7] = 0;
  return b;
}

struct HeaderFieldCase {
  const char* name;
  std::size_t offset;
  std::size_t size;
  std::optional<std::uint32_t> (*get)(const arbsuite::arb::HeaderRecord&);
};

void PrintTo(const HeaderFieldCase& c, std::ostream* os) { *os << c.name; }

class ArbformatHeaderField : public testing::TestWithParam<HeaderFieldCase> {};

TEST_P(ArbformatHeaderField, ReadsItsOffsetAndIsMissingWhenTheInputEndsBeforeItsLastByte) {
  const HeaderFieldCase& c = GetParam();
  const Bytes full = distinctHeader();
  const std::uint32_t expected = c.size == 4 ? getU32(full.data() + c.offset) : full[c.offset];
  for (std::size_t cut : {std::size_t{0}, c.offset, c.offset + c.size - 1, c.offset + c.size,
                          std::size_t{208}, std::size_t{300}}) {
    Bytes input = full;
    input.resize(cut, 0x99);
    const arbsuite::arb::HeaderRecord record(input);
    EXPECT_EQ(record.present(), std::min<std::size_t>(cut, 208)) << cut;
    EXPECT_EQ(record.complete(), cut >= 208) << cut;
    if (cut < c.offset + c.size) {
      EXPECT_EQ(c.get(record), std::nullopt) << cut;
    } else {
      EXPECT_EQ(c.get(record), expected) << cut;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Fields, ArbformatHeaderField,
    testing::Values(
        HeaderFieldCase{"headerCrc", 0, 4,
                        [](const arbsuite::arb::HeaderRecord& r) { return r.headerCrc(); }},
        HeaderFieldCase{"headerLength", 8, 4,
                        [](const arbsuite::arb::HeaderRecord& r) { return r.headerLength(); }},
        HeaderFieldCase{"fileLength", 12, 4,
                        [](const arbsuite::arb::HeaderRecord& r) { return r.fileLength(); }},
        HeaderFieldCase{"encryptedFlag", 16, 1,
                        [](const arbsuite::arb::HeaderRecord& r) {
                          return std::optional<std::uint32_t>(r.encryptedFlag());
                        }},
        HeaderFieldCase{"entryTableFlag", 19, 1,
                        [](const arbsuite::arb::HeaderRecord& r) {
                          return std::optional<std::uint32_t>(r.entryTableFlag());
                        }},
        HeaderFieldCase{"version", 20, 4,
                        [](const arbsuite::arb::HeaderRecord& r) { return r.version(); }},
        HeaderFieldCase{"sampleCount", 200, 4,
                        [](const arbsuite::arb::HeaderRecord& r) { return r.sampleCount(); }},
        HeaderFieldCase{"dataOffset", 204, 4,
                        [](const arbsuite::arb::HeaderRecord& r) { return r.dataOffset(); }}),
    [](const testing::TestParamInfo<HeaderFieldCase>& info) { return info.param.name; });

TEST(ArbformatHeaderRecord, MagicNeedsAllFourBytes) {
  const Bytes full = distinctHeader();
  EXPECT_TRUE(arbsuite::arb::HeaderRecord(full).hasMagic());
  EXPECT_FALSE(arbsuite::arb::HeaderRecord(std::span(full).first(7)).hasMagic());
  EXPECT_TRUE(arbsuite::arb::HeaderRecord(std::span(full).first(8)).hasMagic());
  for (std::size_t k = 4; k < 8; ++k) {
    Bytes wrong = full;
    wrong[k] ^= 0x20;
    EXPECT_FALSE(arbsuite::arb::HeaderRecord(wrong).hasMagic()) << k;
  }
}

TEST(ArbformatHeaderRecord, DecodesEveryFieldOnlyWhenComplete) {
  const Bytes full = distinctHeader();
  EXPECT_EQ(arbsuite::arb::HeaderRecord(std::span(full).first(207)).decode(), std::nullopt);
  const std::optional<arbsuite::arb::ArbHeader> h = arbsuite::arb::HeaderRecord(full).decode();
  ASSERT_TRUE(h);
  EXPECT_EQ(h->headerCrc, getU32(full.data() + 0));
  EXPECT_EQ(h->headerLength, getU32(full.data() + 8));
  EXPECT_EQ(h->fileLength, getU32(full.data() + 12));
  EXPECT_EQ(h->encryptedFlag, full[16]);
  EXPECT_EQ(h->entryTableFlag, full[19]);
  EXPECT_EQ(h->version, getU32(full.data() + 20));
  EXPECT_TRUE(std::equal(h->wrappedKey.begin(), h->wrappedKey.end(), full.begin() + 24));
  EXPECT_EQ(h->wrappedKey.size(), 84u);
  EXPECT_EQ(h->sampleCount, getU32(full.data() + 200));
  EXPECT_EQ(h->dataOffset, getU32(full.data() + 204));
}

TEST(ArbformatHeaderRecord, ReadFromASourceTakesWhatTheSourceHolds) {
  Bytes file = distinctHeader();
  file.resize(500, 7);
  for (const std::size_t size : {0u, 3u, 204u, 207u, 208u, 500u}) {
    const Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size));
    arbsuite::arb::MemorySource source(cut);
    arbsuite::arb::HeaderRecord header;
    ASSERT_EQ(arbsuite::arb::readHeader(source, header), ParseStatus::ok) << size;
    EXPECT_EQ(header.present(), std::min<std::size_t>(size, 208)) << size;
    EXPECT_TRUE(std::equal(header.bytes().begin(), header.bytes().begin() + header.present(),
                           file.begin()));
  }
  FailingSource failing(file, 100);
  arbsuite::arb::HeaderRecord header;
  EXPECT_EQ(arbsuite::arb::readHeader(failing, header), ParseStatus::readError);
}

TEST(ArbformatHeaderRecord, BodyKindReadsTheVersionAsSigned) {
  EXPECT_EQ(arbsuite::arb::bodyKind(1), arbsuite::arb::BodyKind::textHeader);
  for (const std::uint32_t v : {2u, 3u, 0x7FFFFFFFu}) {
    EXPECT_EQ(arbsuite::arb::bodyKind(v), arbsuite::arb::BodyKind::infoBlock) << v;
  }
  for (const std::uint32_t v : {0u, 0x80000000u, 0xFFFFFFFFu}) {
    EXPECT_EQ(arbsuite::arb::bodyKind(v), arbsuite::arb::BodyKind::unknown) << v;
  }
}

TEST(ArbformatHeaderRecord, OnlyVersion2AndAboveMayStoreDataInTheClear) {
  EXPECT_TRUE(arbsuite::arb::dataEncrypted(1, 0));
  EXPECT_TRUE(arbsuite::arb::dataEncrypted(0, 0));
  EXPECT_TRUE(arbsuite::arb::dataEncrypted(2, 1));
  EXPECT_FALSE(arbsuite::arb::dataEncrypted(2, 0));
  EXPECT_FALSE(arbsuite::arb::dataEncrypted(0xFFFFFFFF, 0));  // unsigned: above 2
}

struct BlockRangeCase {
  std::uint32_t dataOffset;
  std::uint64_t maxLength;
  ParseStatus expected;
  std::uint64_t length;
};

class ArbformatHeaderBlockRange : public testing::TestWithParam<BlockRangeCase> {};

TEST_P(ArbformatHeaderBlockRange, RunsFrom208ToTheDataOffset) {
  const BlockRangeCase& c = GetParam();
  arbsuite::arb::ByteRange range{1, 1};
  EXPECT_EQ(arbsuite::arb::headerBlockRange(c.dataOffset, range, c.maxLength), c.expected);
  if (c.expected != ParseStatus::badDataOffset) {
    EXPECT_EQ(range.offset, 208u);
    EXPECT_EQ(range.length, c.length);
  }
}

constexpr std::uint64_t kNoLimit = std::numeric_limits<std::uint64_t>::max();

INSTANTIATE_TEST_SUITE_P(
    Cases, ArbformatHeaderBlockRange,
    testing::Values(BlockRangeCase{0, kNoLimit, ParseStatus::badDataOffset, 0},
                    BlockRangeCase{207, kNoLimit, ParseStatus::badDataOffset, 0},
                    BlockRangeCase{208, kNoLimit, ParseStatus::ok, 0},
                    BlockRangeCase{300, kNoLimit, ParseStatus::ok, 92},
                    BlockRangeCase{0xFFFFFFFF, kNoLimit, ParseStatus::ok, 0xFFFFFFFFull - 208},
                    BlockRangeCase{208 + 10240, 10240, ParseStatus::ok, 10240},
                    BlockRangeCase{208 + 10241, 10240, ParseStatus::blockTooLong, 10241}));

TEST(ArbformatHeaderCrc, MatchesOnlyTheSameValue) {
  EXPECT_EQ(arbsuite::arb::matchHeaderCrc(0xDEADBEEF, 0xDEADBEEF), ParseStatus::ok);
  EXPECT_EQ(arbsuite::arb::matchHeaderCrc(0xDEADBEEF, 0xDEADBEEE), ParseStatus::badHeaderCrc);
}

// A file of the header, an entry table of the given entries at 212 and filler.
Bytes fileWithEntries(const std::vector<arbsuite::arb::ArbEntry>& entries, std::size_t size) {
  Bytes file(std::max<std::size_t>(size, 212 + 16 * entries.size()), 0xEE);
  putU32(file, 208, static_cast<std::uint32_t>(entries.size()));
  for (std::size_t k = 0; k < entries.size(); ++k) {
    putU32(file, 212 + 16 * k, entries[k].type);
    putU32(file, 216 + 16 * k, entries[k].length);
    putU32(file, 220 + 16 * k, entries[k].offset);
    putU32(file, 224 + 16 * k, 0);
  }
  return file;
}

TEST(ArbformatEntryRecord, ReadsEachFieldOfEntryIWhereverTheFileEnds) {
  const std::vector<arbsuite::arb::ArbEntry> entries = {{2, 16, 260}, {3, 280, 276}, {1, 9, 556}};
  const Bytes full = fileWithEntries(entries, 600);
  for (std::uint32_t i = 0; i < entries.size(); ++i) {
    const std::size_t at = 212 + 16 * i;
    for (const std::size_t size : {at, at + 3, at + 4, at + 7, at + 8, at + 11, at + 12, at + 16}) {
      SCOPED_TRACE(testing::Message() << "entry " << i << " size " << size);
      const Bytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(size));
      arbsuite::arb::MemorySource source(cut);
      arbsuite::arb::EntryRecord entry;
      ASSERT_EQ(arbsuite::arb::readEntry(source, i, entry), ParseStatus::ok);
      EXPECT_EQ(entry.type(), size >= at + 4 ? std::optional(entries[i].type) : std::nullopt);
      EXPECT_EQ(entry.blockLength(),
                size >= at + 8 ? std::optional(entries[i].length) : std::nullopt);
      EXPECT_EQ(entry.blockOffset(),
                size >= at + 12 ? std::optional(entries[i].offset) : std::nullopt);
      const std::optional<arbsuite::arb::ByteRange> block = entry.block();
      ASSERT_EQ(block.has_value(), size >= at + 12);
      if (block) {
        EXPECT_EQ(block->offset, entries[i].offset);
        EXPECT_EQ(block->length, entries[i].length);
      }
    }
  }
  // An entry index far past the end reads nothing and does not wrap.
  arbsuite::arb::MemorySource source(full);
  arbsuite::arb::EntryRecord far;
  EXPECT_EQ(arbsuite::arb::readEntry(source, 0xFFFFFFFFu, far), ParseStatus::ok);
  EXPECT_EQ(far.present(), 0u);
  FailingSource failing(full, 230);
  EXPECT_EQ(arbsuite::arb::readEntry(failing, 1, far), ParseStatus::readError);
}

TEST(ArbformatEntryRecord, EntryCountNeedsItsFourBytes) {
  const Bytes full = fileWithEntries({{1, 3, 228}}, 240);
  std::uint32_t count = 0;
  for (const std::size_t size : {0u, 208u, 211u}) {
    const Bytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(size));
    arbsuite::arb::MemorySource source(cut);
    EXPECT_EQ(arbsuite::arb::readEntryCount(source, count), ParseStatus::tooShort) << size;
  }
  const Bytes cut(full.begin(), full.begin() + 212);
  arbsuite::arb::MemorySource source(cut);
  ASSERT_EQ(arbsuite::arb::readEntryCount(source, count), ParseStatus::ok);
  EXPECT_EQ(count, 1u);
  FailingSource failing(full, 210);
  EXPECT_EQ(arbsuite::arb::readEntryCount(failing, count), ParseStatus::readError);
}

struct LocateCase {
  const char* name;
  std::uint32_t version;
  std::uint32_t dataOffset;
  std::vector<arbsuite::arb::ArbEntry> entries;  // written from 208 when not empty
  std::optional<std::uint32_t> entryCount;       // overrides the count at 208
  std::size_t fileSize;
  ParseStatus expected;
  arbsuite::arb::ByteRange range;
};

void PrintTo(const LocateCase& c, std::ostream* os) { *os << c.name; }

class ArbformatLocateText : public testing::TestWithParam<LocateCase> {};

TEST_P(ArbformatLocateText, FindsTheBlockOfTheTextHeader) {
  const LocateCase& c = GetParam();
  Bytes file = c.entries.empty() ? Bytes(c.fileSize, 0x20) : fileWithEntries(c.entries, 0);
  if (c.entryCount) putU32(file, 208, *c.entryCount);
  file.resize(std::max<std::size_t>(file.size(), 208), 0x20);
  putU32(file, 20, c.version);
  putU32(file, 204, c.dataOffset);
  file.resize(c.fileSize, 0x20);
  arbsuite::arb::MemorySource source(file);
  arbsuite::arb::HeaderRecord header;
  ASSERT_EQ(arbsuite::arb::readHeader(source, header), ParseStatus::ok);
  arbsuite::arb::ByteRange range{};
  ASSERT_EQ(arbsuite::arb::locateTextHeader(source, header, range), c.expected);
  if (c.expected == ParseStatus::ok) {
    EXPECT_EQ(range.offset, c.range.offset);
    EXPECT_EQ(range.length, c.range.length);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ArbformatLocateText,
    testing::Values(
        LocateCase{"version1", 1, 300, {}, {}, 400, ParseStatus::ok, {208, 92}},
        LocateCase{"version1EmptyText", 1, 208, {}, {}, 208, ParseStatus::ok, {208, 0}},
        // The text may reach past the end: readText decides.
        LocateCase{"version1PastTheEnd", 1, 5000, {}, {}, 400, ParseStatus::ok, {208, 4792}},
        LocateCase{
            "version1OffsetBeforeTheBlock", 1, 207, {}, {}, 400, ParseStatus::badDataOffset, {}},
        LocateCase{"version1WithoutDataOffset", 1, 300, {}, {}, 206, ParseStatus::tooShort, {}},
        LocateCase{"version0", 0, 300, {}, {}, 400, ParseStatus::badVersion, {}},
        LocateCase{"negativeVersion", 0x80000000, 300, {}, {}, 400, ParseStatus::badVersion, {}},
        LocateCase{"version2LastEntry",
                   2,
                   0,
                   {{2, 16, 260}, {1, 9, 276}},
                   {},
                   300,
                   ParseStatus::ok,
                   {276, 9}},
        LocateCase{"version7LastEntry", 7, 0, {{1, 5, 228}}, {}, 300, ParseStatus::ok, {228, 5}},
        LocateCase{
            "version2NoEntries", 2, 0, {{1, 5, 228}}, 0u, 300, ParseStatus::badInfoBlock, {}},
        LocateCase{"version2CountPastTheEnd", 2, 0, {}, {}, 210, ParseStatus::tooShort, {}},
        LocateCase{
            "version2HugeCount", 2, 0, {{1, 5, 228}}, 0xFFFFFFFFu, 300, ParseStatus::tooShort, {}},
        LocateCase{"version2LastEntryCutBeforeItsOffset",
                   2,
                   0,
                   {{2, 16, 260}, {1, 9, 276}},
                   {},
                   228 + 11,
                   ParseStatus::tooShort,
                   {}},
        LocateCase{"version2LastEntryCutAfterItsOffset",
                   2,
                   0,
                   {{2, 16, 260}, {1, 9, 276}},
                   {},
                   228 + 12,
                   ParseStatus::ok,
                   {276, 9}}),
    [](const testing::TestParamInfo<LocateCase>& info) { return info.param.name; });

TEST(ArbformatLocateText, VersionMissingFromAShortFileIsTooShort) {
  const Bytes file(23, 0);
  arbsuite::arb::MemorySource source(file);
  arbsuite::arb::HeaderRecord header;
  ASSERT_EQ(arbsuite::arb::readHeader(source, header), ParseStatus::ok);
  arbsuite::arb::ByteRange range;
  EXPECT_EQ(arbsuite::arb::locateTextHeader(source, header, range), ParseStatus::tooShort);
}

// ---------------------------------------------------------------------------
// Bytes and text from a source
// ---------------------------------------------------------------------------

struct TextCase {
  const char* name;
  arbsuite::arb::ByteRange range;
  ParseStatus whole;      // readText
  std::string wholeText;  // when whole is ok
  ParseStatus upTo;       // readTextUpTo
  std::string upToText;   // when upTo is ok
};

void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }

class ArbformatText : public testing::TestWithParam<TextCase> {};

// 20 bytes: "{A:1}{B:2}" then a zero byte, then "{C:3}" and four more bytes.
const Bytes& textSource() {
  static const Bytes bytes = [] {
    const std::string s("{A:1}{B:2}\0{C:3}wxyz", 20);
    return Bytes(s.begin(), s.end());
  }();
  return bytes;
}

TEST_P(ArbformatText, IsCutAtTheFirstZeroByteAndBoundedByTheSource) {
  const TextCase& c = GetParam();
  arbsuite::arb::MemorySource source(textSource());
  std::string text = "old";
  ASSERT_EQ(arbsuite::arb::readText(source, c.range, text), c.whole);
  if (c.whole == ParseStatus::ok) {
    EXPECT_EQ(text, c.wholeText);
  }
  text = "old";
  ASSERT_EQ(arbsuite::arb::readTextUpTo(source, c.range, text), c.upTo);
  if (c.upTo == ParseStatus::ok) {
    EXPECT_EQ(text, c.upToText);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ArbformatText,
    testing::Values(
        TextCase{"whole", {0, 10}, ParseStatus::ok, "{A:1}{B:2}", ParseStatus::ok, "{A:1}{B:2}"},
        TextCase{
            "cutAtZero", {0, 20}, ParseStatus::ok, "{A:1}{B:2}", ParseStatus::ok, "{A:1}{B:2}"},
        TextCase{"afterTheZero", {11, 5}, ParseStatus::ok, "{C:3}", ParseStatus::ok, "{C:3}"},
        TextCase{"empty", {20, 0}, ParseStatus::ok, "", ParseStatus::ok, ""},
        TextCase{"pastTheEnd", {16, 5}, ParseStatus::tooShort, "", ParseStatus::ok, "wxyz"},
        TextCase{"offsetPastTheEnd", {21, 0}, ParseStatus::tooShort, "", ParseStatus::tooShort, ""},
        TextCase{"lengthThatWouldWrap",
                 {11, std::numeric_limits<std::uint64_t>::max() - 5},
                 ParseStatus::tooShort,
                 "",
                 ParseStatus::ok,
                 "{C:3}wxyz"}),
    [](const testing::TestParamInfo<TextCase>& info) { return info.param.name; });

TEST(ArbformatBytes, ReadsExactlyTheRangeOrRefuses) {
  const Bytes& bytes = textSource();
  arbsuite::arb::MemorySource source(bytes);
  std::uint8_t out[8] = {};
  ASSERT_EQ(arbsuite::arb::readBytes(source, {5, 5}, out), ParseStatus::ok);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 5), "{B:2}");
  EXPECT_EQ(arbsuite::arb::readBytes(source, {16, 5}, out), ParseStatus::tooShort);
  EXPECT_EQ(arbsuite::arb::readBytes(source, {25, 0}, out), ParseStatus::tooShort);
  FailingSource failing(bytes, 8);
  EXPECT_EQ(arbsuite::arb::readBytes(failing, {5, 5}, out), ParseStatus::readError);
  std::string text;
  EXPECT_EQ(arbsuite::arb::readText(failing, {5, 5}, text), ParseStatus::readError);
  EXPECT_EQ(arbsuite::arb::readTextUpTo(failing, {5, 50}, text), ParseStatus::readError);
}

// ---------------------------------------------------------------------------
// The item scanner
// ---------------------------------------------------------------------------

struct ScanCase {
  std::string text;
  std::string keyText;
  std::optional<std::string> expected;
};

void PrintTo(const ScanCase& c, std::ostream* os) { *os << c.keyText << " in " << c.text; }

class ArbformatScanner : public testing::TestWithParam<ScanCase> {};

TEST_P(ArbformatScanner, TakesTheTextAfterTheFirstKeyUpToTheNextBrace) {
  const ScanCase& c = GetParam();
  const std::optional<std::string_view> got = arbsuite::arb::textAfterKey(c.text, c.keyText);
  ASSERT_EQ(got.has_value(), c.expected.has_value());
  if (got) {
    EXPECT_EQ(*got, *c.expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ArbformatScanner,
    testing::Values(ScanCase{"{Clock:5HZ}", "{Clock:", "5HZ"},
                    ScanCase{"{Clock:5HZ}", "{Clock", ":5HZ"},  // the key text is taken as is
                    ScanCase{"{Clocks:7}", "{Clock", "s:7"},    // a prefix matches
                    ScanCase{"{A:1}{A:2}", "A:", "1"},          // first occurrence
                    ScanCase{"x{A:}", "A:", ""},                // empty value
                    ScanCase{"{A:1", "A:", std::nullopt},       // no closing brace
                    ScanCase{"{A:1}}", "A:1}", ""},             // brace right after the key
                    ScanCase{"{B:1}", "A:", std::nullopt},      // no key
                    ScanCase{"", "", std::nullopt},             // no brace at all
                    ScanCase{"ab}cd", "", "ab"}));              // empty key: from the start

// ---------------------------------------------------------------------------
// Writers' helpers
// ---------------------------------------------------------------------------

struct LayoutHeaderCase {
  std::uint32_t version;
  std::uint64_t blockLength;
  std::uint64_t dataLength;
  std::uint8_t flags;
  std::uint64_t fileLength;
  std::uint32_t sampleCount;
};

class ArbformatLayoutHeader : public testing::TestWithParam<LayoutHeaderCase> {};

TEST_P(ArbformatLayoutHeader, FillsTheLayoutFieldsOfItsVersion) {
  const LayoutHeaderCase& c = GetParam();
  const std::optional<arbsuite::arb::ArbHeader> h =
      arbsuite::arb::layoutHeader(c.version, c.blockLength, c.dataLength);
  ASSERT_TRUE(h);
  EXPECT_EQ(h->version, c.version);
  EXPECT_EQ(h->headerLength, 208u);
  EXPECT_EQ(h->encryptedFlag, c.flags);
  EXPECT_EQ(h->entryTableFlag, c.flags);
  EXPECT_EQ(h->dataOffset, 208 + c.blockLength);
  EXPECT_EQ(h->fileLength, c.fileLength);
  EXPECT_EQ(h->sampleCount, c.sampleCount);
  EXPECT_EQ(h->headerCrc, 0u);  // the writer's part
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ArbformatLayoutHeader,
    testing::Values(LayoutHeaderCase{1, 300, 0, 0, 508, 0},
                    LayoutHeaderCase{1, 300, 12, 0, 524, 3},  // 3 pairs padded to 16 bytes
                    LayoutHeaderCase{1, 300, 13, 0, 524, 3},  // a raw input size, not pairs
                    LayoutHeaderCase{1, 300, 256, 0, 764, 64},
                    LayoutHeaderCase{2, 584, 12, 1, 808, 3},  // one segment of 3 pairs
                    LayoutHeaderCase{2, 100, 4000000000ull, 1, 4000000308ull, 1000000000u}));

TEST(ArbformatLayoutHeader, RefusesFilesLongerThanTheLengthField) {
  EXPECT_TRUE(arbsuite::arb::layoutHeader(2, 0xFFFFFFFFull - 208 - 8, 8));
  EXPECT_FALSE(arbsuite::arb::layoutHeader(2, 0xFFFFFFFFull - 208 - 7, 8));
  EXPECT_FALSE(arbsuite::arb::layoutHeader(1, 0, 0x100000000ull));
}

TEST(ArbformatTextItems, Version1TextFollowsItsTemplate) {
  arbsuite::arb::Version1Items items;
  items.clock = 2500;
  items.energy = 1.5;
  items.pairs = 301;
  items.dataSource = "PRBS9";
  items.values = 602;
  items.symbolRate = 2500;
  items.modulationType = "32QAM";
  items.filterType = "Raised cosine";
  items.filterCoefficient = 1.0;
  items.impulseLength = 1;
  items.overSampling = 1;
  EXPECT_EQ(arbsuite::arb::formatVersion1Text(items),
            "{Clock:2500HZ}{ModulationMode:Digital}{Value:1.500000}{Num:301}{DataSource:PRBS9}"
            "{Length:602}{SymbolRate:2500Hz}{ModulationType:32QAM}{FilterType:Raised cosine}"
            "{FilterCoefficients :1.000000}{ImpulseLength:1}{OverSample:1}");
}

TEST(ArbformatTextItems, Version2SummaryAndSegmentItems) {
  EXPECT_EQ(arbsuite::arb::formatVersion2Summary(2.25L, 12, 1),
            "{Value:2.250000}{Num:12}{NUMBER SEGMENTS:1}");
  EXPECT_EQ(arbsuite::arb::formatVersion2Summary(0.0L, 0xFFFFFFFCull, 0),
            "{Value:0.000000}{Num:4294967292}{NUMBER SEGMENTS:0}");
  EXPECT_EQ(arbsuite::arb::formatVersion2Segment(0, "a.arb", 1e8, 3, 0.125),
            "{SEGMENT_0:a.arb,100000000.000000,3,0.125000}");
}

// The info block of one segment of 3 pairs, byte by byte.
TEST(ArbformatInfoBlock, EncodesEntriesListRecordsAndTextBackToBack) {
  const std::vector<arbsuite::arb::ArbSegmentRecord> segments = {{0, 0, 1e6, 12, "one.arb"}};
  const std::string text = "{Value:1.000000}{Num:12}{NUMBER SEGMENTS:1}";
  const Bytes block = arbsuite::arb::encodeInfoBlock(segments, text);
  ASSERT_EQ(block.size(), 4 + 3 * 16 + 16 + 280 + text.size());
  EXPECT_EQ(block.size(), arbsuite::arb::infoBlockLength(1, text.size()));
  EXPECT_EQ(getU32(block, 0), 3u);
  const std::uint32_t expected[3][4] = {
      {2, 16, 260, 0}, {3, 280, 276, 0}, {1, static_cast<std::uint32_t>(text.size()), 556, 0}};
  for (std::size_t e = 0; e < 3; ++e) {
    for (std::size_t w = 0; w < 4; ++w) {
      EXPECT_EQ(getU32(block, 4 + 16 * e + 4 * w), expected[e][w]) << e << " " << w;
    }
  }
  // Segment list at file offset 260: count, first record offset, 8 zero bytes.
  EXPECT_EQ(getU32(block, 260 - 208), 1u);
  EXPECT_EQ(getU32(block, 264 - 208), 276u);
  EXPECT_EQ(getU32(block, 268 - 208), 0u);
  EXPECT_EQ(getU32(block, 272 - 208), 0u);
  // The record at 276.
  EXPECT_EQ(getU32(block, 276 - 208), 0u);
  EXPECT_EQ(getU32(block, 280 - 208), 0u);
  EXPECT_EQ(arbtest::getF64(block, 284 - 208), 1e6);
  EXPECT_EQ(getU32(block, 292 - 208), 12u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&block[296 - 208])), "one.arb");
  EXPECT_EQ(getU32(block, 552 - 208), 0u);
  EXPECT_EQ(std::string(block.begin() + (556 - 208), block.end()), text);
  // And the strict decoder reads it back.
  arbsuite::arb::InfoBlock info;
  ASSERT_EQ(arbsuite::arb::parseInfoBlock(block, 208, info), ParseStatus::ok);
  EXPECT_EQ(info.text, text);
  ASSERT_EQ(info.segments.size(), 1u);
  EXPECT_EQ(info.segments[0].name, "one.arb");
}

TEST(ArbformatInfoBlock, ZeroSegmentsPointTheListAtTheText) {
  const Bytes block = arbsuite::arb::encodeInfoBlock({}, "{Value:0.000000}");
  ASSERT_EQ(block.size(), 4u + 2 * 16 + 16 + 16);
  EXPECT_EQ(getU32(block, 0), 2u);
  EXPECT_EQ(getU32(block, 4 + 16 + 8), 260u);  // text entry's offset: 212 + 32 + 16
  EXPECT_EQ(getU32(block, 244 - 208), 0u);     // segment count
  EXPECT_EQ(getU32(block, 248 - 208), 260u);   // "first record": the text
}

TEST(ArbformatInfoBlock, LengthGrowsByOneEntryAndOneRecordPerSegment) {
  for (std::uint64_t n = 0; n < 70; ++n) {
    EXPECT_EQ(arbsuite::arb::infoBlockLength(n, 10), 4 + 16 * (n + 2) + 16 + 280 * n + 10) << n;
  }
  // 69 segments leave room in the writer's 20,480-byte block, 70 do not.
  EXPECT_LT(arbsuite::arb::infoBlockLength(69, 0), arbsuite::arb::kInfoBlockCapacity);
  EXPECT_GT(arbsuite::arb::infoBlockLength(70, 0), arbsuite::arb::kInfoBlockCapacity);
}

TEST(ArbformatSizes, RoundsDownToWholeCipherBlocks) {
  for (std::uint64_t n = 0; n < 40; ++n)
    EXPECT_EQ(arbsuite::arb::roundDownToBlock(n), n / 8 * 8) << n;
  EXPECT_EQ(arbsuite::arb::roundDownToBlock(0xFFFFFFFF), 0xFFFFFFF8u);
}

TEST(ArbformatStatus, EveryStatusHasItsOwnText) {
  std::vector<std::string> texts;
  for (int s = static_cast<int>(ParseStatus::ok); s <= static_cast<int>(ParseStatus::badHeaderCrc);
       ++s) {
    const std::string text = arbsuite::arb::parseStatusText(static_cast<ParseStatus>(s));
    EXPECT_NE(text, "unknown status") << s;
    EXPECT_EQ(std::count(texts.begin(), texts.end(), text), 0) << text;
    texts.push_back(text);
  }
}

TEST(ArbformatPartialRecord, FieldsAtTheEndOfTheRecord) {
  const Bytes bytes = {1, 2, 3, 4, 5, 6, 7, 8};
  const arbsuite::arb::PartialRecord<8> whole(bytes);
  EXPECT_EQ(whole.u32(4), 0x08070605u);
  EXPECT_EQ(whole.u32(5), std::nullopt);
  EXPECT_EQ(whole.u32(std::numeric_limits<std::size_t>::max()), std::nullopt);
  EXPECT_EQ(whole.u8(7), 8);
  EXPECT_EQ(whole.u8(8), std::nullopt);
  const arbsuite::arb::PartialRecord<8> cut(std::span<const std::uint8_t>(bytes).first(6));
  EXPECT_EQ(cut.u32(2), 0x06050403u);
  EXPECT_EQ(cut.u32(3), std::nullopt);
  EXPECT_EQ(cut.bytes()[6], 0);  // bytes past the input read as zero
}

// ---------------------------------------------------------------------------
// The clocks every program writes
// ---------------------------------------------------------------------------

struct ClockCase {
  double hertz;
  bool playable;
};

void PrintTo(const ClockCase& c, std::ostream* out) { *out << c.hertz << " Hz"; }

class ArbformatPlayableClock : public testing::TestWithParam<ClockCase> {};

TEST_P(ArbformatPlayableClock, OneKilohertzToFiftyMegahertzOrExactlyOneHundred) {
  EXPECT_EQ(arbsuite::arb::isPlayableClock(GetParam().hertz), GetParam().playable)
      << GetParam().hertz;
}

INSTANTIATE_TEST_SUITE_P(
    Clocks, ArbformatPlayableClock,
    testing::Values(ClockCase{999.999, false}, ClockCase{1000, true}, ClockCase{2.5e6, true},
                    ClockCase{50e6, true}, ClockCase{50e6 + 1, false}, ClockCase{99999999, false},
                    ClockCase{100e6, true}, ClockCase{100e6 + 1, false}, ClockCase{240e6, false},
                    ClockCase{2, false}, ClockCase{0, false}, ClockCase{-1000, false},
                    ClockCase{std::nan(""), false},
                    ClockCase{std::numeric_limits<double>::infinity(), false}));

}  // namespace
