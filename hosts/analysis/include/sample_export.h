// The sample exports of `arbtool dump`: I,Q text lines, raw cf32_le and ci16_le
// (named as SigMF names them), and the SigMF recording pair.
#pragma once

#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "analysed_waveform.h"

namespace arbsuite::arb {
class ProgressReport;
}

namespace arbsuite::analysis {

enum class SampleFormat {
  Csv,     // "I,Q" lines of the stored values
  Cf32Le,  // little-endian 32-bit floats I, Q: the stored values divided by 8192
  Ci16Le,  // little-endian 16-bit integers I, Q: the stored values
  Sigmf,   // OUT.sigmf-data (ci16_le) and OUT.sigmf-meta
};

// The format of a name ("csv", "cf32_le", "ci16_le", "sigmf"), or none.
std::optional<SampleFormat> sampleFormatNamed(const std::string& name);

// Writes the pairs of iq to stream in a raw or text format (not Sigmf), with the
// process's progress report on standard error ("writing NAME"). Throws OutputError
// naming `name` when a write fails.
void writeSamples(std::FILE* stream, std::span<const std::int16_t> iq, SampleFormat format,
                  const std::string& name);
// The same, the pairs written added to progress: a part of a longer job's report.
void writeSamples(std::FILE* stream, std::span<const std::int16_t> iq, SampleFormat format,
                  const std::string& name, arb::ProgressReport& progress);

// What goes into a SigMF metadata file besides the datatype.
struct SigmfRecording {
  std::optional<double> sampleRateHz;  // core:sample_rate; none for mixed clocks
  std::string description;             // core:description: the text header items
  std::string recorder;                // core:recorder: program and version
  std::vector<Segment> segments;       // one annotation each (core:label = name)
};

inline constexpr const char* kSigmfVersion = "1.2.0";
inline constexpr const char* kSigmfDataSuffix = ".sigmf-data";
inline constexpr const char* kSigmfMetaSuffix = ".sigmf-meta";

// The SigMF 1.x metadata of a ci16_le recording: global, one capture at sample 0,
// one annotation per segment (with its clock in core:comment).
nlohmann::ordered_json sigmfMetadata(const SigmfRecording& recording);

// The recording name of an output: OUT without a .sigmf-data, .sigmf-meta or
// .sigmf ending.
std::string sigmfBaseName(const std::string& output);

// Writes base.sigmf-data and base.sigmf-meta, each through a temporary file;
// neither is replaced unless both were written. Throws OutputError.
void writeSigmf(const std::string& base, std::span<const std::int16_t> iq,
                const SigmfRecording& recording);

}  // namespace arbsuite::analysis
