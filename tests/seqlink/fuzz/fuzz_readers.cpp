// libFuzzer target for the .arb readers: the description, the display text and the
// samples of a file held in memory. The first input byte chooses whether the header
// CRC is made valid (so that the sample path is reached) and how many pairs to read.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "arb_format.h"
#include "arb_readers.h"
#include "arb_source.h"
#include "seqlink.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t control = data[0];
  std::vector<std::uint8_t> file(data + 1, data + size);
  if ((control & 1) != 0 && file.size() >= arb::kHeaderLength) {
    const std::uint32_t dataOffset = arb::loadU32(&file[arb::offset::kDataOffset]);
    if (dataOffset >= arb::kHeaderLength && dataOffset <= file.size()) {
      const auto crc = static_cast<std::uint32_t>(
          crc32(0L, file.data() + arb::kHeaderLength, dataOffset - arb::kHeaderLength));
      arb::storeU32(&file[arb::offset::kHeaderCrc], crc);
    }
  }
  arb::MemorySource source(file);

  int sampleCount = 0;
  double clock = 0, energy = 0;
  seqlink::readInfFrom(source, &sampleCount, &clock, &energy);

  std::vector<char> text(SEQLINK_TEXT_CAPACITY, '\0');
  int length = 0;
  seqlink::readAllInfFrom(source, text.data(), &length);

  const std::size_t pairs = control >> 1;
  std::vector<std::int16_t> samples(2 * pairs);
  seqlink::readSamplesFrom(source, pairs, samples.data());
  return 0;
}
