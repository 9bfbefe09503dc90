// Non-blocking open of a reader's input and bounded whole-file reads.
#include "regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace arbsuite::arb {

int openRegularFile(const char* path) {
  if (path == nullptr) {
    errno = EFAULT;
    return kCannotOpen;
  }
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer, and
  // some devices wait for a carrier. Regular files ignore the flag.
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return kCannotOpen;
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return kCannotOpen;
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(fd);
    return kNotRegularFile;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

ReadStatus readRegularFile(const char* path, std::size_t maxBytes, std::string& content) {
  content.clear();
  const int fd = openRegularFile(path);
  if (fd == kNotRegularFile) return ReadStatus::notRegular;
  if (fd < 0) return ReadStatus::cannotOpen;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && static_cast<std::uint64_t>(info.st_size) > maxBytes) {
    ::close(fd);
    return ReadStatus::tooLarge;
  }
  // The size is only a hint (the file may grow while it is read): the loop stops
  // one byte past the limit whatever the file does.
  ReadStatus status = ReadStatus::ok;
  char block[65536];
  for (;;) {
    const std::size_t room = maxBytes + 1 - content.size();
    const ssize_t got = ::read(fd, block, room < sizeof block ? room : sizeof block);
    if (got < 0) {
      if (errno == EINTR) continue;
      status = ReadStatus::readError;
      break;
    }
    if (got == 0) break;
    content.append(block, static_cast<std::size_t>(got));
    if (content.size() > maxBytes) {
      status = ReadStatus::tooLarge;
      break;
    }
  }
  const int error = errno;
  ::close(fd);
  errno = error;
  if (status != ReadStatus::ok) content.clear();
  return status;
}

std::string readStatusText(ReadStatus status, int error, std::size_t maxBytes) {
  switch (status) {
    case ReadStatus::ok:
      return "read";
    case ReadStatus::cannotOpen:
      return std::string("cannot be opened: ") + std::strerror(error);
    case ReadStatus::notRegular:
      return "is not a regular file";
    case ReadStatus::tooLarge:
      return "is larger than " + std::to_string(maxBytes) + " bytes";
    case ReadStatus::readError:
      return std::string("cannot be read: ") + std::strerror(error);
  }
  return "cannot be read";
}

}  // namespace arbsuite::arb
