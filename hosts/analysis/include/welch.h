// Power spectral density of IQ samples by Welch's method: Hann-windowed segments
// overlapping by half, their periodograms averaged over the whole waveform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace arbsuite::analysis {

struct Spectrum {
  double clockHz = 0;
  // Full-scale power per hertz (a full-scale modulus of 8192 LSB is power 1), one
  // value per bin; bin k lies at (k - n/2) x clockHz / n, so DC is bin n/2 and the
  // first bin is -clockHz/2. Summed times binHz() it gives the mean power.
  std::vector<double> density;
  std::size_t segments = 0;  // periodograms averaged

  double binHz() const { return clockHz / static_cast<double>(density.size()); }
  double frequency(std::size_t bin) const {
    return (static_cast<double>(bin) - static_cast<double>(density.size() / 2)) * binHz();
  }
};

// Fewer samples than this give no spectrum.
inline constexpr std::size_t kMinSpectrumSamples = 16;

// The segment length for a waveform of `samples` pairs. 4096 bins resolve a
// band to 1/4096 of the clock (a tone's 99 % bandwidth comes out near three bins)
// and keep each transform in the processor's cache; shorter waveforms halve it
// (down to 64) until at least 8 half-overlapping segments fit, so that the
// average stays smooth; below 64 pairs the whole waveform is one segment.
std::size_t welchSegmentLength(std::size_t samples);

// The spectrum of iq (interleaved I, Q) at clockHz (> 0). Every sample takes part:
// when the half-overlapping segments leave a tail, one more segment ends at the
// last sample. None for fewer than kMinSpectrumSamples pairs.
std::optional<Spectrum> welchSpectrum(std::span<const std::int16_t> iq, double clockHz);

// The width in hertz of the band holding `fraction` of the power, with half of
// the rest below it and half above (0.99: the 99 % occupied bandwidth). A bin's
// power counts as spread evenly across its width. None without power.
std::optional<double> occupiedBandwidth(const Spectrum& spectrum, double fraction = 0.99);

}  // namespace arbsuite::analysis
