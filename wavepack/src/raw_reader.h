// Raw binary IQ files, named by their SigMF datatype (cf32_le, ci16_be, cu8, ...):
// complex files interleave I and Q, real files hold one component. The samples are
// decoded block by block straight from the file, so a conversion holds no copy of
// the input; standard input, which cannot be read twice, is held in memory.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics.h"
#include "pair_source.h"

namespace arbsuite::wavepack {

class InputStream;

enum class RawKind { floating, signedInteger, unsignedInteger };

struct RawFormat {
  std::string name;  // the SigMF datatype name, e.g. "cf32_le"
  bool complex = true;
  RawKind kind = RawKind::floating;
  unsigned valueBytes = 8;  // bytes of one I or Q value
  bool bigEndian = false;

  unsigned sampleBytes() const { return complex ? 2 * valueBytes : valueBytes; }
  // The value an unsigned integer is offset by (half its range less one half:
  // 127.5 for 8 bits), 0 for the other kinds.
  double offset() const;
};

// The format of a SigMF datatype name: [c|r] then f64, f32, i32, i16, u32, u16
// with _le or _be, or i8, u8 without. Throws std::invalid_argument naming what
// is wrong (an unknown name, a missing byte order) for anything else.
RawFormat rawFormatByName(std::string_view name);

// Whether `name` is written like a raw datatype (starts with c or r and a type
// letter), so that a misspelt one is reported as such rather than as unknown.
bool looksLikeRawFormat(std::string_view name);

// The same format with the other kind of sample: rf32_le for cf32_le and back.
RawFormat withComplex(const RawFormat& format, bool complex);

// What a file's pairs are made of.
enum class RawRole {
  iq,          // complex: I and Q interleaved
  inPhase,     // real values are I, Q is 0
  quadrature,  // real values are Q, I is 0
};

// The end of a file that holds no whole sample.
enum class TailRule {
  refuse,  // an error naming the file and its size (--format, SigMF)
  ignore,  // ignored with a warning, as -b always did
};

struct RawRegion {
  std::uint64_t offset = 0;  // first byte of the samples
  std::uint64_t bytes = 0;   // bytes of samples (whole samples only)
};

// Pairs decoded from a raw file or from bytes in memory. Floating-point values
// that are not finite are refused while reading with
// "Value <k> in <name> is not a finite number" (k counts values from 1).
class RawPairs final : public PairSource {
 public:
  RawPairs(std::shared_ptr<InputStream> input, RawFormat format, RawRole role, RawRegion region);
  RawPairs(std::vector<char> bytes, std::string name, RawFormat format, RawRole role,
           RawRegion region);

  std::uint64_t size() const override { return count_; }
  std::span<const IqPair> read(std::uint64_t start, std::span<IqPair> scratch) override;

 private:
  void decode(const std::uint8_t* bytes, std::uint64_t start, std::span<IqPair> out) const;

  std::shared_ptr<InputStream> input_;
  std::vector<char> memory_;
  std::string name_;
  RawFormat format_;
  RawRole role_;
  RawRegion region_;
  std::uint64_t count_ = 0;
};

// Checks the size of a raw file's region and returns the part that holds whole
// samples. Throws "There is no data in <name>" for an empty region and
// "Too many IQ pairs in <name> (<n>): an .arb file holds at most 536870911"
// from the size alone. A partial last sample is refused, "<name> ends with a
// partial sample: <size> bytes is not a whole number of <format> samples of <b>
// bytes", or with TailRule::ignore reported as a warning and left out; the
// -b form (cf64_le and rf64_le with TailRule::ignore) also keeps its message
// "Binary data in <name> length is odd" for an odd number of doubles.
RawRegion checkRawRegion(const std::string& name, std::uint64_t offset, std::uint64_t bytes,
                         const RawFormat& format, TailRule tail, Diagnostics& diagnostics);

// Opens a raw file ("-" reads standard input into memory) as pairs.
std::unique_ptr<PairSource> openRaw(const std::string& path, const RawFormat& format, RawRole role,
                                    TailRule tail, Diagnostics& diagnostics);

}  // namespace arbsuite::wavepack
