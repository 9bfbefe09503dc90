// libFuzzer target for the .arb readers: the description, the display text and the
// samples of a file held in memory. The first input byte chooses whether the header
// CRC is made valid (so that the sample path is reached) and how many pairs to read;
// the readers then run again on a source whose reads fail from a chosen offset.
#include <dlfcn.h>
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "arb_format.h"
#include "arb_readers.h"
#include "arb_source.h"
#include "failing_source.h"
#include "seqlink.h"

namespace {

// The three readers on one source; each must return a status, whatever the bytes.
void readAll(arbsuite::arb::ByteSource& source, std::size_t pairs) {
  int sampleCount = 0;
  double clock = 0, energy = 0;
  arbsuite::seqlink::readInfFrom(source, &sampleCount, &clock, &energy);

  std::vector<char> text(SEQLINK_TEXT_CAPACITY, '\0');
  int length = 0;
  arbsuite::seqlink::readAllInfFrom(source, text.data(), &length);
  if (text.back() != '\0') std::abort();

  std::vector<std::int16_t> samples(2 * pairs);
  arbsuite::seqlink::readSamplesFrom(source, pairs, samples.data());
}

}  // namespace

// The readers load libwavecrypt.so and release it around every crypto call. In this
// build the library carries coverage counters, which libFuzzer registers when it is
// loaded and keeps reading after an unload; the harness holds one reference for the
// whole run, so that the binding's own load and release only count up and down.
extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  static void* const kept = dlopen("libwavecrypt.so", RTLD_NOW | RTLD_LOCAL);
  (void)kept;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t control = data[0];
  std::vector<std::uint8_t> file(data + 1, data + size);
  if ((control & 1) != 0 && file.size() >= arbsuite::arb::kHeaderLength) {
    const std::uint32_t dataOffset =
        arbsuite::arb::loadU32(&file[arbsuite::arb::offset::kDataOffset]);
    if (dataOffset >= arbsuite::arb::kHeaderLength && dataOffset <= file.size()) {
      const auto crc =
          static_cast<std::uint32_t>(crc32(0L, file.data() + arbsuite::arb::kHeaderLength,
                                           dataOffset - arbsuite::arb::kHeaderLength));
      arbsuite::arb::storeU32(&file[arbsuite::arb::offset::kHeaderCrc], crc);
    }
  }
  const std::size_t pairs = control >> 1;
  arbsuite::arb::MemorySource source(file);
  readAll(source, pairs);
  // The same with an I/O error from an offset the input chooses (its last byte).
  if (!file.empty()) {
    arbtest::FailingSource failing(file, file.back() * file.size() / 256);
    readAll(failing, pairs);
  }
  return 0;
}
