// crtMultiSegArb: builds the info block (entry table, segment list, segment records,
// text header), protects it with a CRC and writes the header, the block and the
// encrypted samples of a multi-segment waveform.
#include "multiseg_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "arb_format.h"
#include "crypto_binding.h"
#include "item_text.h"
#include "seqlink.h"
#include "statuses.h"

namespace seqlink {
namespace {

// The info block is built in a buffer of this size; the text gets what is left,
// less a 512-byte reserve for every segment item.
inline constexpr std::int64_t kTextSpaceBase = 20460;
inline constexpr std::int64_t kItemReserve = 512;
inline constexpr std::size_t kItemCapacity = 512;  // one formatted item, terminator included

template <typename... Args>
std::string formatText(const char* format, Args... args) {
  const int length = std::snprintf(nullptr, 0, format, args...);
  if (length < 0) return {};
  std::string text(static_cast<std::size_t>(length), '\0');
  std::snprintf(text.data(), text.size() + 1, format, args...);
  return text;
}

// Permission bits a newly created file gets (0666 less the process umask), read
// without changing the umask.
mode_t creationMode() {
  mode_t mask = 022;
  if (std::FILE* status = std::fopen("/proc/self/status", "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, status) != nullptr) {
      unsigned value = 0;
      if (std::sscanf(line, "Umask: %o", &value) == 1) {
        mask = static_cast<mode_t>(value);
        break;
      }
    }
    std::fclose(status);
  }
  return 0666 & ~mask;
}

bool writeAll(int fd, std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(wrote);
  }
  return true;
}

int buildMultiSegment(const char* names, const double* clockRates, const int* sampleCounts,
                      const double* energies, unsigned segmentCount, const short* samples,
                      unsigned totalSamples, const char* outputFile) {
  if (outputFile == nullptr || *outputFile == '\0') return kDataCannotOpen;

  // Room for the text in the info block; too many segments leave none.
  const std::int64_t segments = segmentCount;
  const std::int64_t entries = segments + 2;
  const std::int64_t textSpace = kTextSpaceBase -
                                 static_cast<std::int64_t>(arb::kEntryLength) * entries -
                                 static_cast<std::int64_t>(arb::kSegmentRecordLength) * segments;
  if (textSpace <= 0) return kDataNoMemory;

  if (segmentCount > 0 && (names == nullptr || clockRates == nullptr || sampleCounts == nullptr ||
                           energies == nullptr)) {
    return kBadItem;
  }
  if (totalSamples > 0 && samples == nullptr) return kBadItem;
  std::uint64_t pairsInSegments = 0;
  for (unsigned i = 0; i < segmentCount; ++i) {
    if (strnlen(names + arb::kSegmentNameLength * i, arb::kSegmentNameLength) ==
        arb::kSegmentNameLength) {
      return kNameTooLong;
    }
    if (sampleCounts[i] < 0) return kBadItem;
    pairsInSegments += static_cast<std::uint64_t>(sampleCounts[i]);
  }
  // The segment records must describe exactly the samples that are written.
  if (pairsInSegments != totalSamples) return kBadItem;
  const std::uint64_t dataLength = std::uint64_t{totalSamples} * arb::kBytesPerPair;
  if (dataLength > std::numeric_limits<std::uint32_t>::max()) return kBadItem;

  const std::span<const std::int16_t> values(samples, 2 * std::size_t{totalSamples});
  const long double energy = exactSignalEnergy(values);

  // Text header: the summary, then one item per segment.
  std::string text;
  {
    ClassicLocaleScope classic;  // a decimal point whatever the host's locale
    text = formatText(arb::kVersion2SummaryTemplate, energy,
                      static_cast<unsigned long long>(dataLength), segmentCount);
    if (static_cast<std::int64_t>(text.size()) + 1 > textSpace) return kDataNoMemory;
    for (unsigned i = 0; i < segmentCount; ++i) {
      const std::string item = formatText(arb::kVersion2SegmentTemplate, static_cast<int>(i),
                                          names + arb::kSegmentNameLength * i, clockRates[i],
                                          static_cast<unsigned>(sampleCounts[i]), energies[i]);
      if (item.size() + 1 > kItemCapacity) return kDataNoMemory;
      const std::int64_t room = textSpace - kItemReserve * (static_cast<std::int64_t>(i) + 1);
      if (static_cast<std::int64_t>(text.size() + item.size()) + 1 > room) return kDataNoMemory;
      text += item;
    }
  }

  // Info block: entry count, entry table, segment list, segment records, text.
  const std::size_t entryCount = segmentCount + 2u;
  const std::size_t blockLength = 4 + arb::kEntryLength * entryCount + arb::kSegmentListLength +
                                  arb::kSegmentRecordLength * segmentCount + text.size();
  std::vector<std::uint8_t> block(blockLength, 0);
  arb::storeU32(block.data(), static_cast<std::uint32_t>(entryCount));
  std::vector<arb::ArbEntry> table;
  std::uint32_t nextOffset =
      static_cast<std::uint32_t>(arb::kHeaderLength + 4 + arb::kEntryLength * entryCount);
  auto addEntry = [&](std::uint32_t type, std::size_t length) {
    table.push_back({type, static_cast<std::uint32_t>(length), nextOffset});
    nextOffset += static_cast<std::uint32_t>(length);
  };
  addEntry(arb::kEntryTypeSegmentList, arb::kSegmentListLength);
  for (unsigned i = 0; i < segmentCount; ++i) {
    addEntry(arb::kEntryTypeSegmentRecord, arb::kSegmentRecordLength);
  }
  addEntry(arb::kEntryTypeText, text.size());
  for (std::size_t e = 0; e < table.size(); ++e) {
    arb::encodeEntry(&block[4 + arb::kEntryLength * e], table[e]);
  }
  std::size_t at = 4 + arb::kEntryLength * entryCount;
  arb::encodeSegmentList(&block[at], segmentCount, table[1].offset);
  at += arb::kSegmentListLength;
  std::uint32_t segmentDataOffset = 0;
  for (unsigned i = 0; i < segmentCount; ++i) {
    arb::ArbSegmentRecord record;
    record.index = i;
    record.dataOffset = segmentDataOffset;
    record.clockRate = clockRates[i];
    record.dataLength = static_cast<std::uint32_t>(sampleCounts[i]) * arb::kBytesPerPair;
    record.name = names + arb::kSegmentNameLength * i;
    arb::encodeSegmentRecord(&block[at], record);
    segmentDataOffset += record.dataLength;
    at += arb::kSegmentRecordLength;
  }
  std::memcpy(&block[at], text.data(), text.size());

  const std::uint64_t paddedData = arb::roundUpToBlock(dataLength);
  const std::uint64_t fileLength = arb::kHeaderLength + blockLength + paddedData;
  if (fileLength > std::numeric_limits<std::uint32_t>::max()) return kBadItem;

  // Crypto, in this order: key draw, key wrap, CRC, sample encryption.
  std::uint8_t dataKey[arb::kDataKeyLength] = {};
  int status = cryptoRandomKey(dataKey);
  if (status != kOk) return status;
  arb::ArbHeader header;
  std::uint32_t wrappedLength = static_cast<std::uint32_t>(arb::kWrappedKeyLength);
  status = cryptoEncOrDec(kOpKeyWrap, dataKey, static_cast<std::uint32_t>(arb::kDataKeyLength),
                          nullptr, header.wrappedKey.data(), &wrappedLength, kEncrypt);
  if (status != kOk) return status;
  if (wrappedLength != arb::kWrappedKeyLength) return kCryptoCallFailed;
  status = cryptoCrc32(block.data(), static_cast<std::uint32_t>(block.size()), header.headerCrc);
  if (status != kOk) return status;

  header.fileLength = static_cast<std::uint32_t>(fileLength);
  header.encryptedFlag = 1;
  header.entryTableFlag = 1;
  header.version = arb::kVersionMultiSegment;
  header.sampleCount = totalSamples;
  header.dataOffset = static_cast<std::uint32_t>(arb::kHeaderLength + blockLength);
  const arb::HeaderBytes headerBytes = arb::encodeHeader(header);

  // Encrypt before creating the file, so that a failing cipher leaves nothing behind.
  std::unique_ptr<std::uint8_t[]> cipher(new (std::nothrow) std::uint8_t[paddedData + 1]());
  if (!cipher) return kDataNoMemory;
  if (dataLength > 0) {
    std::uint32_t produced = static_cast<std::uint32_t>(paddedData);
    status = cryptoEncOrDec(kOpDataCipher, samples, static_cast<std::uint32_t>(dataLength), dataKey,
                            cipher.get(), &produced, kEncrypt);
    if (status != kOk) return status;
    if (produced != paddedData) return kCryptoCallFailed;
  }

  std::vector<std::uint8_t> head(headerBytes.begin(), headerBytes.end());
  head.insert(head.end(), block.begin(), block.end());
  if (!replaceFileAtomically(outputFile, head,
                             std::span<const std::uint8_t>(cipher.get(), paddedData))) {
    return kDataCannotOpen;
  }
  return kOk;
}

}  // namespace

