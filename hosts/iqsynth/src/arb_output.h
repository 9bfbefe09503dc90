// Writes a synthesised waveform as a version-1 .arb file through the packer,
// with the text header filled from the run's configuration.
#pragma once

#include <string>

#include "names.h"
#include "options.h"
#include "synthesised_waveform.h"

namespace arbsuite::iqsynth_host {

// What goes into the packer's text header.
struct ArbHeaderPlan {
  HeaderNames names{};
  int symbolRate = 0;  // Hz; Clock = symbolRate x overSampling
  int overSampling = 1;
  double filterCoefficient = 0;
  int impulseLength = 0;
  bool rateRounded = false;  // the rate was not a whole number of hertz
};

ArbHeaderPlan planHeader(const Options& options, double sampleRate);

// Packs the waveform into path. Throws OutputError with the packer's status in words.
void writeArb(const std::string& path, const Waveform& wave, const ArbHeaderPlan& plan);

}  // namespace arbsuite::iqsynth_host
