// The figures of `arbtool stats` measured from samples handed out in pieces: the
// same StatsReport as measureWaveform on the samples in memory, holding a bounded
// amount of them (two passes: the second finds the exact step percentiles).
#pragma once

#include <optional>
#include <vector>

#include "analysed_waveform.h"
#include "sample_pieces.h"
#include "stats.h"

namespace arbsuite::analysis {

// measureWaveform of the waveform whose samples pieces hand out, at clockHz (none:
// unknown or mixed), with segments (empty: a single waveform; otherwise
// consecutive from pair 0 and covering every pair, as a file's segment table).
// Waveforms and segments of up to kLoopRegrowthLimit pairs are held whole for
// their loop regrowth, as measure does. Throws std::invalid_argument for segments
// that do not cover the samples in order, and what the pieces throw.
StatsReport measureWaveform(SamplePieces& pieces, std::optional<double> clockHz,
                            const std::vector<Segment>& segments);

}  // namespace arbsuite::analysis
