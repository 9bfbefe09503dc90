// The steps that make IQ data ready for the instrument: resampling to a clock it
// plays, frequency shifts, carriers composed into one waveform, crest-factor
// reduction, ramps, and the checks of how a waveform loops. An .arb waveform is one
// period of a looped signal, so every step treats its input as periodic and says
// when the lengths do not allow a seamless result. Shared by wavepack, arbtool and
// the Python module; internal to the suite (no stable ABI).
#pragma once

#include <complex>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace arbsuite::prep {

using Iq = std::complex<double>;

// ------------------------------------------------------------------ resampling

// A ratio of two sample rates as a reduced fraction out / in (rates are taken to
// the microhertz). Throws std::invalid_argument for a rate that is not a positive
// finite number below 1e12 Hz.
struct RateRatio {
  std::uint64_t up = 1;    // out, reduced
  std::uint64_t down = 1;  // in, reduced
};
RateRatio rateRatio(double rateIn, double rateOut);

// The length N x out / in of a resampled period of n samples, or none when it is not
// a whole number.
std::optional<std::uint64_t> resampledLength(std::uint64_t n, const RateRatio& ratio);

// The smallest repeat count K for which K n x out / in is whole.
std::uint64_t wholeLengthRepeat(std::uint64_t n, const RateRatio& ratio);
// K n x out / in for that count (or any count that makes it whole) as text: exact,
// or to six digits when K n passes 64 bits.
std::string repeatedLengthText(std::uint64_t n, std::uint64_t k, const RateRatio& ratio);

// Resamples one period by the Fourier method: the spectrum of the `repeat` x N input
// samples (the input repeated) is cut or zero-padded to M = N x repeat x out / in
// bins, the Nyquist bin split or joined as scipy.signal.resample does, and
// transformed back (scaled by M / N). Exact for a band-limited periodic signal.
// Throws std::invalid_argument (naming the smallest repeat count) when M is not
// whole, for an empty input or a repeat count of 0, and std::length_error when M
// passes 2^31 samples.
std::vector<Iq> resample(std::span<const Iq> x, double rateIn, double rateOut,
                         std::uint64_t repeat = 1);
// The same on an input whose storage it takes over: the input is transformed where
// it lies (grown for the repeats) and freed before the output is transformed back,
// so that no copy of the input is held (at most 16 bytes per sample of the repeated
// input and of the output together).
std::vector<Iq> resampleOwned(std::vector<Iq>&& x, double rateIn, double rateOut,
                              std::uint64_t repeat = 1);

// The band [low, high] in hertz (-rate/2 .. rate/2) holding `fraction` of the power
// of the periodic spectrum: from the (1 - fraction) / 2 point of the cumulative
// power to its (1 + fraction) / 2 point.
struct Band {
  double low = 0;
  double high = 0;
  double width() const { return high - low; }
};
Band occupiedBand(std::span<const Iq> x, double rate, double fraction = 0.99);

// When resampling from `rateIn` to a lower `rateOut` cuts into the 99 % occupied
// band of `x`, the warning that says so with both bandwidths; otherwise none.
std::optional<std::string> downsamplingWarning(std::span<const Iq> x, double rateIn,
                                               double rateOut);

// -------------------------------------------------------------- frequency shift

// Multiplies sample n by exp(j 2 pi f n / clock), the phase f n / clock reduced to
// one cycle exactly for each sample (no drift, however long the waveform). Throws
// std::invalid_argument for a clock that is not positive and finite, or a shift that
// is not finite or beyond half the clock.
void shift(std::span<Iq> x, double clock, double freq);

// Whether a shift by `freq` keeps the loop seamless: f x N / clock whole cycles
// (within 1e-9 of a cycle), and the two nearest shifts that are.
struct ShiftCheck {
  bool seamless = false;
  double cycles = 0;  // f N / clock
  double below = 0;   // the nearest seamless shifts, in hertz
  double above = 0;
};
ShiftCheck checkShift(std::uint64_t n, double clock, double freq);

// The warning for a shift that is not seamless, naming both nearest seamless ones.
std::optional<std::string> shiftWarning(std::uint64_t n, double clock, double freq);

// ----------------------------------------------------------- crest-factor reduction

// Peak-to-average power ratio in dB (0 for an all-zero waveform).
double paprDb(std::span<const Iq> x);

