// Random-access byte sources for the .arb readers: an open file, or bytes in memory
// (which lets the readers be tested and fuzzed without touching the disk).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace seqlink {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Size in bytes, fixed when the source was opened.
  virtual std::uint64_t size() const = 0;
  // Copies up to length bytes from offset into destination; returns the number of
  // bytes copied (fewer at the end of the source), or -1 on a read error.
  virtual long long readAt(std::uint64_t offset, void* destination, std::size_t length) = 0;

  // True when the range [offset, offset + length) lies inside the source.
  bool holds(std::uint64_t offset, std::uint64_t length) const {
    return offset <= size() && length <= size() - offset;
  }
  // Reads exactly length bytes; false on a read error or a short read.
  bool readExact(std::uint64_t offset, void* destination, std::size_t length) {
    return readAt(offset, destination, length) == static_cast<long long>(length);
  }
};

// A regular file opened read-only; closed by the destructor.
class FileSource final : public ByteSource {
 public:
  explicit FileSource(const char* path);
  ~FileSource() override;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  // False when the path is null, cannot be opened or is not a regular file.
  bool isOpen() const { return fd_ >= 0; }
  std::uint64_t size() const override { return size_; }
  long long readAt(std::uint64_t offset, void* destination, std::size_t length) override;

 private:
  int fd_ = -1;
  std::uint64_t size_ = 0;
};

class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::uint64_t size() const override { return bytes_.size(); }
  long long readAt(std::uint64_t offset, void* destination, std::size_t length) override;

 private:
  std::span<const std::uint8_t> bytes_;
};

}  // namespace seqlink
