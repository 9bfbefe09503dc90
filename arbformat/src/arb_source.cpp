// Bytes in memory as a byte source of the .arb decoders.
#include "arb_source.h"

#include <algorithm>
#include <cstring>

namespace arbsuite::arb {

long long MemorySource::readAt(std::uint64_t offset, void* destination, std::size_t length) {
  if (offset >= bytes_.size()) return 0;
  const std::size_t count = std::min<std::uint64_t>(length, bytes_.size() - offset);
  if (count > 0) std::memcpy(destination, bytes_.data() + offset, count);
  return static_cast<long long>(count);
}

}  // namespace arbsuite::arb
