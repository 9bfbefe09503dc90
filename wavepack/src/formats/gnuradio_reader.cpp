// GNU Radio metadata files (see gnuradio_reader.h): the headers are walked from
// the first one, each segment's data is checked against the file's size, and the
// segments are decoded in order by the raw reader, block by block from the file.
#include "gnuradio_reader.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

#include "gnuradio_header.h"

namespace arbsuite::wavepack {

namespace {

// Bytes enough to tell a header from other data (see looksLikeGnuRadioHeader).
constexpr std::size_t kSniffBytes = 64;

// The pairs of several regions of one file, one after another.
class SegmentedPairs final : public PairSource {
 public:
  explicit SegmentedPairs(std::vector<std::unique_ptr<PairSource>> parts)
      : parts_(std::move(parts)) {
    for (const auto& part : parts_) {
      starts_.push_back(size_);
      size_ += part->size();
    }
  }

  std::uint64_t size() const override { return size_; }

  std::span<const IqPair> read(std::uint64_t start, std::span<IqPair> scratch) override {
    if (start >= size_ || scratch.empty()) throw std::out_of_range("read beyond the pairs");
    const auto part = static_cast<std::size_t>(
        std::upper_bound(starts_.begin(), starts_.end(), start) - starts_.begin() - 1);
    return parts_[part]->read(start - starts_[part], scratch);
  }

