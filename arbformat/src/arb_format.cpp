// The .arb waveform file format: encoding and bounds-checked decoding of the
// binary header, text-header items, the version-2 info block, signal energy.
#include "arb_format.h"

#include <bit>
#include <cstdio>
#include <cstring>
#include <limits>

namespace arbsuite::arb {
namespace {

// printf template of a version-1 text header (the key "FilterCoefficients "
// really carries a space before its colon).
constexpr const char* kVersion1TextTemplate =
    "{Clock:%dHZ}{ModulationMode:Digital}{Value:%f}{Num:%d}{DataSource:%s}"
    "{Length:%d}{SymbolRate:%dHz}{ModulationType:%s}{FilterType:%s}"
    "{FilterCoefficients :%f}{ImpulseLength:%d}{OverSample:%d}";
// printf templates of a version-2 text header: one summary, then one item per segment.
constexpr const char* kVersion2SummaryTemplate = "{Value:%Lf}{Num:%llu}{NUMBER SEGMENTS:%u}";
constexpr const char* kVersion2SegmentTemplate = "{SEGMENT_%d:%s,%f,%u,%f}";

template <typename... Args>
std::optional<std::string> formatText(const char* format, Args... args) {
  const int length = std::snprintf(nullptr, 0, format, args...);
  if (length < 0) return std::nullopt;
  std::string text(static_cast<std::size_t>(length), '\0');
  std::snprintf(text.data(), text.size() + 1, format, args...);
  return text;
}

// Reads the bytes of a fixed-size structure at `at` that the source holds.
template <std::size_t Length>
ParseStatus readRecord(ByteSource& source, std::uint64_t at, PartialRecord<Length>& record) {
  std::array<std::uint8_t, Length> bytes{};
  const long long got = at < source.size() ? source.readAt(at, bytes.data(), Length) : 0;
  if (got < 0) return ParseStatus::readError;
  record = PartialRecord<Length>(std::span(bytes).first(static_cast<std::size_t>(got)));
  return ParseStatus::ok;
}

ArbSegmentRecord decodeSegmentRecord(const std::uint8_t* p) {
  ArbSegmentRecord record;
  record.index = loadU32(p + offset::kRecordIndex);
  record.dataOffset = loadU32(p + offset::kRecordDataOffset);
  record.clockRate = loadF64(p + offset::kRecordClockRate);
  record.dataLength = loadU32(p + offset::kRecordDataLength);
  const auto* name = reinterpret_cast<const char*>(p + offset::kRecordName);
  record.name.assign(name, strnlen(name, kSegmentNameLength));
  return record;
}

}  // namespace

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

std::optional<std::uint32_t> loadU32Within(std::span<const std::uint8_t> bytes, std::size_t at) {
  if (at > bytes.size() || bytes.size() - at < 4) return std::nullopt;
  return loadU32(bytes.data() + at);
}

const char* parseStatusText(ParseStatus status) {
  switch (status) {
    case ParseStatus::ok:
      return "ok";
    case ParseStatus::tooShort:
      return "file too short";
    case ParseStatus::readError:
      return "read error";
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
    case ParseStatus::blockTooLong:
      return "header block too long";
    case ParseStatus::wrongEntryType:
      return "unexpected entry type";
    case ParseStatus::badHeaderCrc:
      return "header CRC mismatch";
  }
  return "unknown status";
}

// ---------------------------------------------------------------------------
// Binary header
// ---------------------------------------------------------------------------

bool HeaderRecord::hasMagic() const {
  return present() >= offset::kMagic + kMagic.size() &&
         std::equal(kMagic.begin(), kMagic.end(), bytes().begin() + offset::kMagic);
}

std::optional<ArbHeader> HeaderRecord::decode() const {
  if (!complete()) return std::nullopt;
  ArbHeader header;
  header.headerCrc = *headerCrc();
  header.headerLength = *headerLength();
  header.fileLength = *fileLength();
  header.encryptedFlag = *encryptedFlag();
  header.entryTableFlag = *entryTableFlag();
  header.version = *version();
  std::copy_n(bytes().begin() + offset::kWrappedKey, kWrappedKeyLength, header.wrappedKey.begin());
  header.sampleCount = *sampleCount();
  header.dataOffset = *dataOffset();
  return header;
}

ParseStatus readHeader(ByteSource& source, HeaderRecord& header) {
  return readRecord(source, 0, header);
}

BodyKind bodyKind(std::uint32_t version) {
  const auto signedVersion = static_cast<std::int32_t>(version);
  if (signedVersion >= static_cast<std::int32_t>(kVersionMultiSegment)) return BodyKind::infoBlock;
  if (signedVersion == static_cast<std::int32_t>(kVersionSingle)) return BodyKind::textHeader;
  return BodyKind::unknown;
}

bool dataEncrypted(std::uint32_t version, std::uint8_t encryptedFlag) {
  return version < kVersionMultiSegment || encryptedFlag != 0;
}

ParseStatus headerBlockRange(std::uint32_t dataOffset, ByteRange& range, std::uint64_t maxLength) {
  if (dataOffset < kHeaderLength) return ParseStatus::badDataOffset;
  range = {kHeaderLength, dataOffset - kHeaderLength};
  if (range.length > maxLength) return ParseStatus::blockTooLong;
  return ParseStatus::ok;
}

ParseStatus matchHeaderCrc(std::uint32_t headerCrc, std::uint32_t computedCrc) {
  return headerCrc == computedCrc ? ParseStatus::ok : ParseStatus::badHeaderCrc;
}

ParseStatus readBytes(ByteSource& source, const ByteRange& range, std::uint8_t* destination) {
  if (!source.holds(range)) return ParseStatus::tooShort;
  const long long got =
      source.readAt(range.offset, destination, static_cast<std::size_t>(range.length));
  if (got < 0) return ParseStatus::readError;
  if (static_cast<std::uint64_t>(got) != range.length) return ParseStatus::tooShort;
  return ParseStatus::ok;
}

ParseStatus parseHeader(std::span<const std::uint8_t> bytes, ArbHeader& header) {
  const HeaderRecord record(bytes);
  if (!record.complete()) return ParseStatus::tooShort;
  if (!record.hasMagic()) return ParseStatus::badMagic;
  header = *record.decode();
  if (header.headerLength != kHeaderLength) return ParseStatus::badHeaderLength;
  return ParseStatus::ok;
}

ParseStatus checkLayout(const ArbHeader& header, std::uint64_t fileSize) {
  if (fileSize < kHeaderLength) return ParseStatus::tooShort;
  if (header.headerLength != kHeaderLength) return ParseStatus::badHeaderLength;
  if (header.version != kVersionSingle && header.version != kVersionMultiSegment)
    return ParseStatus::badVersion;
  ByteRange block;
  if (headerBlockRange(header.dataOffset, block) != ParseStatus::ok ||
      header.dataOffset > fileSize) {
    return ParseStatus::badDataOffset;
  }
  if (roundUpToBlock(std::uint64_t{header.sampleCount} * kBytesPerPair) >
      fileSize - header.dataOffset) {
    return ParseStatus::badDataLength;
  }
  return ParseStatus::ok;
}

std::span<const std::uint8_t> headerBlock(std::span<const std::uint8_t> file,
                                          const ArbHeader& header) {
  ByteRange block;
  headerBlockRange(header.dataOffset, block);
  return file.subspan(block.offset, block.length);
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

std::optional<ArbHeader> layoutHeader(std::uint32_t version, std::uint64_t blockLength,
                                      std::uint64_t dataLength) {
  const std::uint64_t dataOffset = kHeaderLength + blockLength;
  const std::uint64_t fileLength = dataOffset + roundUpToBlock(dataLength);
  if (fileLength > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  ArbHeader header;
  header.fileLength = static_cast<std::uint32_t>(fileLength);
  // A multi-segment file says that its data is encrypted and that an entry table
  // follows the header; a single-waveform file leaves both flags zero.
  const std::uint8_t flag = version >= kVersionMultiSegment ? 1 : 0;
  header.encryptedFlag = flag;
  header.entryTableFlag = flag;
  header.version = version;
  header.sampleCount = static_cast<std::uint32_t>(dataLength / kBytesPerPair);
  header.dataOffset = static_cast<std::uint32_t>(dataOffset);
  return header;
}

// ---------------------------------------------------------------------------
// Text header
// ---------------------------------------------------------------------------

std::optional<std::string_view> textAfterKey(std::string_view text, std::string_view keyText) {
  const std::size_t keyAt = text.find(keyText);
  if (keyAt == std::string_view::npos) return std::nullopt;
  const std::size_t valueAt = keyAt + keyText.size();
  const std::size_t end = text.find('}', valueAt);
  if (end == std::string_view::npos) return std::nullopt;
  return text.substr(valueAt, end - valueAt);
}

std::optional<std::string_view> findTextItem(std::string_view text, std::string_view key) {
  std::string opening;
  opening.reserve(key.size() + 2);
  opening += '{';
  opening += key;
  opening += ':';
  return textAfterKey(text, opening);
}

void appendTextItem(std::string& text, std::string_view key, std::string_view value) {
  text += '{';
  text += key;
  text += ':';
  text += value;
  text += '}';
}

ParseStatus readText(ByteSource& source, const ByteRange& range, std::string& text) {
  if (!source.holds(range)) return ParseStatus::tooShort;
  text.assign(static_cast<std::size_t>(range.length), '\0');
  const ParseStatus status = readBytes(source, range, reinterpret_cast<std::uint8_t*>(text.data()));
  if (status != ParseStatus::ok) return status;
  const std::size_t zero = text.find('\0');
  if (zero != std::string::npos) text.resize(zero);
  return ParseStatus::ok;
}

ParseStatus readTextUpTo(ByteSource& source, const ByteRange& range, std::string& text) {
  if (range.offset > source.size()) return ParseStatus::tooShort;
  return readText(source, {range.offset, std::min(range.length, source.size() - range.offset)},
                  text);
}

std::optional<std::string> formatVersion1Text(const Version1Items& items) {
  return formatText(kVersion1TextTemplate, items.clock, items.energy, items.pairs, items.dataSource,
                    items.values, items.symbolRate, items.modulationType, items.filterType,
                    items.filterCoefficient, items.impulseLength, items.overSampling);
}

std::optional<std::string> formatVersion2Summary(long double energy, unsigned long long dataLength,
                                                 unsigned segmentCount) {
  return formatText(kVersion2SummaryTemplate, energy, dataLength, segmentCount);
}

std::optional<std::string> formatVersion2Segment(int index, const char* name, double clockRate,
                                                 unsigned sampleCount, double energy) {
  return formatText(kVersion2SegmentTemplate, index, name, clockRate, sampleCount, energy);
}

// ---------------------------------------------------------------------------
// Version-2 info block
// ---------------------------------------------------------------------------

std::optional<ByteRange> EntryRecord::block() const {
  const auto length = blockLength();
  const auto at = blockOffset();
  if (!length || !at) return std::nullopt;
  return ByteRange{*at, *length};
}

ParseStatus readEntryCount(ByteSource& source, std::uint32_t& count) {
  PartialRecord<kEntryCountLength> record;
  const ParseStatus status = readRecord(source, kHeaderLength + offset::kEntryCount, record);
  if (status != ParseStatus::ok) return status;
  const auto value = record.u32(0);
  if (!value) return ParseStatus::tooShort;
  count = *value;
  return ParseStatus::ok;
}

ParseStatus readEntry(ByteSource& source, std::uint32_t index, EntryRecord& entry) {
  return readRecord(source, kHeaderLength + entryPosition(index), entry);
}

ParseStatus locateTextHeader(ByteSource& source, const HeaderRecord& header, ByteRange& text) {
  const auto version = header.version();
  if (!version) return ParseStatus::tooShort;
  switch (bodyKind(*version)) {
    case BodyKind::textHeader: {
      const auto dataOffset = header.dataOffset();
      if (!dataOffset) return ParseStatus::tooShort;
      return headerBlockRange(*dataOffset, text);
    }
    case BodyKind::infoBlock: {
      // The text header is the block of the last entry, N - 1.
      std::uint32_t count = 0;
      ParseStatus status = readEntryCount(source, count);
      if (status != ParseStatus::ok) return status;
      if (count == 0) return ParseStatus::badInfoBlock;
      EntryRecord last;
      status = readEntry(source, count - 1, last);
      if (status != ParseStatus::ok) return status;
      const auto block = last.block();
      if (!block) return ParseStatus::tooShort;
      text = *block;
      return ParseStatus::ok;
    }
    case BodyKind::unknown:
      break;
  }
  return ParseStatus::badVersion;
}

ParseStatus parseInfoBlock(std::span<const std::uint8_t> block, std::uint32_t blockFileOffset,
                           InfoBlock& info) {
  info = InfoBlock{};
  const PartialRecord<kEntryCountLength> countField(block.subspan(offset::kEntryCount));
  if (!countField.complete()) return ParseStatus::tooShort;
  const std::uint64_t count = *countField.u32(0);
  if (count == 0 || entryPosition(count) > block.size()) return ParseStatus::badInfoBlock;

  const std::uint64_t blockBegin = blockFileOffset;
  const std::uint64_t blockEnd = blockBegin + block.size();
  info.entries.reserve(static_cast<std::size_t>(count));
  for (std::uint64_t i = 0; i < count; ++i) {
    const EntryRecord record(block.subspan(entryPosition(i), kEntryLength));
    const ArbEntry entry{*record.type(), *record.blockLength(), *record.blockOffset()};
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
      info.segments.push_back(decodeSegmentRecord(b));
    }
  }
  // The text header is the block of the last entry, whatever the others hold.
  const ArbEntry& last = info.entries.back();
  info.text = std::string_view(
      reinterpret_cast<const char*>(block.data() + (last.offset - blockBegin)), last.length);
  return ParseStatus::ok;
}

std::vector<std::uint8_t> encodeInfoBlock(std::span<const ArbSegmentRecord> segments,
                                          std::string_view text) {
  const std::size_t entryCount = segments.size() + 2;
  std::vector<std::uint8_t> block(infoBlockLength(segments.size(), text.size()), 0);
  storeU32(&block[offset::kEntryCount], static_cast<std::uint32_t>(entryCount));

  // The blocks follow the table in entry order: the segment list, the records, the
  // text. Each entry holds its block's absolute file offset.
  std::size_t next = entryPosition(entryCount);
  std::size_t entryIndex = 0;
  auto addEntry = [&](std::uint32_t type, std::size_t length) {
    const std::size_t at = next;
    encodeEntry(
        &block[entryPosition(entryIndex++)],
        {type, static_cast<std::uint32_t>(length), static_cast<std::uint32_t>(kHeaderLength + at)});
    next += length;
    return at;
  };
  const std::size_t listAt = addEntry(kEntryTypeSegmentList, kSegmentListLength);
  // The list points at the block of entry 1: the first record, or the text when
  // there are no segments.
  encodeSegmentList(&block[listAt], static_cast<std::uint32_t>(segments.size()),
                    static_cast<std::uint32_t>(kHeaderLength + next));
  for (const ArbSegmentRecord& record : segments) {
    encodeSegmentRecord(&block[addEntry(kEntryTypeSegmentRecord, kSegmentRecordLength)], record);
  }
  const std::size_t textAt = addEntry(kEntryTypeText, text.size());
  std::copy(text.begin(), text.end(), block.begin() + static_cast<std::ptrdiff_t>(textAt));
  return block;
}

void encodeEntry(std::uint8_t* p, const ArbEntry& entry) {
  storeU32(p + offset::kEntryType, entry.type);
  storeU32(p + offset::kEntryBlockLength, entry.length);
  storeU32(p + offset::kEntryBlockOffset, entry.offset);
  storeU32(p + offset::kEntryReserved, 0);
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

// ---------------------------------------------------------------------------
// Signal energy
// ---------------------------------------------------------------------------

}  // namespace arbsuite::arb
