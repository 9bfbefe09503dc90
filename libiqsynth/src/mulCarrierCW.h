// Multi-carrier CW: a comb of unmodulated carriers centred on 0 Hz, with a
// record length in which every carrier completes a whole number of cycles.
#pragma once

#include <valarray>

#include "iqSynthCfg.h"

namespace arbsuite::iqsynth {

// Device rates of device type 0, Hz.
constexpr double kMccwMaxSampleRate = 100e6;
constexpr double kMccwRefSampleRate = 50e6;

// Chooses the record: fills mccwCarrierFreq (cycles per sample),
// mccwCarrierSample and mccwCarrierSampleFreq (Hz) from mccwCarrierItem and
// mccwCarrierSpacing. A carrier count outside 1..8192 or a spacing that is not
// finite and positive leaves mccwCarrierSample and mccwCarrierSampleFreq at 0
// (the following multi-carrier run then fails) and touches no array.
void genMulCarrierCWParam(iqSynthCfg& cfg);

// Rational approximation p/q of x by a continued fraction with nearest-integer
// terms, to a relative error below 1e-8 where p and q fit in 31 bits (else the
// last convergent that fits). An integer x gives x/1; a value that is not
// finite or whose size reaches 2^31 gives 0/1.
void findNearRat(double x, unsigned& p, unsigned& q);

// Sums the carriers into the first mccwCarrierSample samples of iDat and qDat
// (I: cosines, Q: sines), carriers switched off contributing nothing. With
// mccwOptCrestFactorEn set the phases follow -pi + i*pi/(2N) instead of
// mccwCarrierPhase. Returns 0. Throws a Config IqSynthError IQSYNTH_ERR_CFG_VALUE when
// mccwCarrierItem is outside 1..8192, the tracks are shorter than mccwCarrierSample,
// an enabled carrier's level is NaN or its phase not finite, or the enabled carriers'
// amplitudes 10^(level/20) add up to more than sqrt(DBL_MAX / mccwCarrierSample) (the
// envelope power of the record would overflow; the text names the loudest carrier's
// mccwCarrierAmp entry); a MemAlloc IqSynthError when a work array cannot be made.
int runMulCarrierCW(const iqSynthCfg& cfg, std::valarray<double>& iDat,
                    std::valarray<double>& qDat);

}  // namespace arbsuite::iqsynth
