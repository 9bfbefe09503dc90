// SigMF recordings (see sigmf_reader.h); the JSON is parsed with nlohmann-json.
#include "sigmf_reader.h"

#include <cmath>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "input_stream.h"

namespace wavepack {

namespace {

using nlohmann::json;

constexpr std::string_view kMetaExtension = ".sigmf-meta";
constexpr std::string_view kDataExtension = ".sigmf-data";

class MetaError : public std::runtime_error {
 public:
  MetaError(const std::string& metaPath, const std::string& what)
      : std::runtime_error(metaPath + ": " + what) {}
};

// A non-negative integer field of an object, or its default when absent.
std::uint64_t unsignedField(const json& object, const char* key, std::uint64_t fallback,
                            const std::string& metaPath) {
  const auto it = object.find(key);
  if (it == object.end()) return fallback;
  if (!it->is_number_unsigned())
    throw MetaError(metaPath, std::string("\"") + key + "\" is not a non-negative integer");
  return it->get<std::uint64_t>();
}

// The recording's base name: the path without a SigMF extension.
std::string baseName(const std::string& path) {
  const std::string extension = lowerExtension(path);
  if (extension == kMetaExtension || extension == kDataExtension)
    return path.substr(0, path.size() - extension.size());
  return path;
}

std::string folderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

SigmfLayout parseSigmfMetadata(std::string_view text, const std::string& metaPath) {
  json meta;
  try {
    meta = json::parse(text);
  } catch (const json::exception& e) {
    throw MetaError(metaPath, std::string("not valid JSON (") + e.what() + ")");
  }
  if (!meta.is_object() || !meta.contains("global") || !meta["global"].is_object())
    throw MetaError(metaPath, "no \"global\" object: not SigMF metadata");
  const json& global = meta["global"];

  SigmfLayout layout;
  const auto datatype = global.find("core:datatype");
  if (datatype == global.end() || !datatype->is_string())
    throw MetaError(metaPath, "no \"core:datatype\" text");
  const std::string name = datatype->get<std::string>();
  try {
    layout.format = rawFormatByName(name);
  } catch (const std::invalid_argument& e) {
    throw MetaError(metaPath,
                    "core:datatype \"" + name + "\" is not one wavepack reads (" + e.what() + ")");
  }
  if (!layout.format.complex)
    throw MetaError(metaPath, "core:datatype \"" + name +
                                  "\" holds real samples; wavepack converts complex IQ "
                                  "recordings (c...)");
  const std::uint64_t channels = unsignedField(global, "core:num_channels", 1, metaPath);
  if (channels != 1)
    throw MetaError(metaPath, "the recording has " + std::to_string(channels) +
                                  " channels; wavepack converts one");
  const auto metadataOnly = global.find("core:metadata_only");
  if (metadataOnly != global.end() && metadataOnly->is_boolean() && metadataOnly->get<bool>())
    throw MetaError(metaPath, "the recording is metadata only: it has no samples");

  const auto rate = global.find("core:sample_rate");
  if (rate != global.end()) {
    if (!rate->is_number() || !(rate->get<double>() > 0) || !std::isfinite(rate->get<double>()))
      throw MetaError(metaPath, "\"core:sample_rate\" is not a positive number");
    layout.sampleRate = rate->get<double>();
  }

  // Sample indices are absolute; the data file's first sample has index core:offset.
  const std::uint64_t offset = unsignedField(global, "core:offset", 0, metaPath);
  std::uint64_t sampleStart = offset;
  std::uint64_t headerBytes = 0;
  const auto captures = meta.find("captures");
  if (captures != meta.end()) {
    if (!captures->is_array()) throw MetaError(metaPath, "\"captures\" is not an array");
    for (std::size_t k = 0; k < captures->size(); ++k) {
      const json& capture = (*captures)[k];
      if (!capture.is_object())
        throw MetaError(metaPath, "capture " + std::to_string(k) + " is not an object");
      const std::uint64_t bytes = unsignedField(capture, "core:header_bytes", 0, metaPath);
      if (k == 0) {
        sampleStart = unsignedField(capture, "core:sample_start", 0, metaPath);
        headerBytes = bytes;
      } else if (bytes != 0) {
        throw MetaError(metaPath, "capture " + std::to_string(k) +
                                      " has header bytes inside the data, which wavepack "
                                      "does not skip");
      }
    }
  }
  if (sampleStart < offset)
    throw MetaError(metaPath, "the first capture starts at sample " + std::to_string(sampleStart) +
                                  ", before core:offset " + std::to_string(offset));
  const std::uint64_t skipped = sampleStart - offset;
  const std::uint64_t sampleBytes = layout.format.sampleBytes();
  if (skipped > (std::uint64_t{1} << 62) / sampleBytes)
    throw MetaError(metaPath, "the first capture starts beyond any data file");
  layout.startByte = skipped * sampleBytes + headerBytes;
  layout.trailingBytes = unsignedField(global, "core:trailing_bytes", 0, metaPath);

  const auto dataset = global.find("core:dataset");
  if (dataset != global.end()) {
    if (!dataset->is_string() || dataset->get<std::string>().empty() ||
        dataset->get<std::string>().find('/') != std::string::npos)
      throw MetaError(metaPath, "\"core:dataset\" is not a file name");
    layout.dataPath = folderOf(metaPath) + dataset->get<std::string>();
  } else {
    layout.dataPath = baseName(metaPath) + std::string(kDataExtension);
  }
  return layout;
}

InputData readSigmf(const std::string& path, Diagnostics& diagnostics) {
  const std::string metaPath = baseName(path) + std::string(kMetaExtension);
  std::string text;
  {
    InputStream meta(metaPath);
    const std::vector<char> bytes =
        meta.readAll(kMaxSigmfMetaBytes,
                     metaPath + " is larger than " + std::to_string(kMaxSigmfMetaBytes >> 20) +
                         " MiB, more than SigMF metadata of one recording holds");
    text.assign(bytes.begin(), bytes.end());
  }
  const SigmfLayout layout = parseSigmfMetadata(text, metaPath);

  auto data = std::make_shared<InputStream>(layout.dataPath);
  const std::uint64_t size = *data->size();
  if (layout.startByte > size || layout.trailingBytes > size - layout.startByte)
    throw std::length_error(layout.dataPath + " is " + std::to_string(size) +
                            " bytes, shorter than the header and trailing bytes " + metaPath +
                            " describes");
  const RawRegion region = checkRawRegion(layout.dataPath, layout.startByte,
                                          size - layout.startByte - layout.trailingBytes,
                                          layout.format, TailRule::refuse, diagnostics);
  InputData input;
  input.pairs = std::make_unique<RawPairs>(std::move(data), layout.format, RawRole::iq, region);
  input.sampleRate = layout.sampleRate;
  input.rateSource = metaPath;
  input.formatName = "SigMF " + layout.format.name;
  return input;
}

}  // namespace wavepack
