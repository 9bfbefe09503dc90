// A regular file as the random-access byte source of the .arb decoders.
#pragma once

#include <cstddef>
#include <cstdint>

#include "arb_source.h"

namespace arbsuite::seqlink {

// A regular file opened read-only; closed by the destructor.
class FileSource final : public arb::ByteSource {
 public:
  explicit FileSource(const char* path);
  ~FileSource() override;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  // False when the path is null, cannot be opened or is not a regular file (which is
  // found out without blocking).
  bool isOpen() const { return fd_ >= 0; }
  std::uint64_t size() const override { return size_; }
  long long readAt(std::uint64_t offset, void* destination, std::size_t length) override;

 private:
  int fd_ = -1;
  std::uint64_t size_ = 0;
};

}  // namespace arbsuite::seqlink
