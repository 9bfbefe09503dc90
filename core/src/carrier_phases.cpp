// Start phases of the multi-carrier comb: the laws of --phases. Newman's and
// Schroeder's quadratic phases spread the carriers' peaks over the period, which
// keeps the envelope's crest factor near 2.6 dB where equal phases give 10 log10 N.
#include "carrier_phases.h"

#include <cmath>
#include <numbers>
#include <random>

#include "synthesis_settings.h"

namespace arbsuite::iqsynth_host {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kTwoPi = 2 * std::numbers::pi;

// The angle in [0, 2 pi).
double wrapped(double radians) {
  double angle = std::fmod(radians, kTwoPi);
  if (angle < 0) angle += kTwoPi;
  return angle < kTwoPi ? angle : 0.0;
}

}  // namespace

std::vector<double> newmanPhases(int carriers) {
  std::vector<double> phases;
  if (carriers < 1) return phases;
  const auto n = static_cast<std::int64_t>(carriers);
  for (std::int64_t k = 1; k <= n; ++k) {
    // pi m / N repeats every 2N in m: reduce the square there, in whole numbers.
    const std::int64_t m = ((k - 1) * (k - 1)) % (2 * n);
    phases.push_back(kPi * static_cast<double>(m) / static_cast<double>(n));
  }
  return phases;
}

std::vector<double> schroederPhases(const std::vector<double>& powers) {
  double total = 0;
  for (const double p : powers) total += p;
  std::vector<double> phases(powers.size(), 0.0);
  if (!(total > 0) || !std::isfinite(total)) return phases;
  // S_k = sum_{l<k} (k - l) p_l grows by the running power sum P_k = sum_{l<=k} p_l
  // from one carrier to the next.
  double weightedSum = 0;
  double runningPower = 0;
  for (std::size_t k = 0; k < powers.size(); ++k) {
    phases[k] = wrapped(-kTwoPi * weightedSum);
    runningPower += powers[k] / total;
    weightedSum = std::fmod(weightedSum + runningPower, 1.0);  // whole turns drop out
  }
  return phases;
}

std::vector<double> randomPhases(int carriers, std::uint32_t seed) {
  // A fixed tag keeps these draws apart from the noise generators the library
  // seeds from the same number.
  std::seed_seq sequence{seed, 0x70686173u};
  std::mt19937 generator(sequence);
  std::vector<double> phases;
  for (int k = 0; k < carriers; ++k) {
    phases.push_back(kTwoPi * static_cast<double>(generator()) / 4294967296.0);
  }
  return phases;
}

std::vector<double> carrierPhases(const Options& o, std::uint32_t seed) {
  switch (o.phaseLaw) {
    case PhaseLaw::Zero:
      return std::vector<double>(static_cast<std::size_t>(o.carriers), 0.0);
    case PhaseLaw::Newman:
      return newmanPhases(o.carriers);
    case PhaseLaw::Schroeder: {
      const auto levels = perCarrier(o.levels, o.carriers, 0.0);
      const auto switches = perCarrier(o.switches, o.carriers, char{1});
      std::vector<double> powers;
      for (std::size_t k = 0; k < levels.size(); ++k) {
        powers.push_back(switches[k] != 0 ? std::pow(10.0, levels[k] / 10) : 0.0);
      }
      return schroederPhases(powers);
    }
    case PhaseLaw::Random:
      return randomPhases(o.carriers, seed);
    case PhaseLaw::List:
    default:
      return perCarrier(o.phases, o.carriers, 0.0);
  }
}

}  // namespace arbsuite::iqsynth_host
