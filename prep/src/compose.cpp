// Carriers composed into one looped waveform (see waveform_prep.h).
#include <cmath>
#include <numeric>
#include <stdexcept>
#include <string>

#include "waveform_prep.h"

namespace arbsuite::prep {

Composite compose(const std::vector<CarrierInput>& inputs, double clock) {
  if (inputs.empty()) throw std::invalid_argument("There is no waveform to compose");
  if (!std::isfinite(clock) || !(clock > 0))
    throw std::invalid_argument("The clock must be a positive number of hertz");
  Composite out;
  std::vector<std::vector<Iq>> periods;
  double totalPower = 0;
  for (const CarrierInput& in : inputs) {
    if (in.iq.empty()) throw std::invalid_argument(in.name + " holds no samples");
    if (!std::isfinite(in.gainDb))
      throw std::invalid_argument("The gain of " + in.name + " is not a finite number of dB");
    if (!std::isfinite(in.shift))
      throw std::invalid_argument("The shift of " + in.name + " is not a finite frequency");
    std::vector<Iq> period;
    std::uint64_t repeats = 1;
    if (in.clock == clock) {
      period = in.iq;
    } else {
      repeats = wholeLengthRepeat(in.iq.size(), rateRatio(in.clock, clock));
      if (repeats > 1)
        out.warnings.push_back(in.name + " is repeated " + std::to_string(repeats) +
                               " times to a whole number of samples at the common clock");
      if (const auto cut = downsamplingWarning(in.iq, in.clock, clock))
        out.warnings.push_back(in.name + ": " + *cut);
      period = resample(in.iq, in.clock, clock, repeats);
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
    totalPower += share;
    out.bands.push_back(occupiedBand(period, clock));
    out.carriers.push_back({in.name, in.shift, 0, period.size(), 0});
    periods.push_back(std::move(period));
  }
  std::uint64_t length = 1;
  std::string lengths;
  for (const auto& period : periods) {
    lengths += (lengths.empty() ? "" : ", ") + std::to_string(period.size());
    const std::uint64_t g = std::gcd(length, static_cast<std::uint64_t>(period.size()));
    const unsigned __int128 next = static_cast<unsigned __int128>(length / g) * period.size();
    if (next > kMaxCompositeLength)
      throw std::length_error(
          "The composite would be longer than 2^28 samples: the least "
          "common multiple of the periods (" +
          lengths + " samples at the common clock) is too large");
    length = static_cast<std::uint64_t>(next);
  }
  out.iq.assign(static_cast<std::size_t>(length), Iq{});
  for (std::size_t c = 0; c < periods.size(); ++c) {
    const auto& period = periods[c];
    for (std::size_t k = 0; k < out.iq.size(); ++k) out.iq[k] += period[k % period.size()];
    out.carriers[c].repeats = length / period.size();
    out.carriers[c].powerDb = 10 * std::log10(std::pow(10.0, inputs[c].gainDb / 10) / totalPower);
  }
  return out;
}

}  // namespace arbsuite::prep
