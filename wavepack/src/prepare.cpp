// The preparation steps of the wavepack command line (see prepare.h).
#include "prepare.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "arb_format.h"
#include "convert.h"
#include "frequency_text.h"

namespace arbsuite::wavepack {

namespace prep = arbsuite::prep;
using prep::Iq;

namespace {

// Pairs read from the source at a time.
constexpr std::size_t kReadPairs = 16384;
// The longest waveform the Fourier steps take (prep's own limit).
constexpr std::uint64_t kMaxPrepared = std::uint64_t{1} << 31;
// How far from its target a crest-factor reduction counts as reaching it.
constexpr double kPaprTolerance = 0.1;  // dB

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string formatted(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string hertz(double value) { return formatted("%.15g", value) + " Hz"; }
std::string decibels(double value) { return formatted("%.2f", value) + " dB"; }

// The number at the start of `text` and what follows it; false when there is none.
bool leadingNumber(const std::string& text, double& value, std::string& rest) {
  const char* begin = text.c_str();
  char* end = nullptr;
  value = std::strtod(begin, &end);
  if (end == begin) return false;
  rest = end;
  return true;
}

std::uint64_t parseRepeat(const std::string& text) {
  const std::invalid_argument bad("--repeat takes a whole number of at least 1, not '" + text +
                                  "'");
  if (text.empty() || text.size() > 10 ||
      !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); }))
    throw bad;
  const std::uint64_t k = std::strtoull(text.c_str(), nullptr, 10);
  if (k == 0 || k > kMaxPrepared) throw bad;
  return k;
}

double parsePapr(const std::string& text) {
  double value = 0;
  std::string rest;
  if (!leadingNumber(text, value, rest) || !(rest.empty() || lower(rest) == "db") ||
      !std::isfinite(value) || !(value > 0))
    throw std::invalid_argument(
        "--papr takes a target PAPR in dB above 0 (for example 8 or 8dB), "
        "not '" +
        text + "'");
  return value;
}

prep::Band parseBand(const std::string& text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos)
    throw std::invalid_argument(
        "--cfr-band takes two frequencies LOW:HIGH, for example -5MHz:5MHz, not '" + text + "'");
  const prep::Band band{parseFrequencyOption("--cfr-band", text.substr(0, colon)),
                        parseFrequencyOption("--cfr-band", text.substr(colon + 1))};
  if (!(band.low < band.high))
    throw std::invalid_argument("--cfr-band " + text + ": LOW must lie below HIGH");
  return band;
}

// All pairs of the source as complex doubles.
std::vector<Iq> readWaveform(PairSource& source, std::uint64_t limit) {
  const std::uint64_t total = source.size();
  if (total > limit)
    throw std::length_error("Too many IQ pairs (" + std::to_string(total) +
                            "): an .arb file holds at most " + std::to_string(limit));
  std::vector<Iq> samples;
  samples.reserve(static_cast<std::size_t>(total));
  std::vector<IqPair> scratch(static_cast<std::size_t>(std::min<std::uint64_t>(kReadPairs, total)));
  for (std::uint64_t k = 0; k < total;) {
    const std::span<const IqPair> block = source.read(k, scratch);
    for (const IqPair& p : block) samples.emplace_back(p.i, p.q);
    k += block.size();
  }
  return samples;
}

