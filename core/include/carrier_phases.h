// Start phases of the multi-carrier comb: the laws of --phases, computed in the
// host and handed to the library as plain per-carrier phases.
#pragma once

#include <cstdint>
#include <vector>

namespace arbsuite::iqsynth_host {

struct Options;

// What --phases gave: a list of radians, or one of the named laws.
enum class PhaseLaw { List, Zero, Newman, Schroeder, Random };

// Newman's phases for N equal carriers in frequency order: phi_k = pi (k - 1)^2 / N,
// k = 1 ... N, reduced to [0, 2 pi) exactly (the square is taken modulo 2N).
std::vector<double> newmanPhases(int carriers);

// Schroeder's phases for carriers of relative powers p_k (any scale, 0 for a carrier
// that is off): phi_k = -2 pi sum_{l < k} (k - l) p_l / sum(p), in [0, 2 pi). For equal
// powers this is -pi k (k - 1) / N. All powers 0 give zero phases.
std::vector<double> schroederPhases(const std::vector<double>& powers);

// Independent phases uniform in [0, 2 pi), the same for the same seed on every
// platform (std::mt19937 from a std::seed_seq of the seed, 32 bits per phase).
std::vector<double> randomPhases(int carriers, std::uint32_t seed);

// The phases of the comb the options describe, one per carrier: the --phases list
// (one value for all, or one per carrier; none gives zeros) or the law, Schroeder's
// weighted by the --levels and --switches. seed serves the random law.
std::vector<double> carrierPhases(const Options& options, std::uint32_t seed);

}  // namespace arbsuite::iqsynth_host
