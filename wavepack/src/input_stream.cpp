// Opening and reading the converter's input files (see input_stream.h).
#include "input_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <stdexcept>

namespace arbsuite::wavepack {

InputStream::InputStream(const std::string& path) : path_(path) {
  if (path == kStandardInputName) {
    standardInput_ = true;
    fd_ = STDIN_FILENO;
    return;
  }
  const std::runtime_error openFailed("Open " + path + " failed");
  // O_NONBLOCK: opening a FIFO without a writer would otherwise wait for one.
  fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) throw openFailed;
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd_);
    throw openFailed;
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd_);
    throw std::runtime_error(path + " is not a regular file (standard input is given as -)");
  }
  // Reads of a regular file never block; the flag is cleared to keep plain semantics.
  ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
  size_ = static_cast<std::uint64_t>(st.st_size);
}

InputStream::~InputStream() {
  if (!standardInput_ && fd_ >= 0) ::close(fd_);
}

std::size_t InputStream::read(void* destination, std::size_t length) {
  auto* out = static_cast<char*>(destination);
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = ::read(fd_, out + done, length - done);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error("Read " + path_ + " failed");
    }
    done += static_cast<std::size_t>(n);
  }
  return done;
}

void InputStream::readAt(std::uint64_t offset, void* destination, std::size_t length) {
  auto* out = static_cast<char*>(destination);
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = ::pread(fd_, out + done, length - done, static_cast<off_t>(offset + done));
    if (n == 0) throwChanged(offset + done);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error("Read " + path_ + " failed");
    }
    done += static_cast<std::size_t>(n);
  }
}

std::vector<char> InputStream::readAll(std::uint64_t limit, const std::string& tooLarge) {
  if (size_) {
    if (*size_ > limit) throw std::length_error(tooLarge);
    std::vector<char> bytes(static_cast<std::size_t>(*size_));
    const std::size_t n = read(bytes.data(), bytes.size());
    char extra = 0;
    if (n != bytes.size() || read(&extra, 1) != 0) throwChanged(n == bytes.size() ? n + 1 : n);
    return bytes;
  }
  std::vector<char> bytes;
  constexpr std::size_t kPiece = std::size_t{1} << 20;
  for (;;) {
    const std::size_t old = bytes.size();
    bytes.resize(old + kPiece);
    const std::size_t n = read(bytes.data() + old, kPiece);
    bytes.resize(old + n);
    // A pipe is bounded as it is read: never more than one piece beyond the limit.
    if (bytes.size() > limit) throw std::length_error(tooLarge);
    if (n < kPiece) break;
  }
  return bytes;
}

void InputStream::checkComplete(std::uint64_t bytesRead) const {
  if (size_ && bytesRead != *size_) throwChanged(bytesRead);
}

void InputStream::throwChanged(std::uint64_t bytesRead) const {
  throw std::runtime_error(path_ + " changed while being read (" +
                           std::to_string(size_.value_or(0)) + " bytes at opening, " +
                           std::to_string(bytesRead) + " read)");
}

std::string lowerExtension(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || dot <= nameStart) return "";
  std::string extension = path.substr(dot);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension;
}

}  // namespace arbsuite::wavepack
