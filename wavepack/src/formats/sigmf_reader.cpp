// SigMF recordings (see sigmf_reader.h); the JSON is parsed with nlohmann-json.
#include "sigmf_reader.h"

#include <sys/stat.h>

#include <cmath>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "input_stream.h"
#include "tar_archive.h"

namespace arbsuite::wavepack {

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

// Where a recording's samples are: a data file, or a member of an archive.
struct DataRegion {
  std::shared_ptr<InputStream> input;
  std::uint64_t offset = 0;  // first byte of the data file in `input`
  std::uint64_t size = 0;    // bytes of the data file
  std::string name;          // for messages
};

std::string count(std::uint64_t n, const char* what) {
  return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

// The pairs of a recording whose metadata `metaName` describes as `layout`.
InputData readRecording(const SigmfLayout& layout, const std::string& metaName,
                        const DataRegion& data, Diagnostics& diagnostics) {
  const std::uint64_t size = data.size;
  if (layout.headerBytes > size || layout.trailingBytes > size - layout.headerBytes)
    throw std::length_error(data.name + " is " + std::to_string(size) +
                            " bytes, shorter than the header and trailing bytes " + metaName +
                            " describes");
  const std::uint64_t samples =
      (size - layout.headerBytes - layout.trailingBytes) / layout.format.sampleBytes();
  if (layout.skippedSamples > samples)
    throw std::length_error(
        metaName + ": the first capture starts at sample " + std::to_string(layout.sampleStart) +
        " (core:sample_start), past the end of the data: " + data.name + " holds " +
        count(samples, "sample") +
        (layout.offset > 0 ? ", from sample " + std::to_string(layout.offset) + " (core:offset)"
                           : ""));
  if (layout.sampleStart < layout.offset)
    diagnostics.warn(metaName + ": the first capture starts at sample " +
                     std::to_string(layout.sampleStart) + " (core:sample_start), before " +
                     "core:offset " + std::to_string(layout.offset) +
                     ", the index of the data file's first sample: it is read from the data "
                     "file's first sample");
  if (layout.skippedSamples > 0)
    diagnostics.warn(metaName + ": the first capture starts at sample " +
                     std::to_string(layout.sampleStart) + " (core:sample_start" +
                     (layout.offset > 0 ? "; core:offset " + std::to_string(layout.offset) : "") +
                     "): the " + count(layout.skippedSamples, "sample") + " of " + data.name +
                     " before it are not converted");
  const RawRegion region = checkRawRegion(data.name, data.offset + layout.startByte,
                                          size - layout.startByte - layout.trailingBytes,
                                          layout.format, TailRule::refuse, diagnostics);
  InputData input;
  input.pairs = std::make_unique<RawPairs>(data.input, layout.format, RawRole::iq, region);
  input.sampleRate = layout.sampleRate;
  input.rateSource = metaName;
  if (!layout.sampleRate) input.missingRate = metaName + " has no core:sample_rate";
  input.formatName = "SigMF " + layout.format.name;
  return input;
}

// The first recording of a SigMF archive, read in place.
InputData readArchive(const std::string& path, Diagnostics& diagnostics) {
  auto archive = std::make_shared<InputStream>(path);
  if (archive->isStandardInput())
    throw std::invalid_argument("SigMF archives are not read from standard input");
  const std::vector<TarMember> members = listTarMembers(*archive);
  std::vector<const TarMember*> metas;
  for (const TarMember& member : members)
    if (lowerExtension(member.name) == kMetaExtension) metas.push_back(&member);
  if (metas.empty())
    throw std::runtime_error(path + " holds no SigMF recording (no " + std::string(kMetaExtension) +
                             " file)");
  const TarMember& meta = *metas.front();
  const std::string metaName = path + "(" + meta.name + ")";
  if (metas.size() > 1)
    diagnostics.note(path + " holds " + std::to_string(metas.size()) + " recordings: the first, " +
                     baseName(meta.name) + ", is read");
  if (meta.size > kMaxSigmfMetaBytes)
    throw std::length_error(metaName + " is larger than " +
                            std::to_string(kMaxSigmfMetaBytes >> 20) +
                            " MiB, more than SigMF metadata of one recording holds");
  std::string text(static_cast<std::size_t>(meta.size), '\0');
  archive->readAt(meta.offset, text.data(), text.size());
  const SigmfLayout layout = parseSigmfMetadata(text, metaName);
  const std::string dataName = layout.dataset.empty()
                                   ? baseName(meta.name) + std::string(kDataExtension)
                                   : folderOf(meta.name) + layout.dataset;
  for (const TarMember& member : members) {
    if (member.name != dataName) continue;
    return readRecording(layout, metaName,
                         {archive, member.offset, member.size, path + "(" + member.name + ")"},
                         diagnostics);
  }
  throw std::runtime_error(metaName + ": its data, " + dataName + ", is not in " + path);
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
  layout.offset = offset;
  layout.sampleStart = sampleStart;
  layout.headerBytes = headerBytes;
  // A capture that starts before the data file's first sample starts with it.
  const std::uint64_t skipped = sampleStart > offset ? sampleStart - offset : 0;
  const std::uint64_t sampleBytes = layout.format.sampleBytes();
  if (skipped > (std::uint64_t{1} << 62) / sampleBytes)
    throw MetaError(metaPath, "the first capture starts beyond any data file");
  layout.skippedSamples = skipped;
  layout.startByte = skipped * sampleBytes + headerBytes;
  layout.trailingBytes = unsignedField(global, "core:trailing_bytes", 0, metaPath);

  const auto dataset = global.find("core:dataset");
  if (dataset != global.end()) {
    if (!dataset->is_string() || dataset->get<std::string>().empty() ||
        dataset->get<std::string>().find('/') != std::string::npos)
      throw MetaError(metaPath, "\"core:dataset\" is not a file name");
    layout.dataset = dataset->get<std::string>();
    layout.dataPath = folderOf(metaPath) + layout.dataset;
  } else {
    layout.dataPath = baseName(metaPath) + std::string(kDataExtension);
  }
  return layout;
}

InputData readSigmf(const std::string& path, Diagnostics& diagnostics) {
  const std::string extension = lowerExtension(path);
  bool archive = extension == kSigmfArchiveExtension;
  struct stat st {};
  if (!archive && extension != kMetaExtension && extension != kDataExtension &&
      ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    InputStream given(path);
    archive = isTarArchive(given);
  }
  if (archive) return readArchive(path, diagnostics);

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
  return readRecording(layout, metaPath, {std::move(data), 0, size, layout.dataPath}, diagnostics);
}

}  // namespace arbsuite::wavepack
