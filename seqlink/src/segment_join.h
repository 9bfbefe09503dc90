// The join of seqlink_join.h with the bound on the samples it keeps between its two
// passes as a parameter, so that the tests can make it read every segment again.
#pragma once

#include <cstdint>
#include <vector>

#include "seqlink_join.h"

namespace arbsuite::seqlink {

// Segments are kept in memory between the measuring pass and the writing pass while
// the samples kept stay within this many bytes (one read piece); the others are read
// in pieces in both passes, which is as fast here (the pieces stay in the cache) and
// takes a fraction of the memory.
inline constexpr std::uint64_t kKeptSampleBytes = std::uint64_t{4} << 20;

JoinStatus joinSegments(const JoinSettings& settings, std::vector<JoinSegment>& joined,
                        const JoinCheck& check, std::uint64_t keptSampleBytes,
                        const JoinProgress& progress = {});

}  // namespace arbsuite::seqlink