void resampleStep(std::vector<Iq>& x, const PrepareSteps& steps, double rate, std::int32_t clock,
                  Diagnostics& diagnostics) {
  const double out = clock;
  const prep::RateRatio ratio = prep::rateRatio(rate, out);
  const std::uint64_t n = x.size();
  if (n == 0) throw std::invalid_argument("--resample: there are no samples to resample");
  const unsigned __int128 repeated = static_cast<unsigned __int128>(n) * steps.repeat;
  if (repeated > kMaxPrepared)
    throw std::length_error("--repeat " + std::to_string(steps.repeat) + ": " + std::to_string(n) +
                            " samples repeated " + std::to_string(steps.repeat) +
                            " times are more than 2^31 samples");
  const auto inLength = static_cast<std::uint64_t>(repeated);
  const std::optional<std::uint64_t> m = prep::resampledLength(inLength, ratio);
  if (!m) {
    // The smallest count for one period: every count that works is a multiple of it.
    const std::uint64_t k = prep::wholeLengthRepeat(n, ratio);
    const double samples =
        static_cast<double>(inLength) * static_cast<double>(ratio.up) / ratio.down;
    throw std::invalid_argument(
        "--resample: " + std::to_string(inLength) + " samples at " + hertz(rate) + " are " +
        formatted("%.6f", samples) + " samples at " + hertz(out) +
        ", not a whole number, so the loop would not be seamless: give --repeat " +
        std::to_string(k) + " (the input repeated " + std::to_string(k) + " times is " +
        prep::repeatedLengthText(n, k, ratio) + " samples at " + hertz(out) + ")");
  }
  if (*m > kMaxPairs)
    throw std::length_error("--resample: " + std::to_string(inLength) + " samples at " +
                            hertz(rate) + " are " + std::to_string(*m) + " samples at " +
                            hertz(out) + ": an .arb file holds at most " +
                            std::to_string(kMaxPairs));
  const std::string repeatText =
      steps.repeat > 1 ? " (the input repeated " + std::to_string(steps.repeat) + " times)" : "";
  if (ratio.up == ratio.down) {
    // The data are at the clock already: kept exactly, only repeated.
    x.resize(static_cast<std::size_t>(inLength));
    for (std::uint64_t r = 1; r < steps.repeat; ++r)
      std::copy_n(x.begin(), n, x.begin() + static_cast<std::ptrdiff_t>(r * n));
    diagnostics.note("--resample: the data's rate is the clock, " + hertz(out) +
                     ": the samples are not resampled" + repeatText);
    return;
  }
  if (const auto warning = prep::downsamplingWarning(x, rate, out)) diagnostics.warn(*warning);
  x = prep::resampleOwned(std::move(x), rate, out, steps.repeat);
  diagnostics.note("resampled " + std::to_string(inLength) + " samples at " + hertz(rate) +
                   repeatText + " to " + std::to_string(x.size()) + " samples at " + hertz(out) +
                   " by the Fourier method over the whole period");
}

void shiftStep(std::vector<Iq>& x, double freq, std::int32_t clock, Diagnostics& diagnostics) {
  if (const auto warning = prep::shiftWarning(x.size(), clock, freq)) diagnostics.warn(*warning);
  prep::shift(x, clock, freq);
  const prep::ShiftCheck check = prep::checkShift(x.size(), clock, freq);
  diagnostics.note("shifted by " + hertz(freq) + " at the clock " + hertz(clock) + ": " +
                   formatted("%.6g", check.cycles) + " cycles over the " +
                   std::to_string(x.size()) + "-sample period" +
                   (check.seamless ? ", a whole number (the loop stays seamless)" : ""));
}

void paprStep(std::vector<Iq>& x, const PrepareSteps& steps, std::int32_t clock,
              Diagnostics& diagnostics) {
  const double target = *steps.paprDb;
  const double before = prep::paprDb(x);
  if (before == 0 && std::all_of(x.begin(), x.end(), [](const Iq& v) { return v == Iq{}; }))
    throw std::invalid_argument("--papr: the waveform is all zero and has no crest factor");
  if (target > before)
    throw std::invalid_argument("--papr " + formatted("%g", target) +
                                " dB is above the PAPR of the waveform, " + decibels(before) +
                                ": a target lies above 0 dB and at most at the waveform's own");
  std::vector<prep::Band> bands;
  if (steps.cfrBand) bands.push_back(*steps.cfrBand);
  const prep::CfrReport report = prep::reducePapr(x, clock, target, bands);
  const prep::Band& band = report.bands.front();
  diagnostics.note("crest-factor reduction in the band " + hertz(band.low) + " to " +
                   hertz(band.high) + (steps.cfrBand ? " (--cfr-band)" : " (99 % occupied)") +
                   ": PAPR " + decibels(report.paprBeforeDb) + " before, " +
                   decibels(report.paprAfterDb) + " reached (target " + formatted("%g", target) +
                   " dB, " + std::to_string(report.iterations) + " passes)");
  diagnostics.note("crest-factor reduction: EVM " + formatted("%.3f", report.evmPercent) + " % (" +
                   decibels(report.evmDb) + "); power outside the band " +
                   decibels(report.outOfBandBeforeDb) + " before, " +
                   decibels(report.outOfBandAfterDb) + " after");
  if (std::fabs(report.paprAfterDb - target) > kPaprTolerance)
    diagnostics.warn("--papr " + formatted("%g", target) + " dB was not reached: the PAPR is " +
                     decibels(report.paprAfterDb) + " after " + std::to_string(report.iterations) +
                     " passes");
}

