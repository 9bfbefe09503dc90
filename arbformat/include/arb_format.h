// The .arb waveform file format: binary header layout, field offsets, the
// text-header and multi-segment info-block structures and the signal energy.
// Every writer and reader of the suite goes through this module, so offsets and
// sizes are defined here once and nowhere else.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "arb_source.h"
#include "wavecrypt.h"

namespace arbsuite::arb {

// ---------------------------------------------------------------------------
// Sizes and constants
// ---------------------------------------------------------------------------

inline constexpr std::size_t kHeaderLength = 208;  // binary header; the block follows it
inline constexpr std::size_t kDataKeyLength = WAVECRYPT_KEY_BYTES;         // RC5 data key
inline constexpr std::size_t kWrappedKeyLength = WAVECRYPT_WRAPPED_BYTES;  // data key, wrapped
inline constexpr std::size_t kBytesPerPair = 4;                            // int16 I + int16 Q
inline constexpr std::size_t kCipherBlockLength = 8;      // RC5 block; data is padded to it
inline constexpr std::uint32_t kVersionSingle = 1;        // text header follows the binary header
inline constexpr std::uint32_t kVersionMultiSegment = 2;  // info block follows the header
inline constexpr std::array<std::uint8_t, 4> kMagic = {0x41, 0x52, 0x42, 0x00};  // "ARB\0"
// The signal energy sums (v / kEnergyDivisor)^2 over the 16-bit values v: 2^13, the
// 14-bit full scale, whatever range the values actually use.
inline constexpr double kEnergyDivisor = 8192.0;

// Version-2 info block.
inline constexpr std::size_t kEntryCountLength = 4;       // u32 number of entries
inline constexpr std::size_t kEntryLength = 16;           // one ArbEntry
inline constexpr std::size_t kSegmentListLength = 16;     // ArbSegmentList block
inline constexpr std::size_t kSegmentRecordLength = 280;  // ArbSegmentRecord block
inline constexpr std::size_t kSegmentNameLength = 256;    // zero-terminated name slot
inline constexpr std::size_t kInfoBlockCapacity = 20480;  // largest info block a writer builds
inline constexpr std::uint32_t kEntryTypeText = 1;
inline constexpr std::uint32_t kEntryTypeSegmentList = 2;
inline constexpr std::uint32_t kEntryTypeSegmentRecord = 3;

// Sample clocks the instrument plays: kMinPlayableClock to kMaxPlayableClock, or
// exactly kHighPlayableClock. Every program checks the clock it writes into a file
// against this one rule.
inline constexpr double kMinPlayableClock = 1e3;     // Hz
inline constexpr double kMaxPlayableClock = 50e6;    // Hz
inline constexpr double kHighPlayableClock = 100e6;  // Hz, the one clock above the range
inline constexpr const char* kPlayableClockText = "1 kHz to 50 MHz, or exactly 100 MHz";
constexpr bool isPlayableClock(double hertz) {
  return (hertz >= kMinPlayableClock && hertz <= kMaxPlayableClock) || hertz == kHighPlayableClock;
}

// Byte offsets of the ArbHeader fields; bytes not named here are zero.
namespace offset {
inline constexpr std::size_t kHeaderCrc = 0;        // u32 CRC-32 of bytes [208, dataOffset)
inline constexpr std::size_t kMagic = 4;            // 4 bytes "ARB\0"
inline constexpr std::size_t kHeaderLength = 8;     // u32, always 208
inline constexpr std::size_t kFileLength = 12;      // u32 total file length
inline constexpr std::size_t kEncryptedFlag = 16;   // u8, 0 in version 1, 1 in version 2
inline constexpr std::size_t kEntryTableFlag = 19;  // u8, 0 in version 1, 1 in version 2
inline constexpr std::size_t kVersion = 20;         // u32, 1 or 2
inline constexpr std::size_t kWrappedKey = 24;      // kWrappedKeyLength bytes
inline constexpr std::size_t kSampleCount = 200;    // u32 number of IQ pairs
inline constexpr std::size_t kDataOffset = 204;     // u32 file offset of the sample data

// Inside the info block, which starts at file offset kHeaderLength.
inline constexpr std::size_t kEntryCount = 0;                                // u32 N
inline constexpr std::size_t kEntryTable = kEntryCount + kEntryCountLength;  // N ArbEntry

// Inside an ArbEntry.
inline constexpr std::size_t kEntryType = 0;
inline constexpr std::size_t kEntryBlockLength = 4;
inline constexpr std::size_t kEntryBlockOffset = 8;  // absolute file offset
inline constexpr std::size_t kEntryReserved = 12;    // u32, zero

// Inside the ArbSegmentList block.
inline constexpr std::size_t kListSegmentCount = 0;
inline constexpr std::size_t kListFirstRecordOffset = 4;

// Inside an ArbSegmentRecord block.
inline constexpr std::size_t kRecordIndex = 0;
inline constexpr std::size_t kRecordDataOffset = 4;   // byte offset in the decrypted data
inline constexpr std::size_t kRecordClockRate = 8;    // f64
inline constexpr std::size_t kRecordDataLength = 16;  // bytes, 4 x sample count
inline constexpr std::size_t kRecordName = 20;        // kSegmentNameLength bytes
}  // namespace offset

// Offset of entry `index` inside the info block.
constexpr std::uint64_t entryPosition(std::uint64_t index) {
  return offset::kEntryTable + kEntryLength * index;
}

// A byte count rounded up, or down, to whole cipher blocks: the stored sample data
// is the plain data padded to the 8-byte block of the data cipher.
constexpr std::uint64_t roundUpToBlock(std::uint64_t n) {
  return (n + kCipherBlockLength - 1) / kCipherBlockLength * kCipherBlockLength;
}
constexpr std::uint64_t roundDownToBlock(std::uint64_t n) { return n - n % kCipherBlockLength; }

// ---------------------------------------------------------------------------
// Little-endian access. All multi-byte fields go through these.
// ---------------------------------------------------------------------------

std::uint16_t loadU16(const std::uint8_t* p);
std::uint32_t loadU32(const std::uint8_t* p);
double loadF64(const std::uint8_t* p);
void storeU16(std::uint8_t* p, std::uint16_t v);
void storeU32(std::uint8_t* p, std::uint32_t v);
void storeF64(std::uint8_t* p, double v);
// The u32 at `at` of bytes; empty when its four bytes do not all lie inside.
std::optional<std::uint32_t> loadU32Within(std::span<const std::uint8_t> bytes, std::size_t at);

// ---------------------------------------------------------------------------
// Decoding results
// ---------------------------------------------------------------------------

enum class ParseStatus {
  ok = 0,
  tooShort,         // the structure or block lies (partly) past the end of the input
  readError,        // the byte source reported a read error
  badMagic,         // bytes 4..7 are not "ARB\0"
  badHeaderLength,  // headerLength field is not 208
  badDataOffset,    // dataOffset before the end of the header or past the end of the file
  badDataLength,    // sample data (padded) does not fit between dataOffset and the file end
  badVersion,       // a version the caller does not read
  badInfoBlock,     // info-block entry table inconsistent or out of bounds
  blockTooLong,     // the block between header and data is longer than the caller takes
  wrongEntryType,   // an entry holds another block than the one asked for
  badHeaderCrc,     // headerCrc differs from the CRC of the block it covers
};

// Human-readable name of a status, for messages and test output.
const char* parseStatusText(ParseStatus status);

// ---------------------------------------------------------------------------
// Fixed-size structures read as far as the input reaches
// ---------------------------------------------------------------------------

// A fixed-size structure of the format holding the first min(Length, input size)
// of its bytes. A file cut short still yields each field that lies before the cut,
// field by field, which is what the lenient readers work with; strict decoders ask
// complete() first.
template <std::size_t Length>
class PartialRecord {
 public:
  PartialRecord() = default;
  explicit PartialRecord(std::span<const std::uint8_t> bytes)
      : present_(std::min(Length, bytes.size())) {
    std::copy_n(bytes.begin(), present_, bytes_.begin());
  }

