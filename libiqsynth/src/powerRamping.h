// Power ramping: shapes the envelope of the finished baseband signal with the
// ramp table of the configuration (levels switched at given symbols over ramps).
#pragma once

#include <cstddef>
#include <valarray>

#include "iqSynthCfg.h"

namespace arbsuite::iqsynth {

// Multiplies the I and Q tracks in place by the piecewise-constant gain of the
// ramp table, with linear, raised-cosine or step transitions between levels.
// Sample 0 is the start of symbol 0. The gain covers every sample the tracks
// hold (the shorter of the two), which is sampleLength after a digital or
// multi-carrier synthesis. With no usable table entry the tracks are left
// unchanged. Returns 0.
// Throws a Config IqSynthError IQSYNTH_ERR_POWER_RAMP_MODE for an unknown ramp shape and
// IQSYNTH_ERR_CFG_VALUE for a table size outside 0..32 or a ramp time that is not finite.
int runPowerRamping(const iqSynthCfg& cfg, std::valarray<double>& iDat,
                    std::valarray<double>& qDat);
// The same over count samples at iDat and qDat (the data window of the run's tracks).
int runPowerRamping(const iqSynthCfg& cfg, double* iDat, double* qDat, std::size_t count);

}  // namespace arbsuite::iqsynth