void taperStep(std::vector<Iq>& x, double seconds, std::int32_t clock, Diagnostics& diagnostics) {
  const double samples = seconds * clock;
  const std::string asked = "--taper " + formatted("%g", seconds) + " s";
  // Checked in floating point first, which also keeps the rounding in range.
  if (!(samples < static_cast<double>(x.size())))
    throw std::invalid_argument(asked + " is " + formatted("%.0f", samples) +
                                " samples at each end at " + hertz(clock) +
                                ", but the waveform has " + std::to_string(x.size()) + " samples");
  const auto length = static_cast<std::uint64_t>(std::llround(samples));
  if (length == 0)
    throw std::invalid_argument(asked + " is shorter than one sample at " + hertz(clock));
  if (2 * length > x.size())
    throw std::invalid_argument(asked + " is " + std::to_string(length) +
                                " samples at each end at " + hertz(clock) +
                                ", but the waveform has " + std::to_string(x.size()) + " samples");
  prep::taper(x, length);
  diagnostics.note("raised-cosine ramps of " + std::to_string(length) + " samples (" +
                   formatted("%g", static_cast<double>(length) / clock) +
                   " s) at the start and the end");
}

}  // namespace

double parseFrequencyOption(const std::string& option, const std::string& text) {
  const std::optional<double> read = arbsuite::readFrequency(text);
  // "nan", "inf" and numbers beyond a double, with or without a unit, are named so.
  double number = 0;
  std::string rest;
  if (!read && leadingNumber(text, number, rest) && !std::isfinite(number) &&
      arbsuite::readFrequency("1" + rest))
    throw std::invalid_argument(option + " must be a finite frequency, not '" + text + "'");
  if (!read)
    throw std::invalid_argument(option +
                                " takes a frequency in hertz with an optional unit (10MHz, 10m, "
                                "2.5k, 1e6), not '" +
                                text + "'");
  const double hz = *read;
  if (!std::isfinite(hz))
    throw std::invalid_argument(option + " must be a finite frequency, not '" + text + "'");
  return hz;
}

double parseDuration(const std::string& option, const std::string& text) {
  double value = 0;
  std::string rest;
  const std::string unit = leadingNumber(text, value, rest) ? lower(rest) : "?";
  double scale = 0;
  if (unit.empty() || unit == "s") {
    scale = 1;
  } else if (unit == "ms") {
    scale = 1e-3;
  } else if (unit == "us" || unit == "\xc2\xb5s") {
    scale = 1e-6;
  } else if (unit == "ns") {
    scale = 1e-9;
  } else {
    throw std::invalid_argument(option +
                                " takes a time in seconds with an optional unit s, ms, us or ns "
                                "(10us, 1.5ms, 1e-5), not '" +
                                text + "'");
  }
  const double seconds = value * scale;
  if (!std::isfinite(seconds) || !(seconds > 0))
    throw std::invalid_argument(option + " must be a finite time above 0, not '" + text + "'");
  return seconds;
}

PrepareSteps checkPrepareOptions(const PrepareOptions& options, bool fsGiven) {
  PrepareSteps steps;
  if (options.resample) {
    if (fsGiven)
      throw std::invalid_argument(
          "-f and --resample cannot be given together: -f writes the clock without changing the "
          "data, --resample converts the data to the clock it names");
    steps.resample = true;
    if (lower(*options.resample) != "auto") {
      const double clock = parseFrequencyOption("--resample", *options.resample);
      if (clock != std::trunc(clock) || !arb::isPlayableClock(clock))
        throw std::invalid_argument("--resample " + *options.resample + " (" + hertz(clock) +
                                    ") is not a clock the instrument plays: a whole number of "
                                    "hertz, " +
                                    arb::kPlayableClockText);
      steps.resampleClock = clock;
    }
  }
  if (options.inputRate) {
    if (!options.resample)
      throw std::invalid_argument(
          "--input-rate is the rate of the data that --resample converts: give it with "
          "--resample (-f sets the clock of data that are not resampled)");
    const double rate = parseFrequencyOption("--input-rate", *options.inputRate);
    if (!(rate > 0))
      throw std::invalid_argument("--input-rate must be a frequency above 0, not '" +
                                  *options.inputRate + "'");
    steps.inputRate = rate;
  }
  if (options.repeat) {
    if (!options.resample) throw std::invalid_argument("--repeat applies with --resample");
    steps.repeat = parseRepeat(*options.repeat);
  }
  if (options.shift) steps.shift = parseFrequencyOption("--shift", *options.shift);
  if (options.papr) steps.paprDb = parsePapr(*options.papr);
  if (options.cfrBand) {
    if (!options.papr)
      throw std::invalid_argument(
          "--cfr-band is the band of the crest-factor reduction: give it "
          "with --papr");
    steps.cfrBand = parseBand(*options.cfrBand);
  }
  if (options.taper) steps.taperSeconds = parseDuration("--taper", *options.taper);
  return steps;
}

