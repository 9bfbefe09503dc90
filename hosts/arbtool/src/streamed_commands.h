// dump and stats of arbtool on samples handed out in pieces (a file read piece by
// piece): the same output as runDump and runStats on the samples in memory. No
// library calls here, so the unit tests run them on pieces from memory.
#pragma once

#include <string>

#include "analysis_commands.h"
#include "sample_export.h"
#include "sample_pieces.h"

namespace arbsuite::arbtool {

// runDump of the pairs of pieces, with described's path, count and text.
void runDump(const ArbContent& described, SamplePieces& pieces, const std::string& output,
             analysis::SampleFormat format);

// runStats of the pairs of pieces, with described's path, count and text.
void runStats(const ArbContent& described, SamplePieces& pieces, bool json);

}  // namespace arbsuite::arbtool
