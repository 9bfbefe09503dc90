// libFuzzer target: a whole SigMF recording, metadata and data, read through
// readSigmf and checked against the data's samples. An input is a byte choosing
// the name given to the reader (the metadata file, the data file or the name they
// share), the metadata's length (two bytes, little-endian), the metadata, then the
// data.
#include <cstdint>
#include <cstdlib>

#include "fuzz_sigmf.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3 || size > fuzzinputs::kMaxInputBytes) return 0;
  const std::size_t metaBytes = data[1] | std::size_t{data[2]} << 8;
  if (metaBytes > size - 3) return 0;
  static fuzzinputs::Recording recording;
  recording.setMeta({data + 3, metaBytes});
  recording.setData({data + 3 + metaBytes, size - 3 - metaBytes});
  const std::string& path = data[0] % 3 == 0   ? recording.metaPath()
                            : data[0] % 3 == 1 ? recording.dataPath()
                                               : recording.basePath();
  recording.check(path);
  return 0;
}
