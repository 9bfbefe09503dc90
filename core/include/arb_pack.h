// Packing 16-bit IQ sample words into a version-1 .arb file: the level, the key draw
// and wrap, the text header with its CRC, the binary header and the RC5 sample data.
// PackuserIQdata packs a sample file through it; the programs pack samples in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace arbsuite::arb {
class ProgressReport;
}  // namespace arbsuite::arb

namespace arbsuite {

// The packer's results: the values of PackuserIQdata's WAVEPACK_ codes.
enum PackStatus : std::int32_t {
  kPackOk = 0,
  kPackInputFailed = 17,   // the samples could not be opened or read
  kPackOutputFailed = 19,  // the output could not be created, written or put in place
  kPackBadParameter = 24,  // a name index out of range, or too many samples for the format
  kPackFormatFailed = 25,  // a name or the text header could not be formatted
  kPackCryptoFailed = 26,  // the key draw, the key wrap or the cipher failed
};

// "success", what failed for each PackStatus (and for 20 to 23, which the packer's
// steps once returned), else "packer error N".
std::string packStatusWords(int status);

// Where the packer takes the sample words from (little-endian int16, I0, Q0, I1, ...):
// it reads them twice, once for the level item (unless it is given) and once to
// encrypt them.
class SampleWords {
 public:
  virtual ~SampleWords() = default;
  // Makes the words readable; false when they cannot be (kPackInputFailed). Called
  // once, after the key is drawn and wrapped.
  virtual bool open() = 0;
  // Their length in bytes; valid after open().
  virtual std::uint64_t byteCount() const = 0;
  // Copies the next bytes, up to buffer.size(), into buffer; returns how many (fewer
  // only at the end or on a read error).
  virtual std::size_t read(std::span<std::uint8_t> buffer) = 0;
  // Whether a read failed.
  virtual bool failed() const = 0;
  // Goes back to the first byte; false when it cannot.
  virtual bool rewind() = 0;
};

// Sample words in memory in file order (little-endian bytes), borrowed for the
// packer's run.
class MemorySampleWords final : public SampleWords {
 public:
  explicit MemorySampleWords(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  bool open() override { return true; }
  std::uint64_t byteCount() const override { return bytes_.size(); }
  std::size_t read(std::span<std::uint8_t> buffer) override;
  bool failed() const override { return false; }
  bool rewind() override {
    position_ = 0;
    return true;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t position_ = 0;
};

// The items of the text header besides the counts and the level; each index selects
// a name as PackuserIQdata documents them (data source 0..7, modulation 0..17, filter
// 0..3). The clock is symbolRate x overSampling, wrapping in 32 bits.
struct Version1Fields {
  std::uint32_t dataSource = 0;
  std::int32_t symbolRate = 0;
  std::uint32_t modulationType = 0;
  std::uint32_t filterType = 0;
  double filterCoefficient = 0.0;
  std::int32_t impulseLength = 0;
  std::int32_t overSampling = 0;
};

// Largest sample data the format holds, in bytes: its size and the counts derived from
// it fill 32-bit signed fields and text items.
inline constexpr std::uint64_t kMaxPackedBytes = 2147483647;

// Packs the words into outputPath as PackuserIQdata does (same checks in the same
// order, same bytes but for the random key): the output is written under a temporary
// name and put in place at success, so a failure leaves no new file and an existing
// one unchanged. Returns a PackStatus. Not thread-safe (the key draw uses process-wide
// state).
std::int32_t packVersion1(SampleWords& words, const Version1Fields& fields, const char* outputPath);

// The level item of the header: the sum over the sample words of (m / 8192)^2, m being
// the magnitude of the word read as a 14-bit two's-complement sample, added in file
// order exactly as the packer adds it when it reads the words itself.
class LevelSum {
 public:
  // The sum of m^2 over the samples: the part of add's work that may be done apart
  // (on any thread, in any order).
  static std::uint64_t squares(std::span<const std::int16_t> samples);
  // Adds the next samples in file order; `squares` is squares(samples).
  void add(std::span<const std::int16_t> samples, std::uint64_t squares);
  double value() const { return sum_; }

 private:
  double sum_ = 0.0;
};

// packVersion1 with the level item already summed (LevelSum::value of the same
// words): the words are read once, to encrypt them.
std::int32_t packVersion1(SampleWords& words, const Version1Fields& fields, const char* outputPath,
                          double level);

// The same for samples in memory (I0, Q0, I1, Q1, ... in the host's order). When
// `progress` is given, the packer's two reads of the samples are added to it (twice
// the pair count in all).
std::int32_t packSamples(std::span<const std::int16_t> samples, const Version1Fields& fields,
                         const char* outputPath, arb::ProgressReport* progress = nullptr);

}  // namespace arbsuite
