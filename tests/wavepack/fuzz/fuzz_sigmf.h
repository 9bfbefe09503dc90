// What the two SigMF fuzz targets share: a recording whose two files are memory
// files linked as <folder>/rec.sigmf-meta and <folder>/rec.sigmf-data, and the
// check of one reading of it. The metadata is parsed from memory first; only
// metadata that parses is read as a recording (the reader parses it again), and
// then the pairs must be the samples the layout names, decoded here.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "formats/sigmf_reader.h"
#include "fuzz_inputs.h"

namespace fuzzinputs {

class Recording {
 public:
  Recording()
      : metaPath_(folder_.link("rec.sigmf-meta", meta_)),
        dataPath_(folder_.link("rec.sigmf-data", data_)),
        basePath_(folder_.path() + "/rec") {}

  void setMeta(std::span<const std::uint8_t> bytes) {
    meta_.assign(bytes.data(), bytes.size());
    metaBytes_ = bytes;
  }
  void setData(std::span<const std::uint8_t> bytes) {
    data_.assign(bytes.data(), bytes.size());
    dataBytes_ = bytes;
  }

  const std::string& metaPath() const { return metaPath_; }
  const std::string& dataPath() const { return dataPath_; }
  const std::string& basePath() const { return basePath_; }

  // Reads the recording through `path` (either file or the base name) and checks
  // the outcome. The spans given to setMeta and setData must still be valid.
  void check(const std::string& path) const {
    const std::string_view text(reinterpret_cast<const char*>(metaBytes_.data()),
                                metaBytes_.size());
    arbsuite::wavepack::SigmfLayout layout;
    try {
      layout = arbsuite::wavepack::parseSigmfMetadata(text, metaPath_);
    } catch (const std::exception&) {
      return;
    }
    // The file the data path opens (up to a zero byte, as the system reads a name).
    const std::string opened = layout.dataPath.c_str();
    const bool exists = opened == dataPath_ || opened == metaPath_;
    const std::span<const std::uint8_t> samples = opened == metaPath_ ? metaBytes_ : dataBytes_;
    const std::uint64_t size = samples.size();
    const auto datatype = datatypeNamed(layout.format.name);
    if (!datatype || !datatype->complex) std::abort();
    const bool fits = layout.startByte <= size && layout.trailingBytes <= size - layout.startByte;
    const std::uint64_t bytes = fits ? size - layout.startByte - layout.trailingBytes : 0;
    const bool readable = exists && bytes > 0 && bytes % datatype->sampleBytes() == 0;

    arbsuite::wavepack::Diagnostics diagnostics;
    arbsuite::wavepack::InputData input;
    try {
      input = arbsuite::wavepack::readSigmf(path, diagnostics);
    } catch (const std::exception&) {
      if (readable) std::abort();
      return;
    }
    if (!readable || !input.pairs || input.sampleRate != layout.sampleRate) std::abort();
    bool finite = true;
    const std::vector<arbsuite::wavepack::IqPair> expected = decodeComplex(
        *datatype, samples.data() + layout.startByte, bytes / datatype->sampleBytes(), finite);
    if (input.pairs->size() != expected.size()) std::abort();
    std::vector<arbsuite::wavepack::IqPair> got;
    try {
      got = readAll(*input.pairs, 64);
    } catch (const std::range_error&) {
      if (finite) std::abort();
      return;
    }
    if (!finite) std::abort();
    requireSame(got, expected);
  }

 private:
  LinkFolder folder_;
  MemoryFile meta_{"sigmf-meta"};
  MemoryFile data_{"sigmf-data"};
  std::string metaPath_;
  std::string dataPath_;
  std::string basePath_;
  std::span<const std::uint8_t> metaBytes_;
  std::span<const std::uint8_t> dataBytes_;
};

}  // namespace fuzzinputs
