// Constellation tables, display lists, differential phase and EDGE rotation
// tables, and the IQ mapping stage (runDataIQMapping). The tables are computed
// from their construction rules when the library is loaded.
#include "dataMapping.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <numbers>
#include <optional>

#include "iqSynthLog.h"
#include "iqSynthLogStdout.h"

namespace arbsuite::iqsynth {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kHalfSqrt2 = std::numbers::sqrt2 / 2.0;

// QAM grid of (2 * half) x (2 * half) points on the odd levels -lmax..lmax,
// lmax = 2 * half - 1, step d = (sqrt(2)/2)/lmax, ordered by imaginary level
// then real level, both from highest to lowest. Points whose levels both reach
// cornerCut in magnitude are left out (the cross constellations).
ConstelMap makeQam(int half, int cornerCut) {
  const int lmax = 2 * half - 1;
  const double d = kHalfSqrt2 / lmax;
  ConstelMap points;
  for (int im = lmax; im >= -lmax; im -= 2) {
    for (int re = lmax; re >= -lmax; re -= 2) {
      if (cornerCut > 0 && std::abs(re) >= cornerCut && std::abs(im) >= cornerCut) {
        continue;
      }
      points.emplace_back(re * d, im * d);
    }
  }
  return points;
}

// n points on the unit circle at angles k * 2pi/n.
ConstelMap makePhases(int n) {
  ConstelMap points;
  for (int k = 0; k < n; ++k) {
    const double angle = 2.0 * kPi * k / n;
    points.emplace_back(std::cos(angle), std::sin(angle));
  }
  return points;
}

// M levels on the real axis from -1 to 1 in equal steps.
ConstelMap makeFskLevels(int M) {
  ConstelMap points;
  for (int i = 0; i < M; ++i) {
    points.emplace_back(-1.0 + 2.0 * i / (M - 1), 0.0);
  }
  return points;
}

std::valarray<double> makeEdgeRotation(bool sine) {
  std::valarray<double> table(16);
  for (int k = 0; k < 16; ++k) {
    const double angle = 3.0 * kPi * k / 8.0;
    table[static_cast<std::size_t>(k)] = sine ? std::sin(angle) : std::cos(angle);
  }
  return table;
}

}  // namespace

const ConstelMap qam16ConstelMap = makeQam(2, 0);
const ConstelMap qam32ConstelMap = makeQam(3, 5);
const ConstelMap qam64ConstelMap = makeQam(4, 0);
const ConstelMap qam128ConstelMap = makeQam(6, 9);
const ConstelMap qam256ConstelMap = makeQam(8, 0);
const ConstelMap bpskConstelMap = {{1.0, 0.0}, {-1.0, 0.0}};
const ConstelMap qpskConstelMap = {{kHalfSqrt2, kHalfSqrt2},
                                   {-kHalfSqrt2, kHalfSqrt2},
                                   {kHalfSqrt2, -kHalfSqrt2},
                                   {-kHalfSqrt2, -kHalfSqrt2}};
const ConstelMap psk8ConstelMap = makePhases(8);
const ConstelMap askConstelMap = {{0.0, 0.0}, {1.0, 0.0}};

const ConstelMap fsk2ConstelMap = makeFskLevels(2);
const ConstelMap fsk4ConstelMap = makeFskLevels(4);
const ConstelMap fsk8ConstelMap = makeFskLevels(8);
const ConstelMap fsk16ConstelMap = makeFskLevels(16);
const ConstelMap pi4DqpskConstelMap = makePhases(8);
const ConstelMap pi8DqpskConstelMap = makePhases(16);

const std::vector<short> pi4DqpskDelta = {1, 3, -1, -3};
const std::vector<short> pi8DqpskDelta = {1, 3, 5, 7, -1, -3, -5, -7};

}  // namespace arbsuite::iqsynth

std::valarray<double> edge8PSKRotCos = arbsuite::iqsynth::makeEdgeRotation(false);
std::valarray<double> edge8PSKRotSin = arbsuite::iqsynth::makeEdgeRotation(true);

