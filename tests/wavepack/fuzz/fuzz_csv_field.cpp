// libFuzzer target: the CSV field parser on arbitrary text; it must never read
// outside the field it is given.
#include <cstdint>
#include <cstdlib>

#include "iq_readers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto* first = reinterpret_cast<const char*>(data);
  double value = 0;
  (void)arbsuite::wavepack::parseCsvField(first, first + size, value);
  return 0;
}
