// libFuzzer target: the GNU Radio header parser on arbitrary bytes; it must refuse
// what it cannot read with its own error, never read outside the bytes it is given
// and never recurse without bound.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "formats/gnuradio_header.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  (void)arbsuite::wavepack::looksLikeGnuRadioHeader(bytes);
  try {
    const arbsuite::wavepack::GnuRadioHeader header =
        arbsuite::wavepack::parseGnuRadioHeader(bytes);
    if (header.length > size || header.start < header.length) std::abort();
  } catch (const arbsuite::wavepack::GnuRadioHeaderError&) {
  }
  return 0;
}
