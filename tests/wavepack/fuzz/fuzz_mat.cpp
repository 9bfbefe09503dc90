// libFuzzer target: the MATLAB reader (readMat, libmatio underneath) on any bytes
// as a .mat file in memory. An input is a flags byte, then the file. Flags: bits
// 0-1 choose --variable (none, iq, x or fs), bit 2 makes warnings errors. Left out,
// as their cost follows what they claim rather than their length: inputs with a
// variable that claims more than 2 * kMaxClaimedPairs values (libmatio lists the
// shapes first), and version-5 files with a cell, structure or object variable
// (libmatio builds every element and field such a variable claims: a file of one
// KiB can claim 25 million fields, seconds and gigabytes of work). The reader's
// failures are its documented exceptions; what it returns must be pairs of finite
// values, at least one.
#include <matio.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>

#include "formats/mat_reader.h"
#include "fuzz_inputs.h"

// libmatio allocates what a file's tags claim before it reads what they describe (a
// dimensions tag of a file of a few hundred bytes can ask for gigabytes) and copes
// with a malloc that fails. Here such a request fails as on a machine without that
// much memory rather than ending the run; operator new (the reader's own buffers)
// still reports a request beyond the limit.
extern "C" const char* __asan_default_options() {
  return "allocator_may_return_null=1:max_allocation_size_mb=256";
}

namespace {

constexpr std::size_t kHeaderBytes = 128;
constexpr std::uint32_t kMatrixTag = 14;      // miMATRIX
constexpr std::uint32_t kCompressedTag = 15;  // miCOMPRESSED
// A matrix element's first bytes: its tag, the array flags' tag, the flags word.
constexpr std::size_t kMatrixStartBytes = 20;

std::uint32_t word(const std::uint8_t* p, bool bigEndian) {
  return bigEndian ? std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 |
                         std::uint32_t{p[2]} << 8 | p[3]
                   : std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 |
                         std::uint32_t{p[1]} << 8 | p[0];
}

// Whether array flags name a class that holds other variables (compared as numbers:
// a file's class byte need not be one of matio_classes).
bool isContainer(std::uint32_t flags) {
  const std::uint32_t c = flags & 0xff;
  return c == MAT_C_CELL || c == MAT_C_STRUCT || c == MAT_C_OBJECT || c == MAT_C_FUNCTION ||
         c == MAT_C_OPAQUE;
}

// Whether a version-5 file holds a cell, structure or object at its top level,
// walking the elements as libmatio walks them (a compressed one is inflated as far
// as its array flags). Elements cut before their flags count as none.
bool holdsContainers(const std::uint8_t* file, std::size_t size) {
  if (size < kHeaderBytes) return false;
  const bool bigEndian = file[126] == 'M' && file[127] == 'I';
  if (!bigEndian && !(file[126] == 'I' && file[127] == 'M')) return false;
  for (std::uint64_t at = kHeaderBytes; at + 8 <= size;) {
    const std::uint32_t type = word(file + at, bigEndian);
    const std::uint32_t bytes = word(file + at + 4, bigEndian);
    const std::uint8_t* body = file + at + 8;
    const std::size_t available =
        static_cast<std::size_t>(std::min<std::uint64_t>(bytes, size - at - 8));
    if (type == kMatrixTag && available >= 16 && isContainer(word(body + 8, bigEndian)))
      return true;
    if (type == kCompressedTag) {
      std::array<std::uint8_t, kMatrixStartBytes> start{};
      z_stream z{};
      if (inflateInit(&z) != Z_OK) std::abort();
      z.next_in = const_cast<std::uint8_t*>(body);
      z.avail_in = static_cast<uInt>(available);
      z.next_out = start.data();
      z.avail_out = static_cast<uInt>(start.size());
      inflate(&z, Z_SYNC_FLUSH);
      const bool whole = z.avail_out == 0;
      inflateEnd(&z);
      if (whole && word(start.data(), bigEndian) == kMatrixTag &&
          isContainer(word(start.data() + 16, bigEndian)))
        return true;
    }
    at += 8 + std::uint64_t{bytes};
  }
  return false;
}

void ignoreMatioMessage(int, char*) {}

// Whether a variable of the file at `path` claims more than `most` values; false
// for a file libmatio does not open.
bool claimsMoreThan(const std::string& path, std::uint64_t most) {
  Mat_LogInitFunc("fuzz", ignoreMatioMessage);
  mat_t* mat = Mat_Open(path.c_str(), MAT_ACC_RDONLY);
  if (mat == nullptr) return false;
  bool more = false;
  while (matvar_t* var = Mat_VarReadNextInfo(mat)) {
    std::uint64_t values = 1;
    for (int k = 0; var->dims != nullptr && k < var->rank && values <= most; ++k)
      values = var->dims[k] == 0 ? 0 : values * std::min<std::uint64_t>(var->dims[k], most + 1);
    more = more || values > most;
    Mat_VarFree(var);
  }
  Mat_Close(mat);
  return more;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > fuzzinputs::kMaxInputBytes) return 0;
  static const std::optional<std::string> kVariables[] = {std::nullopt, "iq", "x", "fs"};
  const std::optional<std::string>& variable = kVariables[data[0] & 3];
  const bool strict = (data[0] & 4) != 0;

  static fuzzinputs::MemoryFile memory("mat");
  if (holdsContainers(data + 1, size - 1)) return 0;
  memory.assign(data + 1, size - 1);
  if (claimsMoreThan(memory.path(), 2 * fuzzinputs::kMaxClaimedPairs)) return 0;
  arbsuite::wavepack::Diagnostics diagnostics(strict);
  arbsuite::wavepack::InputData input;
  try {
    input = arbsuite::wavepack::readMat(memory.path(), variable, diagnostics);
  } catch (const std::exception&) {
    return 0;
  }
  if (!input.pairs || input.pairs->size() == 0) std::abort();
  if (input.sampleRate && !(*input.sampleRate > 0 && std::isfinite(*input.sampleRate)))
    std::abort();
  fuzzinputs::requireFinite(*input.pairs);
  return 0;
}
