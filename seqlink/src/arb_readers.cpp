// .arb readers: readArbFileInf, readArbFileAllInf, readArbFileData and ArbDataFile.
// Every offset and length taken from a file is checked against the file size first.
#include "arb_readers.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "crypto_binding.h"
#include "item_text.h"
#include "seqlink.h"
#include "statuses.h"

namespace seqlink {
namespace {

// Offsets of the first info-block entry (version 2) in the file.
inline constexpr std::uint64_t kEntryCountAt = arb::kHeaderLength;
inline constexpr std::uint64_t kEntryTableAt = arb::kHeaderLength + 4;

bool readU32(ByteSource& source, std::uint64_t at, std::uint32_t& value) {
  std::uint8_t bytes[4];
  if (!source.holds(at, 4) || !source.readExact(at, bytes, 4)) return false;
  value = arb::loadU32(bytes);
  return true;
}

// Reads length bytes at offset as text, cut at the first zero byte.
int readText(ByteSource& source, std::uint64_t at, std::uint64_t length, std::string& text,
             int badHeaderStatus) {
  if (!source.holds(at, length)) return badHeaderStatus;
  try {
    text.assign(static_cast<std::size_t>(length), '\0');
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  }
  if (!source.readExact(at, text.data(), text.size())) return badHeaderStatus;
  text.resize(std::strlen(text.c_str()));
  return kOk;
}

}  // namespace

int readInfFrom(ByteSource& source, int* sampleCount, double* clock, double* energy) {
  if (sampleCount == nullptr || clock == nullptr || energy == nullptr) return kNoMemory;
  std::uint32_t count = 0;
  if (!readU32(source, arb::offset::kSampleCount, count)) return kBadHeader;
  *sampleCount = static_cast<int>(count);  // kept whatever happens later

  std::uint32_t version = 0;
  if (!readU32(source, arb::offset::kVersion, version)) return kBadHeader;
  std::string text;
  if (static_cast<std::int32_t>(version) >= 2) {
    // Only a file whose first entry is the text header is a single waveform.
    std::uint32_t firstType = 0, textLength = 0, textOffset = 0;
    if (!readU32(source, kEntryTableAt + arb::offset::kEntryType, firstType)) return kBadHeader;
    if (firstType != arb::kEntryTypeText) return kMultiSegmentRefused;
    if (!readU32(source, kEntryTableAt + arb::offset::kEntryBlockLength, textLength) ||
        !readU32(source, kEntryTableAt + arb::offset::kEntryBlockOffset, textOffset)) {
      return kBadHeader;
    }
    const int status = readText(source, textOffset, textLength, text, kBadHeader);
    if (status != kOk) return status;
  } else if (static_cast<std::int32_t>(version) == 1) {
    std::uint32_t dataOffset = 0;
    if (!readU32(source, arb::offset::kDataOffset, dataOffset)) return kBadHeader;
    // Up to 1,024 bytes, fewer when the file ends or the samples come first.
    std::uint64_t length =
        std::min<std::uint64_t>(kInfTextLimit, source.size() - arb::kHeaderLength);
    length = dataOffset < arb::kHeaderLength
                 ? 0
                 : std::min<std::uint64_t>(length, dataOffset - arb::kHeaderLength);
    const int status = readText(source, arb::kHeaderLength, length, text, kBadHeader);
    if (status != kOk) return status;
  } else {
    return kBadHeader;
  }

  const std::optional<double> clockValue = numberFromItem(text, "{Clock");
  if (!clockValue) return kBadHeader;
  *clock = *clockValue;
  const std::optional<double> energyValue = numberFromItem(text, "{Value");
  if (!energyValue) return kBadHeader;
  *energy = *energyValue;
  return kOk;
}

std::optional<std::string> formatTextForDisplay(std::string_view text, std::size_t maxLength) {
  const std::size_t lastClose = text.rfind('}');
  if (lastClose != std::string_view::npos) text = text.substr(0, lastClose);
  // Formatting only inserts characters: a text already too long cannot fit.
  if (text.size() > maxLength) return std::nullopt;

  // Spaces to insert before each colon, in ascending colon order.
  std::vector<std::pair<std::size_t, std::size_t>> padding;
  const auto opens = std::count(text.begin(), text.end(), '{');
  const auto colons = std::count(text.begin(), text.end(), ':');
  if (opens > 0 && colons >= opens) {
    // The key width: the largest distance from a "{" to a ":" of the same item.
    std::size_t width = 0;
    for (std::size_t open = text.find('{'); open != std::string_view::npos;) {
      const std::size_t next = text.find('{', open + 1);
      const std::size_t colon = text.find(':', open + 1);
      if (colon != std::string_view::npos && colon < next) width = std::max(width, colon - open);
      open = next;
    }
    // Item by item, pad up to the width before the first ":" after the "{". Only the
    // spaces already inserted before that same colon lie between the two, because
    // no other colon does.
    for (std::size_t open = text.find('{'); open != std::string_view::npos;
         open = text.find('{', open + 1)) {
      const std::size_t colon = text.find(':', open + 1);
      if (colon == std::string_view::npos) continue;
      if (padding.empty() || padding.back().first != colon) padding.emplace_back(colon, 0);
      const std::size_t distance = colon - open + padding.back().second;
      if (distance < width) padding.back().second += width - distance;
    }
  }

  std::uint64_t total = text.size();
  for (const auto& entry : padding) total += entry.second;
  if (total > maxLength) return std::nullopt;

  std::string out;
  out.reserve(static_cast<std::size_t>(total));
  auto pad = padding.begin();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (pad != padding.end() && pad->first == i) {
      out.append(pad->second, ' ');
      ++pad;
    }
    const char c = text[i];
    out.push_back(c == '{' ? ' ' : c == '}' ? '\n' : c);
  }
  return out;
}

