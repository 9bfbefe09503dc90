// The layout check of MATLAB v5 files (see mat_v5_layout.h). Only tags, array flags,
// dimensions and names are read; the values themselves are skipped (compressed ones
// are inflated into a scratch buffer), so the check costs one pass over the file.
#include "mat_v5_layout.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "input_stream.h"

namespace arbsuite::wavepack {

namespace {

constexpr std::uint64_t kHeaderBytes = 128;
constexpr std::uint64_t kTagBytes = 8;
constexpr std::size_t kLongestName = 4096;

// Data types of v5 data elements.
enum : std::uint32_t {
  miINT8 = 1,
  miUINT8 = 2,
  miINT16 = 3,
  miUINT16 = 4,
  miINT32 = 5,
  miUINT32 = 6,
  miSINGLE = 7,
  miDOUBLE = 9,
  miINT64 = 12,
  miUINT64 = 13,
  miMATRIX = 14,
  miCOMPRESSED = 15,
  miUTF8 = 16,
};

// Bytes of one value of a numeric data type; 0 for any other type.
std::uint64_t valueBytes(std::uint32_t type) {
  switch (type) {
    case miINT8:
    case miUINT8:
      return 1;
    case miINT16:
    case miUINT16:
      return 2;
    case miINT32:
    case miUINT32:
    case miSINGLE:
      return 4;
    case miDOUBLE:
    case miINT64:
    case miUINT64:
      return 8;
    default:
      return 0;
  }
}

// Array classes with numeric values: double (6), single (7), int8 ... uint64 (8 to 15).
bool isNumericClass(std::uint32_t arrayClass) { return arrayClass >= 6 && arrayClass <= 15; }

std::uint64_t padded8(std::uint64_t n) { return (n + 7) & ~std::uint64_t{7}; }

// Sequential bytes of one region of the file, or of its inflated contents.
class ByteRegion {
 public:
  virtual ~ByteRegion() = default;
  // Exactly n bytes; false when the region ends first.
  virtual bool read(void* out, std::size_t n) = 0;
  // Passes over n bytes; false when the region ends first.
  virtual bool skip(std::uint64_t n) = 0;
};

class FileRegion final : public ByteRegion {
 public:
  FileRegion(InputStream& input, std::uint64_t begin, std::uint64_t end)
      : input_(input), at_(begin), end_(end) {}
  bool read(void* out, std::size_t n) override {
    if (n > end_ - at_) return false;
    input_.readAt(at_, out, n);
    at_ += n;
    return true;
  }
  bool skip(std::uint64_t n) override {
    if (n > end_ - at_) return false;
    at_ += n;
    return true;
  }
  // Up to n bytes, fewer at the region's end.
  std::size_t readUpTo(void* out, std::size_t n) {
    const std::size_t part = static_cast<std::size_t>(std::min<std::uint64_t>(n, end_ - at_));
    if (part > 0) input_.readAt(at_, out, part);
    at_ += part;
    return part;
  }

 private:
  InputStream& input_;
  std::uint64_t at_;
  std::uint64_t end_;
};

// The zlib stream of a compressed element, inflated as it is read.
class InflatedRegion final : public ByteRegion {
 public:
  explicit InflatedRegion(FileRegion& compressed) : compressed_(compressed) {
    if (inflateInit(&stream_) != Z_OK) throw std::bad_alloc();
  }
  ~InflatedRegion() override { inflateEnd(&stream_); }
  InflatedRegion(const InflatedRegion&) = delete;
  InflatedRegion& operator=(const InflatedRegion&) = delete;

  bool read(void* out, std::size_t n) override {
    return keep(inflateInto(static_cast<Bytef*>(out), n));
  }
  bool skip(std::uint64_t n) override {
    std::array<Bytef, 65536> scratch;
    while (n > 0) {
      const std::size_t part = static_cast<std::size_t>(std::min<std::uint64_t>(n, scratch.size()));
      if (!keep(inflateInto(scratch.data(), part))) return false;
      n -= part;
    }
    return true;
  }
  // Inflates the rest of the stream to its end, where zlib checks its Adler-32 sum;
  // false when it is damaged or ends early.
  bool drain() {
    std::array<Bytef, 65536> scratch;
    while (!ended_) {
      if (!inflateInto(scratch.data(), scratch.size()) && !ended_) return keep(false);
    }
    return true;
  }
  // Whether a read or skip found the stream ended or damaged.
  bool failed() const { return failed_; }
  // Whether the stream was found damaged (rather than short).
  bool damaged() const { return damaged_; }