  // Bytes present, at most Length.
  std::size_t present() const { return present_; }
  bool complete() const { return present_ == Length; }
  // The u32 or u8 at `at`; empty when its bytes lie past the end of the input.
  std::optional<std::uint32_t> u32(std::size_t at) const {
    return loadU32Within(std::span(bytes_).first(present_), at);
  }
  std::optional<std::uint8_t> u8(std::size_t at) const {
    if (at >= present_) return std::nullopt;
    return bytes_[at];
  }
  // All Length bytes; those past present() are zero.
  const std::array<std::uint8_t, Length>& bytes() const { return bytes_; }

 private:
  std::array<std::uint8_t, Length> bytes_{};
  std::size_t present_ = 0;
};

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

// The binary header as far as the input holds it. Each field and each check stands
// on its own: a reader asks for the fields it uses and makes the checks it makes.
class HeaderRecord : public PartialRecord<kHeaderLength> {
 public:
  using PartialRecord::PartialRecord;
  std::optional<std::uint32_t> headerCrc() const { return u32(offset::kHeaderCrc); }
  std::optional<std::uint32_t> headerLength() const { return u32(offset::kHeaderLength); }
  std::optional<std::uint32_t> fileLength() const { return u32(offset::kFileLength); }
  std::optional<std::uint8_t> encryptedFlag() const { return u8(offset::kEncryptedFlag); }
  std::optional<std::uint8_t> entryTableFlag() const { return u8(offset::kEntryTableFlag); }
  std::optional<std::uint32_t> version() const { return u32(offset::kVersion); }
  std::optional<std::uint32_t> sampleCount() const { return u32(offset::kSampleCount); }
  std::optional<std::uint32_t> dataOffset() const { return u32(offset::kDataOffset); }
  // Bytes 4..7 are present and are "ARB\0".
  bool hasMagic() const;
  // Every field, or empty when the header is not complete. Checks nothing.
  std::optional<ArbHeader> decode() const;
};

// Reads the header bytes the source holds (all 208, or fewer from a shorter file).
// Returns ok or readError.
ParseStatus readHeader(ByteSource& source, HeaderRecord& header);

// What follows the binary header, by the version field read as a signed number:
// 1 a text header, 2 and above an info block, 0 and below nothing the readers know.
enum class BodyKind { textHeader, infoBlock, unknown };
BodyKind bodyKind(std::uint32_t version);

// Whether the sample data is encrypted: always below version 2 (where the flag is
// not used), otherwise as the encrypted flag says.
bool dataEncrypted(std::uint32_t version, std::uint8_t encryptedFlag);

// The block between the header and the sample data, [208, dataOffset): the text
// header of version 1, the info block of version 2, what headerCrc covers. Returns
// badDataOffset when dataOffset lies before 208 and blockTooLong when the block is
// longer than maxLength; whether it lies inside the file is left to the caller.
ParseStatus headerBlockRange(std::uint32_t dataOffset, ByteRange& range,
                             std::uint64_t maxLength = UINT64_MAX);

// badHeaderCrc unless the CRC computed over the header block equals headerCrc.
ParseStatus matchHeaderCrc(std::uint32_t headerCrc, std::uint32_t computedCrc);

// Reads the bytes of `range` into destination, which holds range.length bytes.
// Returns tooShort when the range does not lie inside the source (or the source
// ends early), or readError.
ParseStatus readBytes(ByteSource& source, const ByteRange& range, std::uint8_t* destination);

// Decodes the first 208 bytes of `bytes` (which may hold the whole file or only
// the header) and checks the magic and the header length. No other field is
// checked here: use checkLayout once the file size is known.
ParseStatus parseHeader(std::span<const std::uint8_t> bytes, ArbHeader& header);

// Checks the header's offsets against a file of `fileSize` bytes:
// 208 <= dataOffset <= fileSize and dataOffset + roundUpToBlock(4 x sampleCount)
// <= fileSize, and version 1 or 2. All arithmetic in 64 bits.
ParseStatus checkLayout(const ArbHeader& header, std::uint64_t fileSize);

// The header block of a file held in memory. Only valid after checkLayout
// succeeded for `file`.
std::span<const std::uint8_t> headerBlock(std::span<const std::uint8_t> file,
                                          const ArbHeader& header);

// ---------------------------------------------------------------------------
// Writing the header
// ---------------------------------------------------------------------------

// Serialises the header; every byte not named in ArbHeader is zero.
HeaderBytes encodeHeader(const ArbHeader& header);

// The layout fields of a header of `version` (1 or 2) for a file whose header is
// followed by a block of `blockLength` bytes (text header or info block) and by
// `dataLength` bytes of plain sample data, stored padded to the cipher block:
// fileLength, dataOffset, sampleCount (dataLength / 4), the version and its two
// flags. The writer adds headerCrc and wrappedKey. Empty when the file length does
// not fit its 32-bit field.
std::optional<ArbHeader> layoutHeader(std::uint32_t version, std::uint64_t blockLength,
                                      std::uint64_t dataLength);

// ---------------------------------------------------------------------------
// Text header: items "{Key:Value}" back to back.
// ---------------------------------------------------------------------------

// The scanner under every item lookup of the suite: the characters between the end
// of the first occurrence of keyText in text and the first "}" after it. Empty
// optional when keyText or that "}" is missing. keyText is matched as it is, so each
// caller decides how much of the item's opening it includes.
std::optional<std::string_view> textAfterKey(std::string_view text, std::string_view keyText);

// Value of the first item whose "{" is followed by `key` and ":"; the value runs
// to the next "}". Empty optional when the item or its closing "}" is missing.
std::optional<std::string_view> findTextItem(std::string_view text, std::string_view key);

// Appends "{key:value}" to `text`.
void appendTextItem(std::string& text, std::string_view key, std::string_view value);

// Reads the block `range` as text, cut at its first zero byte. Returns tooShort
// when the range does not lie inside the source, or readError. Throws
// std::bad_alloc when the text cannot be held.
ParseStatus readText(ByteSource& source, const ByteRange& range, std::string& text);

// The same for up to range.length bytes: fewer when the source ends first. Returns
// tooShort only when the source ends before range.offset.
ParseStatus readTextUpTo(ByteSource& source, const ByteRange& range, std::string& text);

// The items of a version-1 text header, in the order and the types its template
// takes them.
struct Version1Items {
  std::int32_t clock = 0;  // Hz
  double energy = 0.0;     // "Value"
  std::int32_t pairs = 0;  // "Num"
  const char* dataSource = "";
  std::int32_t values = 0;  // "Length", 16-bit values
  std::int32_t symbolRate = 0;
  const char* modulationType = "";
  const char* filterType = "";
  double filterCoefficient = 0.0;
  std::int32_t impulseLength = 0;
  std::int32_t overSampling = 0;
};

// The whole text header of a version-1 file. Formatted in the calling thread's
// locale; empty when the C formatting fails.
std::optional<std::string> formatVersion1Text(const Version1Items& items);
// The summary items that open a version-2 text header: "Value", "Num" (the data
// length in bytes) and "NUMBER SEGMENTS".
std::optional<std::string> formatVersion2Summary(long double energy, unsigned long long dataLength,
                                                 unsigned segmentCount);
// The item of segment `index` of a version-2 text header.
std::optional<std::string> formatVersion2Segment(int index, const char* name, double clockRate,
                                                 unsigned sampleCount, double energy);

// ---------------------------------------------------------------------------
// Version-2 info block
// ---------------------------------------------------------------------------

struct ArbEntry {
  std::uint32_t type = 0;
  std::uint32_t length = 0;  // block length in bytes
  std::uint32_t offset = 0;  // absolute file offset of the block
};

// One entry of the entry table as far as the input holds it.
class EntryRecord : public PartialRecord<kEntryLength> {
 public:
  using PartialRecord::PartialRecord;
  std::optional<std::uint32_t> type() const { return u32(offset::kEntryType); }
  std::optional<std::uint32_t> blockLength() const { return u32(offset::kEntryBlockLength); }
  std::optional<std::uint32_t> blockOffset() const { return u32(offset::kEntryBlockOffset); }
  // The block the entry points to, when both of its fields are present.
  std::optional<ByteRange> block() const;
};

// The entry count N of the info block of a file. Returns tooShort or readError.
ParseStatus readEntryCount(ByteSource& source, std::uint32_t& count);
// Entry `index` of the info block of a file, as far as the source holds it (a file
// that ends inside the entry gives the fields before the end). Returns readError
// or ok.
ParseStatus readEntry(ByteSource& source, std::uint32_t index, EntryRecord& entry);

// Where the text header of a file lies: the whole header block for version 1, the
// block of the last entry for version 2 and above (bodyKind). Returns badVersion,
// badDataOffset, badInfoBlock (no entries), tooShort (the count or the last entry
// past the end of the file) or readError. Whether the text lies inside the file is
// left to readText.
ParseStatus locateTextHeader(ByteSource& source, const HeaderRecord& header, ByteRange& text);

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

// Length of the info block of `segmentCount` segments and a text of textLength
// bytes: the entry count, N = segmentCount + 2 entries, the segment list, the
// records and the text.
constexpr std::uint64_t infoBlockLength(std::uint64_t segmentCount, std::uint64_t textLength) {
  return entryPosition(segmentCount + 2) + kSegmentListLength +
         kSegmentRecordLength * segmentCount + textLength;
}

// Most segments a version-2 file can describe: the entry table, the segment list
// and one record per segment, with at least one byte of text, fill no more than
// the kInfoBlockCapacity bytes of the info block (69 segments).
inline constexpr std::uint64_t kMaxSegments =
    (kInfoBlockCapacity - infoBlockLength(0, 1)) / (kEntryLength + kSegmentRecordLength);
static_assert(infoBlockLength(kMaxSegments, 1) <= kInfoBlockCapacity &&
              infoBlockLength(kMaxSegments + 1, 1) > kInfoBlockCapacity);

// The whole info block of a version-2 file: entry table, segment list, one record
// per segment (in the given order) and the text, back to back, the entries' offsets
// absolute for a block at file offset 208.
std::vector<std::uint8_t> encodeInfoBlock(std::span<const ArbSegmentRecord> segments,
                                          std::string_view text);

// Serialisers for the info-block structures (writers fill zero-initialised buffers).
void encodeEntry(std::uint8_t* p, const ArbEntry& entry);
void encodeSegmentList(std::uint8_t* p, std::uint32_t segmentCount,
                       std::uint32_t firstRecordOffset);
// The name is truncated to 255 characters so the slot stays zero-terminated.
void encodeSegmentRecord(std::uint8_t* p, const ArbSegmentRecord& record);

// ---------------------------------------------------------------------------
// Signal energy
// ---------------------------------------------------------------------------

// Sum over every int16 value v of (v / 8192)^2, in order; the second form adds them on
// to start, so that values handed out in pieces sum as the whole would.
double signalEnergy(std::span<const std::int16_t> values);
double signalEnergy(std::span<const std::int16_t> values, double start);
// Same over little-endian int16 values in raw bytes; a trailing odd byte is ignored.
double signalEnergy(std::span<const std::uint8_t> sampleBytes);

// The sum of v^2 over the values, exact (v^2 <= 2^30, so 2^33 values fit in 64 bits).
std::uint64_t sumOfSquares(std::span<const std::int16_t> values);

// signalEnergy(values) given sumOfSquares(values): every term is v^2 x 2^-26 exactly,
// so while the whole sum stays below 2^53 every partial sum is a multiple of 2^-26
// below 2^27, which a double holds exactly, and the result is sum x 2^-26 whatever
// the order. Larger sums round on the way and are summed again in order.
double orderedSignalEnergy(std::uint64_t sum, std::span<const std::int16_t> values);

// The energy summed exactly in integers and divided once, in long double: the
// "Value" of a multi-segment text header; the second form from sumOfSquares of the
// values (added up over several spans).
long double exactSignalEnergy(std::span<const std::int16_t> values);
long double exactSignalEnergy(std::uint64_t sumOfSquares);

}  // namespace arbsuite::arb
