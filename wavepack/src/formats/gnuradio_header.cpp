// GNU Radio metadata headers (see gnuradio_header.h): a reader of the serialised
// dictionary that keeps the fields of a header and steps over any other value.
#include "gnuradio_header.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>

namespace arbsuite::wavepack {

namespace {

// Deepest nesting of values stepped over: far more than any tag value holds, and
// a bound on the recursion a crafted file can cause.
constexpr int kMaxDepth = 64;

// A value of the dictionary, as far as the header's fields need it.
struct Value {
  enum class Kind { boolean, symbol, integer, unsignedInteger, real, other };
  Kind kind = Kind::other;
  bool flag = false;
  std::int64_t integer = 0;
  std::uint64_t unsignedInteger = 0;
  double real = 0;
};

std::string hexByte(std::uint8_t byte) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02x", byte);
  return text;
}

class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::uint64_t position() const { return at_; }

  std::uint8_t u8() {
    need(1);
    return bytes_[at_++];
  }
  std::uint64_t bigEndian(unsigned width) {
    need(width);
    std::uint64_t value = 0;
    for (unsigned k = 0; k < width; ++k) value = (value << 8) | bytes_[at_ + k];
    at_ += width;
    return value;
  }
  void skip(std::uint64_t count) {
    need(count);
    at_ += count;
  }
  std::string symbolText() {
    const auto length = static_cast<std::size_t>(bigEndian(2));
    need(length);
    std::string text(reinterpret_cast<const char*>(bytes_.data() + at_), length);
    at_ += length;
    return text;
  }

  // One value from its tag on; values the header's fields never are become `other`.
  Value value(int depth) {
    if (depth > kMaxDepth) fail("values nested more than " + std::to_string(kMaxDepth) + " deep");
    const std::uint64_t tagAt = at_;
    const std::uint8_t tag = u8();
    Value v;
    switch (static_cast<PmtTag>(tag)) {
      case PmtTag::trueValue:
      case PmtTag::falseValue:
        v.kind = Value::Kind::boolean;
        v.flag = tag == static_cast<std::uint8_t>(PmtTag::trueValue);
        return v;
      case PmtTag::symbol:
        symbolText();
        v.kind = Value::Kind::symbol;
        return v;
      case PmtTag::int32:
        v.kind = Value::Kind::integer;
        v.integer = static_cast<std::int32_t>(static_cast<std::uint32_t>(bigEndian(4)));
        return v;
      case PmtTag::int64:
        v.kind = Value::Kind::integer;
        v.integer = static_cast<std::int64_t>(bigEndian(8));
        return v;
      case PmtTag::uint64:
        v.kind = Value::Kind::unsignedInteger;
        v.unsignedInteger = bigEndian(8);
        return v;
      case PmtTag::real:
        v.kind = Value::Kind::real;
        v.real = std::bit_cast<double>(bigEndian(8));
        return v;
      case PmtTag::complex:
        skip(16);
        return v;
      case PmtTag::nil:
        return v;
      case PmtTag::pair:
        // A list: its elements one after another, then whatever ends it.
        for (;;) {
          value(depth + 1);
          if (at_ < bytes_.size() && bytes_[at_] == static_cast<std::uint8_t>(PmtTag::pair)) {
            ++at_;
            continue;
          }
          value(depth + 1);
          return v;
        }
      case PmtTag::vector:
      case PmtTag::tuple: {
        const std::uint64_t count = bigEndian(4);
        needItems(count, 1);  // each value is one byte at least
        for (std::uint64_t k = 0; k < count; ++k) value(depth + 1);
        return v;
      }
      case PmtTag::uniformVector: {
        const std::uint8_t type = u8();
        const std::uint64_t count = bigEndian(4);
        skip(u8());
        // Element bytes of the uniform vector types: u8, s8, u16, s16, u32, s32,
        // u64, s64, f32, f64, c32, c64.
        constexpr unsigned kElementBytes[] = {1, 1, 2, 2, 4, 4, 8, 8, 4, 8, 8, 16};
        if (type >= std::size(kElementBytes))
          fail("a uniform vector of element type " + hexByte(type) + " at byte " +
               std::to_string(tagAt));
        needItems(count, kElementBytes[type]);
        skip(count * kElementBytes[type]);
        return v;
      }
    }
    fail("byte " + std::to_string(tagAt) + " holds " + hexByte(tag) +
         ", which is no value of a header dictionary");
  }

  [[noreturn]] void fail(const std::string& what) const {
    throw GnuRadioHeaderError("its dictionary is not well formed: " + what);
  }

 private:
  void need(std::uint64_t count) const {
    if (count > bytes_.size() - at_) throwEnd();
  }
  void needItems(std::uint64_t count, std::uint64_t width) const {
    if (count > (bytes_.size() - at_) / width) throwEnd();
  }
  [[noreturn]] void throwEnd() const {
    throw GnuRadioHeaderError(
        "it ends inside its dictionary, at byte " + std::to_string(bytes_.size()), true);
  }

  std::span<const std::uint8_t> bytes_;
  std::uint64_t at_ = 0;
};

const char* const kFieldNames[] = {"version", "rx_rate", "rx_time", "size",
                                   "type",    "cplx",    "strt",    "bytes"};

[[noreturn]] void fieldError(const std::string& field, const std::string& what) {
  throw GnuRadioHeaderError("\"" + field + "\" " + what);
}

