// Output files written under a temporary and put in place at the end, or written
// through to a device or FIFO (see output_file.h).
#include "output_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace arbsuite::arb {
namespace {

constexpr std::size_t kBufferLength = 256 * 1024;
constexpr int kMaxLinkDepth = 40;  // as the kernel's own resolution
constexpr int kTemporaryNameAttempts = 64;
// Permission bits kept from a replaced file. Set-user-ID, set-group-ID and sticky
// bits are dropped, as the kernel drops the first two when a file is written.
constexpr mode_t kKeptModeBits = 0777;

std::string folderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A short hidden name, so that the temporary fits the file-name limit whatever the
// length of the output's own name.
std::string temporaryName() {
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  static std::atomic<unsigned> counter{0};
  unsigned char random[8] = {};
  if (::getrandom(random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) {
    const unsigned long long mix = (static_cast<unsigned long long>(::getpid()) << 32) ^
                                   (counter.fetch_add(1) * 0x9E3779B97F4A7C15ULL);
    std::memcpy(random, &mix, sizeof random);
  }
  std::string name = ".arb-";
  for (const unsigned char r : random) name += kAlphabet[r % (sizeof kAlphabet - 1)];
  return name;
}

// Puts the file named `name` (in the output's folder) in place of the existing
// `destination`, as rename does: the output's name always names a whole file, the
// old one or the new one. The two names are exchanged and the old file, now under
// `name`, is removed. On ext4 this skips the flush that a rename over an existing
// file forces (the new file's data is allocated and sent to the disk at once, about
// 15 ms for 32 MB here): the data goes to the disk later, as any other write's does.
// Where the exchange is not supported, or the old name is no longer a file that can
// be removed (a directory put there meanwhile), the names are put back and rename
// decides. Returns 0 or the errno of the failure; on failure `name` is left to the
// caller.
int replaceFile(const std::string& name, const std::string& destination) {
#ifdef RENAME_EXCHANGE
  if (::renameat2(AT_FDCWD, name.c_str(), AT_FDCWD, destination.c_str(), RENAME_EXCHANGE) == 0) {
    if (::unlink(name.c_str()) == 0) return 0;
    // Back as they were; rename then fails as it would have (EISDIR for a directory).
    if (::renameat2(AT_FDCWD, name.c_str(), AT_FDCWD, destination.c_str(), RENAME_EXCHANGE) != 0)
      return errno;
  }
#endif
  return ::rename(name.c_str(), destination.c_str()) == 0 ? 0 : errno;
}

bool writeAll(int fd, const std::uint8_t* data, std::size_t length) {
  while (length > 0) {
    const ssize_t wrote = ::write(fd, data, length);
    if (wrote < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += wrote;
    length -= static_cast<std::size_t>(wrote);
  }
  return true;
}

}  // namespace

bool resolveOutputPath(const std::string& path, std::string& resolved) {
  std::string current = path;
  for (int depth = 0; depth <= kMaxLinkDepth; ++depth) {
    struct stat info {};
    if (::lstat(current.c_str(), &info) != 0) {
      if (errno != ENOENT) return false;
      resolved = current;  // absent: it will be created under this name
      return true;
    }
    if (!S_ISLNK(info.st_mode)) {
      resolved = current;
      return true;
    }
    std::string target(PATH_MAX, '\0');
    const ssize_t length = ::readlink(current.c_str(), target.data(), target.size());
    if (length < 0) return false;
    if (static_cast<std::size_t>(length) >= target.size()) {
      errno = ENAMETOOLONG;
      return false;
    }
    target.resize(static_cast<std::size_t>(length));
    // A relative target is relative to the folder that holds the link.
    current = target.starts_with('/') ? target : folderOf(current) + "/" + target;
  }
  errno = ELOOP;
  return false;
}

bool outputsClash(const std::string& a, const std::string& b) {
  std::string first;
  std::string second;
  if (!resolveOutputPath(a, first) || !resolveOutputPath(b, second)) return false;
  struct stat one {};
  struct stat two {};
  const bool firstExists = ::stat(first.c_str(), &one) == 0;
  const bool secondExists = ::stat(second.c_str(), &two) == 0;
  if (firstExists && secondExists) {
    return one.st_dev == two.st_dev && one.st_ino == two.st_ino && S_ISREG(one.st_mode);
  }
  if (firstExists || secondExists || nameOf(first) != nameOf(second)) return false;
  return ::stat(folderOf(first).c_str(), &one) == 0 &&
         ::stat(folderOf(second).c_str(), &two) == 0 && one.st_dev == two.st_dev &&
         one.st_ino == two.st_ino;
}

bool outputOverwritesInput(const std::string& output, const std::string& input) {
  struct stat in {};
  if (::stat(input.c_str(), &in) != 0 || !S_ISREG(in.st_mode)) return false;
  std::string resolved;
  struct stat out {};
  return resolveOutputPath(output, resolved) && ::stat(resolved.c_str(), &out) == 0 &&
         out.st_dev == in.st_dev && out.st_ino == in.st_ino;
}

bool OutputFile::open(const std::string& path, const OutputOptions& options) {
  discard();
  error_ = 0;
  through_ = unnamed_ = existed_ = keepOwner_ = false;
  if (path.empty()) {
    fail(ENOENT);
    return false;
  }
  // Anything but a regular file is opened by its own path, which the kernel
  // resolves: /dev/stdout and /proc/self/fd/N name pipes through links that no
  // name resolution reaches.
  struct stat target {};
  if (::stat(path.c_str(), &target) == 0 && !S_ISREG(target.st_mode)) {
    destination_ = path;
    return openSpecial(target);
  }
  if (!resolveOutputPath(path, destination_)) {
    fail(errno);
    return false;
  }
  folder_ = folderOf(destination_);

  struct stat info {};
  if (::stat(destination_.c_str(), &info) != 0) {
    if (errno != ENOENT) {
      fail(errno);
      return false;
    }
    return openReplacement(options);
  }
  if (!S_ISREG(info.st_mode)) return openSpecial(info);
  // A regular file is refused exactly where a plain open for writing fails
  // (permissions, a read-only file system, a running program). The probe neither
  // truncates nor writes.
  const int probe = ::open(destination_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (probe < 0) {
    fail(errno);
    return false;
  }
  ::close(probe);
  existed_ = true;
  keepOwner_ = true;
  owner_ = info.st_uid;
  group_ = info.st_gid;
  mode_ = info.st_mode & kKeptModeBits;
  return openReplacement(options);
}

bool OutputFile::openSpecial(const struct stat& info) {
  if (S_ISDIR(info.st_mode)) {
    fail(EISDIR);
    return false;
  }
  if (S_ISSOCK(info.st_mode)) {
    fail(ENXIO);  // what open(2) says of a socket
    return false;
  }
  // A device or FIFO is never replaced: written through. Opening a FIFO waits for
  // its reader, as any writer of a FIFO does.
  fd_ = ::open(destination_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd_ < 0) {
    fail(errno);
    return false;
  }
  through_ = true;
  return true;
}

bool OutputFile::openReplacement(const OutputOptions& options) {
  // An unnamed file is linked in through /proc/self/fd at the end; without /proc
  // the named temporary is used.
  if (options.allowUnnamedTemporary && ::access("/proc/self/fd", X_OK) == 0) {
    fd_ = ::open(folder_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd_ >= 0) {
      unnamed_ = true;
      return true;
    }
    // Kernels and file systems without O_TMPFILE say so in one of these ways; any
    // other error (no folder, no permission) is the output's own.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
      fail(errno);
      return false;
    }
  }
  return openNamedTemporary();
}

bool OutputFile::openNamedTemporary() {
  const bool handlers = interruptCleanupInstalled();
  if (!handlers) deferral_.emplace();  // until the temporary is renamed or removed
  std::optional<InterruptDeferral> whileRegistering;
  if (handlers) whileRegistering.emplace();
  int error = EEXIST;
  for (int attempt = 0; attempt < kTemporaryNameAttempts && error == EEXIST; ++attempt) {
    const std::string name = folder_ + "/" + temporaryName();
    // Created as a plain open would create the output: 0666 less the umask.
    fd_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd_ >= 0) {
      temporary_ = name;
      if (handlers) removal_ = InterruptRemoval(name);
      return true;
    }
    error = errno;
  }
  deferral_.reset();
  fail(error);
  return false;
}

bool OutputFile::write(const void* data, std::size_t length) {
  if (fd_ < 0 || error_ != 0) {
    if (error_ == 0) error_ = EBADF;
    return false;
  }
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  if (buffer_.size() + length > kBufferLength) {
    if (!flushBuffer()) return false;
    if (length >= kBufferLength) {
      if (!writeAll(fd_, bytes, length)) {
        fail(errno);
        return false;
      }
      return true;
    }
  }
  if (buffer_.capacity() < kBufferLength) buffer_.reserve(kBufferLength);
  buffer_.insert(buffer_.end(), bytes, bytes + length);
  return true;
}

bool OutputFile::writeAt(std::uint64_t offset, const void* data, std::size_t length) {
  if (fd_ < 0 || error_ != 0 || through_) {
    if (error_ == 0) error_ = through_ ? ESPIPE : EBADF;
    return false;
  }
  if (!flushBuffer()) return false;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  while (length > 0) {
    const ssize_t wrote = ::pwrite(fd_, bytes, length, static_cast<off_t>(offset));
    if (wrote < 0) {
      if (errno == EINTR) continue;
      fail(errno);
      return false;
    }
    bytes += wrote;
    offset += static_cast<std::uint64_t>(wrote);
    length -= static_cast<std::size_t>(wrote);
  }
  return true;
}

bool OutputFile::flushBuffer() {
  if (!writeAll(fd_, buffer_.data(), buffer_.size())) {
    fail(errno);
    return false;
  }
  buffer_.clear();
  return true;
}

bool OutputFile::commit() {
  if (fd_ < 0 || error_ != 0 || !flushBuffer()) {
    const int error = error_ != 0 ? error_ : EBADF;
    discard();
    error_ = error;
    return false;
  }
  if (through_) {
    const int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0 && errno != EINTR) {
      fail(errno);
      return false;
    }
    return true;
  }
  if (existed_) {
    // Owner and group first: changing them can clear permission bits.
    if (keepOwner_ && ::fchown(fd_, owner_, group_) != 0) {
      (void)::fchown(fd_, static_cast<uid_t>(-1), group_);
    }
    if (::fchmod(fd_, mode_) != 0) {
      const int error = errno;
      discard();
      error_ = error;
      return false;
    }
  }
  return publish();
}