 private:
  std::vector<std::unique_ptr<PairSource>> parts_;
  std::vector<std::uint64_t> starts_;
  std::uint64_t size_ = 0;
};

std::string rateText(double hz) {
  char text[64];
  std::snprintf(text, sizeof text, "%.10g", hz);
  return text;
}

const char* flagOf(RawRole role) { return role == RawRole::inPhase ? "-i" : "-q"; }

// The datatype of the items a header describes, read as `role`. `pairs` is set
// for real items of two values, read as I and Q.
RawFormat itemFormat(const GnuRadioHeader& header, RawRole role, const std::string& name,
                     const std::string& path, bool& pairs) {
  const std::string type = std::to_string(header.type) + " (" + gnuRadioTypeName(header.type) + ")";
  std::string base;
  std::int64_t valueBytes = 0;
  switch (static_cast<GnuRadioType>(header.type)) {
    case GnuRadioType::byte:
      base = "i8";
      valueBytes = 1;
      break;
    case GnuRadioType::shortInt:
      base = "i16_le";
      valueBytes = 2;
      break;
    case GnuRadioType::integer:
      base = "i32_le";
      valueBytes = 4;
      break;
    case GnuRadioType::floatSingle:
      base = "f32_le";
      valueBytes = 4;
      break;
    case GnuRadioType::floatDouble:
      base = "f64_le";
      valueBytes = 8;
      break;
    default:
      throw std::runtime_error(name + ": \"type\" is " + type +
                               ": wavepack reads items of byte, short, int, float and double");
  }
  const std::string typeName = gnuRadioTypeName(header.type);
  const std::string size = std::to_string(header.itemSize);
  pairs = false;
  if (header.complex) {
    if (header.itemSize != 2 * valueBytes)
      throw std::runtime_error(name + ": \"size\" is " + size + ": an item of complex " + typeName +
                               " is " + std::to_string(2 * valueBytes) + " bytes");
    if (role != RawRole::iq)
      throw std::invalid_argument(std::string(flagOf(role)) + " takes real items; " + path +
                                  " holds complex " + typeName +
                                  " items (\"cplx\" true): give it with -d");
    return rawFormatByName("c" + base);
  }
  if (header.itemSize == valueBytes) {
    if (role == RawRole::iq)
      throw std::invalid_argument(path + " holds real " + typeName + " items (\"cplx\" false, " +
                                  "\"size\" " + size +
                                  "): -d takes complex items or items of two values (I and Q); "
                                  "separate I and Q files are given with -i and -q");
    return rawFormatByName("r" + base);
  }
  if (header.itemSize == 2 * valueBytes) {
    if (role != RawRole::iq)
      throw std::invalid_argument(std::string(flagOf(role)) + " takes items of one value; " + path +
                                  " holds items of two " + typeName + " values (\"size\" " + size +
                                  "): give it with -d");
    pairs = true;
    return rawFormatByName("c" + base);
  }
  throw std::runtime_error(name + ": \"size\" is " + size + ": an item of real " + typeName +
                           " is " + std::to_string(valueBytes) + " bytes (" +
                           std::to_string(2 * valueBytes) + " for I and Q)");
}

GnuRadioHeader readHeader(InputStream& input, std::uint64_t size, std::uint64_t at,
                          const std::string& name) {
  const std::uint64_t available = std::min(size - at, kMaxGnuRadioHeaderRead);
  std::vector<std::uint8_t> bytes;
  for (std::uint64_t length = std::min(available, kGnuRadioHeaderRead);;
       length = std::min(available, 16 * length)) {
    bytes.resize(static_cast<std::size_t>(length));
    input.readAt(at, bytes.data(), bytes.size());
    try {
      return parseGnuRadioHeader(bytes);
    } catch (const GnuRadioHeaderError& e) {
      if (e.truncated() && length < available) continue;  // the dictionary goes on
      if (e.truncated() && available == kMaxGnuRadioHeaderRead)
        throw std::runtime_error(name + ": its dictionary is longer than " +
                                 std::to_string(kMaxGnuRadioHeaderRead >> 20) +
                                 " MiB, more than a header holds");
      throw std::runtime_error(name + ": " + e.what());
    }
  }
}

bool isRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

GnuRadioFiles gnuRadioFiles(const std::string& path) {
  if (lowerExtension(path) == kGnuRadioHeaderExtension)
    return {path.substr(0, path.size() - kGnuRadioHeaderExtension.size()), path, true};
  const std::string headers = path + std::string(kGnuRadioHeaderExtension);
  if (isRegularFile(headers)) return {path, headers, true};
  return {path, path, false};
}

bool startsWithGnuRadioHeader(InputStream& input) {
  if (input.isStandardInput()) return false;
  std::uint8_t bytes[kSniffBytes];
  const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(*input.size(), kSniffBytes));
  input.readAt(0, bytes, length);
  return looksLikeGnuRadioHeader(std::span<const std::uint8_t>(bytes, length));
}

InputData readGnuRadio(const std::string& path, RawRole role, Diagnostics& diagnostics) {
  (void)diagnostics;
  const GnuRadioFiles files = gnuRadioFiles(path);
  if (path == kStandardInputName)
    throw std::invalid_argument("GNU Radio metadata files are not read from standard input");
  struct stat st {};
  if (files.detached && files.headers == path && ::stat(files.data.c_str(), &st) != 0)
    throw std::runtime_error("Open " + files.data + " failed: it is the data file of the GNU " +
                             "Radio header " + files.headers);
  auto data = std::make_shared<InputStream>(files.data);
  const std::uint64_t dataSize = *data->size();
  std::unique_ptr<InputStream> separate;
  InputStream* headers = data.get();
  if (files.detached) {
    separate = std::make_unique<InputStream>(files.headers);
    headers = separate.get();
  }
  const std::uint64_t headersSize = *headers->size();
  if (headersSize == 0)
    throw std::out_of_range(files.detached ? files.headers + " holds no header"
                                           : "There is no data in " + files.data);

  struct Segment {
    std::uint64_t offset;
    std::uint64_t bytes;
  };
  std::vector<Segment> segments;
  GnuRadioHeader first;
  RawFormat format;
  bool pairs = false;
  std::uint64_t at = 0;      // the next header in the headers' file
  std::uint64_t dataAt = 0;  // the next segment in a detached data file
  std::size_t count = 0;
  while (at < headersSize) {
    ++count;
    const std::string name = files.headers + ": header " + std::to_string(count) + " (at byte " +
                             std::to_string(at) + ")";
    if (count > 1 && !files.detached) {
      // After a segment comes the next header or the end of the file.
      std::uint8_t head[kSniffBytes];
      const auto length =
          static_cast<std::size_t>(std::min<std::uint64_t>(headersSize - at, kSniffBytes));
      headers->readAt(at, head, length);
      if (!looksLikeGnuRadioHeader(std::span<const std::uint8_t>(head, length)))
        throw std::runtime_error(path + " holds " + std::to_string(headersSize - at) +
                                 " bytes after its last segment that no header describes "
                                 "(the \"bytes\" of header " +
                                 std::to_string(count - 1) + " end at byte " + std::to_string(at) +
                                 ")");
    }
    const GnuRadioHeader header = readHeader(*headers, headersSize, at, name);
    if (header.start > headersSize - at)
      throw std::runtime_error(name + ": \"strt\" is " + std::to_string(header.start) +
                               ", beyond the end of " + files.headers + " (" +
                               std::to_string(headersSize) + " bytes)");
    bool itemPairs = false;
    const RawFormat itemsFormat = itemFormat(header, role, name, path, itemPairs);
    if (count == 1) {
      first = header;
      format = itemsFormat;
      pairs = itemPairs;
    } else if (header.type != first.type) {
      throw std::runtime_error(name + ": \"type\" is " + std::to_string(header.type) + " (" +
                               gnuRadioTypeName(header.type) + "), header 1's " +
                               std::to_string(first.type) + " (" + gnuRadioTypeName(first.type) +
                               "): the segments of a recording hold one data type");
    } else if (header.itemSize != first.itemSize) {
      throw std::runtime_error(name + ": \"size\" is " + std::to_string(header.itemSize) +
                               ", header 1's " + std::to_string(first.itemSize) +
                               ": the segments of a recording hold one item size");
    } else if (header.complex != first.complex) {
      throw std::runtime_error(name + ": \"cplx\" is " + (header.complex ? "true" : "false") +
                               ", header 1's " + (first.complex ? "true" : "false") +
                               ": the segments of a recording hold one kind of item");
    } else if (header.rate != first.rate) {
      throw std::runtime_error(name + ": \"rx_rate\" is " + rateText(header.rate) +
                               " Hz, header 1's " + rateText(first.rate) +
                               " Hz: an .arb file plays its samples at one clock");
    }
    if (header.bytes % static_cast<std::uint64_t>(header.itemSize) != 0)
      throw std::runtime_error(name + ": \"bytes\" is " + std::to_string(header.bytes) +
                               ", not a whole number of " + std::to_string(header.itemSize) +
                               "-byte items (\"size\")");
    std::uint64_t offset = 0;
    if (files.detached) {
      if (header.bytes > dataSize - dataAt)
        throw std::runtime_error(name + ": \"bytes\" is " + std::to_string(header.bytes) +
                                 ", beyond the end of " + files.data + ": the segment starts at " +
                                 "byte " + std::to_string(dataAt) + " of its " +
                                 std::to_string(dataSize));
      offset = dataAt;
      dataAt += header.bytes;
      at += header.start;
    } else {
      offset = at + header.start;
      if (header.bytes > headersSize - offset)
        throw std::runtime_error(name + ": \"bytes\" is " + std::to_string(header.bytes) +
                                 ", beyond the end of " + files.data + ": " +
                                 std::to_string(headersSize - offset) + " bytes follow the header");
      at = offset + header.bytes;
    }
    // Segments one after another in the file (a detached header's) are one region.
    if (header.bytes > 0 && !segments.empty() &&
        segments.back().offset + segments.back().bytes == offset)
      segments.back().bytes += header.bytes;
    else if (header.bytes > 0)
      segments.push_back({offset, header.bytes});
  }
  if (files.detached && dataAt < dataSize)
    throw std::runtime_error(files.data + " holds " + std::to_string(dataSize - dataAt) +
                             " bytes after the " + std::to_string(dataAt) +
                             " that the headers of " + files.headers +
                             " describe (their \"bytes\")");

  std::uint64_t total = 0;
  for (const Segment& segment : segments) total += segment.bytes;
  if (total == 0) throw std::out_of_range("There is no data in " + files.data);
  const std::uint64_t samples = total / format.sampleBytes();
  if (samples > kMaxPairs)
    throw std::length_error("Too many IQ pairs in " + files.data + " (" + std::to_string(samples) +
                            "): an .arb file holds at most " + std::to_string(kMaxPairs));

  std::vector<std::unique_ptr<PairSource>> parts;
  for (const Segment& segment : segments)
    parts.push_back(
        std::make_unique<RawPairs>(data, format, role, RawRegion{segment.offset, segment.bytes}));
  InputData input;
  input.pairs = parts.size() == 1 ? std::move(parts.front())
                                  : std::make_unique<SegmentedPairs>(std::move(parts));
  input.sampleRate = first.rate;
  input.rateSource = files.headers;
  input.formatName = "GNU Radio " + format.name;
  if (pairs)
    input.formatName += " (items of two " + std::string(gnuRadioTypeName(first.type)) + ")";
  if (files.detached) input.formatName += ", detached header";
  if (count > 1) input.formatName += ", " + std::to_string(count) + " headers";
  return input;
}

}  // namespace arbsuite::wavepack
