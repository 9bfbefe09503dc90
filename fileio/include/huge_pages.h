// Large sample buffers backed by huge pages where the system offers them on request
// (transparent huge pages in "madvise" mode): filling hundreds of megabytes page by
// page is otherwise a good part of reading or joining them.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>

namespace arbsuite::arb {

// Advises huge pages for the whole 2 MiB pages inside [buffer, buffer + bytes);
// call it before the buffer is first written. A refusal changes nothing.
inline void adviseHugePages(void* buffer, std::size_t bytes) {
  constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
  const auto begin = reinterpret_cast<std::uintptr_t>(buffer);
  const std::uintptr_t alignedBegin = (begin + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t alignedEnd = (begin + bytes) & ~(kHugePage - 1);
  if (alignedEnd > alignedBegin)
    ::madvise(reinterpret_cast<void*>(alignedBegin), alignedEnd - alignedBegin, MADV_HUGEPAGE);
}

}  // namespace arbsuite::arb
