// Temporary sample file: unique creation in the temporary folder, writing, removal.
#include "temp_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <vector>

#include "arb_format.h"

namespace wavepack {

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

void writeTempSamples(std::span<const std::int16_t> samples, const std::string& path) {
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, Closer> file(std::fopen(path.c_str(), "wb"));
  if (!file) throw std::runtime_error("Open " + path + " failed");
  const std::runtime_error writeFailed("Write " + path + " failed");

  // Encode in blocks so that the words are little-endian on any host.
  constexpr std::size_t kBlockWords = 32768;
  std::vector<std::uint8_t> block(kBlockWords * 2);
  for (std::size_t k = 0; k < samples.size(); k += kBlockWords) {
    const std::size_t n = std::min(kBlockWords, samples.size() - k);
    for (std::size_t j = 0; j < n; ++j)
      arb::storeU16(&block[2 * j], static_cast<std::uint16_t>(samples[k + j]));
    if (std::fwrite(block.data(), 2, n, file.get()) != n) throw writeFailed;
  }
  if (std::fflush(file.get()) != 0) throw writeFailed;
  if (std::fclose(file.release()) != 0) throw writeFailed;
}

FileRemover::~FileRemover() {
  if (!path_.empty()) ::unlink(path_.c_str());
}

}  // namespace wavepack
