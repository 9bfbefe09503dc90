// Drives libiqsynth through its exported interface: sets the library's environment,
// loads it, sets the configuration from the settings, sizes the sample arrays, runs
// the synthesis and reads back results: settings in, samples out.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "synthesis_library.h"
#include "synthesis_settings.h"
#include "synthesised_waveform.h"

namespace arbsuite::iqsynth_host {

struct SynthesisError : std::runtime_error {
  SynthesisError(int libraryStatus, const std::string& text)
      : std::runtime_error(text), status(libraryStatus) {}
  int status;  // the negative result of runIqSynth, or 0 for a host-side refusal
};

struct NoiseLevels {
  bool present = false;
  bool added = false;           // noise added to a signal (else noise alone)
  double noiseBandwidth = 0;    // Hz
  double noiseLevelSystem = 0;  // dB relative to the peak power
  double noiseLevelTotal = 0;   // dB
  double peakLevel = 0;         // dB, the reference
  double carrierLevel = 0;      // dB (added noise only)
  double signalLevel = 0;       // dB (added noise only)
};

struct SynthesisResult {
  Waveform wave;
  int filterTaps = 0;  // designed filter length (digital mode)
  NoiseLevels noise;
  double systemBandwidth = 0;  // Hz, as set for the noise stage
};

// A seed for a run that was given none: from std::random_device, else the clock.
std::uint32_t drawSeed();

// One run: sets what the library reads from the environment (IQSYNTH_RUN_LOG: the
// --log path, or empty for no log; IQSYNTH_STDOUT: 0 unless verbose; GSL_RNG_SEED:
// options.seed, which must be set, see drawSeed), loads the library (the first
// time; candidates as for loadSynthesisLibrary), configures it and runs it. Throws
// OutputError (a run log that cannot be written), LibraryError and SynthesisError.
SynthesisResult synthesise(const Options& options, const LibraryCandidates& candidates);

}  // namespace arbsuite::iqsynth_host
