// Fourier resampling of one period, and the occupied band that tells whether a
// lower rate cuts into the signal (see waveform_prep.h).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <stdexcept>
#include <string>

#include "fourier.h"
#include "waveform_prep.h"

namespace arbsuite::prep {

namespace {

constexpr double kMicro = 1e6;
constexpr double kLargestRate = 1e12;

std::uint64_t microhertz(double rate, const char* what) {
  if (!std::isfinite(rate) || !(rate > 0) || rate >= kLargestRate)
    throw std::invalid_argument(std::string(what) +
                                " must be a positive number of hertz below "
                                "1e12, not " +
                                std::to_string(rate));
  const auto units = static_cast<std::uint64_t>(std::llround(rate * kMicro));
  if (units == 0) throw std::invalid_argument(std::string(what) + " is below a microhertz");
  return units;
}

std::string hertz(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.9g Hz", value);
  return text;
}

}  // namespace

RateRatio rateRatio(double rateIn, double rateOut) {
  const std::uint64_t in = microhertz(rateIn, "The input rate");
  const std::uint64_t out = microhertz(rateOut, "The output rate");
  const std::uint64_t common = std::gcd(in, out);
  return {out / common, in / common};
}

std::optional<std::uint64_t> resampledLength(std::uint64_t n, const RateRatio& ratio) {
  const unsigned __int128 scaled = static_cast<unsigned __int128>(n) * ratio.up;
  if (scaled % ratio.down != 0) return std::nullopt;
  const unsigned __int128 m = scaled / ratio.down;
  if (m > UINT64_MAX) return std::nullopt;
  return static_cast<std::uint64_t>(m);
}

std::uint64_t wholeLengthRepeat(std::uint64_t n, const RateRatio& ratio) {
  // up and down share no factor, so K n up / down is whole when down divides K n.
  return ratio.down / std::gcd(n == 0 ? ratio.down : n, ratio.down);
}

// k n can pass 64 bits for rates far from a simple ratio (k up to the reduced
// input rate in microhertz).
std::string repeatedLengthText(std::uint64_t n, std::uint64_t k, const RateRatio& ratio) {
  const unsigned __int128 repeated = static_cast<unsigned __int128>(n) * k;
  if (repeated <= UINT64_MAX) {
    if (const auto m = resampledLength(static_cast<std::uint64_t>(repeated), ratio))
      return std::to_string(*m);
  }
  char text[64];
  std::snprintf(text, sizeof text, "%.6g",
                static_cast<double>(n) * static_cast<double>(k) * static_cast<double>(ratio.up) /
                    static_cast<double>(ratio.down));
  return text;
}

namespace {

// The checks of resample() on an input of `n` samples: the length M of the output.
std::uint64_t resampledPeriod(std::uint64_t n, double rateIn, double rateOut,
                              std::uint64_t repeat) {
  if (n == 0) throw std::invalid_argument("There are no samples to resample");
  if (repeat == 0) throw std::invalid_argument("The repeat count must be at least 1");
  const RateRatio ratio = rateRatio(rateIn, rateOut);
  const unsigned __int128 total = static_cast<unsigned __int128>(n) * repeat;
  if (total > (std::uint64_t{1} << 31))
    throw std::length_error("The repeated input (" + std::to_string(n) + " x " +
                            std::to_string(repeat) + " samples) is longer than 2^31 samples");
  const auto inLength = static_cast<std::uint64_t>(total);
  const std::optional<std::uint64_t> outLength = resampledLength(inLength, ratio);
  if (!outLength) {
    const std::uint64_t k = wholeLengthRepeat(inLength, ratio);
    throw std::invalid_argument(
        std::to_string(inLength) + " samples at " + hertz(rateIn) + " are " +
        std::to_string(static_cast<double>(inLength) * static_cast<double>(ratio.up) /
                       static_cast<double>(ratio.down)) +
        " samples at " + hertz(rateOut) + ", not a whole number: repeat the input " +
        std::to_string(k * repeat) + " times (--repeat " + std::to_string(k * repeat) +
        ") for a seamless period of " + repeatedLengthText(inLength, k, ratio) + " samples");
  }
  const std::uint64_t m = *outLength;
  if (m == 0 || m > (std::uint64_t{1} << 31))
    throw std::length_error("A resampled period of " + std::to_string(m) +
                            " samples is out of range (1 to 2^31)");
  return m;
}

// The Fourier method on `spectrum`, which holds the repeated input and is
// transformed in place; returns the `m` resampled samples.
std::vector<Iq> resampleHeld(std::vector<Iq>&& spectrum, std::uint64_t m) {
  transform(spectrum, true);

  const std::size_t nx = spectrum.size();
  const std::size_t num = static_cast<std::size_t>(m);
  std::vector<Iq> y;
  if (num == nx) {
    y = std::move(spectrum);
  } else {
    y.resize(num);
    // The bins both lengths hold: the positive half with the Nyquist bin, then the
    // negative half (scipy.signal.resample's copy for complex input).
    const std::size_t n = std::min(num, nx);
    const std::size_t nyquist = n / 2 + 1;
    for (std::size_t k = 0; k < nyquist; ++k) y[k] = spectrum[k];
    if (n > 2)
      for (std::size_t k = 1; k <= n - nyquist; ++k) y[num - k] = spectrum[nx - k];
    if (n % 2 == 0) {
      if (num < nx) {
        // The output's Nyquist bin holds both halves of the input's.
        y[num - n / 2] += spectrum[nx - n / 2];
      } else {
        // The input's Nyquist bin is shared by the output's -N/2 and +N/2 bins.
        y[n / 2] *= 0.5;
        y[num - n / 2] = y[n / 2];
      }
    }
    std::vector<Iq>().swap(spectrum);  // not needed for the backward transform
  }
  transform(y, false);
  const double scale = 1.0 / static_cast<double>(nx);
  for (Iq& v : y) v *= scale;
  return y;
}

}  // namespace

std::vector<Iq> resample(std::span<const Iq> x, double rateIn, double rateOut,
                         std::uint64_t repeat) {
  const std::uint64_t m = resampledPeriod(x.size(), rateIn, rateOut, repeat);
  std::vector<Iq> spectrum;
  spectrum.reserve(static_cast<std::size_t>(x.size() * repeat));
  for (std::uint64_t r = 0; r < repeat; ++r) spectrum.insert(spectrum.end(), x.begin(), x.end());
  return resampleHeld(std::move(spectrum), m);
}

std::vector<Iq> resampleOwned(std::vector<Iq>&& x, double rateIn, double rateOut,
                              std::uint64_t repeat) {
  const std::uint64_t m = resampledPeriod(x.size(), rateIn, rateOut, repeat);
  std::vector<Iq> spectrum = std::move(x);
  if (repeat > 1) {
    const std::size_t n = spectrum.size();
    spectrum.resize(static_cast<std::size_t>(n * repeat));
    for (std::uint64_t r = 1; r < repeat; ++r)
      std::copy_n(spectrum.begin(), n, spectrum.begin() + static_cast<std::ptrdiff_t>(r * n));
  }
  return resampleHeld(std::move(spectrum), m);
}

Band occupiedBand(std::span<const Iq> x, double rate, double fraction) {
  if (x.empty()) return {};
  std::vector<Iq> spectrum(x.begin(), x.end());
  transform(spectrum, true);
  const std::size_t n = spectrum.size();
  double total = 0;
  for (const Iq& v : spectrum) total += std::norm(v);
  if (total == 0) return {};
  const double lowPoint = total * (1 - fraction) / 2;
  const double highPoint = total * (1 + fraction) / 2;
  double sum = 0;
  Band band{binFrequency(binAtPosition(0, n), n, rate),
            binFrequency(binAtPosition(n - 1, n), n, rate)};
  bool lowFound = false;
  for (std::size_t p = 0; p < n; ++p) {
    const std::size_t k = binAtPosition(p, n);
    sum += std::norm(spectrum[k]);
    if (!lowFound && sum > lowPoint) {
      band.low = binFrequency(k, n, rate);
      lowFound = true;
    }
    if (sum >= highPoint) {
      band.high = binFrequency(k, n, rate);
      break;
    }
  }
  return band;
}

std::optional<std::string> downsamplingWarning(std::span<const Iq> x, double rateIn,
                                               double rateOut) {
  if (!(rateOut < rateIn)) return std::nullopt;
  const Band band = occupiedBand(x, rateIn);
  if (band.low >= -rateOut / 2 && band.high <= rateOut / 2) return std::nullopt;
  return "resampling from " + hertz(rateIn) + " to " + hertz(rateOut) +
         " cuts into the signal's 99 % occupied band: it is " + hertz(band.width()) + " wide (" +
         hertz(band.low) + " to " + hertz(band.high) + "), the output holds " + hertz(rateOut) +
         " (" + hertz(-rateOut / 2) + " to " + hertz(rateOut / 2) + ")";
}

}  // namespace arbsuite::prep