int readAllInfFrom(ByteSource& source, char* text, int* length) {
  if (text == nullptr || length == nullptr) return kNoMemory;
  std::uint32_t version = 0;
  if (!readU32(source, arb::offset::kVersion, version)) return kBadHeader;

  std::uint64_t textOffset = 0, textLength = 0;
  if (static_cast<std::int32_t>(version) >= 2) {
    // The text header is the block of the last entry, N - 1.
    std::uint32_t entries = 0;
    if (!readU32(source, kEntryCountAt, entries) || entries == 0) return kBadHeader;
    const std::uint64_t lastEntry = kEntryTableAt + arb::kEntryLength * (entries - 1ull);
    std::uint32_t length32 = 0, offset32 = 0;
    if (!readU32(source, lastEntry + arb::offset::kEntryBlockLength, length32) ||
        !readU32(source, lastEntry + arb::offset::kEntryBlockOffset, offset32)) {
      return kBadHeader;
    }
    textLength = length32;
    textOffset = offset32;
  } else if (static_cast<std::int32_t>(version) == 1) {
    std::uint32_t dataOffset = 0;
    if (!readU32(source, arb::offset::kDataOffset, dataOffset) || dataOffset < arb::kHeaderLength) {
      return kBadHeader;
    }
    textOffset = arb::kHeaderLength;
    textLength = dataOffset - arb::kHeaderLength;
  } else {
    return kBadHeader;
  }

  std::string header;
  const int status = readText(source, textOffset, textLength, header, kBadHeader);
  if (status != kOk) return status;

  const std::size_t existing = strnlen(text, kDisplayTextCapacity);
  if (existing == kDisplayTextCapacity) return kNoMemory;  // no terminator: no room
  std::optional<std::string> formatted;
  try {
    formatted = formatTextForDisplay(header, kDisplayTextCapacity - existing - 1);
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  }
  if (!formatted) return kNoMemory;
  std::memcpy(text + existing, formatted->data(), formatted->size());
  text[existing + formatted->size()] = '\0';
  *length = static_cast<int>(formatted->size() + 1);
  return kOk;
}

int ArbDataFile::open(ByteSource& source) {
  source_ = &source;
  const long long got = source.readAt(0, header_.data(), header_.size());
  if (got < 0) return kDataReadError;
  if (static_cast<std::size_t>(got) < header_.size()) return kHeaderCrcMismatch;

  sampleCount_ = arb::loadU32(&header_[arb::offset::kSampleCount]);
  dataOffset_ = arb::loadU32(&header_[arb::offset::kDataOffset]);
  const std::uint32_t version = arb::loadU32(&header_[arb::offset::kVersion]);
  encrypted_ = version < arb::kVersionMultiSegment || header_[arb::offset::kEncryptedFlag] != 0;

  // The block the CRC covers must lie between the header and the end of the file.
  if (dataOffset_ < arb::kHeaderLength) return kHeaderCrcMismatch;
  const std::uint64_t blockLength = dataOffset_ - arb::kHeaderLength;
  if (blockLength > kHeaderBlockLimit || !source.holds(arb::kHeaderLength, blockLength)) {
    return kHeaderCrcMismatch;
  }
  std::array<std::uint8_t, kHeaderBlockLimit> block{};
  const long long blockGot = source.readAt(arb::kHeaderLength, block.data(), blockLength);
  if (blockGot < 0) return kDataReadError;
  if (static_cast<std::uint64_t>(blockGot) != blockLength) return kHeaderCrcMismatch;

  std::uint32_t crc = 0;
  int status = cryptoCrc32(block.data(), static_cast<std::uint32_t>(blockLength), crc);
  if (status != kOk) return status;
  if (crc != arb::loadU32(&header_[arb::offset::kHeaderCrc])) return kHeaderCrcMismatch;

  std::uint32_t keyLength = static_cast<std::uint32_t>(dataKey_.size());
  status = cryptoEncOrDec(kOpKeyWrap, &header_[arb::offset::kWrappedKey],
                          static_cast<std::uint32_t>(arb::kWrappedKeyLength), nullptr,
                          dataKey_.data(), &keyLength, kDecrypt);
  if (status != kOk) return status;
  if (keyLength != dataKey_.size()) return kCryptoCallFailed;
  return kOk;
}

