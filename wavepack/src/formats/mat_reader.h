// MATLAB .mat files (versions 5 and 7.3) through libmatio: a complex vector or a
// real N x 2 matrix (columns I and Q) of single or double precision, and a real
// scalar named fs, Fs, FS, SampleRate or sample_rate for the sample rate.
#pragma once

#include <optional>
#include <string>

#include "diagnostics.h"
#include "input_data.h"

namespace arbsuite::wavepack {

// Reads the IQ variable `variable`, or without it the one variable of the file that
// has an IQ shape. Throws std::runtime_error naming the file for a file matio
// cannot open, a missing or wrongly shaped variable, no or several candidates
// (the message lists them), a value that is not finite, a sample-rate variable
// that is not a positive finite number, and too many pairs (from the shape,
// before the values are read).
InputData readMat(const std::string& path, const std::optional<std::string>& variable,
                  Diagnostics& diagnostics);

}  // namespace arbsuite::wavepack