// An integer field (a 32- or 64-bit integer, or an unsigned 64-bit one).
std::optional<std::int64_t> signedValue(const Value& v) {
  if (v.kind == Value::Kind::integer) return v.integer;
  if (v.kind == Value::Kind::unsignedInteger && v.unsignedInteger <= INT64_MAX)
    return static_cast<std::int64_t>(v.unsignedInteger);
  return std::nullopt;
}

std::uint64_t countField(const std::map<std::string, Value>& fields, const std::string& name) {
  const Value& v = fields.at(name);
  if (v.kind == Value::Kind::unsignedInteger) return v.unsignedInteger;
  if (v.kind == Value::Kind::integer && v.integer >= 0)
    return static_cast<std::uint64_t>(v.integer);
  fieldError(name, "is not a non-negative integer");
}

std::int64_t integerField(const std::map<std::string, Value>& fields, const std::string& name) {
  const std::optional<std::int64_t> value = signedValue(fields.at(name));
  if (!value) fieldError(name, "is not an integer");
  return *value;
}

}  // namespace

const char* gnuRadioTypeName(std::int64_t type) {
  switch (type) {
    case 0:
      return "byte";
    case 1:
      return "short";
    case 2:
      return "int";
    case 3:
      return "long";
    case 4:
      return "long long";
    case 5:
      return "float";
    case 6:
      return "double";
    default:
      return "unknown";
  }
}

bool looksLikeGnuRadioHeader(std::span<const std::uint8_t> bytes) {
  constexpr auto kPair = static_cast<std::uint8_t>(PmtTag::pair);
  constexpr auto kSymbol = static_cast<std::uint8_t>(PmtTag::symbol);
  if (bytes.size() < 5 || bytes[0] != kPair || bytes[1] != kPair || bytes[2] != kSymbol)
    return false;
  const std::size_t length = static_cast<std::size_t>(bytes[3]) << 8 | bytes[4];
  if (bytes.size() < 5 + length) return false;
  const std::string key(reinterpret_cast<const char*>(bytes.data() + 5), length);
  for (const char* name : kFieldNames)
    if (key == name) return true;
  return false;
}

GnuRadioHeader parseGnuRadioHeader(std::span<const std::uint8_t> bytes) {
  Reader reader(bytes);
  std::map<std::string, Value> fields;
  for (std::size_t entry = 1;; ++entry) {
    const std::uint64_t at = reader.position();
    const std::uint8_t tag = reader.u8();
    if (tag == static_cast<std::uint8_t>(PmtTag::nil)) break;
    if (tag != static_cast<std::uint8_t>(PmtTag::pair))
      reader.fail("byte " + std::to_string(at) + " holds " + hexByte(tag) +
                  (entry == 1 ? ", not the start of a dictionary"
                              : ", neither a further entry nor the end of the dictionary"));
    const std::uint64_t entryAt = reader.position();
    if (reader.u8() != static_cast<std::uint8_t>(PmtTag::pair) ||
        reader.u8() != static_cast<std::uint8_t>(PmtTag::symbol))
      reader.fail("entry " + std::to_string(entry) + " at byte " + std::to_string(entryAt) +
                  " is not a name and its value");
    std::string key = reader.symbolText();
    const Value value = reader.value(0);
    fields.emplace(std::move(key), value);  // a repeated key keeps its first value
  }

  for (const char* name : kFieldNames)
    if (fields.find(name) == fields.end())
      throw GnuRadioHeaderError("it has no \"" + std::string(name) + "\" field");

  GnuRadioHeader header;
  header.length = reader.position();
  header.version = integerField(fields, "version");
  if (header.version != kGnuRadioHeaderVersion)
    fieldError("version", "is " + std::to_string(header.version) +
                              "; wavepack reads headers of version " +
                              std::to_string(kGnuRadioHeaderVersion));
  const Value& rate = fields.at("rx_rate");
  if (rate.kind == Value::Kind::real)
    header.rate = rate.real;
  else if (const auto whole = signedValue(rate))
    header.rate = static_cast<double>(*whole);
  else
    fieldError("rx_rate", "is not a number");
  if (!(header.rate > 0) || !std::isfinite(header.rate)) {
    char text[64];
    std::snprintf(text, sizeof text, "%.10g", header.rate);
    fieldError("rx_rate", std::string("is ") + text + ", not a positive sample rate");
  }
  header.itemSize = integerField(fields, "size");
  if (header.itemSize < 1)
    fieldError("size",
               "is " + std::to_string(header.itemSize) + ", not a size of an item in bytes");
  header.type = integerField(fields, "type");
  if (header.type < 0 || header.type > static_cast<std::int64_t>(GnuRadioType::floatDouble))
    fieldError("type", "is " + std::to_string(header.type) +
                           ", not one of GNU Radio's data types (0 byte, 1 short, 2 int, 3 long, "
                           "4 long long, 5 float, 6 double)");
  const Value& complex = fields.at("cplx");
  if (complex.kind != Value::Kind::boolean) fieldError("cplx", "is not true or false");
  header.complex = complex.flag;
  header.start = countField(fields, "strt");
  if (header.start < header.length)
    fieldError("strt", "is " + std::to_string(header.start) + ", less than the " +
                           std::to_string(header.length) + " bytes of the header dictionary");
  header.bytes = countField(fields, "bytes");
  return header;
}

}  // namespace arbsuite::wavepack
