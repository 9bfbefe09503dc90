// A regular file read with pread, for the .arb readers.
#include "file_source.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "regular_file.h"

namespace arbsuite::seqlink {

FileSource::FileSource(const char* path) {
  // Only regular files have a size the offsets can be checked against; anything
  // else is refused before it can block (a FIFO waits for a writer when opened).
  const int fd = arb::openRegularFile(path);
  if (fd < 0) return;
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    ::close(fd);
    return;
  }
  fd_ = fd;
  size_ = static_cast<std::uint64_t>(info.st_size);
}

FileSource::~FileSource() {
  if (fd_ >= 0) ::close(fd_);
}

long long FileSource::readAt(std::uint64_t offset, void* destination, std::size_t length) {
  if (fd_ < 0) return -1;
  auto* out = static_cast<unsigned char*>(destination);
  std::size_t done = 0;
  while (done < length) {
    const ssize_t got = ::pread(fd_, out + done, length - done, static_cast<off_t>(offset + done));
    if (got < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<long long>(done);
}

}  // namespace arbsuite::seqlink