double resampleInputRate(const PrepareSteps& steps, const InputData& input,
                         Diagnostics& diagnostics) {
  if (steps.inputRate) {
    if (input.sampleRate && *input.sampleRate != *steps.inputRate)
      diagnostics.note("--input-rate " + hertz(*steps.inputRate) +
                       " is taken as the data's rate, "
                       "not the " +
                       hertz(*input.sampleRate) + " of " + input.rateSource);
    return *steps.inputRate;
  }
  if (!input.sampleRate)
    throw std::invalid_argument(
        "--resample needs the sample rate of the data, which the input does not give: give it "
        "with --input-rate (for example --input-rate 61.44MHz)");
  return *input.sampleRate;
}

std::int32_t resampleClock(const PrepareSteps& steps, double dataRate, Diagnostics& diagnostics) {
  if (steps.resampleClock) return static_cast<std::int32_t>(*steps.resampleClock);
  const std::string rate = "--resample auto: the data's rate, " + hertz(dataRate) + ", ";
  if (dataRate == std::trunc(dataRate) && arb::isPlayableClock(dataRate)) {
    diagnostics.note(rate + "is a clock the instrument plays");
    return static_cast<std::int32_t>(dataRate);
  }
  double clock = arb::kHighPlayableClock;
  if (dataRate < arb::kMinPlayableClock)
    clock = arb::kMinPlayableClock;
  else if (dataRate < arb::kMaxPlayableClock)
    clock = std::ceil(dataRate);
  if (dataRate < arb::kHighPlayableClock)
    diagnostics.note(rate + "is not a clock the instrument plays; the clock is " + hertz(clock) +
                     ", the lowest playable one above it");
  else
    diagnostics.note(rate + "is above every clock the instrument plays; the clock is " +
                     hertz(clock));
  return static_cast<std::int32_t>(clock);
}

std::unique_ptr<PairSource> prepareWaveform(std::unique_ptr<PairSource> pairs,
                                            const PrepareSteps& steps, double dataRate,
                                            std::int32_t clock, Diagnostics& diagnostics) {
  // What can be checked against the clock is checked before the samples are read.
  const double half = clock / 2.0;
  if (steps.shift && std::fabs(*steps.shift) > half)
    throw std::invalid_argument("--shift " + hertz(*steps.shift) +
                                " is beyond half the clock: at " + hertz(clock) +
                                " a shift lies within " + hertz(-half) + " to " + hertz(half));
  if (steps.cfrBand && (steps.cfrBand->low < -half || steps.cfrBand->high > half))
    throw std::invalid_argument("--cfr-band " + hertz(steps.cfrBand->low) + " to " +
                                hertz(steps.cfrBand->high) + " is outside the clock: at " +
                                hertz(clock) + " the band lies within " + hertz(-half) + " to " +
                                hertz(half));

  std::vector<Iq> x = readWaveform(*pairs, steps.resample ? kMaxPrepared : kMaxPairs);
  pairs.reset();
  if (steps.resample) resampleStep(x, steps, dataRate, clock, diagnostics);
  if (steps.shift) shiftStep(x, *steps.shift, clock, diagnostics);
  if (steps.paprDb) paprStep(x, steps, clock, diagnostics);
  if (steps.taperSeconds) taperStep(x, *steps.taperSeconds, clock, diagnostics);
  return std::make_unique<WaveformPairs>(std::move(x));
}

std::span<const IqPair> WaveformPairs::read(std::uint64_t start, std::span<IqPair> scratch) {
  if (start >= samples_.size() || scratch.empty()) throw std::out_of_range("read beyond the pairs");
  const auto offset = static_cast<std::size_t>(start);
  const std::size_t n = std::min(scratch.size(), samples_.size() - offset);
  for (std::size_t k = 0; k < n; ++k)
    scratch[k] = {samples_[offset + k].real(), samples_[offset + k].imag()};
  return scratch.first(n);
}

}  // namespace arbsuite::wavepack