 private:
  bool keep(bool done) {
    failed_ = failed_ || !done;
    return done;
  }

  bool inflateInto(Bytef* out, std::size_t n) {
    stream_.next_out = out;
    stream_.avail_out = static_cast<uInt>(n);
    while (stream_.avail_out > 0) {
      if (ended_) return false;
      if (stream_.avail_in == 0) {
        stream_.next_in = input_.data();
        stream_.avail_in = static_cast<uInt>(compressed_.readUpTo(input_.data(), input_.size()));
      }
      const uInt before = stream_.avail_in;
      const int status = inflate(&stream_, Z_NO_FLUSH);
      if (status == Z_MEM_ERROR) throw std::bad_alloc();
      if (status == Z_STREAM_END) {
        ended_ = true;
      } else if (status == Z_NEED_DICT || status == Z_DATA_ERROR || status == Z_STREAM_ERROR) {
        damaged_ = true;
        return false;
      } else if (status == Z_BUF_ERROR && before == 0) {
        return false;  // no input left: the stream ends early
      }
    }
    return true;
  }

  FileRegion& compressed_;
  z_stream stream_{};
  std::array<Bytef, 4096> input_{};
  bool ended_ = false;
  bool damaged_ = false;
  bool failed_ = false;
};

// A data element's tag: the long form (type, byte count) or the small form that
// holds up to 4 bytes of data in the tag itself.
struct Tag {
  std::uint32_t type = 0;
  std::uint64_t bytes = 0;
  bool small = false;
  std::array<unsigned char, 4> data{};
  // Bytes the element takes after its tag, padding included.
  std::uint64_t extent() const { return small ? 0 : padded8(bytes); }
};

class LayoutCheck {
 public:
  LayoutCheck(InputStream& input, bool swapped) : input_(input), swapped_(swapped) {}

  void run() {
    const std::uint64_t size = *input_.size();
    for (std::uint64_t at = kHeaderBytes; at < size;) {
      if (size - at < kTagBytes)
        fail("ends " + std::to_string(size - at) +
             " bytes into the tag of the data element at byte " + std::to_string(at) +
             ": the file is truncated");
      FileRegion whole(input_, at, size);
      const Tag tag = readTag(whole);
      const std::uint64_t body = at + kTagBytes;
      const std::uint64_t present = size - body;
      if (!tag.small && tag.bytes > present) truncated(at, tag, present);
      if (tag.type == miMATRIX && !tag.small) {
        FileRegion matrix(input_, body, body + tag.bytes);
        checkMatrix(matrix, tag.bytes, at);
      } else if (tag.type == miCOMPRESSED && !tag.small) {
        checkCompressed(body, tag.bytes, at);
      }
      // Compressed elements are not padded; the others end on an 8-byte boundary.
      const std::uint64_t length = tag.type == miCOMPRESSED ? tag.bytes : tag.extent();
      at = body + std::min(length, present);
    }
  }

 private:
  std::uint32_t u32(const unsigned char* p) const {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return swapped_ ? __builtin_bswap32(v) : v;
  }

  // The tag at the region's position; throws nothing (the region is known to hold 8 bytes
  // when called at top level), returns a type of 0 when the region ends.
  std::optional<Tag> tryTag(ByteRegion& region) const {
    std::array<unsigned char, kTagBytes> raw;
    if (!region.read(raw.data(), raw.size())) return std::nullopt;
    Tag tag;
    const std::uint32_t first = u32(raw.data());
    if ((first >> 16) != 0) {
      tag.small = true;
      tag.type = first & 0xFFFF;
      tag.bytes = first >> 16;
      std::memcpy(tag.data.data(), raw.data() + 4, 4);
    } else {
      tag.type = first;
      tag.bytes = u32(raw.data() + 4);
    }
    return tag;
  }

  Tag readTag(ByteRegion& region) const { return tryTag(region).value_or(Tag{}); }

  [[noreturn]] void fail(const std::string& what) const {
    throw std::runtime_error(input_.path() + " " + what);
  }