struct CfrReport {
  double paprBeforeDb = 0;
  double paprAfterDb = 0;
  double evmPercent = 0;         // RMS of the change over the RMS of the signal
  double evmDb = 0;              // 20 log10 of that ratio
  double outOfBandBeforeDb = 0;  // power outside the bands over the total, in dB
  double outOfBandAfterDb = 0;
  int iterations = 0;
  std::vector<Band> bands;
};

// Iterative clipping and filtering, in place: the clipping noise of the envelope
// clipped at the level that gives the target PAPR (adapted from one pass to the next)
// is masked to `bands` on the periodic spectrum (hertz, within -clock/2 .. clock/2;
// the 99 % occupied band of the input when empty) and subtracted, so that clipping
// adds nothing outside the bands; until the PAPR is within 0.1 dB of the target or
// after 16 passes. The signal's own part outside the bands is then scaled by the fall
// of the power inside them (a hair more), so that neither the power outside the bands
// nor its share of the total grows. Deterministic. Holds the
// waveform, the noise and the input in single precision: 40 bytes a sample. Throws
// std::invalid_argument for a target at or below 0 dB or above the input's PAPR, a
// band outside the clock, or an all-zero input.
CfrReport reducePapr(std::vector<Iq>& x, double clock, double targetDb,
                     std::vector<Band> bands = {});

// Fraction of the power of the periodic spectrum outside `bands`, in dB (-inf: none).
double outOfBandDb(std::span<const Iq> x, double clock, std::span<const Band> bands);

// ------------------------------------------------------------------------ ramps

// Raised-cosine fade in over the first `length` samples and out over the last ones.
// Throws std::invalid_argument when 2 x length exceeds the waveform.
void taper(std::span<Iq> x, std::uint64_t length);

// ----------------------------------------------------------------- composition

struct CarrierInput {
  std::vector<Iq> iq;  // one period
  double clock = 0;    // its sample rate
  double shift = 0;    // hertz, at the common clock
  double gainDb = 0;   // power against the mean power of the others
  std::string name;    // for messages
};

struct CarrierReport {
  std::string name;
  double shift = 0;
  double powerDb = 0;         // its share of the composite's mean power, in dB
  std::uint64_t length = 0;   // samples of one period at the common clock
  std::uint64_t repeats = 0;  // periods in the composite
};

struct Composite {
  std::vector<Iq> iq;
  std::vector<CarrierReport> carriers;
  std::vector<Band> bands;            // each carrier's 99 % occupied band after its shift
  std::vector<std::string> warnings;  // shifts that are not seamless, bands cut
};

// The most samples a composite may have.
inline constexpr std::uint64_t kMaxCompositeLength = std::uint64_t{1} << 28;

// Each input resampled to `clock` (repeated to a whole length first when needed),
// shifted, scaled to unit mean power times its gain and summed over the least common
// multiple of the periods (each repeated to it). The inputs are taken by value and
// released one by one (move them in to keep memory to the composite and one period).
// Throws std::invalid_argument for a clock, shift or gain that is not finite, a shift
// beyond half the clock, an empty or all-zero input, and std::length_error naming the
// lengths for a composite longer than kMaxCompositeLength (before any work).
Composite compose(std::vector<CarrierInput> inputs, double clock);

// --------------------------------------------------------------- loop checks

// The jump from the last sample to the first, against the steps inside.
struct Seam {
  double jump = 0;   // modulus of x[0] - x[N-1], in the samples' unit (LSB for codes)
  double ratio = 0;  // jump over the 99th percentile of |x[k+1] - x[k]| (0 when both are 0)
};
Seam seam(std::span<const Iq> x);
// The same of the seam between two pieces: the last sample of `before`, the first of
// `after`, against the steps inside both.
Seam boundary(std::span<const Iq> before, std::span<const Iq> after);

// Spectral regrowth of the looped waveform: the power outside the 99 % occupied band
// of a Welch spectrum of the inside (Hann segments that never cross the seam; the band
// widened by the window's main lobe), taken from the periodic spectrum, against the
// same of the Welch spectrum, in dB, and 0 when the periodic spectrum is the cleaner.
// 0 for a waveform that loops cleanly; a click at the seam raises it.
double loopRegrowthDb(std::span<const Iq> x);
// The same, computed in x's own storage, which is left holding x's spectrum: half the
// memory of a long waveform's figure.
double loopRegrowthDbInPlace(std::span<Iq> x);

}  // namespace arbsuite::prep
