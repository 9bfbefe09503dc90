// The packing of a raw 16-bit IQ sample file into a version-1 .arb file behind
// PackuserIQdata, with a callback that follows the packer's reads of the file (the
// converter's progress report).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "arb_pack.h"

namespace arbsuite::wavepack {

// Called with the IQ pairs of each block read from the sample file; the packer
// reads the file twice (the level, then the encryption) unless it is given the
// level, so a whole run reports twice its pair count, or once.
using PairsRead = std::function<void(std::uint64_t pairs)>;

// Packs the words of the file inputPath into outputPath as PackuserIQdata does (it
// calls this without a callback and without a level). With `level`, the level item
// summed as the words were written (arbsuite::LevelSum), the file is read once, to
// encrypt it. Returns a PackStatus.
std::int32_t packSampleFile(const char* inputPath, const char* outputPath,
                            const arbsuite::Version1Fields& fields, const PairsRead& pairsRead,
                            std::optional<double> level = std::nullopt);

}  // namespace arbsuite::wavepack
