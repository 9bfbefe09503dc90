// Carriers composed into one looped waveform (see waveform_prep.h).
#include <cmath>
#include <numeric>
#include <stdexcept>
#include <string>

#include "fourier.h"
#include "waveform_prep.h"

namespace arbsuite::prep {

Composite compose(std::vector<CarrierInput> inputs, double clock) {
  if (inputs.empty()) throw std::invalid_argument("There is no waveform to compose");
  if (!std::isfinite(clock) || !(clock > 0))
    throw std::invalid_argument("The clock must be a positive number of hertz");
  // Every period's length at the common clock first, so that the composite is sized
  // (or refused) before any work; then one input at a time is resampled, shifted,
  // scaled and added, and its samples released.
  std::vector<std::uint64_t> repeats(inputs.size(), 1);
  std::vector<std::uint64_t> periods(inputs.size());
  double totalPower = 0;
  for (std::size_t c = 0; c < inputs.size(); ++c) {
    const CarrierInput& in = inputs[c];
    if (in.iq.empty()) throw std::invalid_argument(in.name + " holds no samples");
    if (!std::isfinite(in.gainDb))
      throw std::invalid_argument("The gain of " + in.name + " is not a finite number of dB");
    if (!std::isfinite(in.shift))
      throw std::invalid_argument("The shift of " + in.name + " is not a finite frequency");
    if (!std::isfinite(in.clock) || !(in.clock > 0))
      throw std::invalid_argument("The clock of " + in.name + " is not a positive frequency");
    if (std::fabs(in.shift) > clock / 2)
      throw std::invalid_argument("The shift of " + in.name + " is beyond half the clock");
    periods[c] = in.iq.size();
    if (in.clock != clock) {
      const RateRatio ratio = rateRatio(in.clock, clock);
      repeats[c] = wholeLengthRepeat(in.iq.size(), ratio);
      periods[c] = *resampledLength(in.iq.size() * repeats[c], ratio);
    }
    totalPower += std::pow(10.0, in.gainDb / 10);
  }
  std::uint64_t length = 1;
  std::string lengths;
  for (const std::uint64_t period : periods) {
    lengths += (lengths.empty() ? "" : ", ") + std::to_string(period);
    const std::uint64_t g = std::gcd(length, period);
    const unsigned __int128 next = static_cast<unsigned __int128>(length / g) * period;
    if (next > kMaxCompositeLength)
      throw std::length_error(
          "The composite would be longer than 2^28 samples: the least "
          "common multiple of the periods (" +
          lengths + " samples at the common clock) is too large");
    length = static_cast<std::uint64_t>(next);
  }

  // The composite takes the first carrier that fills it as its own buffer, and each
  // carrier's band is read from a transform in place of samples already added: with
  // two inputs as long as the composite, nothing is held beyond them.
  Composite out;
  for (std::size_t c = 0; c < inputs.size(); ++c) {
    CarrierInput& in = inputs[c];
    std::vector<Iq> period;
    if (in.clock == clock) {
      period = std::move(in.iq);
    } else {
      if (repeats[c] > 1)
        out.warnings.push_back(in.name + " is repeated " + std::to_string(repeats[c]) +
                               " times to a whole number of samples at the common clock");
      if (const auto cut = downsamplingWarning(in.iq, in.clock, clock))
        out.warnings.push_back(in.name + ": " + *cut);
      period = resampleOwned(std::move(in.iq), in.clock, clock, repeats[c]);
    }
    if (const auto jump = shiftWarning(period.size(), clock, in.shift))
      out.warnings.push_back(in.name + ": " + *jump);
    shift(period, clock, in.shift);
    double power = 0;
    for (const Iq& v : period) power += std::norm(v);
    power /= static_cast<double>(period.size());
    if (power == 0) throw std::invalid_argument(in.name + " is all zero");
    const double share = std::pow(10.0, in.gainDb / 10);
    const double gain = std::sqrt(share / power);
    for (Iq& v : period) v *= gain;
    out.carriers.push_back({in.name, in.shift, 10 * std::log10(share / totalPower), period.size(),
                            length / period.size()});
    if (out.iq.empty() && period.size() == length) {
      // Its spectrum in place for the band, and back: the inverse transform returns
      // the samples to within a few units of the last place.
      out.iq = std::move(period);
      transform(out.iq, true);
      out.bands.push_back(bandOfSpectrum(out.iq, clock));
      transform(out.iq, false);
      const double scale = 1.0 / static_cast<double>(length);
      for (Iq& v : out.iq) v *= scale;
      continue;
    }
    if (out.iq.empty()) out.iq = samplesOnHugePages(static_cast<std::size_t>(length));
    for (std::size_t k = 0; k < out.iq.size(); ++k) out.iq[k] += period[k % period.size()];
    transform(period, true);
    out.bands.push_back(bandOfSpectrum(period, clock));
  }
  return out;
}

}  // namespace arbsuite::prep
