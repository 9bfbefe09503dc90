// The .arb waveform file format: binary header layout, field offsets, the
// text-header and multi-segment info-block structures and the signal energy.
// Every writer and reader of the suite goes through this module, so offsets and
// sizes are defined here once and nowhere else.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace arb {

// ---------------------------------------------------------------------------
// Sizes and constants
// ---------------------------------------------------------------------------

inline constexpr std::size_t kHeaderLength = 208;         // binary header, fixed size
inline constexpr std::size_t kDataKeyLength = 16;         // RC5 data key
inline constexpr std::size_t kWrappedKeyLength = 84;      // data key wrapped by the EC scheme
inline constexpr std::size_t kBytesPerPair = 4;           // int16 I + int16 Q
inline constexpr std::size_t kCipherBlockLength = 8;      // RC5 block; data is padded to it
inline constexpr std::uint32_t kVersionSingle = 1;        // text header follows the binary header
inline constexpr std::uint32_t kVersionMultiSegment = 2;  // info block follows the header
inline constexpr std::array<std::uint8_t, 4> kMagic = {0x41, 0x52, 0x42, 0x00};  // "ARB\0"
inline constexpr double kFullScale = 8192.0;  // divisor of the signal energy

// Version-2 info block.
inline constexpr std::size_t kEntryLength = 16;           // one ArbEntry
inline constexpr std::size_t kSegmentListLength = 16;     // ArbSegmentList block
inline constexpr std::size_t kSegmentRecordLength = 280;  // ArbSegmentRecord block
inline constexpr std::size_t kSegmentNameLength = 256;    // zero-terminated name slot
inline constexpr std::size_t kInfoBlockCapacity = 20480;  // largest info block a writer builds
inline constexpr std::uint32_t kEntryTypeText = 1;
inline constexpr std::uint32_t kEntryTypeSegmentList = 2;
inline constexpr std::uint32_t kEntryTypeSegmentRecord = 3;

// Byte offsets of the ArbHeader fields; bytes not named here are zero.
namespace offset {
inline constexpr std::size_t kHeaderCrc = 0;        // u32 CRC-32 of bytes [208, dataOffset)
inline constexpr std::size_t kMagic = 4;            // 4 bytes "ARB\0"
inline constexpr std::size_t kHeaderLength = 8;     // u32, always 208
inline constexpr std::size_t kFileLength = 12;      // u32 total file length
inline constexpr std::size_t kEncryptedFlag = 16;   // u8, 0 in version 1, 1 in version 2
inline constexpr std::size_t kEntryTableFlag = 19;  // u8, 0 in version 1, 1 in version 2
inline constexpr std::size_t kVersion = 20;         // u32, 1 or 2
inline constexpr std::size_t kWrappedKey = 24;      // 84 bytes
inline constexpr std::size_t kSampleCount = 200;    // u32 number of IQ pairs
inline constexpr std::size_t kDataOffset = 204;     // u32 file offset of the sample data

// Inside an ArbEntry.
inline constexpr std::size_t kEntryType = 0;
inline constexpr std::size_t kEntryBlockLength = 4;
inline constexpr std::size_t kEntryBlockOffset = 8;

// Inside the ArbSegmentList block.
inline constexpr std::size_t kListSegmentCount = 0;
inline constexpr std::size_t kListFirstRecordOffset = 4;

// Inside an ArbSegmentRecord block.
inline constexpr std::size_t kRecordIndex = 0;
inline constexpr std::size_t kRecordDataOffset = 4;   // byte offset in the decrypted data
inline constexpr std::size_t kRecordClockRate = 8;    // f64
inline constexpr std::size_t kRecordDataLength = 16;  // bytes, 4 x sample count
inline constexpr std::size_t kRecordName = 20;        // 256 bytes
}  // namespace offset

// printf template of a version-1 text header (the key "FilterCoefficients "
// really carries a space before its colon).
inline constexpr const char* kVersion1TextTemplate =
    "{Clock:%dHZ}{ModulationMode:Digital}{Value:%f}{Num:%d}{DataSource:%s}"
    "{Length:%d}{SymbolRate:%dHz}{ModulationType:%s}{FilterType:%s}"
    "{FilterCoefficients :%f}{ImpulseLength:%d}{OverSample:%d}";
// printf templates of a version-2 text header: one summary, then one item per segment.
inline constexpr const char* kVersion2SummaryTemplate = "{Value:%Lf}{Num:%llu}{NUMBER SEGMENTS:%u}";
inline constexpr const char* kVersion2SegmentTemplate = "{SEGMENT_%d:%s,%f,%u,%f}";

// ---------------------------------------------------------------------------
// Little-endian access. All multi-byte fields go through these.
// ---------------------------------------------------------------------------

std::uint16_t loadU16(const std::uint8_t* p);
std::uint32_t loadU32(const std::uint8_t* p);
double loadF64(const std::uint8_t* p);
void storeU16(std::uint8_t* p, std::uint16_t v);
void storeU32(std::uint8_t* p, std::uint32_t v);
void storeF64(std::uint8_t* p, double v);

// ---------------------------------------------------------------------------
// Binary header
// ---------------------------------------------------------------------------

// The 208-byte binary header in host form. The magic is implied: encodeHeader
// writes it and parseHeader checks it.
struct ArbHeader {
  std::uint32_t headerCrc = 0;
  std::uint32_t headerLength = static_cast<std::uint32_t>(kHeaderLength);
  std::uint32_t fileLength = 0;
  std::uint8_t encryptedFlag = 0;
  std::uint8_t entryTableFlag = 0;
  std::uint32_t version = kVersionSingle;
  std::array<std::uint8_t, kWrappedKeyLength> wrappedKey{};
  std::uint32_t sampleCount = 0;
  std::uint32_t dataOffset = static_cast<std::uint32_t>(kHeaderLength);
};