long double exactSignalEnergy(std::span<const std::int16_t> values) {
  // v^2 <= 2^30, so 2^33 values still sum exactly in 64 bits.
  std::uint64_t sum = 0;
  for (const std::int16_t v : values) {
    sum += static_cast<std::uint64_t>(static_cast<std::int64_t>(v) * v);
  }
  return static_cast<long double>(sum) / (arb::kFullScale * arb::kFullScale);
}

bool replaceFileAtomically(const std::string& path, std::span<const std::uint8_t> head,
                           std::span<const std::uint8_t> body) {
  // Writing used to go through a symbolic link to its target; keep it that way, and
  // keep the permissions of a file that is replaced.
  std::string destination = path;
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
    if (char* target = ::realpath(path.c_str(), nullptr)) {
      destination = target;
      std::free(target);
    }
  }
  const mode_t mode = ::stat(destination.c_str(), &info) == 0 && S_ISREG(info.st_mode)
                          ? (info.st_mode & 07777)
                          : creationMode();

  std::string temporary = destination + ".XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) return false;
  bool ok = ::fchmod(fd, mode) == 0 && writeAll(fd, head) && writeAll(fd, body);
  ok = (::close(fd) == 0) && ok;
  if (ok) ok = ::rename(temporary.c_str(), destination.c_str()) == 0;
  if (!ok) ::unlink(temporary.c_str());
  return ok;
}

}  // namespace seqlink

extern "C" SEQLINK_API int crtMultiSegArb(const char* names, const double* clockRates,
                                          const int* sampleCounts, const double* energies,
                                          unsigned segmentCount, const short* samples,
                                          unsigned totalSamples, uint32_t /*reserved*/,
                                          const char* outputFile) {
  try {
    return seqlink::buildMultiSegment(names, clockRates, sampleCounts, energies, segmentCount,
                                      samples, totalSamples, outputFile);
  } catch (...) {
    return seqlink::kDataNoMemory;
  }
}