namespace arbsuite::iqsynth {

const ConstelMap* mappingTableFor(const iqSynthCfg& cfg, int type) {
  if (modFamilyOf(type) == iqSynthCfg::MOD_FAMILY_USER) {
    return &cfg.usrConstelMap;
  }
  switch (type) {
    case iqSynthCfg::MOD_QAM16:
      return &qam16ConstelMap;
    case iqSynthCfg::MOD_QAM32:
      return &qam32ConstelMap;
    case iqSynthCfg::MOD_QAM64:
      return &qam64ConstelMap;
    case iqSynthCfg::MOD_QAM128:
      return &qam128ConstelMap;
    case iqSynthCfg::MOD_QAM256:
      return &qam256ConstelMap;
    case iqSynthCfg::MOD_BPSK:
      return &bpskConstelMap;
    case iqSynthCfg::MOD_QPSK:
    case iqSynthCfg::MOD_OQPSK:
      return &qpskConstelMap;
    case iqSynthCfg::MOD_8PSK:
    case iqSynthCfg::MOD_EDGE_8PSK:
      return &psk8ConstelMap;
    case iqSynthCfg::MOD_ASK:
      return &askConstelMap;
    default:
      return nullptr;
  }
}

const ConstelMap* constelMapFor(const iqSynthCfg& cfg, int type) {
  switch (type) {
    case iqSynthCfg::MOD_FSK2:
      return &fsk2ConstelMap;
    case iqSynthCfg::MOD_FSK4:
      return &fsk4ConstelMap;
    case iqSynthCfg::MOD_FSK8:
      return &fsk8ConstelMap;
    case iqSynthCfg::MOD_FSK16:
      return &fsk16ConstelMap;
    case iqSynthCfg::MOD_PI4_DQPSK:
      return &pi4DqpskConstelMap;
    case iqSynthCfg::MOD_PI8_D8PSK:
    case iqSynthCfg::MOD_EDGE_8PSK:
      return &pi8DqpskConstelMap;
    default:
      return mappingTableFor(cfg, type);
  }
}

int runDataIQMapping(iqSynthCfg& cfg, std::valarray<short>& symbols, std::valarray<double>& iDat,
                     std::valarray<double>& qDat, int offset) {
  const int type = cfg.digiModulatingType;
  const ConstelMap* table = mappingTableFor(cfg, type);
  if (table == nullptr) {
    throw IqSynthError(
        IqSynthError::Kind::Config, IQSYNTH_ERR_MOD_TYPE,
        std::string(" ERROR : not supported modulating format ") + " at " + siteLineIn());
  }
  if (modFamilyOf(type) == iqSynthCfg::MOD_FAMILY_USER) {
    const int k = modBitsOf(type);
    if (k > iqSynthCfg::kMaxUsrBitsPerSymbol) {
      throwCfgValue(" digiModulatingType " + to_string(type) +
                    " can not be used: a user constellation has at most 8 bits per symbol");
    }
    if (table->size() < (std::size_t{1} << k)) {
      throwCfgValue(" usrConstelMap of " + to_string(table->size()) +
                    " points can not be used: digiModulatingType " + to_string(type) + " needs " +
                    to_string(1 << k));
    }
  }
  const int R = cfg.overSamplingRate;
  if (R < 1 || offset < 0 || cfg.sequenceLength <= 0) {
    return 0;
  }
  const bool isEdge = type == iqSynthCfg::MOD_EDGE_8PSK;
  const long long end =
      static_cast<long long>(offset) + static_cast<long long>(cfg.sequenceLength) * R;
  long long limit = static_cast<long long>(symbols.size());
  limit = std::min(limit, static_cast<long long>(iDat.size()));
  limit = std::min(limit, static_cast<long long>(qDat.size()));
  const long long stop = std::min(end, limit);
  const long long points = std::min(static_cast<long long>(table->size()),
                                    static_cast<long long>(iqSynthCfg::kMaxConstelPoints));
  std::size_t visited = 0;
  const bool print = stdoutEnabled();
  std::optional<iqSynthStdoutLines> lines;
  if (print) {
    lines.emplace();
  }
  for (long long p = offset; p < stop; p += R, ++visited) {
    const auto j = static_cast<std::size_t>(p);
    const int s = symbols[j];
    if (s < 0 || s >= points) {
      throwCfgValue(" symbol value " + to_string(s) + " at sample " + to_string(p) +
                    " can not be used: digiModulatingType " + to_string(type) + " has " +
                    to_string(points) + " points");
    }
    const std::complex<double> point = (*table)[static_cast<std::size_t>(s)];
    if (isEdge) {
      const std::size_t k = visited % 16;
      iDat[j] = point.real() * edge8PSKRotCos[k] - point.imag() * edge8PSKRotSin[k];
      qDat[j] = point.real() * edge8PSKRotSin[k] + point.imag() * edge8PSKRotCos[k];
      cfg.symbolMap[(2 * static_cast<std::size_t>(s) + 3 * k) % 16] = 1;
    } else {
      cfg.symbolMap[s] = 1;
      iDat[j] = point.real();
      qDat[j] = point.imag();
      if (print) {
        lines->line("iMapDat[ i ] : ", iDat[j]);
      }
    }
  }
  return 0;
}

}  // namespace arbsuite::iqsynth
