// Fourier resampling of one period, and the occupied band that tells whether a
// lower rate cuts into the signal (see waveform_prep.h).
#include <cmath>
#include <cstdio>
#include <functional>
#include <numeric>
#include <stdexcept>
#include <string>

#include "fourier.h"
#include "hertz_text.h"
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

std::vector<Iq> resampleFrom(std::span<const Iq> x, double rateIn, double rateOut,
                             std::uint64_t repeat, const std::function<void()>& releaseInput);

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

std::vector<Iq> resample(std::span<const Iq> x, double rateIn, double rateOut,
                         std::uint64_t repeat) {
  return resampleFrom(x, rateIn, rateOut, repeat, [] {});
}

std::vector<Iq> resampleOwned(std::vector<Iq>&& x, double rateIn, double rateOut,
                              std::uint64_t repeat) {
  std::vector<Iq> input = std::move(x);
  return resampleFrom(input, rateIn, rateOut, repeat, [&] { std::vector<Iq>().swap(input); });
}

namespace {

std::vector<Iq> resampleFrom(std::span<const Iq> x, double rateIn, double rateOut,
                             std::uint64_t repeat, const std::function<void()>& releaseInput) {
  if (x.empty()) throw std::invalid_argument("There are no samples to resample");
  if (repeat == 0) throw std::invalid_argument("The repeat count must be at least 1");
  const RateRatio ratio = rateRatio(rateIn, rateOut);
  const unsigned __int128 total = static_cast<unsigned __int128>(x.size()) * repeat;
  if (total > (std::uint64_t{1} << 31))
    throw std::length_error("The repeated input (" + std::to_string(x.size()) + " x " +
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
        ") for a seamless period of " + std::to_string(*resampledLength(inLength * k, ratio)) +
        " samples");
  }
  const std::uint64_t m = *outLength;
  if (m == 0 || m > (std::uint64_t{1} << 31))
    throw std::length_error("A resampled period of " + std::to_string(m) +
                            " samples is out of range (1 to 2^31)");

  // Forward out of place from the input (or its repetition) into a buffer on FFTW's
  // alignment.
  const std::size_t nx = static_cast<std::size_t>(inLength);
  const std::size_t num = static_cast<std::size_t>(m);
  AlignedSamples spectrum(nx);
  if (repeat == 1) {
    transform(x, spectrum.span(), true);
  } else {
    AlignedSamples repeated(nx);
    for (std::uint64_t r = 0; r < repeat; ++r)
      std::copy(x.begin(), x.end(), repeated.data() + r * x.size());
    transform(repeated.span(), spectrum.span(), true);
  }
  releaseInput();

  // The cut or padded spectrum. Downsampled, it is gathered at the front of the
  // input's spectrum and transformed out of place into the result: no buffer beyond
  // the input, its spectrum and the result. Upsampled, it is laid out in the zeroed
  // result itself and transformed in place, so that the input, its spectrum and the
  // result are never held at once with a fourth buffer (at most 40 bytes a sample).
  const std::size_t n = std::min(num, nx);
  const std::size_t nyquist = n / 2 + 1;
  const std::size_t negative = n > 2 ? n - nyquist : 0;
  std::vector<Iq> out = samplesOnHugePages(num);
  if (num > nx) {
    std::copy(spectrum.data(), spectrum.data() + std::min(nyquist, n), out.data());
    std::copy(spectrum.data() + nx - negative, spectrum.data() + nx, out.data() + num - negative);
    if (n % 2 == 0) {
      // The input's Nyquist bin is shared by the output's -N/2 and +N/2 bins.
      out[n / 2] *= 0.5;
      out[num - n / 2] = out[n / 2];
    }
    spectrum.release();
    transform(out, false);
  } else {
    Iq* y = spectrum.data();
    // The input's bin at -N/2 (N the output length, even), read before the negative
    // bins move down over it: the output's Nyquist bin holds both halves.
    const Iq otherHalf = n % 2 == 0 && num != nx ? y[nx - n / 2] : Iq{};
    if (num != nx) {
      std::copy(y + nx - negative, y + nx, y + num - negative);  // a move to lower indices
      if (n % 2 == 0) y[num - n / 2] += otherHalf;
    }
    transform(std::span<const Iq>(y, num), out, false);
    spectrum.release();
  }
  const double scale = 1.0 / static_cast<double>(nx);
  for (Iq& v : out) v *= scale;
  return out;
}

}  // namespace

Band occupiedBand(std::span<const Iq> x, double rate, double fraction) {
  if (x.empty()) return {};
  std::vector<Iq> spectrum(x.size());
  transform(x, spectrum, true);
  return bandOfSpectrum(spectrum, rate, fraction);
}

Band bandOfSpectrum(std::span<const Iq> spectrum, double rate, double fraction) {
  const std::size_t n = spectrum.size();
  if (n == 0) return {};
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
