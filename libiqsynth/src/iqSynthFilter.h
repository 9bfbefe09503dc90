// Pulse shaping of the digital modulation mode: the eight shaping-filter designers
// (iqSynthFilterDesigners.cpp) and the periodic (cyclic lead-in) FIR over the upsampled symbol
// tracks (iqSynthFilter.cpp). The FIR arithmetic itself is in firKernel.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <valarray>
#include <vector>

namespace arbsuite::iqsynth {

class iqSynthCfg;

// ---- Shaping filter design (iqSynthFilterDesigners.cpp) -----------------------------------
// The settings a design reads: the record's shapingFilterType, overSamplingRate (S),
// filterLength (L), AlphaBt and usrFilterCoef.
struct ShapingFilterSettings {
  int type;                // an IQSYNTH_FILTER_ value
  int overSamplingRate;    // S, samples per symbol
  int filterLength;        // L, symbols
  double alphaBt;          // roll-off, or bandwidth-time product
  const double* userTaps;  // S x L host taps (the user filter)
};
ShapingFilterSettings shapingFilterSettingsOf(const iqSynthCfg& cfg);

// Where a design reports its taps for the host: the record's filterTap and filterCoef
// (room for iqSynthCfg::kMaxReportedTaps).
struct ReportedTaps {
  int& count;
  double* coefficients;
};
ReportedTaps reportedTapsOf(iqSynthCfg& cfg);

// Designs the shaping filter of settings.type into taps (resized; caller-owned) and reports it
// through out: the unscaled taps and their count N (S*L, or S*L + 1 for an even S*L; the
// one-symbol half sine and rectangle S or S + 1; the user filter only its taps, keeping the
// count; the linearised Gaussian only its count 5 S + 1). Every design but the linearised
// Gaussian is scaled to unit sum. Returns 0.
// Throws a Config IqSynthError IQSYNTH_ERR_FILTER_TYPE "not exist filter type" for any type but
// the eight IQSYNTH_FILTER_ values; IQSYNTH_ERR_CFG_VALUE (the text naming the field) when S is
// outside 1..32, L outside 0..128, or the design would give taps that are not finite (alpha or
// BT of 0, taps summing to 0); a MemAlloc IqSynthError when taps cannot be sized.
int designShapingFilter(const ShapingFilterSettings& settings, const ReportedTaps& out,
                        std::valarray<double>& taps);
// The same on the settings of cfg, reporting into cfg.
int genShapingFilter(iqSynthCfg& cfg, std::valarray<double>& taps);

// The oversampling and span limits every design and every track length depends on: throws a
// Config IqSynthError IQSYNTH_ERR_CFG_VALUE naming overSamplingRate or filterLengh when S is
// outside 1..32, L outside 0..128 or S x L above 4096.
void checkShapingLengths(int overSamplingRate, int filterLength);

// |a - b| <= max(|a|, |b|) * 2^-23 (relative test: against 0 only 0 is equal).
bool almostEqualRelative(double a, double b);

// ---- Pulse shaping ------------------------------------------------------------------------
// The tracks hold (sequenceLength + filterLength) * S samples: a lead-in of O = filterLength * S
// samples, then the data. Both functions design the shaping filter, fill the lead-in with the
// data extended periodically to the left, and filter each track in place with the causal FIR.
// Throw as genShapingFilter, and a Config IqSynthError IQSYNTH_ERR_CFG_VALUE when sequenceLength <
// 1 or a track does not have that length.
int runIQFilter(iqSynthCfg& cfg, std::valarray<double>& iTrack, std::valarray<double>& qTrack);
int runFilter(iqSynthCfg& cfg, std::valarray<double>& track);
// runIQFilter of the tracks whose data part holds iSymbols and qSymbols (sequenceLength of each)
// at every overSamplingRate-th sample from the lead-in on and zeros elsewhere: the same log, output
// and tracks, without the symbol tracks being built where the polyphase form applies. iTrack and
// qTrack must already hold (sequenceLenth + filterLengh) x overSamplingRate samples.
int runIQFilterOnSymbols(iqSynthCfg& cfg, const std::valarray<double>& iSymbols,
                         const std::valarray<double>& qSymbols, std::valarray<double>& iTrack,
                         std::valarray<double>& qTrack);

class SymbolShaper;

// The data window of a digital run (the tracks runIQFilterOnSymbols would shape, from sample
// filterLength x overSamplingRate on) computed straight from the symbol lists, any stretch at a
// time: a run driver reads it block by block instead of holding two run-sized tracks. Set up by
// shapeDataWindow; empty (count 0) otherwise.
class DataWindowShaper {
 public:
  DataWindowShaper();
  ~DataWindowShaper();
  DataWindowShaper(DataWindowShaper&&) noexcept;
  DataWindowShaper& operator=(DataWindowShaper&&) noexcept;

  // Samples of the window: sequenceLength x overSamplingRate.
  std::size_t count() const { return m_count; }
  // out[k] = window sample first + k of the I (Q) track, k < n; first + n <= count().
  void shapeI(std::size_t first, std::size_t n, double* out) const;
  void shapeQ(std::size_t first, std::size_t n, double* out) const;

 private:
  friend bool shapeDataWindow(iqSynthCfg&, const std::valarray<double>&,
                              const std::valarray<double>&, std::valarray<double>&,
                              std::valarray<double>&, const std::function<void()>&,
                              DataWindowShaper&);
  std::vector<double> m_i;  // the filter's zero history, lead-in symbols, data symbols
  std::vector<double> m_q;
  std::unique_ptr<SymbolShaper> m_shaper;
  std::size_t m_first = 0;  // index in m_i and m_q of the window's first symbol
  std::size_t m_count = 0;
};

// runIQFilterOnSymbols for a run that reads only the data window: the same design and log.
// Where the polyphase form can shape the window from the symbols (finite symbols and taps,
// oversampling above 1), sets window up and leaves the tracks as they are: true. Otherwise
// calls sizeTracks(), which must size both tracks as runIQFilterOnSymbols needs them, and
// shapes them as runIQFilterOnSymbols does: false. Throws as runIQFilterOnSymbols.
bool shapeDataWindow(iqSynthCfg& cfg, const std::valarray<double>& iSymbols,
                     const std::valarray<double>& qSymbols, std::valarray<double>& iTrack,
                     std::valarray<double>& qTrack, const std::function<void()>& sizeTracks,
                     DataWindowShaper& window);

// Track length of a run, (sequenceLength + filterLength) x overSamplingRate: the lead-in, then the
// data. Throws a Config IqSynthError IQSYNTH_ERR_CFG_VALUE for the lengths the shaping filter
// cannot use (as the designers) and for sequenceLength < 1 or a length beyond the int range.
std::size_t checkedTrackLength(const iqSynthCfg& cfg);

// Causal FIR in place: x[i] <- sum over k of taps[k] * x[i - k], with x = 0 before the start.
// The work is causalFirInPlace's. Returns 0; a MemAlloc IqSynthError when a work buffer cannot
// be allocated.
int filteringDat2(std::valarray<double>& x, std::valarray<double> taps);

}  // namespace arbsuite::iqsynth
