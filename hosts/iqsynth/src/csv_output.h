// iqsynth --csv: the synthesised samples as text.
#pragma once

#include <string>

#include "synthesised_waveform.h"

namespace arbsuite::iqsynth_host {

// Writes "I,Q" lines, one per sample, without a header line. Throws OutputError.
void writeCsv(const std::string& path, const Waveform& wave);

}  // namespace arbsuite::iqsynth_host
