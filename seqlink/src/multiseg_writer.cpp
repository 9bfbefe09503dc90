// crtMultiSegArb: builds the info block (entry table, segment list, segment records,
// text header), protects it with a CRC and writes the header, the block and the
// encrypted samples of a multi-segment waveform.
#include "multiseg_writer.h"

#include <algorithm>
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

namespace arbsuite::seqlink {
namespace {

// A host's name slot is copied into a segment record's name field as it is.
static_assert(SEQLINK_NAME_SLOT == arbsuite::arb::kSegmentNameLength);

// One formatted segment item, terminator included, is built in a buffer of this
// size; the text accounting reserves as much for every item appended so far.
inline constexpr std::int64_t kItemBufferLength = 512;

// A name the text header cannot hold: its items are "{key:value}" on one line.
bool breaksTextHeader(const char* name) { return std::strpbrk(name, "{}\r\n") != nullptr; }

}  // namespace

int describeMultiSegment(const char* names, const double* clockRates, const int* sampleCounts,
                         const double* energies, unsigned segmentCount, std::uint64_t totalSamples,
                         bool haveSamples, const std::function<long double()>& energy,
                         const char* outputFile, MultiSegmentLayout& layout) {
  if (outputFile == nullptr || *outputFile == '\0') return SEQLINK_DATA_CANNOT_OPEN;

  // Room for the text in the info block; too many segments leave none.
  const std::int64_t textSpace =
      static_cast<std::int64_t>(arbsuite::arb::kInfoBlockCapacity) -
      static_cast<std::int64_t>(arbsuite::arb::infoBlockLength(segmentCount, 0));
  if (textSpace <= 0) return SEQLINK_DATA_NO_MEMORY;

  if (segmentCount > 0 && (names == nullptr || clockRates == nullptr || sampleCounts == nullptr ||
                           energies == nullptr)) {
    return SEQLINK_BAD_ITEM;
  }
  if (totalSamples > 0 && !haveSamples) return SEQLINK_BAD_ITEM;
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
  const std::uint64_t dataLength = totalSamples * arbsuite::arb::kBytesPerPair;
  if (dataLength > std::numeric_limits<std::uint32_t>::max()) return SEQLINK_BAD_ITEM;
  layout.dataLength = dataLength;

  // Text header: the summary, then one item per segment.
  std::string text;
  {
    ClassicLocaleScope classic;  // a decimal point whatever the host's locale
    text = arbsuite::arb::formatVersion2Summary(energy(), dataLength, segmentCount)
               .value_or(std::string());
    if (static_cast<std::int64_t>(text.size()) + 1 > textSpace) return SEQLINK_DATA_NO_MEMORY;
    for (unsigned i = 0; i < segmentCount; ++i) {
      const std::string item =
          arbsuite::arb::formatVersion2Segment(static_cast<int>(i), names + SEQLINK_NAME_SLOT * i,
                                               clockRates[i],
                                               static_cast<unsigned>(sampleCounts[i]), energies[i])
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
  std::vector<arbsuite::arb::ArbSegmentRecord> records(segmentCount);
  std::uint32_t segmentDataOffset = 0;
  for (unsigned i = 0; i < segmentCount; ++i) {
    arbsuite::arb::ArbSegmentRecord& record = records[i];
    record.index = i;
    record.dataOffset = segmentDataOffset;
    record.clockRate = clockRates[i];
    record.dataLength = static_cast<std::uint32_t>(sampleCounts[i]) * arbsuite::arb::kBytesPerPair;
    record.name = names + SEQLINK_NAME_SLOT * i;
    segmentDataOffset += record.dataLength;
  }
  layout.block = arbsuite::arb::encodeInfoBlock(records, text);

  std::optional<arbsuite::arb::ArbHeader> header = arbsuite::arb::layoutHeader(
      arbsuite::arb::kVersionMultiSegment, layout.block.size(), dataLength);
  if (!header) return SEQLINK_BAD_ITEM;
  layout.header = *header;
  return SEQLINK_OK;
}

int drawDataKey(MultiSegmentLayout& layout) {
  int status = cryptoRandomKey(layout.dataKey.data());
  if (status != SEQLINK_OK) return status;
  std::uint32_t wrappedLength = static_cast<std::uint32_t>(layout.header.wrappedKey.size());
  status =
      cryptoEncOrDec(WAVECRYPT_OP_KEY_WRAP, layout.dataKey.data(), layout.dataKey.size(), nullptr,
                     layout.header.wrappedKey.data(), &wrappedLength, WAVECRYPT_ENCRYPT);
  if (status != SEQLINK_OK) return status;
  return wrappedLength == layout.header.wrappedKey.size() ? SEQLINK_OK : SEQLINK_CRYPTO_CALL_FAILED;
}

int sealMultiSegment(MultiSegmentLayout& layout) {
  const int status =
      cryptoCrc32(layout.block.data(), static_cast<std::uint32_t>(layout.block.size()),
                  layout.header.headerCrc);
  if (status != SEQLINK_OK) return status;
  layout.headerBytes = arbsuite::arb::encodeHeader(layout.header);
  return SEQLINK_OK;
}

int layoutMultiSegment(const char* names, const double* clockRates, const int* sampleCounts,
                       const double* energies, unsigned segmentCount, std::uint64_t totalSamples,
                       bool haveSamples, const std::function<long double()>& energy,
                       const char* outputFile, MultiSegmentLayout& layout) {
  const int status = describeMultiSegment(names, clockRates, sampleCounts, energies, segmentCount,
                                          totalSamples, haveSamples, energy, outputFile, layout);
  if (status != SEQLINK_OK) return status;
  // Crypto, in this order: key draw, key wrap, CRC (the sample encryption follows).
  const int keyStatus = drawDataKey(layout);
  if (keyStatus != SEQLINK_OK) return keyStatus;
  return sealMultiSegment(layout);
}

MultiSegmentOutput::MultiSegmentOutput(const MultiSegmentLayout& layout, const char* outputFile)
    : layout_(layout),
      outputFile_(outputFile),
      pieces_(layout.dataKey.data(), kCipherPieceLength,
              [this](const std::uint8_t* piece, std::size_t length) {
                return begun() && out_.write(piece, length);
              }) {}

bool MultiSegmentOutput::begun() {
  return out_.isOpen() || (out_.open(outputFile_) &&
                           out_.write(layout_.headerBytes.data(), layout_.headerBytes.size()) &&
                           out_.write(layout_.block.data(), layout_.block.size()));
}

int MultiSegmentOutput::commit() {
  const int status = pieces_.finish();
  if (status != SEQLINK_OK) return status;
  return begun() && out_.commit() ? SEQLINK_OK : SEQLINK_DATA_CANNOT_OPEN;
}

namespace {

int buildMultiSegment(const char* names, const double* clockRates, const int* sampleCounts,
                      const double* energies, unsigned segmentCount, const short* samples,
                      unsigned totalSamples, const char* outputFile) {
  MultiSegmentLayout layout;
  const std::span<const std::int16_t> values(samples, samples ? 2 * std::size_t{totalSamples} : 0);
  int status = layoutMultiSegment(
      names, clockRates, sampleCounts, energies, segmentCount, totalSamples, samples != nullptr,
      [&] { return arbsuite::arb::exactSignalEnergy(values); }, outputFile, layout);
  if (status != SEQLINK_OK) return status;
  // Written to an unnamed temporary and put in place at the end (a device or FIFO
  // is written through): a failure leaves nothing behind and an existing file intact.
  // The output is created once the first piece of samples is encrypted: a crypto
  // library that is missing or fails does so at its first call and leaves nothing
  // behind, not even in a FIFO.
  MultiSegmentOutput out(layout, outputFile);
  status = out.add(samples, layout.dataLength);
  if (status != SEQLINK_OK) return status;
  return out.commit();
}

}  // namespace

PieceEncryptor::PieceEncryptor(const std::uint8_t* key, std::size_t pieceLength, PieceSink sink)
    : key_(key),
      pieceLength_(arbsuite::arb::roundDownToBlock(
          std::max(pieceLength, arbsuite::arb::kCipherBlockLength))),
      sink_(std::move(sink)) {}

int PieceEncryptor::encrypt(const std::uint8_t* bytes, std::size_t length) {
  const std::uint64_t padded = arbsuite::arb::roundUpToBlock(length);
  if (!cipher_) {
    // Not zeroed: the cipher pads the last piece to a whole block itself.
    cipher_.reset(new (std::nothrow) std::uint8_t[pieceLength_]);
    if (!cipher_) return SEQLINK_DATA_NO_MEMORY;
  }
  std::uint32_t produced = static_cast<std::uint32_t>(padded);
  const int status = cryptoEncOrDec(WAVECRYPT_OP_RC5, bytes, static_cast<std::uint32_t>(length),
                                    key_, cipher_.get(), &produced, WAVECRYPT_ENCRYPT);
  if (status != SEQLINK_OK) return status;
  if (produced != padded) return SEQLINK_CRYPTO_CALL_FAILED;
  if (!sink_(cipher_.get(), static_cast<std::size_t>(padded))) return SEQLINK_DATA_CANNOT_OPEN;
  return SEQLINK_OK;
}

int PieceEncryptor::add(const void* plain, std::uint64_t length) {
  const auto* bytes = static_cast<const std::uint8_t*>(plain);
  while (length > 0) {
    if (held_.empty() && length >= pieceLength_) {
      // Whole pieces straight from the caller's samples.
      const int status = encrypt(bytes, pieceLength_);
      if (status != SEQLINK_OK) return status;
      bytes += pieceLength_;
      length -= pieceLength_;
      continue;
    }
    // The rest waits for more samples, up to a whole piece.
    if (held_.capacity() < pieceLength_) held_.reserve(pieceLength_);  // grown once
    const std::size_t take =
        static_cast<std::size_t>(std::min<std::uint64_t>(length, pieceLength_ - held_.size()));
    held_.insert(held_.end(), bytes, bytes + take);
    bytes += take;
    length -= take;
    if (held_.size() == pieceLength_) {
      const int status = encrypt(held_.data(), held_.size());
      if (status != SEQLINK_OK) return status;
      held_.clear();
    }
  }
  return SEQLINK_OK;
}

int PieceEncryptor::finish() {
  if (held_.empty()) return SEQLINK_OK;
  const int status = encrypt(held_.data(), held_.size());
  held_.clear();
  return status;
}

int encryptInPieces(const void* plain, std::uint64_t length, const std::uint8_t* key,
                    std::size_t pieceLength, const PieceSink& sink) {
  if (length == 0) return SEQLINK_OK;
  // A piece no longer than the data, so that a short input needs no large buffer.
  pieceLength = static_cast<std::size_t>(std::min<std::uint64_t>(
      arbsuite::arb::roundDownToBlock(std::max(pieceLength, arbsuite::arb::kCipherBlockLength)),
      arbsuite::arb::roundUpToBlock(length)));
  PieceEncryptor pieces(key, pieceLength, sink);
  const int status = pieces.add(plain, length);
  if (status != SEQLINK_OK) return status;
  return pieces.finish();
}

}  // namespace arbsuite::seqlink

extern "C" SEQLINK_API int crtMultiSegArb(const char* names, const double* clockRates,
                                          const int* sampleCounts, const double* energies,
                                          unsigned segmentCount, const short* samples,
                                          unsigned totalSamples, uint32_t /*reserved*/,
                                          const char* outputFile) {
  try {
    return arbsuite::seqlink::buildMultiSegment(names, clockRates, sampleCounts, energies,
                                                segmentCount, samples, totalSamples, outputFile);
  } catch (...) {
    return SEQLINK_DATA_NO_MEMORY;
  }
}
