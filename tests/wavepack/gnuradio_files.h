// GNU Radio metadata files made byte by byte for the tests, from GNU Radio's
// description of file_meta_sink's header (a dictionary of "version", "rx_rate",
// "rx_time", "size", "type", "cplx", "strt" and "bytes", serialised by
// pmt::serialize) and written independently of the reader under test.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace grtest {

using Bytes = std::vector<std::uint8_t>;

inline void append(Bytes& out, const Bytes& more) {
  out.insert(out.end(), more.begin(), more.end());
}

inline Bytes bigEndian(std::uint64_t value, int width) {
  Bytes out;
  for (int k = width - 1; k >= 0; --k) out.push_back(static_cast<std::uint8_t>(value >> (8 * k)));
  return out;
}

// pmt::serialize: a tag byte, then the value in network byte order.
inline Bytes tagged(std::uint8_t tag, const Bytes& value) {
  Bytes out{tag};
  append(out, value);
  return out;
}
inline Bytes pmtTrue() { return {0x00}; }
inline Bytes pmtFalse() { return {0x01}; }
inline Bytes pmtBool(bool value) { return value ? pmtTrue() : pmtFalse(); }
inline Bytes pmtSymbol(const std::string& text) {
  Bytes out = tagged(0x02, bigEndian(text.size(), 2));
  out.insert(out.end(), text.begin(), text.end());
  return out;
}
inline Bytes pmtInt32(std::int32_t value) {
  return tagged(0x03, bigEndian(static_cast<std::uint32_t>(value), 4));
}
inline Bytes pmtDouble(double value) {
  return tagged(0x04, bigEndian(std::bit_cast<std::uint64_t>(value), 8));
}
inline Bytes pmtComplex(double re, double im) {
  Bytes out = tagged(0x05, bigEndian(std::bit_cast<std::uint64_t>(re), 8));
  append(out, bigEndian(std::bit_cast<std::uint64_t>(im), 8));
  return out;
}
inline Bytes pmtNil() { return {0x06}; }
inline Bytes pmtUint64(std::uint64_t value) { return tagged(0x0b, bigEndian(value, 8)); }
inline Bytes pmtInt64(std::int64_t value) {
  return tagged(0x0d, bigEndian(static_cast<std::uint64_t>(value), 8));
}
inline Bytes pmtTuple(const std::vector<Bytes>& items) {
  Bytes out = tagged(0x0c, bigEndian(items.size(), 4));
  for (const Bytes& item : items) append(out, item);
  return out;
}
inline Bytes pmtVector(const std::vector<Bytes>& items) {
  Bytes out = tagged(0x08, bigEndian(items.size(), 4));
  for (const Bytes& item : items) append(out, item);
  return out;
}
// A uniform vector of 32-bit floats (element type 0x08), with one padding byte.
inline Bytes pmtF32Vector(const std::vector<float>& values) {
  Bytes out{0x0a, 0x08};
  append(out, bigEndian(values.size(), 4));
  append(out, {0x01, 0x00});
  for (float v : values) append(out, bigEndian(std::bit_cast<std::uint32_t>(v), 4));
  return out;
}
// A list (pairs ending in the empty list).
inline Bytes pmtList(const std::vector<Bytes>& items) {
  Bytes out;
  for (const Bytes& item : items) {
    out.push_back(0x07);
    append(out, item);
  }
  append(out, pmtNil());
  return out;
}

using Fields = std::vector<std::pair<std::string, Bytes>>;

// A dictionary: a list of (key . value) pairs.
inline Bytes pmtDict(const Fields& fields) {
  Bytes out;
  for (const auto& [key, value] : fields) {
    append(out, {0x07, 0x07});
    append(out, pmtSymbol(key));
    append(out, value);
  }
  append(out, pmtNil());
  return out;
}

// gr_file_types
enum Type { kByte = 0, kShort = 1, kInt = 2, kLong = 3, kLongLong = 4, kFloat = 5, kDouble = 6 };

// The bytes of file_meta_sink's header dictionary with these values (149 bytes).
inline constexpr std::size_t kHeaderBytes = 149;

// The fields file_meta_sink writes, in the order it adds them; "strt" is the
// header's length with `extraBytes` of extras after the dictionary.
inline Fields headerFields(double rate, int size, int type, bool complex, std::uint64_t bytes,
                           std::size_t extraBytes = 0) {
  return {{"version", pmtInt32(0)},
          {"rx_rate", pmtDouble(rate)},
          {"rx_time", pmtTuple({pmtUint64(0), pmtDouble(0.0)})},
          {"size", pmtInt32(size)},
          {"type", pmtInt32(type)},
          {"cplx", pmtBool(complex)},
          {"strt", pmtUint64(kHeaderBytes + extraBytes)},
          {"bytes", pmtUint64(bytes)}};
}

inline void setField(Fields& fields, const std::string& key, const Bytes& value) {
  for (auto& [name, old] : fields)
    if (name == key) old = value;
}
inline void eraseField(Fields& fields, const std::string& key) {
  std::erase_if(fields, [&](const auto& field) { return field.first == key; });
}

// An extra dictionary of `bytes` bytes (at least 15): one symbol key and a double.
inline Bytes extras(std::size_t bytes) {
  // PAIR PAIR symbol(3 + n) double(9) NIL = 15 + n bytes.
  const std::string key(bytes - 15, 'x');
  return pmtDict({{key, pmtDouble(2.4e9)}});
}

// One segment: its header dictionary, its extras, its data.
struct Segment {
  Fields fields;
  Bytes extra;
  Bytes data;
};

inline Segment segment(double rate, int size, int type, bool complex, const Bytes& data,
                       std::size_t extraBytes = 0) {
  return {headerFields(rate, size, type, complex, data.size(), extraBytes),
          extraBytes == 0 ? Bytes() : extras(extraBytes), data};
}

// A file with inline headers: each header, its extras, its data.
inline Bytes inlineFile(const std::vector<Segment>& segments) {
  Bytes out;
  for (const Segment& s : segments) {
    append(out, pmtDict(s.fields));
    append(out, s.extra);
    append(out, s.data);
  }
  return out;
}

// A detached header file (the headers one after another) and its data file.
inline std::pair<Bytes, Bytes> detachedFiles(const std::vector<Segment>& segments) {
  std::pair<Bytes, Bytes> files;
  for (const Segment& s : segments) {
    append(files.first, pmtDict(s.fields));
    append(files.first, s.extra);
    append(files.second, s.data);
  }
  return files;
}

// Little-endian values, as GNU Radio writes them on the machines the suite runs on.
template <typename T>
Bytes littleEndian(const std::vector<T>& values) {
  Bytes out(values.size() * sizeof(T));
  for (std::size_t k = 0; k < values.size(); ++k) {
    std::uint64_t bits = 0;
    if constexpr (sizeof(T) == 8)
      bits = std::bit_cast<std::uint64_t>(values[k]);
    else if constexpr (sizeof(T) == 4)
      bits = std::bit_cast<std::uint32_t>(values[k]);
    else if constexpr (sizeof(T) == 2)
      bits = std::bit_cast<std::uint16_t>(values[k]);
    else
      bits = std::bit_cast<std::uint8_t>(values[k]);
    for (std::size_t b = 0; b < sizeof(T); ++b)
      out[k * sizeof(T) + b] = static_cast<std::uint8_t>(bits >> (8 * b));
  }
  return out;
}

}  // namespace grtest
