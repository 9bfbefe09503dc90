// The packer: 16-bit IQ sample words to a version-1 .arb file (key draw and wrap,
// text header with its CRC, binary header, RC5 sample data).
#include "arb_pack.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "arb_format.h"
#include "output_file.h"
#include "progress_counting.h"
#include "wavecrypt.h"

namespace arbsuite {
namespace {

// Name tables of the text header; an index selects an entry that is copied into
// a zero-filled slot of the given width.
constexpr std::size_t kSourceSlot = 10;
constexpr std::size_t kModulationSlot = 10;
constexpr std::size_t kFilterSlot = 20;
constexpr std::array<std::string_view, 8> kDataSourceNames = {
    "PRBS7", "PRBS9", "PRBS11", "PRBS15", "PRBS16", "PRBS20", "PRBS21", "UserData"};
constexpr std::array<std::string_view, 18> kModulationNames = {
    "16QAM", "32QAM", "64QAM", "128QAM",   "256QAM",    "2ASK", "4ASK", "8ASK", "16ASK",
    "32ASK", "BPSK",  "QPSK",  "Pi/4QPSK", "Pi/4DQPSK", "8PSK", "MSK",  "2FSK", "4FSK"};
constexpr std::array<std::string_view, 4> kFilterNames = {"none", "Raised cosine",
                                                          "Root raised cosine", "Gauss Filter"};

constexpr std::size_t kTextBufferSize = 1000;
// Bytes encrypted per cipher call. The cipher treats its 8-byte blocks one by one
// with the same key, so the data is the same for any chunk that is a multiple of 8
// bytes; a large one spares a key schedule every 256 bytes.
constexpr std::size_t kChunkLength = 65536;
constexpr std::size_t kLevelBlockWords = 65536;  // words read per block for the level sum

// The 32-bit size and count fields of the format (and the %d items of the text)
// hold inputs of at most this many bytes.
static_assert(kMaxPackedBytes == std::numeric_limits<std::int32_t>::max());

// The crypto statuses are signed 16-bit values in an int: only the low 16 bits count.
bool lowStatusOk(std::int32_t status) { return static_cast<std::int16_t>(status) == WAVECRYPT_OK; }

// Copies a table entry into a zero-filled slot; false when it would not leave
// room for the terminating zero.
template <std::size_t Width>
bool copyName(std::string_view name, std::array<char, Width>& slot) {
  slot.fill('\0');
  if (name.size() >= Width) return false;
  std::memcpy(slot.data(), name.data(), name.size());
  return true;
}

// The level sum reads each word as a 14-bit two's-complement sample: bit 13 is the
// sign, worth -2^13, and the 13 bits below it the rest of the value.
constexpr unsigned kSampleSignBit = 0x2000u;
constexpr unsigned kSampleLowBits = kSampleSignBit - 1;

// Each term (m / 8192)^2 is m^2 x 2^-26 with m <= 8192, exact in a double, and every
// partial sum below 2^27 is a multiple of 2^-26 under 2^53 of them, exact as well:
// while the sum stays there, the running double sum equals the integer sum of m^2
// scaled once, which is much faster than a chain of dependent additions.
constexpr double kExactLevelSum = 134217728.0;   // 2^27
constexpr double kTermScale = 1.0 / 67108864.0;  // 2^-26

// The sum of m^2 over `words` little-endian words.
std::uint64_t sumOfSquares(const std::uint8_t* raw, std::size_t words) {
  std::uint64_t total = 0;
  for (std::size_t k = 0; k < words; ++k) {
    const std::uint16_t w = static_cast<std::uint16_t>(raw[2 * k] | (raw[2 * k + 1] << 8));
    const unsigned low = w & kSampleLowBits;
    const std::uint32_t m = (w & kSampleSignBit) ? kSampleSignBit - low : low;
    total += m * m;
  }
  return total;
}

// Adds (m / 8192)^2 for `words` little-endian words to `sum`, in order; m is the
// magnitude of the word read as a 14-bit two's-complement sample. Kept out of line
// so that the running sum stays in a register rather than in the caller's frame.
[[gnu::noinline]] double addLevel(double sum, const std::uint8_t* raw, std::size_t words) {
  if (sum + static_cast<double>(words) < kExactLevelSum)  // every term is at most 1
    return sum + static_cast<double>(sumOfSquares(raw, words)) * kTermScale;
  for (std::size_t k = 0; k < words; ++k) {
    const std::uint16_t w = arb::loadU16(&raw[2 * k]);
    const unsigned low = w & kSampleLowBits;
    const unsigned m = (w & kSampleSignBit) ? kSampleSignBit - low : low;
    const double x = m / arb::kEnergyDivisor;
    sum += x * x;
  }
  return sum;
}

// Sum over the words of (m / 8192)^2, m being the magnitude of the word read as a
// 14-bit two's-complement sample. Leaves the read position at the start.
bool levelValue(SampleWords& words, double& total) {
  std::vector<std::uint8_t> raw(kLevelBlockWords * 2);
  double sum = 0.0;
  for (;;) {
    const std::size_t n = words.read(raw);
    sum = addLevel(sum, raw.data(), n / 2);
    if (n < raw.size()) break;
  }
  total = sum;
  return !words.failed() && words.rewind();
}

// packVersion1, with the level item given or (null) summed from a first read.
std::int32_t pack(SampleWords& words, const Version1Fields& fields, const char* outputPath,
                  const double* knownLevel);

}  // namespace

std::uint64_t LevelSum::squares(std::span<const std::int16_t> samples) {
  std::uint64_t total = 0;
  for (const std::int16_t sample : samples) {
    const auto w = static_cast<std::uint16_t>(sample);
    const unsigned low = w & kSampleLowBits;
    const std::uint32_t m = (w & kSampleSignBit) ? kSampleSignBit - low : low;
    total += m * m;
  }
  return total;
}

void LevelSum::add(std::span<const std::int16_t> samples, std::uint64_t squares) {
  // While the sum stays below 2^27 every partial sum is exact (see addLevel), so the
  // sum of the squares scaled once is what adding term by term gives.
  if (sum_ + static_cast<double>(samples.size()) < kExactLevelSum) {
    sum_ += static_cast<double>(squares) * kTermScale;
    return;
  }
  for (const std::int16_t sample : samples) {
    const auto w = static_cast<std::uint16_t>(sample);
    const unsigned low = w & kSampleLowBits;
    const unsigned m = (w & kSampleSignBit) ? kSampleSignBit - low : low;
    const double x = m / arb::kEnergyDivisor;
    sum_ += x * x;
  }
}

std::size_t MemorySampleWords::read(std::span<std::uint8_t> buffer) {
  const std::size_t take = std::min(buffer.size(), bytes_.size() - position_);
  if (take == 0) return 0;  // an empty span may have no storage at all
  std::memcpy(buffer.data(), bytes_.data() + position_, take);
  position_ += take;
  return take;
}

std::int32_t packVersion1(SampleWords& words, const Version1Fields& fields,
                          const char* outputPath) {
  return pack(words, fields, outputPath, nullptr);
}

std::int32_t packVersion1(SampleWords& words, const Version1Fields& fields, const char* outputPath,
                          double level) {
  return pack(words, fields, outputPath, &level);
}

namespace {

std::int32_t pack(SampleWords& words, const Version1Fields& fields, const char* outputPath,
                  const double* knownLevel) {
  std::array<char, kSourceSlot> sourceName{};
  std::array<char, kModulationSlot> modulationName{};
  std::array<char, kFilterSlot> filterName{};
  if (fields.dataSource >= kDataSourceNames.size()) return kPackBadParameter;
  if (!copyName(kDataSourceNames[fields.dataSource], sourceName)) return kPackFormatFailed;
  if (fields.modulationType >= kModulationNames.size()) return kPackBadParameter;
  if (!copyName(kModulationNames[fields.modulationType], modulationName)) return kPackFormatFailed;
  if (fields.filterType >= kFilterNames.size()) return kPackBadParameter;
  if (!copyName(kFilterNames[fields.filterType], filterName)) return kPackFormatFailed;

  std::array<std::uint8_t, WAVECRYPT_KEY_BYTES> dataKey{};
  if (!lowStatusOk(AfxgetRandKeyR5(dataKey.data()))) return kPackCryptoFailed;

  std::array<std::uint8_t, WAVECRYPT_WRAPPED_BYTES> wrappedKey{};
  auto wrappedLength = static_cast<std::uint32_t>(wrappedKey.size());
  if (!lowStatusOk(EncOrDecOpt(WAVECRYPT_OP_KEY_WRAP, dataKey.data(), dataKey.size(), nullptr,
                               wrappedKey.data(), &wrappedLength, WAVECRYPT_ENCRYPT)) ||
      wrappedLength != wrappedKey.size())
    return kPackCryptoFailed;

  if (!words.open()) return kPackInputFailed;
  const std::uint64_t size = words.byteCount();
  // Refused before anything is created: larger inputs would wrap the 32-bit fields.
  if (size > kMaxPackedBytes) return kPackBadParameter;

  if (outputPath == nullptr) return kPackOutputFailed;
  arb::OutputFile out;
  if (!out.open(outputPath)) return kPackOutputFailed;

  double level = 0.0;
  if (knownLevel != nullptr)
    level = *knownLevel;
  else if (!levelValue(words, level))
    return kPackInputFailed;

  const auto size32 = static_cast<std::int32_t>(size);
  // The clock is the 32-bit product of the two factors, wrapping as in 32-bit arithmetic.
  const auto clock = static_cast<std::int32_t>(static_cast<std::uint32_t>(fields.symbolRate) *
                                               static_cast<std::uint32_t>(fields.overSampling));
  arb::Version1Items items;
  items.clock = clock;
  items.energy = level;
  items.pairs = size32 / static_cast<std::int32_t>(arb::kBytesPerPair);
  items.dataSource = sourceName.data();
  items.values = size32 / static_cast<std::int32_t>(sizeof(std::int16_t));
  items.symbolRate = fields.symbolRate;
  items.modulationType = modulationName.data();
  items.filterType = filterName.data();
  items.filterCoefficient = fields.filterCoefficient;
  items.impulseLength = fields.impulseLength;
  items.overSampling = fields.overSampling;
  const std::optional<std::string> text = arb::formatVersion1Text(items);
  if (!text || text->size() >= kTextBufferSize) return kPackFormatFailed;

  // The real length written: the data is padded to the cipher block, which for
  // sample files (a multiple of 4 bytes) adds 4 bytes exactly when the pair count is odd.
  std::optional<arb::ArbHeader> header = arb::layoutHeader(arb::kVersionSingle, text->size(), size);
  if (!header) return kPackBadParameter;  // not reached: the input size is bounded above
  header->headerCrc = AfxGetCrcU32(text->data(), static_cast<std::uint32_t>(text->size()));
  header->wrappedKey = wrappedKey;
  const arb::HeaderBytes headerBytes = arb::encodeHeader(*header);
  if (!out.write(headerBytes.data(), headerBytes.size()) || !out.write(text->data(), text->size()))
    return kPackOutputFailed;

  std::vector<std::uint8_t> plain(kChunkLength);
  std::vector<std::uint8_t> cipher(kChunkLength);
  std::uint64_t consumed = 0;
  for (;;) {
    const std::size_t n = words.read(plain);
    if (n == 0) break;
    consumed += n;
    // Only a short last piece can carry stale bytes; they must not reach the padding.
    std::fill(plain.begin() + static_cast<std::ptrdiff_t>(n), plain.end(), std::uint8_t{0});
    std::uint32_t cipherLength = kChunkLength;
    if (!lowStatusOk(EncOrDecOpt(WAVECRYPT_OP_RC5, plain.data(), static_cast<std::uint32_t>(n),
                                 dataKey.data(), cipher.data(), &cipherLength, WAVECRYPT_ENCRYPT)))
      return kPackCryptoFailed;
    if (!out.write(cipher.data(), cipherLength)) return kPackOutputFailed;
  }
  // A read error, or a file that changed size under us, would leave the header wrong.
  if (words.failed() || consumed != size) return kPackInputFailed;
  return out.commit() ? kPackOk : kPackOutputFailed;
}

}  // namespace

std::int32_t packSamples(std::span<const std::int16_t> samples, const Version1Fields& fields,
                         const char* outputPath, arb::ProgressReport* progress) {
  const auto pack = [&](MemorySampleWords& words) {
    if (progress == nullptr) return packVersion1(words, fields, outputPath);
    CountedSampleWords counted(words, *progress);
    return packVersion1(counted, fields, outputPath);
  };
  if constexpr (std::endian::native == std::endian::little) {
    MemorySampleWords words(std::span<const std::uint8_t>(
        reinterpret_cast<const std::uint8_t*>(samples.data()), samples.size_bytes()));
    return pack(words);
  } else {
    // Written out little-endian first on a big-endian host.
    std::vector<std::uint8_t> bytes(samples.size_bytes());
    for (std::size_t k = 0; k < samples.size(); ++k)
      arb::storeU16(&bytes[2 * k], static_cast<std::uint16_t>(samples[k]));
    MemorySampleWords words(bytes);
    return pack(words);
  }
}

}  // namespace arbsuite
