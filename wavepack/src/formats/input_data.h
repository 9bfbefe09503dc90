// What a format reader hands to the conversion: the pairs, the sample rate the
// file names (if any), and how the input was read.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "pair_source.h"

namespace arbsuite::wavepack {

struct InputData {
  std::unique_ptr<PairSource> pairs;
  std::optional<double> sampleRate;  // Hz, when the file gives one
  std::string rateSource;            // the file that gave it
  std::string missingRate;           // a container without a sample rate: what it lacks
  std::string formatName;            // for the summary line, e.g. "SigMF ci16_le"
  bool csv = false;                  // every input was read as CSV text
};

}  // namespace arbsuite::wavepack
