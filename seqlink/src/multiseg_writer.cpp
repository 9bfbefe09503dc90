// crtMultiSegArb: builds the info block (entry table, segment list, segment records,
// text header), protects it with a CRC and writes the header, the block and the
// encrypted samples of a multi-segment waveform.
#include "multiseg_writer.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "arb_format.h"
#include "crypto_binding.h"
#include "item_text.h"
#include "output_file.h"
#include "seqlink.h"
#include "wavecrypt.h"

namespace seqlink {
namespace {

// A host's name slot is copied into a segment record's name field as it is.
static_assert(SEQLINK_NAME_SLOT == arb::kSegmentNameLength);

// One formatted segment item, terminator included, is built in a buffer of this
// size; the text accounting reserves as much for every item appended so far.
inline constexpr std::int64_t kItemBufferLength = 512;

// A name the text header cannot hold: its items are "{key:value}" on one line.
bool breaksTextHeader(const char* name) { return std::strpbrk(name, "{}\r\n") != nullptr; }

int buildMultiSegment(const char* names, const double* clockRates, const int* sampleCounts,
                      const double* energies, unsigned segmentCount, const short* samples,
                      unsigned totalSamples, const char* outputFile) {
  if (outputFile == nullptr || *outputFile == '\0') return SEQLINK_DATA_CANNOT_OPEN;

  // Room for the text in the info block; too many segments leave none.
  const std::int64_t textSpace = static_cast<std::int64_t>(arb::kInfoBlockCapacity) -
                                 static_cast<std::int64_t>(arb::infoBlockLength(segmentCount, 0));
  if (textSpace <= 0) return SEQLINK_DATA_NO_MEMORY;

  if (segmentCount > 0 && (names == nullptr || clockRates == nullptr || sampleCounts == nullptr ||
                           energies == nullptr)) {
    return SEQLINK_BAD_ITEM;
  }
  if (totalSamples > 0 && samples == nullptr) return SEQLINK_BAD_ITEM;
  std::uint64_t pairsInSegments = 0;
  for (unsigned i = 0; i < segmentCount; ++i) {
    if (strnlen(names + SEQLINK_NAME_SLOT * i, SEQLINK_NAME_SLOT) == SEQLINK_NAME_SLOT) {
      return SEQLINK_NAME_TOO_LONG;
    }
    if (breaksTextHeader(names + SEQLINK_NAME_SLOT * i)) return SEQLINK_BAD_ITEM;
    if (sampleCounts[i] < 0) return SEQLINK_BAD_ITEM;
    // The clock and energy go into the records and the text as numbers.
    if (!std::isfinite(clockRates[i]) || clockRates[i] < 0 || !std::isfinite(energies[i]) ||
        energies[i] < 0) {
      return SEQLINK_BAD_ITEM;
    }
    pairsInSegments += static_cast<std::uint64_t>(sampleCounts[i]);
  }
  // The segment records must describe exactly the samples that are written.
  if (pairsInSegments != totalSamples) return SEQLINK_BAD_ITEM;
  const std::uint64_t dataLength = std::uint64_t{totalSamples} * arb::kBytesPerPair;
  if (dataLength > std::numeric_limits<std::uint32_t>::max()) return SEQLINK_BAD_ITEM;

  const std::span<const std::int16_t> values(samples, 2 * std::size_t{totalSamples});
  const long double energy = exactSignalEnergy(values);

  // Text header: the summary, then one item per segment.
  std::string text;
  {
    ClassicLocaleScope classic;  // a decimal point whatever the host's locale
    text = arb::formatVersion2Summary(energy, dataLength, segmentCount).value_or(std::string());
    if (static_cast<std::int64_t>(text.size()) + 1 > textSpace) return SEQLINK_DATA_NO_MEMORY;
    for (unsigned i = 0; i < segmentCount; ++i) {
      const std::string item =
          arb::formatVersion2Segment(static_cast<int>(i), names + SEQLINK_NAME_SLOT * i,
                                     clockRates[i], static_cast<unsigned>(sampleCounts[i]),
                                     energies[i])
              .value_or(std::string());
      if (static_cast<std::int64_t>(item.size()) + 1 > kItemBufferLength) {
        return SEQLINK_DATA_NO_MEMORY;
      }
      const std::int64_t room = textSpace - kItemBufferLength * (static_cast<std::int64_t>(i) + 1);
      if (static_cast<std::int64_t>(text.size() + item.size()) + 1 > room) {
        return SEQLINK_DATA_NO_MEMORY;
      }
      text += item;
    }
  }

  // Info block: entry table, segment list, segment records, text.
  std::vector<arb::ArbSegmentRecord> records(segmentCount);
  std::uint32_t segmentDataOffset = 0;
  for (unsigned i = 0; i < segmentCount; ++i) {
    arb::ArbSegmentRecord& record = records[i];
    record.index = i;
    record.dataOffset = segmentDataOffset;
    record.clockRate = clockRates[i];
    record.dataLength = static_cast<std::uint32_t>(sampleCounts[i]) * arb::kBytesPerPair;
    record.name = names + SEQLINK_NAME_SLOT * i;
    segmentDataOffset += record.dataLength;
  }
  const std::vector<std::uint8_t> block = arb::encodeInfoBlock(records, text);

  std::optional<arb::ArbHeader> header =
      arb::layoutHeader(arb::kVersionMultiSegment, block.size(), dataLength);
  if (!header) return SEQLINK_BAD_ITEM;
  const std::uint64_t paddedData = arb::roundUpToBlock(dataLength);

  // Crypto, in this order: key draw, key wrap, CRC, sample encryption.
  std::uint8_t dataKey[WAVECRYPT_KEY_BYTES] = {};
  int status = cryptoRandomKey(dataKey);
  if (status != SEQLINK_OK) return status;
  std::uint32_t wrappedLength = static_cast<std::uint32_t>(header->wrappedKey.size());
  status = cryptoEncOrDec(WAVECRYPT_OP_KEY_WRAP, dataKey, sizeof dataKey, nullptr,
                          header->wrappedKey.data(), &wrappedLength, WAVECRYPT_ENCRYPT);
  if (status != SEQLINK_OK) return status;
  if (wrappedLength != header->wrappedKey.size()) return SEQLINK_CRYPTO_CALL_FAILED;
  status = cryptoCrc32(block.data(), static_cast<std::uint32_t>(block.size()), header->headerCrc);
  if (status != SEQLINK_OK) return status;
  const arb::HeaderBytes headerBytes = arb::encodeHeader(*header);

  // Encrypt before creating the file, so that a failing cipher leaves nothing behind.
  std::unique_ptr<std::uint8_t[]> cipher(new (std::nothrow) std::uint8_t[paddedData + 1]());
  if (!cipher) return SEQLINK_DATA_NO_MEMORY;
  if (dataLength > 0) {
    std::uint32_t produced = static_cast<std::uint32_t>(paddedData);
    status = cryptoEncOrDec(WAVECRYPT_OP_RC5, samples, static_cast<std::uint32_t>(dataLength),
                            dataKey, cipher.get(), &produced, WAVECRYPT_ENCRYPT);
    if (status != SEQLINK_OK) return status;
    if (produced != paddedData) return SEQLINK_CRYPTO_CALL_FAILED;
  }

  // Written to an unnamed temporary and put in place at the end (a device or FIFO
  // is written through): a failure leaves nothing behind and an existing file intact.
  arb::OutputFile out;
  if (!out.open(outputFile) || !out.write(headerBytes.data(), headerBytes.size()) ||
      !out.write(block.data(), block.size()) || !out.write(cipher.get(), paddedData) ||
      !out.commit()) {
    return SEQLINK_DATA_CANNOT_OPEN;
  }
  return SEQLINK_OK;
}

}  // namespace

long double exactSignalEnergy(std::span<const std::int16_t> values) {
  // v^2 <= 2^30, so 2^33 values still sum exactly in 64 bits.
  std::uint64_t sum = 0;
  for (const std::int16_t v : values) {
    sum += static_cast<std::uint64_t>(static_cast<std::int64_t>(v) * v);
  }
  return static_cast<long double>(sum) / (arb::kEnergyDivisor * arb::kEnergyDivisor);
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
    return SEQLINK_DATA_NO_MEMORY;
  }
}
