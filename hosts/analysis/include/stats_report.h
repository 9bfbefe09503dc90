// The two forms of the stats figures: JSON for scripts (the keys are fixed; a
// figure the waveform does not have is null) and aligned text lines for people.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "stats.h"

namespace arbsuite::analysis {

// In this order: {"samples", "clock_hz", "duration_s", "peak", "peak_dbfs", "rms_dbfs", "papr_db",
//  "ccdf_db": {"10", "1", "0.1", "0.01"}, "dc": [I, Q], "clipped", "obw_hz", "seam_lsb",
//  "seam_ratio", "loop_regrowth_db", "segments": [{the keys above, "name"}],
//  "boundaries": [{"from", "to", "seam_lsb", "seam_ratio"}]}
nlohmann::ordered_json statsJson(const StatsReport& report);

// "Label:  value" lines, then one indented block per segment; file names the
// waveform in the first line.
std::string statsText(const StatsReport& report, const std::string& file);

// Hertz in the largest unit that keeps the number at 1 or more: "2.5 MHz", "0 Hz".
std::string hertzText(double hertz);

// A count with its digits in groups of three: "16,000,000".
std::string countText(std::size_t count);

}  // namespace arbsuite::analysis
