// .arb readers: readArbFileInf, readArbFileAllInf, readArbFileData and ArbDataFile.
// Headers, entries and text are decoded by the format module, which checks every
// offset and length taken from a file against the file size; each export turns the
// module's results into its own statuses through one table, a column per call.
#include "arb_readers.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <iterator>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "crypto_binding.h"
#include "file_source.h"
#include "item_text.h"
#include "seqlink.h"

namespace arbsuite::seqlink {
namespace {

using arbsuite::arb::ParseStatus;

// The status each reading call returns for each of the format module's results:
// one row per result, in the order of ParseStatus, one column per call. A version-2
// file whose first entry is no text is a multi-segment file to readArbFileInf; the
// sample reader reports a read error as one and any header it cannot use as a CRC
// mismatch.
struct StatusRow {
  ParseStatus result;
  int inf;     // readArbFileInf
  int allInf;  // readArbFileAllInf
  int data;    // the sample reader: readArbFileData, ArbDataFile
};

constexpr int kBadHeader = SEQLINK_BAD_HEADER;
constexpr int kCrcMismatch = SEQLINK_HEADER_CRC_MISMATCH;

// clang-format off
constexpr StatusRow kStatusTable[] = {
    // result                      inf                            allInf      data
    {ParseStatus::ok,              SEQLINK_OK,                    SEQLINK_OK, SEQLINK_OK},
    {ParseStatus::tooShort,        kBadHeader,                    kBadHeader, kCrcMismatch},
    {ParseStatus::readError,       kBadHeader,                    kBadHeader, SEQLINK_DATA_READ_ERROR},
    {ParseStatus::badMagic,        kBadHeader,                    kBadHeader, kCrcMismatch},
    {ParseStatus::badHeaderLength, kBadHeader,                    kBadHeader, kCrcMismatch},
    {ParseStatus::badDataOffset,   kBadHeader,                    kBadHeader, kCrcMismatch},
    {ParseStatus::badDataLength,   kBadHeader,                    kBadHeader, kCrcMismatch},
    {ParseStatus::badVersion,      kBadHeader,                    kBadHeader, kCrcMismatch},
    {ParseStatus::badInfoBlock,    kBadHeader,                    kBadHeader, kCrcMismatch},
    {ParseStatus::blockTooLong,    kBadHeader,                    kBadHeader, kCrcMismatch},
    {ParseStatus::wrongEntryType,  SEQLINK_MULTI_SEGMENT_REFUSED, kBadHeader, kCrcMismatch},
    {ParseStatus::badHeaderCrc,    kBadHeader,                    kBadHeader, kCrcMismatch},
};
// clang-format on

// Every result has its row, at the index of its value.
constexpr bool rowsInOrder() {
  for (std::size_t k = 0; k < std::size(kStatusTable); ++k)
    if (static_cast<std::size_t>(kStatusTable[k].result) != k) return false;
  return std::size(kStatusTable) == static_cast<std::size_t>(ParseStatus::badHeaderCrc) + 1;
}
static_assert(rowsInOrder(), "kStatusTable needs one row per ParseStatus, in order");

// The status `call` (a column of kStatusTable) returns for `result`; a value outside
// the enumeration is a header the call cannot use, as the last row's result is.
int statusFor(int StatusRow::*call, ParseStatus result) {
  const auto row = std::min(static_cast<std::size_t>(result), std::size(kStatusTable) - 1);
  return kStatusTable[row].*call;
}

// The text header as readArbFileInf takes it. Version 2 and above: only a file whose
// first entry is the text header is a single waveform (wrongEntryType otherwise);
// its text must lie inside the file. Version 1: the first kInfTextLimit bytes of the
// header block, fewer when the file or the block ends first.
ParseStatus singleWaveformText(arbsuite::arb::ByteSource& source,
                               const arbsuite::arb::HeaderRecord& header, std::string& text) {
  const auto version = header.version();
  if (!version) return ParseStatus::tooShort;
  switch (arbsuite::arb::bodyKind(*version)) {
    case arbsuite::arb::BodyKind::infoBlock: {
      arbsuite::arb::EntryRecord first;
      const ParseStatus status = arbsuite::arb::readEntry(source, 0, first);
      if (status != ParseStatus::ok) return status;
      const auto type = first.type();
      if (!type) return ParseStatus::tooShort;
      if (*type != arbsuite::arb::kEntryTypeText) return ParseStatus::wrongEntryType;
      const auto block = first.block();
      if (!block) return ParseStatus::tooShort;
      return arbsuite::arb::readText(source, *block, text);
    }
    case arbsuite::arb::BodyKind::textHeader: {
      const auto dataOffset = header.dataOffset();
      if (!dataOffset) return ParseStatus::tooShort;
      arbsuite::arb::ByteRange block;
      const ParseStatus status = arbsuite::arb::headerBlockRange(*dataOffset, block);
      if (status != ParseStatus::ok) return status;
      block.length = std::min<std::uint64_t>(block.length, kInfTextLimit);
      return arbsuite::arb::readTextUpTo(source, block, text);
    }
    case arbsuite::arb::BodyKind::unknown:
      break;
  }
  return ParseStatus::badVersion;
}

}  // namespace

int readInfFrom(arbsuite::arb::ByteSource& source, int* sampleCount, double* clock,
                double* energy) {
  if (sampleCount == nullptr || clock == nullptr || energy == nullptr) return SEQLINK_NO_MEMORY;
  arbsuite::arb::HeaderRecord header;
  ParseStatus status = arbsuite::arb::readHeader(source, header);
  if (status != ParseStatus::ok) return statusFor(&StatusRow::inf, status);
  const auto count = header.sampleCount();
  if (!count) return statusFor(&StatusRow::inf, ParseStatus::tooShort);
  *sampleCount = static_cast<int>(*count);  // kept whatever happens later

  std::string text;
  try {
    status = singleWaveformText(source, header, text);
  } catch (const std::bad_alloc&) {
    return SEQLINK_NO_MEMORY;
  }
  if (status != ParseStatus::ok) return statusFor(&StatusRow::inf, status);

  const std::optional<double> clockValue = numberFromItem(text, "{Clock");
  if (!clockValue) return SEQLINK_BAD_HEADER;
  *clock = *clockValue;
  const std::optional<double> energyValue = numberFromItem(text, "{Value");
  if (!energyValue) return SEQLINK_BAD_HEADER;
  *energy = *energyValue;
  return SEQLINK_OK;
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

int readAllInfFrom(arbsuite::arb::ByteSource& source, char* text, int* length) {
  if (text == nullptr || length == nullptr) return SEQLINK_NO_MEMORY;
  arbsuite::arb::HeaderRecord header;
  ParseStatus status = arbsuite::arb::readHeader(source, header);
  if (status != ParseStatus::ok) return statusFor(&StatusRow::allInf, status);
  arbsuite::arb::ByteRange textRange;
  status = arbsuite::arb::locateTextHeader(source, header, textRange);
  if (status != ParseStatus::ok) return statusFor(&StatusRow::allInf, status);

  try {
    std::string headerText;
    status = arbsuite::arb::readText(source, textRange, headerText);
    if (status != ParseStatus::ok) return statusFor(&StatusRow::allInf, status);

    const std::size_t existing = strnlen(text, SEQLINK_TEXT_CAPACITY);
    if (existing == SEQLINK_TEXT_CAPACITY) return SEQLINK_NO_MEMORY;  // no terminator: no room
    const std::optional<std::string> formatted =
        formatTextForDisplay(headerText, SEQLINK_TEXT_CAPACITY - existing - 1);
    if (!formatted) return SEQLINK_NO_MEMORY;
    std::memcpy(text + existing, formatted->data(), formatted->size());
    text[existing + formatted->size()] = '\0';
    *length = static_cast<int>(formatted->size() + 1);
    return SEQLINK_OK;
  } catch (const std::bad_alloc&) {
    return SEQLINK_NO_MEMORY;
  }
}

int ArbDataFile::open(arbsuite::arb::ByteSource& source) {
  source_ = &source;
  arbsuite::arb::HeaderRecord record;
  ParseStatus status = arbsuite::arb::readHeader(source, record);
  if (status != ParseStatus::ok) return statusFor(&StatusRow::data, status);
  const std::optional<arbsuite::arb::ArbHeader> header = record.decode();
  if (!header) return statusFor(&StatusRow::data, ParseStatus::tooShort);
  header_ = *header;
  encrypted_ = arbsuite::arb::dataEncrypted(header_.version, header_.encryptedFlag);

  // The block the CRC covers must lie between the header and the end of the file.
  arbsuite::arb::ByteRange blockRange;
  status = arbsuite::arb::headerBlockRange(header_.dataOffset, blockRange, kHeaderBlockLimit);
  if (status != ParseStatus::ok) return statusFor(&StatusRow::data, status);
  std::array<std::uint8_t, kHeaderBlockLimit> block{};
  status = arbsuite::arb::readBytes(source, blockRange, block.data());
  if (status != ParseStatus::ok) return statusFor(&StatusRow::data, status);

  std::uint32_t crc = 0;
  int result = cryptoCrc32(block.data(), static_cast<std::uint32_t>(blockRange.length), crc);
  if (result != SEQLINK_OK) return result;
  status = arbsuite::arb::matchHeaderCrc(header_.headerCrc, crc);
  if (status != ParseStatus::ok) return statusFor(&StatusRow::data, status);

  std::uint32_t keyLength = static_cast<std::uint32_t>(dataKey_.size());
  result = cryptoEncOrDec(WAVECRYPT_OP_KEY_WRAP, header_.wrappedKey.data(),
                          static_cast<std::uint32_t>(header_.wrappedKey.size()), nullptr,
                          dataKey_.data(), &keyLength, WAVECRYPT_DECRYPT);
  if (result != SEQLINK_OK) return result;
  if (keyLength != dataKey_.size()) return SEQLINK_CRYPTO_CALL_FAILED;
  return SEQLINK_OK;
}

int ArbDataFile::readPairs(std::int16_t* destination, std::size_t pairs) {
  return readPairs(destination, pairs, kStagedReadLimit);
}

int ArbDataFile::readPairs(std::int16_t* destination, std::size_t pairs,
                           std::uint64_t stagedReadLimit) {
  const std::uint64_t dataOffset = header_.dataOffset;
  const std::uint64_t wanted = std::uint64_t{pairs} * arbsuite::arb::kBytesPerPair;
  const std::uint64_t available = dataOffset <= source_->size() ? source_->size() - dataOffset : 0;
  auto* out = reinterpret_cast<std::uint8_t*>(destination);
  std::uint64_t copied = 0;

  if (!encrypted_) {
    const std::uint64_t length = std::min(wanted, available);
    const long long got = source_->readAt(dataOffset, out, static_cast<std::size_t>(length));
    if (got < 0) return SEQLINK_DATA_READ_ERROR;
    copied = static_cast<std::uint64_t>(got);
  } else {
    // Only whole cipher blocks present in the file decrypt to data; the read covers
    // the requested pairs rounded up to a block, never more than the file holds nor
    // more than one cipher call takes.
    const std::uint64_t length =
        std::min({arbsuite::arb::roundDownToBlock(
                      std::min(arbsuite::arb::roundUpToBlock(wanted), available)),
                  arbsuite::arb::roundDownToBlock(std::numeric_limits<std::uint32_t>::max())});
    // The blocks that lie wholly inside the caller's pairs are read and decrypted in
    // place; with an odd pair count the last block also holds the padding and does
    // not fit there.
    const std::uint64_t inPlace = arbsuite::arb::roundDownToBlock(std::min(wanted, length));
    const int status = length > inPlace && length <= stagedReadLimit
                           ? readStaged(out, wanted, length, copied)
                           : readInPlace(out, inPlace, length - inPlace, copied);
    if (status != SEQLINK_OK) {
      // No cipher text is left in the caller's buffer.
      std::memset(out, 0, static_cast<std::size_t>(std::min(wanted, length)));
      return status;
    }
    copied = std::min(copied, wanted);
  }
  // Pairs the file does not hold read as silence.
  if (wanted > copied) std::memset(out + copied, 0, static_cast<std::size_t>(wanted - copied));
  if constexpr (std::endian::native == std::endian::big) {
    for (std::size_t i = 0; i < 2 * pairs; ++i) {
      destination[i] = static_cast<std::int16_t>(arbsuite::arb::loadU16(out + 2 * i));
    }
  }
  return SEQLINK_OK;
}

int ArbDataFile::decrypt(std::uint8_t* data, std::uint64_t length) {
  if (length == 0) return SEQLINK_OK;
  std::uint32_t produced = static_cast<std::uint32_t>(length);
  const int status = cryptoEncOrDec(WAVECRYPT_OP_RC5, data, static_cast<std::uint32_t>(length),
                                    dataKey_.data(), data, &produced, WAVECRYPT_DECRYPT);
  if (status != SEQLINK_OK) return status;
  return produced == length ? SEQLINK_OK : SEQLINK_CRYPTO_CALL_FAILED;
}

int ArbDataFile::readStaged(std::uint8_t* out, std::uint64_t capacity, std::uint64_t length,
                            std::uint64_t& produced) {
  std::unique_ptr<std::uint8_t[]> staged(new (std::nothrow)
                                             std::uint8_t[static_cast<std::size_t>(length)]);
  if (!staged) return SEQLINK_DATA_NO_MEMORY;
  const long long got =
      source_->readAt(header_.dataOffset, staged.get(), static_cast<std::size_t>(length));
  if (got < 0) return SEQLINK_DATA_READ_ERROR;
  const std::uint64_t whole = arbsuite::arb::roundDownToBlock(static_cast<std::uint64_t>(got));
  const int status = decrypt(staged.get(), whole);
  if (status != SEQLINK_OK) return status;
  produced = std::min(whole, capacity);
  std::memcpy(out, staged.get(), static_cast<std::size_t>(produced));
  return SEQLINK_OK;
}

int ArbDataFile::readInPlace(std::uint8_t* out, std::uint64_t inPlace, std::uint64_t tail,
                             std::uint64_t& produced) {
  const long long got = source_->readAt(header_.dataOffset, out, static_cast<std::size_t>(inPlace));
  if (got < 0) return SEQLINK_DATA_READ_ERROR;
  const std::uint64_t whole = arbsuite::arb::roundDownToBlock(static_cast<std::uint64_t>(got));
  int status = decrypt(out, whole);
  if (status != SEQLINK_OK) return status;
  produced = whole;
  if (tail == 0 || whole < inPlace) return SEQLINK_OK;

  // The last block, in a call of its own: its second half is padding.
  std::array<std::uint8_t, arbsuite::arb::kCipherBlockLength> block{};
  const long long gotTail =
      source_->readAt(header_.dataOffset + inPlace, block.data(), static_cast<std::size_t>(tail));
  if (gotTail < 0) return SEQLINK_DATA_READ_ERROR;
  if (static_cast<std::uint64_t>(gotTail) < tail) return SEQLINK_OK;
  status = decrypt(block.data(), block.size());
  if (status != SEQLINK_OK) return status;
  std::memcpy(out + inPlace, block.data(), arbsuite::arb::kCipherBlockLength / 2);
  produced = inPlace + arbsuite::arb::kCipherBlockLength / 2;
  return SEQLINK_OK;
}

int readSamplesFrom(arbsuite::arb::ByteSource& source, std::size_t pairs,
                    std::int16_t* destination) {
  ArbDataFile file;
  const int status = file.open(source);
  if (status != SEQLINK_OK) return status;
  return file.readPairs(destination, pairs);
}

int readSamples(const char* path, std::size_t pairs, std::int16_t* destination) {
  if (path == kBlankName) {
    if (pairs > 0) std::memset(destination, 0, pairs * arbsuite::arb::kBytesPerPair);
    return SEQLINK_OK;
  }
  FileSource source(path);
  if (!source.isOpen()) return SEQLINK_DATA_CANNOT_OPEN;
  return readSamplesFrom(source, pairs, destination);
}

}  // namespace arbsuite::seqlink

// The exports turn anything thrown inside into a status: nothing but statuses
// crosses the C boundary.
extern "C" SEQLINK_API int readArbFileInf(const char* path, int* sampleCount, double* clock,
                                          double* energy) {
  try {
    arbsuite::seqlink::FileSource source(path);
    if (!source.isOpen()) return SEQLINK_FILE_CANNOT_OPEN;
    return arbsuite::seqlink::readInfFrom(source, sampleCount, clock, energy);
  } catch (...) {
    return SEQLINK_NO_MEMORY;
  }
}

extern "C" SEQLINK_API int readArbFileAllInf(const char* path, char* text, int* length) {
  try {
    arbsuite::seqlink::FileSource source(path);
    if (!source.isOpen()) return SEQLINK_FILE_CANNOT_OPEN;
    return arbsuite::seqlink::readAllInfFrom(source, text, length);
  } catch (...) {
    return SEQLINK_NO_MEMORY;
  }
}

extern "C" SEQLINK_API int readArbFileData(const char* path, int sampleCount, short* samples) {
  if (sampleCount < 0 || (samples == nullptr && sampleCount > 0)) return SEQLINK_DATA_NO_MEMORY;
  if (path == nullptr) return SEQLINK_DATA_CANNOT_OPEN;
  try {
    return arbsuite::seqlink::readSamples(path, static_cast<std::size_t>(sampleCount), samples);
  } catch (...) {
    return SEQLINK_DATA_NO_MEMORY;
  }
}
