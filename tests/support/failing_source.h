// A byte source in memory whose reads fail from a chosen offset on: an I/O error
// at a chosen place of a file, for the tests of the .arb decoders and readers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "arb_source.h"

namespace arbtest {

class FailingSource final : public arbsuite::arb::ByteSource {
 public:
  // Reads that reach byte failFrom or beyond return -1.
  FailingSource(const std::vector<std::uint8_t>& bytes, std::uint64_t failFrom)
      : memory_(bytes), failFrom_(failFrom) {}
  std::uint64_t size() const override { return memory_.size(); }
  long long readAt(std::uint64_t offset, void* destination, std::size_t length) override {
    if (length > 0 && offset + length > failFrom_) return -1;
    return memory_.readAt(offset, destination, length);
  }

 private:
  arbsuite::arb::MemorySource memory_;
  std::uint64_t failFrom_;
};

}  // namespace arbtest
