// Two-channel WAV files (I in channel 1, Q in channel 2) of any sample format
// libsndfile reads; the file's sample rate gives the clock.
#pragma once

#include <string>

#include "diagnostics.h"
#include "input_data.h"

namespace arbsuite::wavepack {

// Integer samples are read as their values, floating-point samples as they are.
// Throws std::runtime_error naming the file for a file libsndfile cannot read,
// a channel count other than 2, no frames, too many frames (from the header,
// before the samples are read), a sample that is not finite, and a file that
// ends before the frames its header counts.
InputData readWav(const std::string& path, Diagnostics& diagnostics);

}  // namespace arbsuite::wavepack