  static std::string variableName(const std::string& name, std::uint64_t at) {
    return name.empty() ? "the variable at byte " + std::to_string(at) : "variable " + name;
  }

  // A top-level element longer than the rest of the file: its name from what is
  // there, then the counts.
  [[noreturn]] void truncated(std::uint64_t at, const Tag& tag, std::uint64_t present) const {
    std::string name;
    if (tag.type == miMATRIX) {
      FileRegion part(input_, at + kTagBytes, at + kTagBytes + present);
      name = nameOf(part);
    } else if (tag.type == miCOMPRESSED) {
      FileRegion part(input_, at + kTagBytes, at + kTagBytes + present);
      InflatedRegion inflated(part);
      if (const std::optional<Tag> inner = tryTag(inflated); inner && inner->type == miMATRIX)
        name = nameOf(inflated);
    }
    fail("is truncated: " + variableName(name, at) + " needs " + std::to_string(tag.bytes) +
         " bytes, the file holds " + std::to_string(present) + " of them");
  }

  // The name of a matrix from its first three subelements, or "" when they are not there.
  std::string nameOf(ByteRegion& region) const {
    try {
      std::uint64_t remaining = std::numeric_limits<std::uint64_t>::max();
      Header header;
      readHeader(region, remaining, header, 0);
      return header.name;
    } catch (const std::runtime_error&) {
      return "";
    }
  }

  struct Header {
    std::uint32_t arrayClass = 0;
    bool complex = false;
    std::vector<std::uint64_t> dims;
    std::string name;
  };

  // The next subelement's tag within `remaining` bytes of its matrix.
  Tag subTag(ByteRegion& region, std::uint64_t& remaining, const std::string& what,
             const std::string& owner) const {
    if (remaining < kTagBytes) fail("has no " + what + " in " + owner);
    const std::optional<Tag> tag = tryTag(region);
    if (!tag) fail("ends inside " + owner + " (its " + what + ")");
    remaining -= kTagBytes;
    if (tag->extent() > remaining)
      fail("has a malformed " + owner + ": its " + what + " of " + std::to_string(tag->bytes) +
           " bytes runs past the end of the variable");
    return *tag;
  }

  // The bytes of a subelement (tag read), padding consumed.
  bool subData(ByteRegion& region, const Tag& tag, std::uint64_t& remaining, void* out,
               std::size_t n) const {
    if (tag.small) {
      std::memcpy(out, tag.data.data(), std::min<std::size_t>(n, 4));
      return true;
    }
    if (!region.read(out, n)) return false;
    remaining -= tag.extent();
    return region.skip(tag.extent() - n);
  }

  // Array flags, dimensions and name.
  void readHeader(ByteRegion& region, std::uint64_t& remaining, Header& header,
                  std::uint64_t at) const {
    const std::string owner = variableName("", at);
    const Tag flags = subTag(region, remaining, "array flags", owner);
    std::array<unsigned char, 8> flagBytes{};
    if (flags.type != miUINT32 || flags.bytes != 8) fail("has malformed array flags in " + owner);
    if (!subData(region, flags, remaining, flagBytes.data(), 8))
      fail("ends inside the array flags of " + owner);
    const std::uint32_t word = u32(flagBytes.data());
    header.arrayClass = word & 0xFF;
    header.complex = (word & 0x800) != 0;

    const Tag dims = subTag(region, remaining, "dimensions", owner);
    if (dims.type != miINT32 || dims.bytes % 4 != 0 || dims.bytes < 8 || dims.bytes > 4 * 64)
      fail("has malformed dimensions in " + owner);
    std::vector<unsigned char> dimBytes(static_cast<std::size_t>(dims.bytes));
    if (!subData(region, dims, remaining, dimBytes.data(), dimBytes.size()))
      fail("ends inside the dimensions of " + owner);
    for (std::size_t k = 0; k < dimBytes.size(); k += 4) {
      const auto d = static_cast<std::int32_t>(u32(dimBytes.data() + k));
      if (d < 0) fail("has a negative dimension in " + owner);
      header.dims.push_back(static_cast<std::uint64_t>(d));
    }

    const Tag name = subTag(region, remaining, "name", owner);
    if ((name.type != miINT8 && name.type != miUINT8 && name.type != miUTF8) ||
        name.bytes > kLongestName)
      fail("has a malformed name in " + owner);
    std::string text(static_cast<std::size_t>(name.bytes), '\0');
    if (!subData(region, name, remaining, text.data(), text.size()))
      fail("ends inside the name of " + owner);
    header.name = text.substr(0, text.find('\0'));
  }

