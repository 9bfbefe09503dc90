// Level statistics and the raw sample form of a synthesised waveform.
#include "synthesised_waveform.h"

#include <algorithm>
#include <cmath>

namespace arbsuite::iqsynth_host {

Statistics measure(const Waveform& wave) {
  Statistics stats;
  stats.samples = std::min(wave.i.size(), wave.q.size());
  double peakSquared = 0;
  double sum = 0;
  for (std::size_t k = 0; k < stats.samples; ++k) {
    const double i = wave.i[k];
    const double q = wave.q[k];
    const double power = i * i + q * q;
    peakSquared = std::max(peakSquared, power);
    sum += power;
  }
  stats.peak = std::sqrt(peakSquared);
  stats.rms = stats.samples == 0 ? 0 : std::sqrt(sum / static_cast<double>(stats.samples));
  stats.energy = sum / (8192.0 * 8192.0);
  return stats;
}

double crestFactorDb(const Statistics& stats) {
  return stats.rms > 0 ? 20 * std::log10(stats.peak / stats.rms) : 0;
}

std::vector<unsigned char> interleavedSamples(const Waveform& wave) {
  const std::size_t count = std::min(wave.i.size(), wave.q.size());
  std::vector<unsigned char> bytes(count * 4);
  // Indexed stores into the sized buffer (no push_back per byte): a loop the compiler
  // vectorises, the byte order fixed by the shifts whatever the host's.
  unsigned char* out = bytes.data();
  const short* iDat = wave.i.data();
  const short* qDat = wave.q.data();
  for (std::size_t k = 0; k < count; ++k) {
    const auto i = static_cast<unsigned short>(iDat[k]);
    const auto q = static_cast<unsigned short>(qDat[k]);
    out[4 * k] = static_cast<unsigned char>(i & 0xFF);
    out[4 * k + 1] = static_cast<unsigned char>(i >> 8);
    out[4 * k + 2] = static_cast<unsigned char>(q & 0xFF);
    out[4 * k + 3] = static_cast<unsigned char>(q >> 8);
  }
  return bytes;
}

}  // namespace arbsuite::iqsynth_host
