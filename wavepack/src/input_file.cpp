// Whole-file input view used by the CSV and binary readers.
#include "input_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace wavepack {

namespace {

struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

InputFile::InputFile(const std::string& path) {
  const std::runtime_error openFailed("Open " + path + " failed");
  Descriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (file.fd < 0) throw openFailed;
  struct stat st {};
  if (::fstat(file.fd, &st) != 0 || S_ISDIR(st.st_mode)) throw openFailed;

  if (S_ISREG(st.st_mode)) {
    size_ = static_cast<std::size_t>(st.st_size);
    if (size_ == 0) return;
    void* p = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE | MAP_POPULATE, file.fd, 0);
    if (p != MAP_FAILED) {
      ::madvise(p, size_, MADV_SEQUENTIAL);
      data_ = static_cast<const char*>(p);
      mapped_ = true;
      return;
    }
    size_ = 0;
  }

  // Not mappable: read it all.
  char chunk[65536];
  for (;;) {
    const ssize_t n = ::read(file.fd, chunk, sizeof chunk);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      throw openFailed;
    }
    buffer_.insert(buffer_.end(), chunk, chunk + n);
  }
  data_ = buffer_.data();
  size_ = buffer_.size();
}

InputFile::~InputFile() {
  if (mapped_) ::munmap(const_cast<char*>(data_), size_);
}

}  // namespace wavepack
