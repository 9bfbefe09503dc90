// The checks of the iqsynth command line that look at several options together:
// the modes an option applies to (by its group in the help), the outputs, and the
// values one option allows given another.
#pragma once

#include <CLI/CLI.hpp>

#include "options.h"

namespace arbsuite::iqsynth_host {

// The modes as bits, so that a group of options can apply to several.
inline constexpr unsigned kDigital = 1;
inline constexpr unsigned kNoise = 2;
inline constexpr unsigned kMccw = 4;
inline constexpr unsigned kAllModes = kDigital | kNoise | kMccw;

// The help's option groups and the modes their options apply to.
struct Section {
  const char* heading;
  unsigned modes;
};
inline constexpr Section kGeneral = {"Options", kAllModes};
inline constexpr Section kDigitalOnly = {"Digital modulation (--mode digital)", kDigital};
inline constexpr Section kRampAndCnr = {"Power ramp and added noise (--mode digital or mccw)",
                                        kDigital | kMccw};
inline constexpr Section kNoiseOnly = {"Noise mode (--mode noise)", kNoise};
inline constexpr Section kMccwOnly = {"Multi-carrier CW (--mode mccw)", kMccw};
inline constexpr Section kBandwidth = {"Noise bandwidth (every mode)", kAllModes};
inline constexpr Section kSections[] = {kGeneral,   kDigitalOnly, kRampAndCnr,
                                        kNoiseOnly, kMccwOnly,    kBandwidth};

// Refuses an option of a group that does not apply to the run's mode, and
// notes the long names of the options given. Throws UsageError.
void checkModes(const CLI::App& app, Options& o);

// The checks across options once all are read; samplesReturned: the caller takes
// the samples, so no output option is needed. Throws UsageError.
void checkCombination(const Options& o, bool samplesReturned);

}  // namespace arbsuite::iqsynth_host
