// Whether an .arb file holds the sample data its header announces: the data starts
// at the header's dataOffset and fills 4 bytes a pair, padded to the 8-byte cipher
// block. The library reads pairs a file lacks as silence; arbtool refuses the file.
#pragma once

#include <optional>
#include <string>

namespace arbsuite {

// Empty when the file at path holds sampleCount pairs of data; otherwise the
// message, starting "truncated: ", with the sizes. A file whose header cannot be
// read at all gives a message too.
std::optional<std::string> truncation(const std::string& path, long long sampleCount);

}  // namespace arbsuite