int ArbDataFile::readPairs(std::int16_t* destination, std::size_t pairs) {
  const std::uint64_t wanted = std::uint64_t{pairs} * arb::kBytesPerPair;
  const std::uint64_t available =
      dataOffset_ <= source_->size() ? source_->size() - dataOffset_ : 0;
  auto* out = reinterpret_cast<std::uint8_t*>(destination);
  std::uint64_t copied = 0;

  if (!encrypted_) {
    const std::uint64_t length = std::min(wanted, available);
    const long long got = source_->readAt(dataOffset_, out, static_cast<std::size_t>(length));
    if (got < 0) return kDataReadError;
    copied = static_cast<std::uint64_t>(got);
  } else {
    // Only whole cipher blocks present in the file decrypt to data; the read covers
    // the requested pairs rounded up to a block, never more than the file holds.
    std::uint64_t length = std::min(arb::roundUpToBlock(wanted), available);
    length -= length % arb::kCipherBlockLength;
    if (length > 0) {
      if (length > std::numeric_limits<std::uint32_t>::max()) {
        length = std::numeric_limits<std::uint32_t>::max() / arb::kCipherBlockLength *
                 arb::kCipherBlockLength;
      }
      std::unique_ptr<std::uint8_t[]> input(new (std::nothrow) std::uint8_t[length]());
      std::unique_ptr<std::uint8_t[]> plain(new (std::nothrow) std::uint8_t[length]());
      if (!input || !plain) return kDataNoMemory;
      const long long got =
          source_->readAt(dataOffset_, input.get(), static_cast<std::size_t>(length));
      if (got < 0) return kDataReadError;
      length = static_cast<std::uint64_t>(got) -
               static_cast<std::uint64_t>(got) % arb::kCipherBlockLength;
      if (length > 0) {
        std::uint32_t produced = static_cast<std::uint32_t>(length);
        const int status =
            cryptoEncOrDec(kOpDataCipher, input.get(), static_cast<std::uint32_t>(length),
                           dataKey_.data(), plain.get(), &produced, kDecrypt);
        if (status != kOk) return status;
        if (produced != length) return kCryptoCallFailed;
        copied = std::min(wanted, length);
        std::memcpy(out, plain.get(), static_cast<std::size_t>(copied));
      }
    }
  }
  // Pairs the file does not hold read as silence.
  if (wanted > copied) std::memset(out + copied, 0, static_cast<std::size_t>(wanted - copied));
  if constexpr (std::endian::native == std::endian::big) {
    for (std::size_t i = 0; i < 2 * pairs; ++i) {
      destination[i] = static_cast<std::int16_t>(arb::loadU16(out + 2 * i));
    }
  }
  return kOk;
}

int readSamplesFrom(ByteSource& source, std::size_t pairs, std::int16_t* destination) {
  ArbDataFile file;
  const int status = file.open(source);
  if (status != kOk) return status;
  return file.readPairs(destination, pairs);
}

int readSamples(const char* path, std::size_t pairs, std::int16_t* destination) {
  if (std::strcmp(path, "Blank") == 0) {
    if (pairs > 0) std::memset(destination, 0, pairs * arb::kBytesPerPair);
    return kOk;
  }
  FileSource source(path);
  if (!source.isOpen()) return kDataCannotOpen;
  return readSamplesFrom(source, pairs, destination);
}

}  // namespace seqlink

// The exports turn anything thrown inside into a status: nothing but statuses
// crosses the C boundary.
extern "C" SEQLINK_API int readArbFileInf(const char* path, int* sampleCount, double* clock,
                                          double* energy) {
  try {
    seqlink::FileSource source(path);
    if (!source.isOpen()) return seqlink::kFileCannotOpen;
    return seqlink::readInfFrom(source, sampleCount, clock, energy);
  } catch (...) {
    return seqlink::kNoMemory;
  }
}

extern "C" SEQLINK_API int readArbFileAllInf(const char* path, char* text, int* length) {
  try {
    seqlink::FileSource source(path);
    if (!source.isOpen()) return seqlink::kFileCannotOpen;
    return seqlink::readAllInfFrom(source, text, length);
  } catch (...) {
    return seqlink::kNoMemory;
  }
}

extern "C" SEQLINK_API int readArbFileData(const char* path, int sampleCount, short* samples) {
  if (sampleCount < 0 || (samples == nullptr && sampleCount > 0)) return seqlink::kDataNoMemory;
  if (path == nullptr) return seqlink::kDataCannotOpen;
  try {
    return seqlink::readSamples(path, static_cast<std::size_t>(sampleCount), samples);
  } catch (...) {
    return seqlink::kDataNoMemory;
  }
}
