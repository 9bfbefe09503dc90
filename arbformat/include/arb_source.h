// Random-access bytes for the .arb decoders: an abstract source (a file opened by a
// reader, see seqlink's FileSource) and bytes held in memory, so that the decoders
// read only the bytes they need from a large file and can be fuzzed without a disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace arbsuite::arb {

// A range of bytes [offset, offset + length) of a file or of memory, in 64 bits so
// that no offset or length taken from a file can wrap around.
struct ByteRange {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Size in bytes, fixed when the source was opened.
  virtual std::uint64_t size() const = 0;
  // Copies up to length bytes from offset into destination; returns the number of
  // bytes copied (fewer at the end of the source), or -1 on a read error.
  virtual long long readAt(std::uint64_t offset, void* destination, std::size_t length) = 0;

  // True when the range lies inside the source.
  bool holds(std::uint64_t offset, std::uint64_t length) const {
    return offset <= size() && length <= size() - offset;
  }
  bool holds(const ByteRange& range) const { return holds(range.offset, range.length); }
};

class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::uint64_t size() const override { return bytes_.size(); }
  long long readAt(std::uint64_t offset, void* destination, std::size_t length) override;

 private:
  std::span<const std::uint8_t> bytes_;
};

}  // namespace arbsuite::arb