bool OutputFile::publish() {
  if (unnamed_) {
    // No signal may fall between linking the file in and renaming it over the
    // output: that would leave the temporary name behind.
    const InterruptDeferral hold;
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    const auto linkAs = [&](const std::string& name) {
      return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
    };
    bool placed = !existed_ && linkAs(destination_);
    int error = placed ? 0 : errno;
    if (!placed && (existed_ || error == EEXIST)) {
      // The output exists: link under a short name, then rename over it.
      std::string name;
      error = EEXIST;
      for (int attempt = 0; attempt < kTemporaryNameAttempts && error == EEXIST; ++attempt) {
        name = folder_ + "/" + temporaryName();
        error = linkAs(name) ? 0 : errno;
      }
      if (error == 0) {
        error = replaceFile(name, destination_);
        if (error == 0) {
          placed = true;
        } else {
          ::unlink(name.c_str());
        }
      }
    }
    ::close(fd_);
    fd_ = -1;
    if (!placed) fail(error);
    return placed;
  }

  const int closed = ::close(fd_);
  fd_ = -1;
  int error = closed != 0 && errno != EINTR ? errno : 0;
  {
    const InterruptDeferral hold;
    if (error == 0) {
      error = existed_ ? replaceFile(temporary_, destination_)
                       : (::rename(temporary_.c_str(), destination_.c_str()) == 0 ? 0 : errno);
    }
    if (error != 0) ::unlink(temporary_.c_str());
    temporary_.clear();
    removal_.disarm();
  }
  deferral_.reset();
  if (error != 0) fail(error);
  return error == 0;
}

void OutputFile::discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temporary_.empty()) {
    ::unlink(temporary_.c_str());
    temporary_.clear();
  }
  removal_.disarm();
  deferral_.reset();
  buffer_.clear();
}

void OutputFile::fail(int error) { error_ = error != 0 ? error : EIO; }

}  // namespace arbsuite::arb
