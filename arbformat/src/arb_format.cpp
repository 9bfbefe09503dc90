// The .arb waveform file format: encoding and bounds-checked decoding of the
// binary header, text-header items, the version-2 info block, signal energy.
#include "arb_format.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace arb {

std::uint16_t loadU16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t loadU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

double loadF64(const std::uint8_t* p) {
  std::uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = (bits << 8) | p[i];
  return std::bit_cast<double>(bits);
}

void storeU16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

void storeU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void storeF64(std::uint8_t* p, double v) {
  const auto bits = std::bit_cast<std::uint64_t>(v);
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

HeaderBytes encodeHeader(const ArbHeader& header) {
  HeaderBytes bytes{};
  storeU32(&bytes[offset::kHeaderCrc], header.headerCrc);
  std::copy(kMagic.begin(), kMagic.end(), &bytes[offset::kMagic]);
  storeU32(&bytes[offset::kHeaderLength], header.headerLength);
  storeU32(&bytes[offset::kFileLength], header.fileLength);
  bytes[offset::kEncryptedFlag] = header.encryptedFlag;
  bytes[offset::kEntryTableFlag] = header.entryTableFlag;
  storeU32(&bytes[offset::kVersion], header.version);
  std::copy(header.wrappedKey.begin(), header.wrappedKey.end(), &bytes[offset::kWrappedKey]);
  storeU32(&bytes[offset::kSampleCount], header.sampleCount);
  storeU32(&bytes[offset::kDataOffset], header.dataOffset);
  return bytes;
}

const char* parseStatusText(ParseStatus status) {
  switch (status) {
    case ParseStatus::ok:
      return "ok";
    case ParseStatus::tooShort:
      return "file too short";
    case ParseStatus::badMagic:
      return "not an ARB file (bad magic)";
    case ParseStatus::badHeaderLength:
      return "header length is not 208";
    case ParseStatus::badDataOffset:
      return "data offset outside the file";
    case ParseStatus::badDataLength:
      return "sample data runs past the end of the file";
    case ParseStatus::badVersion:
      return "unknown format version";
    case ParseStatus::badInfoBlock:
      return "inconsistent info block";
  }
  return "unknown status";
}

ParseStatus parseHeader(std::span<const std::uint8_t> bytes, ArbHeader& header) {
  if (bytes.size() < kHeaderLength) return ParseStatus::tooShort;
  const std::uint8_t* p = bytes.data();
  if (!std::equal(kMagic.begin(), kMagic.end(), p + offset::kMagic)) return ParseStatus::badMagic;
  header.headerCrc = loadU32(p + offset::kHeaderCrc);
  header.headerLength = loadU32(p + offset::kHeaderLength);
  header.fileLength = loadU32(p + offset::kFileLength);
  header.encryptedFlag = p[offset::kEncryptedFlag];
  header.entryTableFlag = p[offset::kEntryTableFlag];
  header.version = loadU32(p + offset::kVersion);
  std::copy_n(p + offset::kWrappedKey, kWrappedKeyLength, header.wrappedKey.begin());
  header.sampleCount = loadU32(p + offset::kSampleCount);
  header.dataOffset = loadU32(p + offset::kDataOffset);
  if (header.headerLength != kHeaderLength) return ParseStatus::badHeaderLength;
  return ParseStatus::ok;
}

ParseStatus checkLayout(const ArbHeader& header, std::uint64_t fileSize) {
  if (fileSize < kHeaderLength) return ParseStatus::tooShort;
  if (header.headerLength != kHeaderLength) return ParseStatus::badHeaderLength;
  if (header.version != kVersionSingle && header.version != kVersionMultiSegment)
    return ParseStatus::badVersion;
  const std::uint64_t dataOffset = header.dataOffset;
  if (dataOffset < kHeaderLength || dataOffset > fileSize) return ParseStatus::badDataOffset;
  if (paddedDataLength(header.sampleCount) > fileSize - dataOffset)
    return ParseStatus::badDataLength;
  return ParseStatus::ok;
}

std::span<const std::uint8_t> headerBlock(std::span<const std::uint8_t> file,
                                          const ArbHeader& header) {
  return file.subspan(kHeaderLength, header.dataOffset - kHeaderLength);
}

void appendTextItem(std::string& text, std::string_view key, std::string_view value) {
  text += '{';
  text += key;
  text += ':';
  text += value;
  text += '}';
}

std::optional<std::string_view> findTextItem(std::string_view text, std::string_view key) {
  std::string needle;
  needle.reserve(key.size() + 2);
  needle += '{';
  needle += key;
  needle += ':';
  const auto start = text.find(needle);
  if (start == std::string_view::npos) return std::nullopt;
  const auto valueStart = start + needle.size();
  const auto end = text.find('}', valueStart);
  if (end == std::string_view::npos) return std::nullopt;
  return text.substr(valueStart, end - valueStart);
}

ParseStatus parseInfoBlock(std::span<const std::uint8_t> block, std::uint32_t blockFileOffset,
                           InfoBlock& info) {
  info = InfoBlock{};
  if (block.size() < 4) return ParseStatus::tooShort;
  const std::uint64_t count = loadU32(block.data());
  if (count == 0 || 4 + count * kEntryLength > block.size()) return ParseStatus::badInfoBlock;

  const std::uint64_t blockBegin = blockFileOffset;
  const std::uint64_t blockEnd = blockBegin + block.size();
  info.entries.reserve(static_cast<std::size_t>(count));
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint8_t* e = block.data() + 4 + i * kEntryLength;
    ArbEntry entry{loadU32(e + offset::kEntryType), loadU32(e + offset::kEntryBlockLength),
                   loadU32(e + offset::kEntryBlockOffset)};
    const std::uint64_t from = entry.offset;
    if (from < blockBegin || from > blockEnd || entry.length > blockEnd - from)
      return ParseStatus::badInfoBlock;
    info.entries.push_back(entry);
  }

  for (const ArbEntry& entry : info.entries) {
    const std::uint8_t* b = block.data() + (entry.offset - blockBegin);
    if (entry.type == kEntryTypeSegmentList) {
      if (entry.length < kSegmentListLength) return ParseStatus::badInfoBlock;
      info.segmentCount = loadU32(b + offset::kListSegmentCount);
      info.firstRecordOffset = loadU32(b + offset::kListFirstRecordOffset);
    } else if (entry.type == kEntryTypeSegmentRecord) {
      if (entry.length < kSegmentRecordLength) return ParseStatus::badInfoBlock;
      ArbSegmentRecord record;
      record.index = loadU32(b + offset::kRecordIndex);
      record.dataOffset = loadU32(b + offset::kRecordDataOffset);
      record.clockRate = loadF64(b + offset::kRecordClockRate);
      record.dataLength = loadU32(b + offset::kRecordDataLength);
      const auto* name = reinterpret_cast<const char*>(b + offset::kRecordName);
      record.name.assign(name, strnlen(name, kSegmentNameLength));
      info.segments.push_back(std::move(record));
    }
  }
  // The text header is the block of the last entry, whatever the others hold.
  const ArbEntry& last = info.entries.back();
  info.text = std::string_view(
      reinterpret_cast<const char*>(block.data() + (last.offset - blockBegin)), last.length);
  return ParseStatus::ok;
}

