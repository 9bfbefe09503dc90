// Result codes of the low-level signal routines (the noise filter of FilterHann and the noise
// generators of awgn). The noise stage ORs a failure code into IQSYNTH_ERR_NOISE_BASE.
#pragma once

#include "iqsynth.h"

namespace arbsuite::iqsynth {

constexpr int kSignalOk = 0;
constexpr int kSignalNoMemory = 1;  // an allocation failed
constexpr int kSignalFailed = 2;    // any other failure (unusable arguments, generator, FFT)

static_assert((IQSYNTH_ERR_NOISE_BASE | kSignalFailed) == IQSYNTH_ERR_NOISE,
              "the noise error number of the public header is the failure code of a routine");

}  // namespace arbsuite::iqsynth
