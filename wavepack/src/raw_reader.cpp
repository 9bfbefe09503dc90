// Raw binary IQ files (see raw_reader.h): the datatype names, the size checks,
// and one decoding loop per datatype, byte order and role.
#include "raw_reader.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "input_stream.h"

namespace arbsuite::wavepack {

namespace {

// Pairs decoded per block: large enough to amortise a read, small enough for the cache.
constexpr std::size_t kBlockPairs = 16384;

template <typename Word>
Word loadWord(const std::uint8_t* p, bool bigEndian) {
  Word w;
  std::memcpy(&w, p, sizeof w);
  if constexpr (sizeof(Word) > 1) {
    const bool swap = bigEndian == (std::endian::native == std::endian::little);
    if (swap) {
      if constexpr (sizeof(Word) == 2) w = __builtin_bswap16(w);
      if constexpr (sizeof(Word) == 4) w = __builtin_bswap32(w);
      if constexpr (sizeof(Word) == 8) w = __builtin_bswap64(w);
    }
  }
  return w;
}

// One value of a datatype as a double.
template <RawKind Kind, unsigned Bytes, bool BigEndian>
double loadValue(const std::uint8_t* p) {
  if constexpr (Kind == RawKind::floating) {
    if constexpr (Bytes == 4) return std::bit_cast<float>(loadWord<std::uint32_t>(p, BigEndian));
    if constexpr (Bytes == 8) return std::bit_cast<double>(loadWord<std::uint64_t>(p, BigEndian));
  } else if constexpr (Kind == RawKind::signedInteger) {
    if constexpr (Bytes == 1) return static_cast<std::int8_t>(p[0]);
    if constexpr (Bytes == 2)
      return static_cast<std::int16_t>(loadWord<std::uint16_t>(p, BigEndian));
    if constexpr (Bytes == 4)
      return static_cast<std::int32_t>(loadWord<std::uint32_t>(p, BigEndian));
  } else {
    constexpr double kOffset = static_cast<double>(std::uint64_t{1} << (8 * Bytes - 1)) - 0.5;
    if constexpr (Bytes == 1) return p[0] - kOffset;
    if constexpr (Bytes == 2) return loadWord<std::uint16_t>(p, BigEndian) - kOffset;
    if constexpr (Bytes == 4) return loadWord<std::uint32_t>(p, BigEndian) - kOffset;
  }
}

using Decoder = void (*)(const std::uint8_t* in, std::size_t count, IqPair* out);

template <RawKind Kind, unsigned Bytes, bool BigEndian, RawRole Role>
void decodeBlock(const std::uint8_t* in, std::size_t count, IqPair* out) {
  for (std::size_t k = 0; k < count; ++k) {
    if constexpr (Role == RawRole::iq) {
      out[k].i = loadValue<Kind, Bytes, BigEndian>(in + 2 * Bytes * k);
      out[k].q = loadValue<Kind, Bytes, BigEndian>(in + 2 * Bytes * k + Bytes);
    } else if constexpr (Role == RawRole::inPhase) {
      out[k] = {loadValue<Kind, Bytes, BigEndian>(in + Bytes * k), 0.0};
    } else {
      out[k] = {0.0, loadValue<Kind, Bytes, BigEndian>(in + Bytes * k)};
    }
  }
}

template <RawKind Kind, unsigned Bytes, bool BigEndian>
Decoder decoderForRole(RawRole role) {
  switch (role) {
    case RawRole::iq:
      return decodeBlock<Kind, Bytes, BigEndian, RawRole::iq>;
    case RawRole::inPhase:
      return decodeBlock<Kind, Bytes, BigEndian, RawRole::inPhase>;
    case RawRole::quadrature:
      return decodeBlock<Kind, Bytes, BigEndian, RawRole::quadrature>;
  }
  return nullptr;
}

template <RawKind Kind, unsigned Bytes>
Decoder decoderForOrder(bool bigEndian, RawRole role) {
  return bigEndian ? decoderForRole<Kind, Bytes, true>(role)
                   : decoderForRole<Kind, Bytes, false>(role);
}

Decoder decoderFor(const RawFormat& f, RawRole role) {
  switch (f.kind) {
    case RawKind::floating:
      if (f.valueBytes == 4) return decoderForOrder<RawKind::floating, 4>(f.bigEndian, role);
      if (f.valueBytes == 8) return decoderForOrder<RawKind::floating, 8>(f.bigEndian, role);
      break;
    case RawKind::signedInteger:
      if (f.valueBytes == 1) return decoderForOrder<RawKind::signedInteger, 1>(false, role);
      if (f.valueBytes == 2) return decoderForOrder<RawKind::signedInteger, 2>(f.bigEndian, role);
      if (f.valueBytes == 4) return decoderForOrder<RawKind::signedInteger, 4>(f.bigEndian, role);
      break;
    case RawKind::unsignedInteger:
      if (f.valueBytes == 1) return decoderForOrder<RawKind::unsignedInteger, 1>(false, role);
      if (f.valueBytes == 2) return decoderForOrder<RawKind::unsignedInteger, 2>(f.bigEndian, role);
      if (f.valueBytes == 4) return decoderForOrder<RawKind::unsignedInteger, 4>(f.bigEndian, role);
      break;
  }
  throw std::logic_error("no decoder for " + f.name);
}

// Whether every value of the pairs is finite (the common case, checked fast).
bool allFinite(std::span<const IqPair> pairs) {
  std::size_t k = 0;
  bool finite = true;
#if defined(__SSE2__)
  const __m128d signBit = _mm_set1_pd(-0.0);
  const __m128d largest = _mm_set1_pd(std::numeric_limits<double>::max());
  __m128d bad = _mm_setzero_pd();
  for (; k < pairs.size(); ++k) {
    // Not (|v| <= max): true for infinities and, unordered, for NaN.
    const __m128d magnitude = _mm_andnot_pd(signBit, _mm_loadu_pd(&pairs[k].i));
    bad = _mm_or_pd(bad, _mm_cmpnle_pd(magnitude, largest));
  }
  finite = _mm_movemask_pd(bad) == 0;
#endif
  for (; k < pairs.size(); ++k)
    finite = finite && std::isfinite(pairs[k].i) && std::isfinite(pairs[k].q);
  return finite;
}

const char* const kRawNamesText =
    "cf64, cf32, ci32, ci16, cu32, cu16 (each with _le or _be), ci8, cu8, "
    "and the real forms rf64_le, rf32_le, ri32_le, ri16_le, ru32_le, ru16_le, ri8, ru8 "
    "(and _be)";

}  // namespace

double RawFormat::offset() const {
  if (kind != RawKind::unsignedInteger) return 0.0;
  return static_cast<double>(std::uint64_t{1} << (8 * valueBytes - 1)) - 0.5;
}

bool looksLikeRawFormat(std::string_view name) {
  return name.size() >= 3 && (name[0] == 'c' || name[0] == 'r') &&
         (name[1] == 'f' || name[1] == 'i' || name[1] == 'u');
}

RawFormat rawFormatByName(std::string_view name) {
  const std::string text(name);
  const std::invalid_argument unknown("Unknown format '" + text + "': raw formats are " +
                                      kRawNamesText);
  if (!looksLikeRawFormat(name)) throw unknown;
  RawFormat f;
  f.name = text;
  f.complex = name[0] == 'c';
  f.kind = name[1] == 'f'   ? RawKind::floating
           : name[1] == 'i' ? RawKind::signedInteger
                            : RawKind::unsignedInteger;
  const std::string_view rest = name.substr(2);
  const std::size_t underscore = rest.find('_');
  const std::string_view bits = rest.substr(0, underscore);
  const std::string_view order =
      underscore == std::string_view::npos ? std::string_view() : rest.substr(underscore);
  if (bits == "8") {
    f.valueBytes = 1;
  } else if (bits == "16") {
    f.valueBytes = 2;
  } else if (bits == "32") {
    f.valueBytes = 4;
  } else if (bits == "64") {
    f.valueBytes = 8;
  } else {
    throw unknown;
  }
  if (f.kind == RawKind::floating && f.valueBytes < 4) throw unknown;
  if (f.kind != RawKind::floating && f.valueBytes == 8) throw unknown;
  if (f.valueBytes == 1) {
    if (!order.empty())
      throw std::invalid_argument("Format '" + text + "': one-byte formats have no byte order (" +
                                  std::string(name.substr(0, 3)) + ")");
    return f;
  }
  if (order == "_le") {
    f.bigEndian = false;
  } else if (order == "_be") {
    f.bigEndian = true;
  } else if (order.empty()) {
    throw std::invalid_argument("Format '" + text + "' needs its byte order: " + text + "_le or " +
                                text + "_be");
  } else {
    throw unknown;
  }
  return f;
}

RawFormat withComplex(const RawFormat& format, bool complex) {
  RawFormat f = format;
  f.complex = complex;
  f.name[0] = complex ? 'c' : 'r';
  return f;
}

RawRegion checkRawRegion(const std::string& name, std::uint64_t offset, std::uint64_t bytes,
                         const RawFormat& format, TailRule tail, Diagnostics& diagnostics) {
  const std::uint64_t sample = format.sampleBytes();
  const std::uint64_t values = bytes / format.valueBytes;
  if (tail == TailRule::ignore) {
    // The -b form, as it always read: whole values, then whole pairs of them.
    if (values == 0) throw std::out_of_range("There is no data in " + name);
    if (format.complex && values % 2 != 0)
      throw std::length_error("Binary data in " + name + " length is odd");
    if (bytes % sample != 0)
      diagnostics.warn("the last " + std::to_string(bytes % sample) + " bytes of " + name +
                       " are ignored: its size, " + std::to_string(bytes) +
                       " bytes, is not a whole number of " + std::to_string(sample) +
                       "-byte values");
  } else {
    if (bytes == 0) throw std::out_of_range("There is no data in " + name);
    if (bytes % sample != 0)
      throw std::length_error(name + " ends with a partial sample: " + std::to_string(bytes) +
                              " bytes is not a whole number of " + format.name + " samples of " +
                              std::to_string(sample) + " bytes");
  }
  const std::uint64_t count = bytes / sample;
  if (count > kMaxPairs)
    throw std::length_error("Too many IQ pairs in " + name + " (" + std::to_string(count) +
                            "): an .arb file holds at most " + std::to_string(kMaxPairs));
  return {offset, count * sample};
}

RawPairs::RawPairs(std::shared_ptr<InputStream> input, RawFormat format, RawRole role,
                   RawRegion region)
    : input_(std::move(input)),
      name_(input_->path()),
      format_(std::move(format)),
      role_(role),
      region_(region),
      count_(region.bytes / format_.sampleBytes()) {}

RawPairs::RawPairs(std::vector<char> bytes, std::string name, RawFormat format, RawRole role,
                   RawRegion region)
    : memory_(std::move(bytes)),
      name_(std::move(name)),
      format_(std::move(format)),
      role_(role),
      region_(region),
      count_(region.bytes / format_.sampleBytes()) {
  if (region_.offset + region_.bytes > memory_.size())
    throw std::logic_error("raw region beyond the bytes held");
}

std::span<const IqPair> RawPairs::read(std::uint64_t start, std::span<IqPair> scratch) {
  if (start >= count_ || scratch.empty()) throw std::out_of_range("read beyond the pairs");
  const std::size_t n = static_cast<std::size_t>(
      std::min<std::uint64_t>({scratch.size(), count_ - start, kBlockPairs}));
  const std::uint64_t at = region_.offset + start * format_.sampleBytes();
  const std::size_t length = n * format_.sampleBytes();
  const std::uint8_t* bytes = nullptr;
  if (input_) {
    thread_local std::vector<std::uint8_t> block;  // each reading thread has its own
    block.resize(length);
    input_->readAt(at, block.data(), length);
    bytes = block.data();
  } else {
    bytes = reinterpret_cast<const std::uint8_t*>(memory_.data()) + at;
  }
  decode(bytes, start, scratch.first(n));
  return scratch.first(n);
}

void RawPairs::decode(const std::uint8_t* bytes, std::uint64_t start, std::span<IqPair> out) const {
  decoderFor(format_, role_)(bytes, out.size(), out.data());
  if (format_.kind != RawKind::floating || allFinite(out)) return;
  for (std::size_t k = 0; k < out.size(); ++k) {
    if (std::isfinite(out[k].i) && std::isfinite(out[k].q)) continue;
    // Values count from 1 over the whole file; a real file's zero component is finite.
    const std::uint64_t perPair = format_.complex ? 2 : 1;
    const bool iBad = !std::isfinite(out[k].i);
    const std::uint64_t value = (start + k) * perPair + (format_.complex && !iBad ? 1 : 0) + 1;
    throw std::range_error("Value " + std::to_string(value) + " in " + name_ +
                           " is not a finite number");
  }
}

std::unique_ptr<PairSource> openRaw(const std::string& path, const RawFormat& format, RawRole role,
                                    TailRule tail, Diagnostics& diagnostics) {
  auto input = std::make_shared<InputStream>(path);
  if (input->isStandardInput()) {
    // Room for the most pairs and a partial sample, so that the size check names
    // what was found.
    const std::uint64_t limit = (kMaxPairs + 1) * format.sampleBytes();
    std::vector<char> bytes =
        input->readAll(limit, "Too many IQ pairs in " + path + ": an .arb file holds at most " +
                                  std::to_string(kMaxPairs));
    const RawRegion region = checkRawRegion(path, 0, bytes.size(), format, tail, diagnostics);
    return std::make_unique<RawPairs>(std::move(bytes), path, format, role, region);
  }
  const RawRegion region = checkRawRegion(path, 0, *input->size(), format, tail, diagnostics);
  return std::make_unique<RawPairs>(std::move(input), format, role, region);
}

}  // namespace arbsuite::wavepack