void encodeEntry(std::uint8_t* p, const ArbEntry& entry) {
  storeU32(p + offset::kEntryType, entry.type);
  storeU32(p + offset::kEntryBlockLength, entry.length);
  storeU32(p + offset::kEntryBlockOffset, entry.offset);
  storeU32(p + 12, 0);
}

void encodeSegmentList(std::uint8_t* p, std::uint32_t segmentCount,
                       std::uint32_t firstRecordOffset) {
  std::memset(p, 0, kSegmentListLength);
  storeU32(p + offset::kListSegmentCount, segmentCount);
  storeU32(p + offset::kListFirstRecordOffset, firstRecordOffset);
}

void encodeSegmentRecord(std::uint8_t* p, const ArbSegmentRecord& record) {
  std::memset(p, 0, kSegmentRecordLength);
  storeU32(p + offset::kRecordIndex, record.index);
  storeU32(p + offset::kRecordDataOffset, record.dataOffset);
  storeF64(p + offset::kRecordClockRate, record.clockRate);
  storeU32(p + offset::kRecordDataLength, record.dataLength);
  const std::size_t n = std::min(record.name.size(), kSegmentNameLength - 1);
  std::memcpy(p + offset::kRecordName, record.name.data(), n);
}

double signalEnergy(std::span<const std::int16_t> values) {
  double sum = 0.0;
  for (const std::int16_t v : values) {
    const double x = v / kFullScale;
    sum += x * x;
  }
  return sum;
}

double signalEnergy(std::span<const std::uint8_t> sampleBytes) {
  double sum = 0.0;
  for (std::size_t i = 0; i + 1 < sampleBytes.size(); i += 2) {
    const double x = static_cast<std::int16_t>(loadU16(&sampleBytes[i])) / kFullScale;
    sum += x * x;
  }
  return sum;
}

}  // namespace arb
