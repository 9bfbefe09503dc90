// The outputs of a run checked against each other and against the run's input
// files before anything is read or written.
#pragma once

#include "options.h"

namespace arbsuite::iqsynth_host {

// Throws UsageError when -o and --csv would write the same file, or when an output
// would write over the constellation, taps or data list file.
void checkOutputFiles(const Options& options);

}  // namespace arbsuite::iqsynth_host
