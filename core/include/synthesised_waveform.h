// The synthesised waveform as the hosts hold it, its level statistics and its raw
// sample form (the packer's input).
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace arbsuite::iqsynth_host {

// A file of the run (its log, an output of the program) cannot be written.
struct OutputError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// 14-bit samples as runIqSynth returned them, I and Q in separate tracks.
struct Waveform {
  std::vector<short> i;
  std::vector<short> q;
  double sampleRate = 0;  // Hz
};

struct Statistics {
  std::size_t samples = 0;
  double peak = 0;    // largest envelope sqrt(I^2 + Q^2), in sample units
  double rms = 0;     // sqrt(mean(I^2 + Q^2)), in sample units
  double energy = 0;  // sum of (v / 8192)^2 over every I and Q value
};

Statistics measure(const Waveform& wave);

// Crest factor peak / RMS in dB; 0 for a silent waveform.
double crestFactorDb(const Statistics& stats);

// Raw little-endian 16-bit words I0, Q0, I1, Q1, ...: the packer's input form.
std::vector<unsigned char> interleavedSamples(const Waveform& wave);

}  // namespace arbsuite::iqsynth_host
