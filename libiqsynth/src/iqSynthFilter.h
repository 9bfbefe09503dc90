// Pulse shaping of the digital modulation mode: the eight shaping-filter designers, the
// periodic (cyclic lead-in) FIR over the upsampled symbol tracks, and runCDMModulation,
// the pipeline from data source to shaped I/Q tracks.
#pragma once

#include <valarray>

class iqSynthCfg;

// ---- Shaping filter design -------------------------------------------------------------
// Each designer reads overSamplingRate (S), filterLengh (L), AlphaBt and usrFilterCoef from
// cfg, resizes taps (caller-owned) and fills it, records the reported taps in
// cfg.filterTap / cfg.filterCoef (see each designer), and returns 0.
// Throws IqSynthCfgExcept 0x40005 (IQSYNTH_ERR_CFG_VALUE, the text naming the field) when S is
// outside 1..32, L outside 0..128, or the design would give taps that are not finite (alpha or BT
// of 0, taps summing to 0); IqSynthMemAllocExcept when taps cannot be sized.

// Dispatches on cfg.shapingFilterType; throws IqSynthCfgExcept 0x40001 "not exist filter
// type" for any code but 2, 3, 5, 6, 7, 8, 9, 10.
int genShapingFilter(iqSynthCfg& cfg, std::valarray<double>& taps);

int genGaussianLinearizedFilter(iqSynthCfg& cfg, std::valarray<double>& taps);  // code 2
int genGaussianPureFilter(iqSynthCfg& cfg, std::valarray<double>& taps);        // code 3
int genRectFilter(iqSynthCfg& cfg, std::valarray<double>& taps);                // code 5
int genRisingCosFilter(iqSynthCfg& cfg, std::valarray<double>& taps);           // code 6
int genRootRisingCosFilter(iqSynthCfg& cfg, std::valarray<double>& taps);       // code 7
int genUsrFilter(iqSynthCfg& cfg, std::valarray<double>& taps);                 // code 8
int genGaussianFSKFilter(iqSynthCfg& cfg, std::valarray<double>& taps);         // code 9
int genHalfSinFilter(iqSynthCfg& cfg, std::valarray<double>& taps);             // code 10

// |a - b| <= max(|a|, |b|) * 2^-23 (relative test: against 0 only 0 is equal).
bool almostEqualRelative(double a, double b);

// ---- Pulse shaping ------------------------------------------------------------------------
// The tracks hold (sequenceLenth + filterLengh) * S samples: a lead-in of O = filterLengh * S
// samples, then the data. Both functions design the shaping filter, fill the lead-in with the
// data extended periodically to the left, and filter each track in place with the causal FIR.
// Throw as genShapingFilter, and IqSynthCfgExcept 0x40005 when sequenceLenth < 1 or a track
// does not have that length.
int runIQFilter(iqSynthCfg& cfg, std::valarray<double>& iTrack, std::valarray<double>& qTrack);
int runFilter(iqSynthCfg& cfg, std::valarray<double>& track);

// Causal FIR in place: x[i] <- sum over k of taps[k] * x[i - k], with x = 0 before the start.
// cfg is not consulted. Inputs that are zero off a regular grid (upsampled symbols) are
// filtered in polyphase form, touching only the grid points. Returns 0.
int filteringDat2(iqSynthCfg& cfg, std::valarray<double>& x, std::valarray<double> taps);

// ---- Digital modulation pipeline ------------------------------------------------------------
// Runs data source, coding, mapping (or the FSK / differential modulators) and pulse shaping
// on gIqSynthCfg, leaving iMapDat and qMapDat (and mapDat for FSK) at
// (sequenceLenth + filterLengh) * overSamplingRate samples with the lead-in in front.
// Writes modulationFamily, sampleOffset, sampleLength (= sequenceLenth * overSamplingRate),
// symbolMap, filterTap and filterCoef. Returns 0; failures are thrown (IqSynthCfgExcept
// 0x40002 for an unknown modulation, 0x40005 for unusable lengths, before any track is sized).
int runCDMModulation();
