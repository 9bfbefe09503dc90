// Temporary file beside the output, renamed over it at the end.
#include "output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

namespace analysis {
namespace {

std::string reason() { return errno != 0 ? std::strerror(errno) : "write error"; }

}  // namespace

OutputFile::OutputFile(const std::string& path) : path_(path), target_(path) {
  if (isStandardOutput()) return;
  if (path.empty()) throw OutputError("the output name is empty");
  std::error_code error;
  struct stat link {};
  if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    target_ = std::filesystem::weakly_canonical(path, error).string();
    if (error) throw OutputError("cannot follow the link " + path + ": " + error.message());
  }
  struct stat info {};
  if (::stat(target_.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) throw OutputError(path + " is a folder");
    if (!S_ISREG(info.st_mode)) {
      throughPath_ = true;
      writePath_ = target_;
      return;
    }
  }
  const std::filesystem::path target(target_);
  const std::string folder = target.has_parent_path() ? target.parent_path().string() : ".";
  std::string pattern = folder + "/." + target.filename().string() + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = ::mkstemp(name.data());
  if (fd < 0)
    throw OutputError("cannot create a file in " + folder + " for " + path + ": " + reason());
  // mkstemp makes the file private; give it the mode a newly created output gets.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  ::close(fd);
  writePath_ = name.data();
}

OutputFile::~OutputFile() {
  if (stream_ != nullptr && stream_ != stdout) std::fclose(stream_);
  if (!committed_ && !throughPath_ && !writePath_.empty()) ::unlink(writePath_.c_str());
}

std::FILE* OutputFile::stream() {
  if (stream_ != nullptr) return stream_;
  if (isStandardOutput()) {
    stream_ = stdout;
  } else {
    stream_ = std::fopen(writePath_.c_str(), "wb");
    if (stream_ == nullptr) throw OutputError("cannot write " + path_ + ": " + reason());
  }
  return stream_;
}

void OutputFile::close() {
  if (stream_ != nullptr) {
    errno = 0;
    const bool flushed = std::fflush(stream_) == 0 && std::ferror(stream_) == 0;
    const bool closed = stream_ == stdout || std::fclose(stream_) == 0;
    stream_ = nullptr;
    if (!flushed || !closed) {
      throw OutputError("cannot write " +
                        (isStandardOutput() ? std::string("standard output") : path_) + ": " +
                        reason());
    }
  }
}

void OutputFile::commit() {
  close();
  if (isStandardOutput() || throughPath_) {
    committed_ = true;
    return;
  }
  if (::rename(writePath_.c_str(), target_.c_str()) != 0) {
    throw OutputError("cannot replace " + path_ + ": " + reason());
  }
  committed_ = true;
}

}  // namespace analysis
