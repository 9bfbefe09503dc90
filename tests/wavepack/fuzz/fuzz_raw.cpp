// libFuzzer target: the raw reader (openRaw on a memory file) on any datatype name
// and any bytes. An input is a flags byte, the datatype name ended by a zero byte,
// then the file. Flags: bit 0 ignores a partial last sample (as -b does), bit 1
// takes a real file as Q rather than I, bits 2-7 are the pairs asked for per read
// less one. Every pair is checked against a decoder of this target's own, and the
// reader's decisions (which files it refuses, where a value is not finite) against
// the rules its header states.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "fuzz_inputs.h"
#include "raw_reader.h"

namespace {

constexpr std::size_t kMaxNameBytes = 16;

// Whether the rules of checkRawRegion accept a file of `bytes` bytes.
bool accepted(const fuzzinputs::Datatype& d, std::uint64_t bytes, bool ignoreTail) {
  if (ignoreTail) {
    const std::uint64_t values = bytes / d.bytes;
    return values > 0 && (!d.complex || values % 2 == 0);
  }
  return bytes > 0 && bytes % d.sampleBytes() == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2 || size > fuzzinputs::kMaxInputBytes) return 0;
  const std::uint8_t flags = data[0];
  const auto* nameStart = reinterpret_cast<const char*>(data + 1);
  const auto* nameEnd =
      static_cast<const char*>(std::memchr(nameStart, 0, std::min(size - 1, kMaxNameBytes + 1)));
  if (nameEnd == nullptr) return 0;
  const std::string name(nameStart, nameEnd);
  const auto* file = reinterpret_cast<const std::uint8_t*>(nameEnd + 1);
  const std::size_t fileBytes = size - static_cast<std::size_t>(file - data);

  arbsuite::wavepack::RawFormat format;
  try {
    format = arbsuite::wavepack::rawFormatByName(name);
  } catch (const std::invalid_argument&) {
    if (fuzzinputs::datatypeNamed(name)) std::abort();  // a valid name refused
    return 0;
  }
  const auto datatype = fuzzinputs::datatypeNamed(name);
  if (!datatype || format.sampleBytes() != datatype->sampleBytes()) std::abort();

  static fuzzinputs::MemoryFile memory("raw");
  memory.assign(file, fileBytes);
  const bool ignoreTail = (flags & 1) != 0;
  const arbsuite::wavepack::RawRole role = datatype->complex ? arbsuite::wavepack::RawRole::iq
                                           : (flags & 2) != 0
                                               ? arbsuite::wavepack::RawRole::quadrature
                                               : arbsuite::wavepack::RawRole::inPhase;
  arbsuite::wavepack::Diagnostics diagnostics;
  std::unique_ptr<arbsuite::wavepack::PairSource> pairs;
  try {
    pairs = arbsuite::wavepack::openRaw(
        memory.path(), format, role,
        ignoreTail ? arbsuite::wavepack::TailRule::ignore : arbsuite::wavepack::TailRule::refuse,
        diagnostics);
  } catch (const std::exception&) {
    if (accepted(*datatype, fileBytes, ignoreTail)) std::abort();
    return 0;
  }
  if (!accepted(*datatype, fileBytes, ignoreTail) ||
      pairs->size() != fileBytes / datatype->sampleBytes())
    std::abort();

  const std::size_t block = (flags >> 2) + 1u;
  std::vector<arbsuite::wavepack::IqPair> scratch(block);
  for (std::uint64_t start = 0; start < pairs->size();) {
    // This decoder's pairs of the block, and the first value that is not finite.
    const std::uint64_t end = std::min<std::uint64_t>(pairs->size(), start + block);
    std::vector<arbsuite::wavepack::IqPair> expected;
    std::uint64_t badPair = end;
    std::uint64_t badValue = 0;  // counted from 1 over the file
    for (std::uint64_t k = start; k < end; ++k) {
      const std::uint8_t* at = file + k * datatype->sampleBytes();
      const double first = datatype->value(at);
      const double second = datatype->complex ? datatype->value(at + datatype->bytes) : 0.0;
      if (badPair == end && !(std::isfinite(first) && std::isfinite(second))) {
        badPair = k;
        badValue = !datatype->complex ? k + 1 : std::isfinite(first) ? 2 * k + 2 : 2 * k + 1;
      }
      if (role == arbsuite::wavepack::RawRole::quadrature)
        expected.push_back({0.0, first});
      else
        expected.push_back({first, second});
    }
    std::span<const arbsuite::wavepack::IqPair> got;
    try {
      got = pairs->read(start, scratch);
    } catch (const std::range_error& e) {
      const std::string message =
          "Value " + std::to_string(badValue) + " in " + memory.path() + " is not a finite number";
      if (badPair == end || e.what() != message) std::abort();
      return 0;
    }
    if (got.empty() || got.size() > expected.size() || start + got.size() > badPair) std::abort();
    for (std::size_t k = 0; k < got.size(); ++k)
      if (got[k].i != expected[k].i || got[k].q != expected[k].q) std::abort();
    start += got.size();
  }
  return 0;
}