using HeaderBytes = std::array<std::uint8_t, kHeaderLength>;

// Serialises the header; every byte not named in ArbHeader is zero.
HeaderBytes encodeHeader(const ArbHeader& header);

enum class ParseStatus {
  ok = 0,
  tooShort,         // fewer bytes than the structure needs
  badMagic,         // bytes 4..7 are not "ARB\0"
  badHeaderLength,  // headerLength field is not 208
  badDataOffset,    // dataOffset before the end of the header or past the end of the file
  badDataLength,    // sample data (padded) does not fit between dataOffset and the file end
  badVersion,       // version is neither 1 nor 2
  badInfoBlock,     // info-block entry table inconsistent or out of bounds
};

// Human-readable name of a status, for messages and test output.
const char* parseStatusText(ParseStatus status);

// Decodes the first 208 bytes of `bytes` (which may hold the whole file or only
// the header) and checks the magic and the header length. No other field is
// checked here: use checkLayout once the file size is known.
ParseStatus parseHeader(std::span<const std::uint8_t> bytes, ArbHeader& header);

// Checks the header's offsets against a file of `fileSize` bytes:
// 208 <= dataOffset <= fileSize and dataOffset + paddedDataLength(sampleCount)
// <= fileSize, and version 1 or 2. All arithmetic in 64 bits.
ParseStatus checkLayout(const ArbHeader& header, std::uint64_t fileSize);

// Bytes of stored (encrypted) sample data for `sampleCount` pairs: 4 per pair,
// rounded up to the 8-byte cipher block.
constexpr std::uint64_t paddedDataLength(std::uint64_t sampleCount) {
  const std::uint64_t plain = sampleCount * kBytesPerPair;
  return (plain + kCipherBlockLength - 1) / kCipherBlockLength * kCipherBlockLength;
}

// Rounds a byte count up to the 8-byte cipher block.
constexpr std::uint64_t roundUpToBlock(std::uint64_t n) {
  return (n + kCipherBlockLength - 1) / kCipherBlockLength * kCipherBlockLength;
}

// fileLength of a file whose header is followed by `blockLength` bytes of text
// header or info block and the data of `sampleCount` pairs.
constexpr std::uint64_t expectedFileLength(std::uint64_t blockLength, std::uint64_t sampleCount) {
  return kHeaderLength + blockLength + paddedDataLength(sampleCount);
}

// The block between the header and the sample data: bytes [208, dataOffset).
// Only valid after checkLayout succeeded for `file`.
std::span<const std::uint8_t> headerBlock(std::span<const std::uint8_t> file,
                                          const ArbHeader& header);

// ---------------------------------------------------------------------------
// Text header: items "{Key:Value}" back to back.
// ---------------------------------------------------------------------------

// Appends "{key:value}" to `text`.
void appendTextItem(std::string& text, std::string_view key, std::string_view value);

// Value of the first item whose "{" is followed by `key` and ":"; the value runs
// to the next "}". Empty optional when the item or its closing "}" is missing.
std::optional<std::string_view> findTextItem(std::string_view text, std::string_view key);

// ---------------------------------------------------------------------------
// Version-2 info block
// ---------------------------------------------------------------------------

struct ArbEntry {
  std::uint32_t type = 0;
  std::uint32_t length = 0;  // block length in bytes
  std::uint32_t offset = 0;  // absolute file offset of the block
};

struct ArbSegmentRecord {
  std::uint32_t index = 0;
  std::uint32_t dataOffset = 0;  // byte offset of the segment's first sample in the data
  double clockRate = 0.0;
  std::uint32_t dataLength = 0;  // bytes, 4 x the segment's sample count
  std::string name;              // at most 255 characters
};

struct InfoBlock {
  std::vector<ArbEntry> entries;
  std::uint32_t segmentCount = 0;       // from the ArbSegmentList block
  std::uint32_t firstRecordOffset = 0;  // from the ArbSegmentList block
  std::vector<ArbSegmentRecord> segments;
  std::string_view text;  // the text header (last entry); points into the parsed bytes
};

// Parses an info block held in `block`, which starts at absolute file offset
// `blockFileOffset` (208 in a real file). Checks the entry count, the order of
// the entry types, and that every entry's block lies inside `block`.
ParseStatus parseInfoBlock(std::span<const std::uint8_t> block, std::uint32_t blockFileOffset,
                           InfoBlock& info);

// Serialisers for the info-block structures (writers fill zero-initialised buffers).
void encodeEntry(std::uint8_t* p, const ArbEntry& entry);
void encodeSegmentList(std::uint8_t* p, std::uint32_t segmentCount,
                       std::uint32_t firstRecordOffset);
// The name is truncated to 255 characters so the slot stays zero-terminated.
void encodeSegmentRecord(std::uint8_t* p, const ArbSegmentRecord& record);

// ---------------------------------------------------------------------------
// Signal energy
// ---------------------------------------------------------------------------

// Sum over every int16 value v of (v / 8192)^2.
double signalEnergy(std::span<const std::int16_t> values);
// Same over little-endian int16 values in raw bytes; a trailing odd byte is ignored.
double signalEnergy(std::span<const std::uint8_t> sampleBytes);

}  // namespace arb
