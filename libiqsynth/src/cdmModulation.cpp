// The digital modulation pipeline runCDMModulation: data source and coding, then IQ mapping or
// the FSK / differential modulators, then pulse shaping of the upsampled tracks. It leaves the
// full tracks with their lead-in; the run driver keeps the data window.
#include "cdmModulation.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <iostream>
#include <new>
#include <numbers>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <valarray>
#include <vector>

#include "dataCoding.h"
#include "dataMapping.h"
#include "dataSrc.h"
#include "iqSynthCfg.h"
#include "iqSynthFilter.h"
#include "iqSynthLog.h"

namespace arbsuite::iqsynth {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kTwoPi = 2.0 * kPi;

enum class Chain { MappingFullLog, MappingShortLog, Fsk, Differential };

// The processing chain of a modulation type; refuses families outside the pipeline and the
// members whose symbols the FSK or differential modulators cannot handle.
Chain chainFor(int digiModulatingType, int family) {
  const int bits = modBitsOf(digiModulatingType);
  switch (family) {
    case iqSynthCfg::MOD_FAMILY_QAM:
    case iqSynthCfg::MOD_FAMILY_PSK:
    case iqSynthCfg::MOD_FAMILY_OQPSK:
    case iqSynthCfg::MOD_FAMILY_EDGE:
    case iqSynthCfg::MOD_FAMILY_USER:
      return Chain::MappingFullLog;
    case iqSynthCfg::MOD_FAMILY_ASK:
      return Chain::MappingShortLog;
    case iqSynthCfg::MOD_FAMILY_FSK:
      // One tone (0 bits) would divide the deviation by zero; more than 8 bits outgrow symbolMap.
      if ((bits & 0xFF) >= 1 && (bits & 0xFF) <= 8) {
        return Chain::Fsk;
      }
      break;
    case iqSynthCfg::MOD_FAMILY_DPSK:
      // The phase tables hold 8 increments: symbols of more than 3 bits would index past them.
      if (bits <= 3) {
        return Chain::Differential;
      }
      break;
    default:
      break;
  }
  throw IqSynthError(IqSynthError::Kind::Config, IQSYNTH_ERR_MOD_TYPE,
                     "Not processing modulating type" + to_string(__LINE__));
}

// While alive, the data source, coding and mapping stages see one sample per symbol: they then
// place the symbols side by side from index 0 instead of on the grid of the upsampled track,
// and the long sparse tracks are never built. Restores the record's settings on every exit.
class OneSamplePerSymbol {
 public:
  explicit OneSamplePerSymbol(iqSynthCfg& cfg)
      : m_cfg(cfg), m_rate(cfg.overSamplingRate), m_length(cfg.sampleLength) {
    cfg.overSamplingRate = 1;
    cfg.sampleLength = cfg.sequenceLength;
  }
  ~OneSamplePerSymbol() {
    m_cfg.overSamplingRate = m_rate;
    m_cfg.sampleLength = m_length;
  }
  OneSamplePerSymbol(const OneSamplePerSymbol&) = delete;
  OneSamplePerSymbol& operator=(const OneSamplePerSymbol&) = delete;

