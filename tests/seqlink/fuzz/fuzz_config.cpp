// libFuzzer target for the segment configuration: readMultiSegConfig on the input
// as file content, then outputIQDataAndInf on what it kept (buffers sized as a host
// sizes them, capped to keep each run small).
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "multi_segment_config.h"
#include "seqlink.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view content(reinterpret_cast<const char*>(data), size);
  char outputFile[SEQLINK_NAME_SLOT];
  int segments = 0, total = 0;
  if (arbsuite::seqlink::readMultiSegConfigText(content, outputFile, &segments, &total) != 0)
    return 0;
  if (segments > 4096 || total > (1 << 20)) return 0;

  std::vector<short> samples(2 * static_cast<std::size_t>(total));
  std::vector<char> names(SEQLINK_NAME_SLOT * static_cast<std::size_t>(segments));
  std::vector<double> clockRates(segments), energies(segments);
  std::vector<int> sampleCounts(segments);
  outputIQDataAndInf(samples.data(), names.data(), clockRates.data(), sampleCounts.data(),
                     energies.data());
  return 0;
}
