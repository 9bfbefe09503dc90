// Temporary sample file: unique creation in the temporary folder, writing, removal.
#include "temp_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "arb_format.h"

namespace arbsuite::wavepack {

std::string makeTempFilePath() {
  const char* env = std::getenv("TMPDIR");
  std::string folder = (env != nullptr && *env != '\0') ? env : "/tmp";
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    throw std::runtime_error("Get Temp Path failed");
  if (folder.back() != '/') folder += '/';
  std::string name = folder + "PNXXXXXX";
  const int fd = ::mkstemp(name.data());
  if (fd < 0) throw std::runtime_error("Get Temp File Name failed");
  ::close(fd);
  return name;
}

SampleFileWriter::SampleFileWriter(const std::string& path)
    : path_(path), file_(std::fopen(path.c_str(), "wb")) {
  if (file_ == nullptr) throw std::runtime_error("Open " + path + " failed");
}

SampleFileWriter::~SampleFileWriter() {
  if (file_ != nullptr) std::fclose(file_);
}

void SampleFileWriter::write(std::span<const std::int16_t> samples) {
  if constexpr (std::endian::native == std::endian::little) {
    errno = 0;
    if (std::fwrite(samples.data(), 2, samples.size(), file_) != samples.size()) fail();
    return;
  }
  // Encoded through a buffer so that the words are little-endian on any host.
  constexpr std::size_t kBlockWords = 32768;
  encoded_.resize(kBlockWords * 2);
  for (std::size_t k = 0; k < samples.size(); k += kBlockWords) {
    const std::size_t n = std::min(kBlockWords, samples.size() - k);
    for (std::size_t j = 0; j < n; ++j)
      arb::storeU16(&encoded_[2 * j], static_cast<std::uint16_t>(samples[k + j]));
    errno = 0;
    if (std::fwrite(encoded_.data(), 2, n, file_) != n) fail();
  }
}

void SampleFileWriter::close() {
  errno = 0;
  const bool flushed = std::fflush(file_) == 0;
  const int flushError = errno;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if (!flushed) errno = flushError;
  if (!flushed || !closed) fail();
}

void writeTempSamples(std::span<const std::int16_t> samples, const std::string& path) {
  SampleFileWriter writer(path);
  writer.write(samples);
  writer.close();
}

[[noreturn]] void SampleFileWriter::fail() const {
  // The cause (no space left, a quota, an I/O error) travels with the failure.
  throw std::system_error(errno != 0 ? errno : EIO, std::generic_category(),
                          "Write " + path_ + " failed");
}

FileRemover::~FileRemover() {
  if (!path_.empty()) ::unlink(path_.c_str());
  onInterrupt_.disarm();
}

}  // namespace arbsuite::wavepack
