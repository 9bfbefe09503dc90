// libFuzzer target: SigMF metadata (any text as the .sigmf-meta file) beside a fixed
// small data file: parseSigmfMetadata from memory, then, for metadata that parses,
// readSigmf on the recording and its pairs against the data file's samples.
#include <array>
#include <cstdint>
#include <cstdlib>

#include "fuzz_sigmf.h"

namespace {

// 96 bytes: a whole number of samples of every datatype, and no byte of 127 or
// more, so that every floating-point value is finite.
std::array<std::uint8_t, 96> fixedData() {
  std::array<std::uint8_t, 96> bytes{};
  for (std::size_t k = 0; k < bytes.size(); ++k)
    bytes[k] = static_cast<std::uint8_t>((k * 53 + 11) % 127);
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > fuzzinputs::kMaxInputBytes) return 0;
  static const std::array<std::uint8_t, 96> kData = fixedData();
  static fuzzinputs::Recording recording;
  static const bool dataWritten = (recording.setData(kData), true);
  (void)dataWritten;
  recording.setMeta({data, size});
  recording.check(recording.metaPath());
  return 0;
}