 private:
  iqSynthCfg& m_cfg;
  int m_rate;
  int m_length;
};

// The list dump of an upsampled track of total samples given by its symbols: symbol j at
// offset + j * S, zero elsewhere; the same text as ite_print of the built track. Each block
// finds its place on the grid once and then steps along it (no division per line).
template <typename T>
void logUpsampledTrack(const std::valarray<T>& symbols, std::size_t total, std::size_t offset,
                       std::size_t S) {
  if (!logEnabled()) {
    return;
  }
  const auto valueAt = [&](std::size_t i) {
    if (i < offset || (i - offset) % S != 0) {
      return T{};
    }
    return symbols[(i - offset) / S];
  };
  wrLog(std::string(" run here") + "  list size is " + to_string(total));
  if (logFormatOptions().reference || total == 0) {
    logIndexedLines("th is ", total, valueAt);
    return;
  }
  const char* const label = "th is ";
  const PaddedLabel labelText(label);
  const std::size_t maxLine =
      DecimalCounter::kCopyLength + PaddedLabel::kCopyLength + labelText.size() + kMaxValueText + 1;
  writeLogBlocks(total, maxLine, [&](char* out, std::size_t first, std::size_t last) {
    DecimalCounter index(first);
    std::size_t i = first;
    // Up to the first symbol of the block (or its end): zeros, then symbol by symbol.
    std::size_t next = first <= offset ? offset : offset + (first - offset + S - 1) / S * S;
    [[maybe_unused]] DoubleTextCache levels;  // the symbol values of a double track
    for (; i < last; ++i, index.next()) {
      out = index.copyTo(out);
      out = labelText.copyTo(out);
      if (i != next) {
        out = writeValueText(out, T{});
      } else {
        if constexpr (std::is_floating_point_v<T>) {
          out = levels.copyTo(out, symbols[(i - offset) / S]);
        } else {
          out = writeValueText(out, symbols[(i - offset) / S]);
        }
        next += S;
      }
      *out++ = '\n';
    }
    return out;
  });
}

void runMappingChain(iqSynthCfg& cfg, const SampleTracks& tracks, std::size_t total, int offset,
                     bool fullLog, DataWindowShaper* window) {
  const std::size_t symbols = static_cast<std::size_t>(cfg.sequenceLength);
  const std::size_t S = static_cast<std::size_t>(cfg.overSamplingRate);
  const std::size_t first = static_cast<std::size_t>(offset);
  std::valarray<short> data;
  resizeOrThrow(data, symbols, "resize _valarray error ");
  std::valarray<double> iSymbols;
  std::valarray<double> qSymbols;
  wrLog("INFO : Allocate memory for data source");
  {
    const OneSamplePerSymbol compact(cfg);
    runDataSrc(cfg, data, 0);
    wrLog("run bpsk size is " + to_string(total));
    wrLog("INFO : Running to Data source");
    runDataCoding(cfg, data, 0);
    wrLog("INFO : Running to Data coding");
    if (fullLog) {
      wrLog("Print Data coding   at line " + siteLineInFile());
      logUpsampledTrack(data, total, first, S);
    }
    tracks.frequency.resize(0);
    resizeOrThrow(iSymbols, symbols, "resize iMapDat is error in ");
    wrLog("INFO : Allocate memory for I channel data");
    resizeOrThrow(qSymbols, symbols, "resize QMapDat is error in ");
    wrLog("INFO : Allocate memory for Q channel data");
    wrLog("INFO : Begin IQ MApping");
    runDataIQMapping(cfg, data, iSymbols, qSymbols, 0);
  }
  wrLog("INFO : Running to IQ mapping");
  if (fullLog) {
    wrLog("Print iMapDat at line " + siteLineInFile());
    logUpsampledTrack(iSymbols, total, first, S);
    wrLog("Print qMapDat at line " + siteLineInFile());
    logUpsampledTrack(qSymbols, total, first, S);
  }
  data.resize(0);  // the symbols are mapped: leave the memory to the filter
  const auto sizeTracks = [&] {
    resizeOrThrow(tracks.i, total, "resize iMapDat is error in ");
    resizeOrThrow(tracks.q, total, "resize QMapDat is error in ");
  };
  if (window != nullptr) {
    shapeDataWindow(cfg, iSymbols, qSymbols, tracks.i, tracks.q, sizeTracks, *window);
  } else {
    sizeTracks();
    runIQFilterOnSymbols(cfg, iSymbols, qSymbols, tracks.i, tracks.q);
  }
  wrLog("INFO : Running to IQ filter");
}

// Modulation index per level step: the outermost level (M - 1) reaches maxFskDev.
double fskIndex(const iqSynthCfg& cfg) {
  const int tones = 1 << (modBitsOf(cfg.digiModulatingType) & 0xFF);
  const double h = (cfg.maxFskDev / cfg.symbolRate) / (tones - 1);
  if (!std::isfinite(h)) {
    if (cfg.symbolRate == 0.0 || !std::isfinite(cfg.symbolRate)) {
      throwCfgValue("symbolRate " + to_string(cfg.symbolRate) + " gives no FSK modulation index");
    }
    throwCfgValue("maxFskDev " + to_string(cfg.maxFskDev) + " gives no FSK modulation index");
  }
  return h;
}

void runFskChain(iqSynthCfg& cfg, const SampleTracks& tracks, std::size_t total, int offset) {
  const double h = fskIndex(cfg);
  const std::size_t S = static_cast<std::size_t>(cfg.overSamplingRate);
  const std::size_t first = static_cast<std::size_t>(offset);

  std::valarray<short> data;
  resizeOrThrow(data, total, "resize _valarray MapDat is error in ");
  wrLog("INFO : Allocate memory for data source");
  runDataSrc(cfg, data, offset);
  wrLog("INFO : Running to Data source");
  // The occupancy flags index the FSK level list by raw symbol value, so mark before coding.
  const std::size_t end = first + static_cast<std::size_t>(cfg.sampleLength);
  for (std::size_t k = first; k < end; k += S) {
    const int symbol = data[k];
    if (symbol >= 0 && symbol < iqSynthCfg::kMaxConstelPoints) {
      cfg.symbolMap[symbol] = 1;
    }
  }
  runDataCoding(cfg, data, offset);
  wrLog("INFO : Running to Data coding");

  resizeOrThrow(tracks.frequency, total, "resize mapDat is error in ");
  resizeOrThrow(tracks.i, total, "resize iMapDat is error in ");
  wrLog("INFO : Allocate memory for I channel data");
  resizeOrThrow(tracks.q, total, "resize qMapDat is error in ");
  wrLog("INFO : Allocate memory for Q channel data");

  wrLog("INFO : Start casting");
  for (std::size_t j = first; j < total; ++j) {
    tracks.frequency[j] = data[j];
  }
  data.resize(0);
  wrLog("INFO : Start filtering");
  runFilter(cfg, tracks.frequency);
  wrLog("INFO : Running to IQ filter");

  if (stdoutEnabled()) {
    std::cout << "net H is " << h << '\n';
  }
  wrLog("begin fsk modulation");
  wrLog("filterTap is" + to_string(offset) + " , size is " + to_string(tracks.i.size()));
  // Continuous phase: each sample's frequency level is added before its angle is taken, so
  // the first data sample already carries its own advance.
  double levelSum = 0.0;
  for (std::size_t s = first; s < total; ++s) {
    levelSum += tracks.frequency[s];
    const double angle = kTwoPi * h * levelSum;
    tracks.i[s] = std::cos(angle);
    tracks.q[s] = std::sin(angle);
  }
  wrLog("INFO : Running to FSK modulation");
}

void runDifferentialChain(iqSynthCfg& cfg, const SampleTracks& tracks, std::size_t total,
                          int offset) {
  std::valarray<short> data;
  resizeOrThrow(data, total, "resize _valarray is error in ");
  wrLog("INFO : Allocate memory for data source");
  runDataSrc(cfg, data, offset);
  wrLog("run bpsk size is " + to_string(data.size()));
  runDataCoding(cfg, data, offset);

  tracks.frequency.resize(0);
  resizeOrThrow(tracks.i, total, "resize iMapDat is error in ");
  wrLog("INFO : Allocate memory for I channel data");
  resizeOrThrow(tracks.q, total, "resize qMapDat is error in ");
  wrLog("INFO : Allocate memory for Q channel data");
  wrLog("INFO : Begin IQ MApping");

  const bool quarter = cfg.digiModulatingType == iqSynthCfg::MOD_PI4_DQPSK;
  const std::vector<short>& delta = quarter ? pi4DqpskDelta : pi8DqpskDelta;
  const long long positions = quarter ? 8 : 16;
  const double step = quarter ? kPi / 4.0 : kPi / 8.0;
  const std::size_t S = static_cast<std::size_t>(cfg.overSamplingRate);
  long long phaseSum = 0;  // in steps; the reference phase before the first symbol is 0
  const bool log = logEnabled();
  for (std::size_t p = static_cast<std::size_t>(offset); p < total; p += S) {
    const int symbol = data[p];
    if (symbol < 0 || static_cast<std::size_t>(symbol) >= delta.size()) {
      throwCfgValue("symbol value " + to_string(symbol) + " at sample " + to_string(p) +
                    " has no phase increment for digiModulatingType " +
                    to_string(cfg.digiModulatingType));
    }
    phaseSum += delta[static_cast<std::size_t>(symbol)];
    if (log) {
      wrLog(to_string(p) + " phasesum is " + to_string(phaseSum));
    }
    // The angle of the reduced position equals phaseSum * step and stays exact for long runs.
    const long long position = ((phaseSum % positions) + positions) % positions;
    tracks.i[p] = std::cos(static_cast<double>(position) * step);
    tracks.q[p] = std::sin(static_cast<double>(position) * step);
    cfg.symbolMap[position] = 1;
  }
  wrLog("INFO : Running to IQ mapping");
  data.resize(0);
  runIQFilter(cfg, tracks.i, tracks.q);
  wrLog("INFO : Running to IQ filter");
}

}  // namespace