  void checkMatrix(ByteRegion& region, std::uint64_t bytes, std::uint64_t at) const {
    std::uint64_t remaining = bytes;
    Header header;
    readHeader(region, remaining, header, at);
    if (!isNumericClass(header.arrayClass)) return;  // bounded by its tag only
    const std::string owner = variableName(header.name, at);
    std::uint64_t elements = 1;
    for (const std::uint64_t d : header.dims) {
      if (d != 0 && elements > std::numeric_limits<std::uint64_t>::max() / 8 / d)
        fail("has " + owner + " with more values than a file can hold");
      elements *= d;
    }
    checkPart(region, remaining, elements, "real part", owner);
    if (header.complex) {
      if (remaining < kTagBytes) fail("has " + owner + " marked complex without an imaginary part");
      checkPart(region, remaining, elements, "imaginary part", owner);
    }
  }

  void checkPart(ByteRegion& region, std::uint64_t& remaining, std::uint64_t elements,
                 const std::string& what, const std::string& owner) const {
    if (remaining < kTagBytes) fail("has " + owner + " without its " + what);
    const std::optional<Tag> tag = tryTag(region);
    if (!tag) fail("ends inside the " + what + " of " + owner);
    remaining -= kTagBytes;
    const std::uint64_t size = valueBytes(tag->type);
    if (size == 0)
      fail("has " + owner + " whose " + what + " has data type " + std::to_string(tag->type) +
           ", not a numeric type");
    if (tag->bytes != elements * size)
      fail("has " + owner + " whose " + what + " holds " + std::to_string(tag->bytes) +
           " bytes where its dimensions need " + std::to_string(elements * size));
    if (tag->extent() > remaining)
      fail("has " + owner + " whose " + what + " of " + std::to_string(tag->bytes) +
           " bytes runs past the end of the variable");
    if (!tag->small && !region.skip(tag->extent()))
      fail("ends inside the " + what + " of " + owner + ": the file is truncated");
    remaining -= tag->extent();
  }

  void checkCompressed(std::uint64_t body, std::uint64_t bytes, std::uint64_t at) const {
    FileRegion compressed(input_, body, body + bytes);
    InflatedRegion inflated(compressed);
    try {
      const std::optional<Tag> inner = tryTag(inflated);
      if (!inner) throw std::runtime_error("no tag");
      if (inner->type != miMATRIX || inner->small) return;  // only matrices are read
      checkMatrix(inflated, inner->bytes, at);
      // A changed value leaves the layout intact; only the stream's sum shows it.
      if (!inflated.drain()) throw std::runtime_error("stream");
    } catch (const std::runtime_error&) {
      // A stream that ends or breaks is reported as such (a damaged stream may also
      // show as a malformed variable), other faults as they are.
      if (!inflated.failed() && inflated.drain()) throw;
      FileRegion again(input_, body, body + bytes);
      InflatedRegion retry(again);
      std::string name;
      if (const std::optional<Tag> inner = tryTag(retry); inner && inner->type == miMATRIX)
        name = nameOf(retry);
      fail("has compressed data of " + variableName(name, at) + " that " +
           (inflated.damaged() ? "is damaged" : "ends before the variable does"));
    }
  }

  InputStream& input_;
  bool swapped_;
};

}  // namespace

void checkMatV5Layout(InputStream& input) {
  if (!input.size() || *input.size() < kHeaderBytes)
    throw std::runtime_error(input.path() +
                             " is shorter than the 128-byte header of a MATLAB file");
  std::array<char, 2> order{};
  input.readAt(126, order.data(), order.size());
  // The header's endian indicator, "IM" when the file was written little-endian.
  const bool littleEndianFile = order[0] == 'I' && order[1] == 'M';
  const bool swapped = littleEndianFile != (std::endian::native == std::endian::little);
  LayoutCheck(input, swapped).run();
}

}  // namespace arbsuite::wavepack
