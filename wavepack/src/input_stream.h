// Input files of the converter, opened without blocking and read with read(2):
// only regular files are read, except standard input (named "-"), which may be a
// pipe. Nothing is memory-mapped, so a file that shrinks while it is read is
// reported as changed instead of ending the process with SIGBUS.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace arbsuite::wavepack {

// The name that stands for standard input on the command line.
inline constexpr std::string_view kStandardInputName = "-";

class InputStream {
 public:
  // Opens `path` for reading ("-" is standard input). Throws std::runtime_error:
  //   "Open " + path + " failed"  when it cannot be opened or is a directory;
  //   path + " is not a regular file (standard input is given as -)"  for a FIFO,
  //   a device or a socket, checked before anything is read from it.
  explicit InputStream(const std::string& path);
  ~InputStream();
  InputStream(const InputStream&) = delete;
  InputStream& operator=(const InputStream&) = delete;

  const std::string& path() const { return path_; }
  bool isStandardInput() const { return standardInput_; }
  // The open descriptor, for libraries that read a file by descriptor or by
  // /proc/self/fd path (so that they read the file that was checked).
  int descriptor() const { return fd_; }
  // The size at opening of a regular file; none for standard input.
  std::optional<std::uint64_t> size() const { return size_; }

  // Reads up to `length` bytes at the current position; fewer only at the end.
  // Throws "Read " + path + " failed" on an I/O error.
  std::size_t read(void* destination, std::size_t length);

  // Reads exactly `length` bytes at `offset` of a regular file; throws the
  // changed-file failure when the file ends before them.
  void readAt(std::uint64_t offset, void* destination, std::size_t length);

  // Reads what is left, refusing more than `limit` bytes with `tooLarge` as the message.
  std::vector<char> readAll(std::uint64_t limit, const std::string& tooLarge);

  // Throws changedFailure unless `bytesRead` equals the size at opening (regular files).
  void checkComplete(std::uint64_t bytesRead) const;

  // "<path> changed while being read (<size> bytes at opening, <n> read)".
  [[noreturn]] void throwChanged(std::uint64_t bytesRead) const;

 private:
  std::string path_;
  int fd_ = -1;
  bool standardInput_ = false;
  std::optional<std::uint64_t> size_;
};

// Lower-case extension of a path's file name, with its dot ("" when none).
std::string lowerExtension(const std::string& path);

}  // namespace arbsuite::wavepack