int runCDMModulation(iqSynthCfg& cfg, const SampleTracks& tracks, DataWindowShaper* window) {
  cfg.modulationFamily = modFamilyOf(cfg.digiModulatingType);
  wrLog("run here" + to_string(__LINE__));
  std::fill(std::begin(cfg.symbolMap), std::end(cfg.symbolMap), 0);
  const Chain chain = chainFor(cfg.digiModulatingType, cfg.modulationFamily);

  // Every length is checked before a track is sized.
  const std::size_t total = checkedTrackLength(cfg);
  const int offset = cfg.filterLength * cfg.overSamplingRate;
  cfg.sampleOffset = offset;
  // The stages place and code symbols over sampleLength samples: keep it equal to the data.
  cfg.sampleLength = cfg.sequenceLength * cfg.overSamplingRate;
  if (chain == Chain::Fsk) {
    fskIndex(cfg);
  }

  switch (chain) {
    case Chain::MappingFullLog:
      runMappingChain(cfg, tracks, total, offset, true, window);
      break;
    case Chain::MappingShortLog:
      runMappingChain(cfg, tracks, total, offset, false, window);
      break;
    case Chain::Fsk:
      runFskChain(cfg, tracks, total, offset);
      break;
    case Chain::Differential:
      runDifferentialChain(cfg, tracks, total, offset);
      break;
  }
  return 0;
}

}  // namespace arbsuite::iqsynth
