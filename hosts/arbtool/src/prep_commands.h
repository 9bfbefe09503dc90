// compose and check as the program runs them: the inputs read through libseqlink,
// the composite written through wavepack's packer.
#pragma once

#include "prep_options.h"

namespace arbsuite::arbtool {

// Reads the carriers, composes them, writes the composite and prints the report
// (warnings on standard error). Returns the exit status; throws Failure (2: an input
// unreadable; 3: the packer failed; 4: the output not written) and UsageError.
int runCompose(const ComposeRequest& request);

// Prints the findings and the verdict; returns kExitOk or kExitNotReady. Throws
// Failure (2) for an unreadable file.
int runCheck(const CheckRequest& request);

}  // namespace arbsuite::arbtool
