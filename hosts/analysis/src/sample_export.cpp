// Writers of the sample exports, in blocks of a few hundred kilobytes.
#include "sample_export.h"

#include <bit>
#include <charconv>
#include <cstring>

#include "analysis_output.h"
#include "progress_report.h"

namespace arbsuite::analysis {
namespace {

constexpr std::size_t kBlockPairs = 1 << 15;

void putU16(unsigned char* at, std::uint16_t value) {
  at[0] = static_cast<unsigned char>(value & 0xFF);
  at[1] = static_cast<unsigned char>(value >> 8);
}

void putU32(unsigned char* at, std::uint32_t value) {
  for (int k = 0; k < 4; ++k) at[k] = static_cast<unsigned char>(value >> (8 * k));
}

bool endsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

std::optional<SampleFormat> sampleFormatNamed(const std::string& name) {
  if (name == "csv") return SampleFormat::Csv;
  if (name == "cf32_le") return SampleFormat::Cf32Le;
  if (name == "ci16_le") return SampleFormat::Ci16Le;
  if (name == "sigmf") return SampleFormat::Sigmf;
  return std::nullopt;
}

void writeSamples(std::FILE* stream, std::span<const std::int16_t> iq, SampleFormat format,
                  const std::string& name) {
  arb::ProgressReport progress("writing " + name, iq.size() / 2, "pairs");
  writeSamples(stream, iq, format, name, progress);
}

void writeSamples(std::FILE* stream, std::span<const std::int16_t> iq, SampleFormat format,
                  const std::string& name, arb::ProgressReport& progress) {
  const std::size_t pairs = iq.size() / 2;
  std::vector<char> block(kBlockPairs * 16);
  auto* bytes = reinterpret_cast<unsigned char*>(block.data());
  for (std::size_t first = 0; first < pairs; first += kBlockPairs) {
    const std::size_t last = std::min(pairs, first + kBlockPairs);
    const std::span<const std::int16_t> values = iq.subspan(2 * first, 2 * (last - first));
    std::size_t used = 0;
    // One loop per format, each simple enough for the compiler to vectorise.
    switch (format) {
      case SampleFormat::Csv:
        for (std::size_t k = 0; k < values.size(); k += 2) {
          // The same text as printf("%d,%d\n"): at most 6 + 1 + 6 + 1 characters.
          char* at = block.data() + used;
          at = std::to_chars(at, at + 6, values[k]).ptr;
          *at++ = ',';
          at = std::to_chars(at, at + 6, values[k + 1]).ptr;
          *at++ = '\n';
          used = static_cast<std::size_t>(at - block.data());
        }
        break;
      case SampleFormat::Cf32Le:
        // v / 8192 is exact in float, so the product by 2^-13 is the same value.
        for (std::size_t k = 0; k < values.size(); ++k) {
          putU32(bytes + 4 * k,
                 std::bit_cast<std::uint32_t>(static_cast<float>(values[k]) * (1.0f / 8192.0f)));
        }
        used = 4 * values.size();
        break;
      case SampleFormat::Ci16Le:
      case SampleFormat::Sigmf:
        if constexpr (std::endian::native == std::endian::little) {
          std::memcpy(bytes, values.data(), values.size_bytes());
        } else {
          for (std::size_t k = 0; k < values.size(); ++k) {
            putU16(bytes + 2 * k, static_cast<std::uint16_t>(values[k]));
          }
        }
        used = values.size_bytes();
        break;
    }
    if (std::fwrite(block.data(), 1, used, stream) != used) {
      throw OutputError("cannot write " + name + ": " + std::strerror(errno));
    }
    progress.add(last - first);
  }
}

nlohmann::ordered_json sigmfMetadata(const SigmfRecording& recording) {
  nlohmann::ordered_json global = nlohmann::ordered_json::object();
  global["core:datatype"] = "ci16_le";
  if (recording.sampleRateHz) global["core:sample_rate"] = *recording.sampleRateHz;
  global["core:version"] = kSigmfVersion;
  global["core:description"] = recording.description;
  global["core:recorder"] = recording.recorder;

  nlohmann::ordered_json capture = nlohmann::ordered_json::object();
  capture["core:sample_start"] = 0;
  nlohmann::ordered_json annotations = nlohmann::ordered_json::array();
  for (const Segment& segment : recording.segments) {
    nlohmann::ordered_json annotation = nlohmann::ordered_json::object();
    annotation["core:sample_start"] = segment.start;
    annotation["core:sample_count"] = segment.count;
    annotation["core:label"] = segment.name;
    char clock[64];
    std::snprintf(clock, sizeof clock, "clock %.17g Hz", segment.clockHz);
    annotation["core:comment"] = clock;
    annotations.push_back(std::move(annotation));
  }
  nlohmann::ordered_json meta = nlohmann::ordered_json::object();
  meta["global"] = std::move(global);
  meta["captures"] = nlohmann::ordered_json::array({capture});
  meta["annotations"] = std::move(annotations);
  return meta;
}

std::string sigmfBaseName(const std::string& output) {
  for (const char* suffix : {kSigmfDataSuffix, kSigmfMetaSuffix, ".sigmf"}) {
    if (endsWith(output, suffix)) return output.substr(0, output.size() - std::strlen(suffix));
  }
  return output;
}

void writeSigmf(const std::string& base, std::span<const std::int16_t> iq,
                const SigmfRecording& recording) {
  const std::string dataPath = base + kSigmfDataSuffix;
  const std::string metaPath = base + kSigmfMetaSuffix;
  OutputFile data(dataPath);
  OutputFile meta(metaPath);
  writeSamples(data.stream(), iq, SampleFormat::Ci16Le, dataPath);
  const std::string text = sigmfMetadata(recording).dump(2) + "\n";
  if (std::fwrite(text.data(), 1, text.size(), meta.stream()) != text.size()) {
    throw OutputError("cannot write " + metaPath + ": " + std::strerror(errno));
  }
  // Both complete before either replaces an existing file.
  data.close();
  meta.close();
  data.commit();
  meta.commit();
}

}  // namespace arbsuite::analysis
