// The converter's packing of IQ pairs from memory (pair_packer.h).
#include "pair_packer.h"

#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "progress_counting.h"
#include "progress_report.h"
#include "quantizer.h"

namespace arbsuite {

void checkOutputName(const std::string& path) {
  constexpr std::string_view kExtension = ".arb";
  if (!path.ends_with(kExtension))
    throw std::invalid_argument(path + " must contain extension \".arb\" ");
}

Version1Fields converterFields(std::int32_t clock) {
  Version1Fields fields;
  fields.dataSource = 1;      // PRBS9
  fields.symbolRate = clock;  // with an oversampling of 1, the clock
  fields.modulationType = 1;  // 32QAM
  fields.filterType = 1;      // Raised cosine
  fields.filterCoefficient = 1.0;
  fields.impulseLength = 1;
  fields.overSampling = 1;
  return fields;
}

std::int32_t packPairs(PairSource& pairs, std::int32_t clock, const char* outputPath,
                       double level) {
  if (pairs.size() > kMaxPairs)
    throw std::length_error("Too many IQ pairs (" + std::to_string(pairs.size()) +
                            "): an .arb file holds at most " + std::to_string(kMaxPairs));
  // Four passes over the pairs: the peak, the quantisation, and the packer's two
  // reads of the samples (the level, the encryption).
  arb::ProgressReport progress(std::string("packing ") + outputPath, 4 * pairs.size(), "pairs");
  CountedPairs counted(pairs, progress);
  const PeakScale peak = findPeak(counted);
  std::vector<std::int16_t> samples;
  samples.reserve(2 * static_cast<std::size_t>(pairs.size()));
  quantizeSource(counted, peak, level, [&](std::span<const std::int16_t> block) {
    samples.insert(samples.end(), block.begin(), block.end());
  });
  return packSamples(samples, converterFields(clock), outputPath, &progress);
}

}  // namespace arbsuite
