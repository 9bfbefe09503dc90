// SigMF recordings: a JSON metadata file (.sigmf-meta) beside a raw data file
// (.sigmf-data), or both inside a SigMF archive (.sigmf, a tar file). The
// datatype, sample rate, offset and first capture of the metadata say where the
// samples are and how to decode them.
#pragma once

#include <string>
#include <string_view>

#include "diagnostics.h"
#include "input_data.h"
#include "raw_reader.h"

namespace arbsuite::wavepack {

// Largest metadata file read: far beyond what a recording with one capture and its
// annotations needs, small enough to hold in memory.
inline constexpr std::uint64_t kMaxSigmfMetaBytes = std::uint64_t{64} << 20;

// Where a recording's samples are, as its metadata describes them.
struct SigmfLayout {
  RawFormat format;
  std::string dataPath;
  std::string dataset;              // core:dataset, the data file's name, when given
  std::uint64_t startByte = 0;      // first byte of the first capture's samples
  std::uint64_t trailingBytes = 0;  // bytes after the samples that are not samples
  std::optional<double> sampleRate;
  std::uint64_t offset = 0;          // core:offset: the index of the data file's first sample
  std::uint64_t sampleStart = 0;     // the first capture's core:sample_start (offset without one)
  std::uint64_t headerBytes = 0;     // the first capture's core:header_bytes
  std::uint64_t skippedSamples = 0;  // samples of the data file before the first capture
};

// The extension of a SigMF archive.
inline constexpr std::string_view kSigmfArchiveExtension = ".sigmf";

// Reads the metadata text of the recording whose metadata file is `metaPath`.
// Throws std::runtime_error naming the file and the field for JSON that is not
// valid, a missing or unreadable core:datatype, a datatype this reader does not
// decode (real or unknown), more than one channel, a metadata-only recording,
// header bytes inside the data, and a sample rate that is not a positive finite
// number. A first capture that starts before core:offset (whose sample_start
// counts from the data file's first sample, or from another origin) starts at
// the data file's first sample (startByte is its header bytes).
SigmfLayout parseSigmfMetadata(std::string_view text, const std::string& metaPath);

// Reads a recording given by either of its files (or by the name they share
// without the extension), or the first recording of a SigMF archive (a .sigmf
// file, or any tar file given with --format sigmf). Warns about a first capture
// that starts after the data file's first sample (the samples before it are not
// read) or before core:offset. Without core:sample_rate, InputData::missingRate
// names the metadata. Throws the parser's failures, and for an archive one that
// is not a tar file, holds no .sigmf-meta file, or lacks the recording's data;
// several recordings in one archive are noted.
InputData readSigmf(const std::string& path, Diagnostics& diagnostics);

}  // namespace arbsuite::wavepack
