// What compose does between reading its inputs and writing the composite: the
// carriers' samples from their .arb files composed at the common clock by the
// preparation steps, the crest factor reduced when asked, and the report it prints.
// No library calls, so the unit tests run it on made-up content.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "analysis_commands.h"
#include "prep_options.h"
#include "waveform_prep.h"

namespace arbsuite::arbtool {

struct Composition {
  arbsuite::prep::Composite composite;    // its samples after the reduction, when asked
  std::vector<double> inputClocks;        // Hz, of each input file
  std::vector<std::size_t> inputLengths;  // samples of each input file
  double paprDb = 0;                      // of the samples to be written, before their quantisation
  std::optional<arbsuite::prep::CfrReport> cfr;
};

// Composes contents[k] as the carrier request.carriers[k]. Throws Failure (kExitRead)
// for an input that is a multi-segment file, holds no samples or gives no clock, and
// UsageError for a silent carrier, a carrier whose 99 % occupied band, shifted, leaves the common
// clock's band, a composite longer than 2^28 samples (naming the lengths), and a target PAPR above
// the composite's own.
Composition composeCarriers(const std::vector<ArbContent>& contents, const ComposeRequest& request);

// The lines compose prints: one per carrier (shift, share of the power, length at the
// common clock and in the input, periods in the composite), the reduction's figures
// when it ran, and the composite's length, clock and PAPR.
std::string compositionReport(const Composition& composition, const ComposeRequest& request);

}  // namespace arbsuite::arbtool
