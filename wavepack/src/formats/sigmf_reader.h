// SigMF recordings: a JSON metadata file (.sigmf-meta) beside a raw data file
// (.sigmf-data). The datatype, sample rate, offset and first capture of the
// metadata say where the samples are and how to decode them.
#pragma once

#include <string>
#include <string_view>

#include "diagnostics.h"
#include "input_data.h"
#include "raw_reader.h"

namespace wavepack {

// Largest metadata file read: far beyond what a recording with one capture and its
// annotations needs, small enough to hold in memory.
inline constexpr std::uint64_t kMaxSigmfMetaBytes = std::uint64_t{64} << 20;

// Where a recording's samples are, as its metadata describes them.
struct SigmfLayout {
  RawFormat format;
  std::string dataPath;
  std::uint64_t startByte = 0;      // first byte of the first capture's samples
  std::uint64_t trailingBytes = 0;  // bytes after the samples that are not samples
  std::optional<double> sampleRate;
};

// Reads the metadata text of the recording whose metadata file is `metaPath`.
// Throws std::runtime_error naming the file and the field for JSON that is not
// valid, a missing or unreadable core:datatype, a datatype this reader does not
// decode (real or unknown), more than one channel, a metadata-only recording,
// a capture that starts before core:offset, header bytes inside the data, and a
// sample rate that is not a positive finite number.
SigmfLayout parseSigmfMetadata(std::string_view text, const std::string& metaPath);

// Reads a recording given by either of its files (or by the name they share
// without the extension).
InputData readSigmf(const std::string& path, Diagnostics& diagnostics);

}  // namespace wavepack
