// Work split over the cores: the CSV pieces, and the passes over the pairs.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>

namespace arbsuite {

// Threads to use: `requested`, or one per core when it is 0.
unsigned threadCount(unsigned requested = 0);

// Runs work(0) ... work(parts - 1) at the same time, work(0) on the calling thread.
// When some of them throw, the exception of the lowest part is rethrown after all
// have finished, so that a failure is the one a single pass in order meets first.
void runParts(unsigned parts, const std::function<void(unsigned part)>& work);

// The start of part `part` of `parts` equal ranges of [0, total).
inline std::uint64_t partStart(std::uint64_t total, unsigned parts, unsigned part) {
  return total / parts * part + std::min<std::uint64_t>(part, total % parts);
}

}  // namespace arbsuite

// The readers and the program of wavepack name these in their own namespace.
namespace arbsuite::wavepack {
using arbsuite::partStart;
using arbsuite::runParts;
using arbsuite::threadCount;
}  // namespace arbsuite::wavepack
