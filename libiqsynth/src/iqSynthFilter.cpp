// The periodic pulse shaping of the upsampled symbol tracks: the lead-in is filled cyclically so
// that the kept window is one period of a looped waveform. The designers are in
// iqSynthFilterDesigners.cpp.
#include "iqSynthFilter.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <functional>
#include <iostream>
#include <limits>
#include <memory>
#include <new>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

#include "firKernel.h"
#include "iqSynthCfg.h"
#include "iqSynthLog.h"

namespace arbsuite::iqsynth {

namespace {

// Fills the lead-in (samples 0 .. lead-1) with the data (the last `data` samples of the track)
// extended periodically to the left, so the FIR starts in the state a looped playback leaves.
void fillCyclicLeadIn(std::valarray<double>& track, std::size_t data, std::size_t lead) {
  const std::size_t total = track.size();
  std::size_t unfilled = lead;
  std::size_t end = lead;  // one past the last sample still to fill
  while (unfilled > data) {
    for (std::size_t i = 0; i < data; ++i) {
      track[end - data + i] = track[total - data + i];
    }
    end -= data;
    unfilled -= data;
  }
  for (std::size_t i = 0; i < unfilled; ++i) {
    track[i] = track[total - unfilled + i];
  }
}

// Prints the designed taps on standard output (unless it is switched off).
void printTaps(const std::valarray<double>& taps) {
  if (!stdoutEnabled()) {
    return;
  }
  std::cout << "size is " << taps.size() << '\n';
  for (std::size_t i = 0; i < taps.size(); ++i) {
    std::cout << i << "th is " << taps[i] << '\n';
  }
}

// Track length and lead-in of a pulse-shaping call; the track must hold the whole run.
void checkTrack(const iqSynthCfg& cfg, const std::valarray<double>& track, const char* name) {
  const std::size_t expected = checkedTrackLength(cfg);
  if (track.size() != expected) {
    throwCfgValue(
        std::string(name) + " holds " + to_string(track.size()) +
        " samples, not (sequenceLenth + filterLengh) x overSamplingRate = " + to_string(expected));
  }
}

}  // namespace

void checkShapingLengths(int S, int L) {
  if (S < 1 || S > iqSynthCfg::kMaxOsr) {
    throwCfgValue("overSamplingRate " + to_string(S) + " is outside 1.." +
                  to_string(iqSynthCfg::kMaxOsr));
  }
  if (L < 0 || L > iqSynthCfg::kMaxFilterLen) {
    throwCfgValue("filterLengh " + to_string(L) + " is outside 0.." +
                  to_string(iqSynthCfg::kMaxFilterLen));
  }
  if (static_cast<long long>(S) * L > iqSynthCfg::kMaxFilterTaps) {
    throwCfgValue("overSamplingRate x filterLengh " + to_string(S * L) + " is above " +
                  to_string(iqSynthCfg::kMaxFilterTaps));
  }
}

std::size_t checkedTrackLength(const iqSynthCfg& cfg) {
  checkShapingLengths(cfg.overSamplingRate, cfg.filterLength);
  if (cfg.sequenceLength < 1) {
    throwCfgValue("sequenceLenth " + to_string(cfg.sequenceLength) + " is below 1");
  }
  const long long total = (static_cast<long long>(cfg.sequenceLength) + cfg.filterLength) *
                          static_cast<long long>(cfg.overSamplingRate);
  if (total > INT_MAX) {
    throwCfgValue("sequenceLenth " + to_string(cfg.sequenceLength) + " gives " + to_string(total) +
                  " samples, more than a run can hold");
  }
  return static_cast<std::size_t>(total);
}

// ---- Pulse shaping --------------------------------------------------------------------------

int filteringDat2(std::valarray<double>& x, std::valarray<double> taps) {
  try {
    causalFirInPlace(x, taps);
  } catch (const std::bad_alloc&) {
    throw IqSynthError::memAlloc("can not allocate the filter work buffer in " + siteFileAtLine());
  }
  return 0;
}

int runIQFilter(iqSynthCfg& cfg, std::valarray<double>& iTrack, std::valarray<double>& qTrack) {
  checkTrack(cfg, iTrack, "I track");
  checkTrack(cfg, qTrack, "Q track");
  std::valarray<double> taps;
  genShapingFilter(cfg, taps);
  const std::size_t S = static_cast<std::size_t>(cfg.overSamplingRate);
  const std::size_t data = static_cast<std::size_t>(cfg.sequenceLength) * S;
  const std::size_t lead = static_cast<std::size_t>(cfg.filterLength) * S;
  fillCyclicLeadIn(iTrack, data, lead);
  fillCyclicLeadIn(qTrack, data, lead);
  wrLog("Print Filter coef at line " + siteLineInFile());
  ite_print(taps);
  printTaps(taps);
  filteringDat2(iTrack, taps);
  return filteringDat2(qTrack, taps);
}

int runFilter(iqSynthCfg& cfg, std::valarray<double>& track) {
  checkTrack(cfg, track, "track");
  std::valarray<double> taps;
  genShapingFilter(cfg, taps);
  const std::size_t S = static_cast<std::size_t>(cfg.overSamplingRate);
  fillCyclicLeadIn(track, static_cast<std::size_t>(cfg.sequenceLength) * S,
                   static_cast<std::size_t>(cfg.filterLength) * S);
  printTaps(taps);
  return filteringDat2(track, taps);
}

namespace {

// Lays out the symbols one track is shaped from: history zeros (the filter's zero state), the
// symbols of the cyclic lead-in (the data extended periodically to the left, as
// fillCyclicLeadIn leaves the track), then the data. True when all of them are finite.
bool layOutSymbols(const iqSynthCfg& cfg, const std::valarray<double>& data, std::size_t history,
                   std::vector<double>& symbols) {
  const std::size_t N = data.size();
  const std::size_t L = static_cast<std::size_t>(cfg.filterLength);
  resizeOrThrow(symbols, history + L + N, "can not allocate the filter work buffer in ");
  std::fill(symbols.begin(), symbols.begin() + static_cast<std::ptrdiff_t>(history), 0.0);
  double* lead = symbols.data() + history;
  for (std::size_t b = 0; b < L; ++b) {
    lead[b] = data[(N - L % N + b) % N];  // data symbol (b - L) mod N
  }
  std::copy(std::begin(data), std::end(data), lead + L);
  bool finite = true;
  for (std::size_t b = 0; b < L + N; ++b) {
    finite &= std::isfinite(lead[b]);
  }
  return finite;
}

// Shapes one track given by its data symbols, the filter's zero history before them. Where the
// polyphase form cannot take the symbols alone, the track is built and filtered as runIQFilter
// does.
void shapeSymbols(const iqSynthCfg& cfg, const std::valarray<double>& data,
                  const std::valarray<double>& taps, std::valarray<double>& track) {
  const std::size_t S = static_cast<std::size_t>(cfg.overSamplingRate);
  const std::size_t L = static_cast<std::size_t>(cfg.filterLength);
  const std::size_t history = symbolHistory(S, taps.size());
  std::vector<double> symbols;
  const bool finite = layOutSymbols(cfg, data, history, symbols);
  const double* lead = symbols.data() + history;
  // A symbol that is not finite would turn the zero padding of the rows into NaN where the
  // track form might not: only finite symbols take the short way.
  if (finite && polyphaseFromSymbols(lead, S, taps, &track[0], track.size())) {
    return;
  }
  track = 0.0;
  for (std::size_t b = 0; b < L + data.size(); ++b) {
    track[b * S] = lead[b];
  }
  filteringDat2(track, taps);
}

// The checks, design and log of runIQFilterOnSymbols up to the shaping; returns the taps.
std::valarray<double> designForSymbols(iqSynthCfg& cfg, const std::valarray<double>& iSymbols,
                                       const std::valarray<double>& qSymbols) {
  const std::size_t N = static_cast<std::size_t>(cfg.sequenceLength);
  if (iSymbols.size() != N || qSymbols.size() != N) {
    throwCfgValue("the symbol lists do not hold sequenceLenth " + to_string(N) + " symbols");
  }
  std::valarray<double> taps;
  genShapingFilter(cfg, taps);
  wrLog("Print Filter coef at line " + siteLineInFile());
  ite_print(taps);
  printTaps(taps);
  return taps;
}

}  // namespace

int runIQFilterOnSymbols(iqSynthCfg& cfg, const std::valarray<double>& iSymbols,
                         const std::valarray<double>& qSymbols, std::valarray<double>& iTrack,
                         std::valarray<double>& qTrack) {
  checkTrack(cfg, iTrack, "I track");
  checkTrack(cfg, qTrack, "Q track");
  const std::valarray<double> taps = designForSymbols(cfg, iSymbols, qSymbols);
  shapeSymbols(cfg, iSymbols, taps, iTrack);
  shapeSymbols(cfg, qSymbols, taps, qTrack);
  return 0;
}

bool shapeDataWindow(iqSynthCfg& cfg, const std::valarray<double>& iSymbols,
                     const std::valarray<double>& qSymbols, std::valarray<double>& iTrack,
                     std::valarray<double>& qTrack, const std::function<void()>& sizeTracks,
                     DataWindowShaper& window) {
  const std::valarray<double> taps = designForSymbols(cfg, iSymbols, qSymbols);
  const std::size_t S = static_cast<std::size_t>(cfg.overSamplingRate);
  const std::size_t history = symbolHistory(S, taps.size());
  auto shaper = std::make_unique<SymbolShaper>(S, taps);
  if (shaper->usable()) {
    const bool finiteI = layOutSymbols(cfg, iSymbols, history, window.m_i);
    const bool finiteQ = layOutSymbols(cfg, qSymbols, history, window.m_q);
    if (finiteI && finiteQ) {
      window.m_shaper = std::move(shaper);
      window.m_first = history + static_cast<std::size_t>(cfg.filterLength);
      window.m_count = iSymbols.size() * S;
      return true;
    }
  }
  window = DataWindowShaper();
  sizeTracks();
  checkTrack(cfg, iTrack, "I track");
  checkTrack(cfg, qTrack, "Q track");
  shapeSymbols(cfg, iSymbols, taps, iTrack);
  shapeSymbols(cfg, qSymbols, taps, qTrack);
  return false;
}

DataWindowShaper::DataWindowShaper() = default;
DataWindowShaper::~DataWindowShaper() = default;
DataWindowShaper::DataWindowShaper(DataWindowShaper&&) noexcept = default;
DataWindowShaper& DataWindowShaper::operator=(DataWindowShaper&&) noexcept = default;

void DataWindowShaper::shapeI(std::size_t first, std::size_t count, double* out) const {
  m_shaper->shape(m_i.data() + m_first, first, count, out);
}

void DataWindowShaper::shapeQ(std::size_t first, std::size_t count, double* out) const {
  m_shaper->shape(m_q.data() + m_first, first, count, out);
}

}  // namespace arbsuite::iqsynth
