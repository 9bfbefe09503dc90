// The --plot sheet of iqsynth: the waveform just made, drawn by the hosts'
// analysis, with the constellation at the symbol instants and the eye diagram in
// place of the time view when the run has a symbol rate (digital mode).
#pragma once

#include "options.h"
#include "synthesised_waveform.h"

namespace arbsuite::iqsynth_host {

// Writes options.plotPath. Throws OutputError.
void writePlotSheet(const Options& options, const Waveform& wave);

}  // namespace arbsuite::iqsynth_host
