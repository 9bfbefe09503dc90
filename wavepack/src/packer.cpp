// PackuserIQdata: packs a raw 16-bit IQ sample file into a version-1 .arb file
// through the suite's packer (arbsuite::packVersion1), reading the file twice; the
// converter calls the same packing (packSampleFile) with its progress report.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "arb_pack.h"
#include "regular_file.h"
#include "sample_file_pack.h"
#include "wavepack.h"

namespace {

static_assert(arbsuite::kPackOk == WAVEPACK_OK &&
              arbsuite::kPackInputFailed == WAVEPACK_INPUT_FAILED &&
              arbsuite::kPackOutputFailed == WAVEPACK_OUTPUT_FAILED &&
              arbsuite::kPackBadParameter == WAVEPACK_BAD_PARAMETER &&
              arbsuite::kPackFormatFailed == WAVEPACK_FORMAT_FAILED &&
              arbsuite::kPackCryptoFailed == WAVEPACK_CRYPTO_FAILED);
static_assert(arbsuite::kMaxPackedBytes == WAVEPACK_MAX_INPUT_BYTES);

constexpr std::size_t kIoBufferLength = 1 << 20;
constexpr std::size_t kBytesPerPair = 4;  // two 16-bit words

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// The words of a sample file. Only a regular file has a size to take the counts
// from; anything else is refused before it can block.
class FileSampleWords final : public arbsuite::SampleWords {
 public:
  FileSampleWords(const char* path, const arbsuite::wavepack::PairsRead& pairsRead)
      : path_(path), pairsRead_(pairsRead) {}

  bool open() override {
    if (path_ == nullptr) return false;
    const int fd = arbsuite::arb::openRegularFile(path_);
    if (fd < 0) return false;
    file_.reset(::fdopen(fd, "rb"));
    if (!file_) {
      ::close(fd);
      return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) return false;
    size_ = static_cast<std::uint64_t>(st.st_size);
    std::setvbuf(file_.get(), nullptr, _IOFBF, kIoBufferLength);
    return true;
  }
  std::uint64_t byteCount() const override { return size_; }
  std::size_t read(std::span<std::uint8_t> buffer) override {
    const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), file_.get());
    if (pairsRead_) pairsRead_(n / kBytesPerPair);
    return n;
  }
  bool failed() const override { return std::ferror(file_.get()) != 0; }
  bool rewind() override {
    std::clearerr(file_.get());
    return std::fseek(file_.get(), 0, SEEK_SET) == 0;
  }

 private:
  const char* path_;
  const arbsuite::wavepack::PairsRead& pairsRead_;
  std::unique_ptr<std::FILE, FileCloser> file_;
  std::uint64_t size_ = 0;
};

}  // namespace

std::int32_t arbsuite::wavepack::packSampleFile(const char* inputPath, const char* outputPath,
                                                const arbsuite::Version1Fields& fields,
                                                const PairsRead& pairsRead,
                                                std::optional<double> level) {
  FileSampleWords words(inputPath, pairsRead);
  if (level) return arbsuite::packVersion1(words, fields, outputPath, *level);
  return arbsuite::packVersion1(words, fields, outputPath);
}

extern "C" WAVEPACK_API std::int32_t PackuserIQdata(
    const char* inputPath, const char* outputPath, std::uint32_t dataSource,
    std::int32_t /*pairCount*/, std::int32_t symbolRate, std::uint32_t modulationType,
    std::uint32_t filterType, double filterCoefficient, std::int32_t impulseLength,
    std::int32_t overSampling) {
  arbsuite::Version1Fields fields;
  fields.dataSource = dataSource;
  fields.symbolRate = symbolRate;
  fields.modulationType = modulationType;
  fields.filterType = filterType;
  fields.filterCoefficient = filterCoefficient;
  fields.impulseLength = impulseLength;
  fields.overSampling = overSampling;
  return arbsuite::wavepack::packSampleFile(inputPath, outputPath, fields, {});
}
