// The sample exports of `arbtool dump` written from pieces: the same bytes as
// writeSamples and writeSigmf of the samples in memory, holding one piece at a time.
#pragma once

#include <cstdio>
#include <string>

#include "sample_export.h"
#include "sample_pieces.h"

namespace arbsuite::analysis {

// writeSamples over every piece of pieces, in order. Throws OutputError naming
// `name`, and what the pieces throw.
void writeSamples(std::FILE* stream, SamplePieces& pieces, SampleFormat format,
                  const std::string& name);

// writeSigmf with the samples from pieces; neither file is replaced unless both
// were written (also when the pieces throw).
void writeSigmf(const std::string& base, SamplePieces& pieces, const SigmfRecording& recording);

}  // namespace arbsuite::analysis
