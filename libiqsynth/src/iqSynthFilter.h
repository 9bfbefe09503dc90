// Pulse shaping of the digital modulation mode: the eight shaping-filter designers and the
// periodic (cyclic lead-in) FIR over the upsampled symbol tracks. The FIR arithmetic itself is
// in firKernel.
#pragma once

#include <cstddef>
#include <valarray>

namespace iqsynth {

class iqSynthCfg;

// ---- Shaping filter design -------------------------------------------------------------
// Each designer reads overSamplingRate (S), filterLengh (L), AlphaBt and usrFilterCoef from
// cfg, resizes taps (caller-owned) and fills it, records the reported taps in
// cfg.filterTap / cfg.filterCoef (see each designer), and returns 0.
// Throws a Config IqSynthError IQSYNTH_ERR_CFG_VALUE (the text naming the field) when S is outside
// 1..32, L outside 0..128, or the design would give taps that are not finite (alpha or BT of 0,
// taps summing to 0); a MemAlloc IqSynthError when taps cannot be sized.

// Dispatches on cfg.shapingFilterType; throws a Config IqSynthError IQSYNTH_ERR_FILTER_TYPE "not
// exist filter type" for any code but the eight IQSYNTH_FILTER_ values.
int genShapingFilter(iqSynthCfg& cfg, std::valarray<double>& taps);

int genGaussianLinearizedFilter(iqSynthCfg& cfg,
                                std::valarray<double>& taps);  // IQSYNTH_FILTER_GAUSSIAN_LINEARIZED
int genGaussianPureFilter(iqSynthCfg& cfg, std::valarray<double>& taps);  // IQSYNTH_FILTER_GAUSSIAN
int genRectFilter(iqSynthCfg& cfg, std::valarray<double>& taps);          // IQSYNTH_FILTER_RECT
int genRisingCosFilter(iqSynthCfg& cfg, std::valarray<double>& taps);     // IQSYNTH_FILTER_RC
int genRootRisingCosFilter(iqSynthCfg& cfg, std::valarray<double>& taps);  // IQSYNTH_FILTER_RRC
int genUsrFilter(iqSynthCfg& cfg, std::valarray<double>& taps);            // IQSYNTH_FILTER_USER
int genGaussianFSKFilter(iqSynthCfg& cfg,
                         std::valarray<double>& taps);               // IQSYNTH_FILTER_GAUSSIAN_FSK
int genHalfSinFilter(iqSynthCfg& cfg, std::valarray<double>& taps);  // IQSYNTH_FILTER_HALF_SINE

// |a - b| <= max(|a|, |b|) * 2^-23 (relative test: against 0 only 0 is equal).
bool almostEqualRelative(double a, double b);

// ---- Pulse shaping ------------------------------------------------------------------------
// The tracks hold (sequenceLenth + filterLengh) * S samples: a lead-in of O = filterLengh * S
// samples, then the data. Both functions design the shaping filter, fill the lead-in with the
// data extended periodically to the left, and filter each track in place with the causal FIR.
// Throw as genShapingFilter, and a Config IqSynthError IQSYNTH_ERR_CFG_VALUE when sequenceLenth < 1
// or a track does not have that length.
int runIQFilter(iqSynthCfg& cfg, std::valarray<double>& iTrack, std::valarray<double>& qTrack);
int runFilter(iqSynthCfg& cfg, std::valarray<double>& track);

// Track length of a run, (sequenceLenth + filterLengh) x overSamplingRate: the lead-in, then the
// data. Throws a Config IqSynthError IQSYNTH_ERR_CFG_VALUE for the lengths the shaping filter
// cannot use (as the designers) and for sequenceLenth < 1 or a length beyond the int range.
std::size_t checkedTrackLength(const iqSynthCfg& cfg);

// Causal FIR in place: x[i] <- sum over k of taps[k] * x[i - k], with x = 0 before the start.
// cfg is not consulted; the work is causalFirInPlace's. Returns 0; a MemAlloc IqSynthError when a
// work buffer cannot be allocated.
int filteringDat2(iqSynthCfg& cfg, std::valarray<double>& x, std::valarray<double> taps);

}  // namespace iqsynth
