// The size check of an .arb file's sample data (see arb_file_size.h).
#include "arb_file_size.h"

#include <sys/stat.h>
#include <unistd.h>

#include "arb_format.h"
#include "regular_file.h"

namespace arbsuite {

std::optional<std::string> truncation(const std::string& path, long long sampleCount) {
  const int fd = arb::openRegularFile(path.c_str());
  if (fd < 0) return "cannot be opened, or is not a regular file";
  arb::HeaderBytes bytes{};
  const ssize_t got = ::pread(fd, bytes.data(), bytes.size(), 0);
  struct stat info {};
  const bool sized = ::fstat(fd, &info) == 0;
  ::close(fd);
  const long long size = sized ? static_cast<long long>(info.st_size) : -1;
  const arb::HeaderRecord header(
      std::span<const std::uint8_t>(bytes.data(), got > 0 ? static_cast<std::size_t>(got) : 0));
  const auto dataOffset = header.dataOffset();
  if (!dataOffset || !sized) {
    return "truncated: the file has " + std::to_string(size) + " bytes, less than its " +
           std::to_string(arb::kHeaderLength) + "-byte header";
  }
  const unsigned long long needed =
      *dataOffset +
      arb::roundUpToBlock(static_cast<unsigned long long>(sampleCount) * arb::kBytesPerPair);
  if (static_cast<unsigned long long>(size) >= needed) return std::nullopt;
  return "truncated: the header announces " + std::to_string(sampleCount) +
         " sample pairs from byte " + std::to_string(*dataOffset) + ", which need " +
         std::to_string(needed) + " bytes, but the file has " + std::to_string(size);
}

}  // namespace arbsuite
