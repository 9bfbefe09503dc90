// The preparation options of wavepack as a user runs them: --resample (against the
// Fourier method written out here with direct DFTs), --repeat, --input-rate and
// auto clocks, --shift with its seam check, --papr with its report, --taper, the
// refusal of bad values, and the plain conversion left as it was.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <complex>
#include <cstdio>
#include <numbers>
#include <regex>
#include <string>
#include <vector>

#include "arb_samples.h"
#include "files.h"
#include "little_endian.h"
#include "power_checks.h"
#include "program_fixture.h"

namespace {

using namespace wavepack_test;
using arbtest::ProcessResult;
using testing::HasSubstr;
using testing::Not;
using Iq = std::complex<double>;
using Wave = std::vector<Iq>;

// Deterministic Gaussian-like samples (a linear congruential generator and the sum
// of four uniform values per part).
Wave noise(std::size_t n, std::uint64_t seed) {
  std::uint64_t state = seed;
  auto uniform = [&] {
    state = state * 6364136223846793005u + 1442695040888963407u;
    return static_cast<double>(state >> 11) / 9007199254740992.0 - 0.5;
  };
  Wave x(n);
  for (Iq& v : x) {
    double re = 0;
    double im = 0;
    for (int k = 0; k < 4; ++k) {
      re += uniform();
      im += uniform();
    }
    v = {re, im};
  }
  return x;
}

// `count` tones of unit amplitude and pseudo-random phase at bins first, first + 1, ...
Wave tones(std::size_t n, int first, int count, std::uint64_t seed) {
  const Wave phases = noise(static_cast<std::size_t>(count), seed);
  Wave x(n);
  for (int t = 0; t < count; ++t) {
    const double phase = 8 * std::arg(phases[static_cast<std::size_t>(t)]);
    for (std::size_t k = 0; k < n; ++k)
      x[k] += std::polar(1.0, 2 * std::numbers::pi * (first + t) * static_cast<double>(k) /
                                      static_cast<double>(n) +
                                  phase);
  }
  return x;
}

Pairs toPairs(const Wave& x) {
  Pairs pairs;
  for (const Iq& v : x) pairs.emplace_back(v.real(), v.imag());
  return pairs;
}

Wave fromSamples(const std::vector<std::int16_t>& samples) {
  Wave x;
  for (std::size_t k = 0; k + 1 < samples.size(); k += 2)
    x.emplace_back(samples[k], samples[k + 1]);
  return x;
}

Wave repeated(const Wave& x, int times) {
  Wave all;
  for (int r = 0; r < times; ++r) all.insert(all.end(), x.begin(), x.end());
  return all;
}

// The unnormalised DFT, e^(-j ...) forward and e^(+j ...) backward, summed directly.
Wave directDft(const Wave& x, bool forward) {
  const std::size_t n = x.size();
  Wave y(n);
  const double sign = forward ? -1 : 1;
  for (std::size_t k = 0; k < n; ++k) {
    Iq sum = 0;
    for (std::size_t t = 0; t < n; ++t)
      sum += x[t] * std::polar(1.0, sign * 2 * std::numbers::pi * static_cast<double>((k * t) % n) /
                                        static_cast<double>(n));
    y[k] = sum;
  }
  return y;
}

// One period of n samples resampled to m by the Fourier method: the bins both
// lengths hold are kept; the Nyquist bin of an even input is split between +n/2 and
// -n/2 when upsampling, and an even output's Nyquist bin takes both the input's bins
// at +-m/2 when downsampling; the result is scaled by 1/n.
Wave fourierResample(const Wave& x, std::size_t m) {
  const std::size_t n = x.size();
  const Wave spectrum = directDft(x, true);
  const long limit = static_cast<long>(std::min(n, m));
  auto in = [&](long k) { return spectrum[static_cast<std::size_t>((k + long(n)) % long(n))]; };
  Wave bins(m);
  auto out = [&](long k) -> Iq& { return bins[static_cast<std::size_t>((k + long(m)) % long(m))]; };
  const long half = limit / 2;
  for (long k = -half; k <= half; ++k)
    if (limit % 2 == 1 || (k != half && k != -half)) out(k) = in(k);
  if (limit % 2 == 0) {
    if (m > n) {
      out(half) = in(half) / 2.0;
      out(-half) = in(half) / 2.0;
    } else if (m < n) {
      out(half) = in(half) + in(-half);
    } else {
      out(half) = in(half);
    }
  }
  Wave y = directDft(bins, false);
  for (Iq& v : y) v /= static_cast<double>(n);
  return y;
}

std::string csvText(const Wave& x) {
  std::string text;
  char line[80];
  for (const Iq& v : x) {
    std::snprintf(line, sizeof line, "%.17g,%.17g\n", v.real(), v.imag());
    text += line;
  }
  return text;
}

double paprOf(const Wave& x) { return arbtest::paprDb(x); }

class WavepackPrepOptions : public WavepackFormats {
 protected:
  void writeCsv(const std::string& name, const Wave& x) {
    arbtest::writeText(path(name), csvText(x));
  }

  // A SigMF pair NAME.sigmf-meta / NAME.sigmf-data of 64-bit doubles at `rate`.
  void writeSigmf(const std::string& name, const Wave& x, const std::string& rate) {
    std::vector<double> values;
    for (const Iq& v : x) values.insert(values.end(), {v.real(), v.imag()});
    arbtest::writeBytes(path(name + ".sigmf-data"), arbtest::doubleBytes(values));
    arbtest::writeText(
        path(name + ".sigmf-meta"),
        R"({"global": {"core:datatype": "cf64_le", "core:sample_rate": )" + rate +
            R"(, "core:version": "1.0.0"}, "captures": [{"core:sample_start": 0}]})");
  }

  // Runs with -o out.arb; on success returns the decrypted samples and checks the
  // clock of the file and the two lines of standard output.
  std::vector<std::int16_t> convert(const std::vector<std::string>& args, int clock,
                                    ProcessResult* result = nullptr) {
    std::vector<std::string> all = args;
    all.insert(all.end(), {"-o", "out.arb"});
    const ProcessResult r = run(all);
    if (result != nullptr) *result = r;
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    if (r.exitStatus != 0) return {};
    std::string text;
    const std::vector<std::int16_t> samples = arbtest::readArb(path("out.arb"), text);
    EXPECT_EQ(arbsuite::arb::findTextItem(text, "Clock"), std::to_string(clock) + "HZ");
    const std::size_t firstEnd = r.out.find('\n');
    EXPECT_THAT(r.out.substr(0, firstEnd), testing::StartsWith("Successfully converts the "));
    const std::string second = r.out.substr(firstEnd + 1);
    EXPECT_THAT(second,
                testing::StartsWith("Summary: " + std::to_string(samples.size() / 2) +
                                    " samples, clock " + std::to_string(clock) + " Hz, duration"));
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2) << r.out;
    std::error_code ignored;
    fs::remove(path("out.arb"), ignored);
    return samples;
  }

  // Runs with -o out.arb and expects the refusal: status 1, the message, no output
  // and no temporary file left.
  void expectRefusal(const std::vector<std::string>& args, const std::string& message) {
    std::vector<std::string> all = args;
    all.insert(all.end(), {"-o", "out.arb"});
    const ProcessResult r = run(all);
    std::string line;
    for (const std::string& a : args) line += a + " ";
    EXPECT_EQ(r.exitStatus, 1) << line << r.err;
    EXPECT_THAT(r.err, HasSubstr(message)) << line;
    EXPECT_EQ(r.out, "") << line;
    EXPECT_FALSE(fs::exists(path("out.arb"))) << line;
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp_), fs::directory_iterator()), 0) << line;
  }
};

// Equal to the quantised reference, but for at most a few values one code away
// (the two computations round differently in the last bits).
void expectSamples(const std::vector<std::int16_t>& actual, const Wave& reference) {
  const std::vector<std::int16_t> expected = quantise(toPairs(reference));
  ASSERT_EQ(actual.size(), expected.size());
  std::size_t differing = 0;
  for (std::size_t k = 0; k < actual.size(); ++k) {
    ASSERT_LE(std::abs(actual[k] - expected[k]), 1) << "value " << k;
    differing += actual[k] != expected[k] ? 1 : 0;
  }
  EXPECT_LE(differing, actual.size() / 100) << differing << " values differ by one";
}

// -------------------------------------------------------------------- resampling

TEST_F(WavepackPrepOptions, ResamplesToTheClockByTheFourierMethod) {
  // 384 samples at 61.44 MHz are 625 at 100 MHz.
  const Wave x = noise(384, 11);
  const Wave expected = fourierResample(x, 625);
  writeCsv("in.csv", x);
  ProcessResult r;
  expectSamples(
      convert({"-d", "in.csv", "--input-rate", "61.44MHz", "--resample", "100MHz"}, 100000000, &r),
      expected);
  EXPECT_THAT(r.err, HasSubstr("NOTE: resampled 384 samples at 61440000 Hz to 625 samples at "
                               "100000000 Hz"));
  EXPECT_THAT(r.err, Not(HasSubstr("WARNING")));
  // A SigMF recording gives its own rate; units as -f takes them.
  writeSigmf("rec", x, "61440000");
  expectSamples(convert({"-d", "rec.sigmf-meta", "--resample", "100m"}, 100000000), expected);
  // --input-rate is taken over the file's rate, with a note.
  writeSigmf("wrong", x, "50000000");
  expectSamples(convert({"-d", "wrong.sigmf-meta", "--resample", "1e8", "--input-rate", "61440k"},
                        100000000, &r),
                expected);
  EXPECT_THAT(r.err, HasSubstr("--input-rate 61440000 Hz is taken as the data's rate"));
}

TEST_F(WavepackPrepOptions, ALengthThatIsNotWholeNamesTheRepeatCountThatMakesIt) {
  // 128 samples at 61.44 MHz are 208.33 at 100 MHz; three periods are 625.
  const Wave x = noise(128, 12);
  writeCsv("in.csv", x);
  expectRefusal({"-d", "in.csv", "--input-rate", "61.44MHz", "--resample", "100MHz"},
                "not a whole number, so the loop would not be seamless: give --repeat 3");
  expectSamples(
      convert({"-d", "in.csv", "--input-rate", "61.44MHz", "--resample", "100MHz", "--repeat", "3"},
              100000000),
      fourierResample(repeated(x, 3), 625));
  // A repeat count that does not make it whole names the smallest one again.
  expectRefusal(
      {"-d", "in.csv", "--input-rate", "61.44MHz", "--resample", "100MHz", "--repeat", "2"},
      "give --repeat 3");
}

TEST_F(WavepackPrepOptions, AutoPicksThePlayableClockAtOrAboveTheDataRate) {
  ProcessResult r;
  // 61.44 MHz is not played: the lowest clock above it is 100 MHz.
  const Wave lte = noise(384, 13);
  writeSigmf("lte", lte, "61440000");
  expectSamples(convert({"-d", "lte.sigmf-meta", "--resample", "auto"}, 100000000, &r),
                fourierResample(lte, 625));
  EXPECT_THAT(r.err, HasSubstr("the lowest playable one above it"));
  // 999 Hz: the lowest clock, 1 kHz.
  const Wave slow = noise(999, 14);
  writeSigmf("slow", slow, "999");
  expectSamples(convert({"-d", "slow.sigmf-meta", "--resample", "AUTO"}, 1000),
                fourierResample(slow, 1000));
  // 122.88 MHz is above every clock: 100 MHz, and white data lose the part of their
  // band that 100 MHz does not hold, which is said with both bandwidths.
  const Wave fast = noise(768, 15);
  writeSigmf("fast", fast, "122880000");
  expectSamples(convert({"-d", "fast.sigmf-meta", "--resample", "auto"}, 100000000, &r),
                fourierResample(fast, 625));
  EXPECT_THAT(r.err, HasSubstr("WARNING: resampling from 122880000 Hz to 100000000 Hz cuts into "
                               "the signal's 99 % occupied band"));
  EXPECT_THAT(r.err, HasSubstr("the output holds 100000000 Hz"));
  expectRefusal({"-d", "fast.sigmf-meta", "--resample", "auto", "--strict"},
                "cuts into the signal's 99 % occupied band");
  // Data whose band fits are resampled without a warning.
  const Wave narrow = tones(768, -100, 201, 16);
  writeSigmf("narrow", narrow, "122880000");
  expectSamples(convert({"-d", "narrow.sigmf-meta", "--resample", "100MHz"}, 100000000, &r),
                fourierResample(narrow, 625));
  EXPECT_THAT(r.err, Not(HasSubstr("WARNING")));
}

// Without the new options, and with --resample auto at a rate the instrument plays,
// the samples written are exactly those of the plain conversion.
TEST_F(WavepackPrepOptions, ThePlainConversionIsUnchanged) {
  const Pairs pairs = spiral(500, 3000);
  Wave x;
  for (const auto& [i, q] : pairs) x.emplace_back(i, q);
  writeSigmf("rec", x, "2500000");
  writeCsv("in.csv", x);
  expectConversion({"-d", "rec.sigmf-meta"}, pairs, 2500000, "SigMF cf64_le");
  expectConversion({"-d", "in.csv", "-f", "2.5MHz"}, pairs, 2500000, "CSV");
  ProcessResult r;
  EXPECT_EQ(convert({"-d", "rec.sigmf-meta", "--resample", "auto"}, 2500000, &r), quantise(pairs));
  EXPECT_EQ(r.err,
            "NOTE: --resample auto: the data's rate, 2500000 Hz, is a clock the instrument plays\n"
            "NOTE: --resample: the data's rate is the clock, 2500000 Hz: the samples are not "
            "resampled\n");
  EXPECT_EQ(convert({"-d", "rec.sigmf-meta", "--resample", "2.5MHz"}, 2500000), quantise(pairs));
}

// ------------------------------------------------------------------------ shifts

TEST_F(WavepackPrepOptions, AShiftOfWholeCyclesIsSeamlessAndOthersNameTheNearestOnes) {
  // 1000 samples at 1 MHz: a whole cycle over the period is 1 kHz.
  const Wave x = tones(1000, -20, 41, 21);
  writeCsv("in.csv", x);
  auto shifted = [&](long hertz) {
    Wave y = x;
    for (std::size_t n = 0; n < y.size(); ++n) {
      // The phase f n / clock, reduced exactly in integers.
      const long cycles = ((hertz * static_cast<long>(n)) % 1000000 + 1000000) % 1000000;
      y[n] *= std::polar(1.0, 2 * std::numbers::pi * static_cast<double>(cycles) / 1e6);
    }
    return y;
  };
  ProcessResult r;
  expectSamples(convert({"-d", "in.csv", "-f", "1MHz", "--shift", "5kHz"}, 1000000, &r),
                shifted(5000));
  EXPECT_THAT(r.err, Not(HasSubstr("WARNING")));
  EXPECT_THAT(r.err, HasSubstr("NOTE: shifted by 5000 Hz at the clock 1000000 Hz: 5 cycles over "
                               "the 1000-sample period, a whole number"));
  expectSamples(convert({"-d", "in.csv", "-f", "1MHz", "--shift", "-12k"}, 1000000, &r),
                shifted(-12000));
  EXPECT_THAT(r.err, Not(HasSubstr("WARNING")));
  // 5.5 cycles: shifted as asked, with the warning naming 5 kHz and 6 kHz.
  expectSamples(convert({"-d", "in.csv", "-f", "1MHz", "--shift", "5.5kHz"}, 1000000, &r),
                shifted(5500));
  EXPECT_THAT(r.err, HasSubstr("WARNING: a shift of 5500 Hz turns the 1000-sample period by 5.5 "
                               "cycles, not a whole number"));
  EXPECT_THAT(r.err, HasSubstr("5000 Hz and 6000 Hz are the nearest seamless shifts"));
  expectRefusal({"-d", "in.csv", "-f", "1MHz", "--shift", "5.5kHz", "--strict"},
                "5000 Hz and 6000 Hz are the nearest seamless shifts");
  // After resampling the check is of the resampled period at the new clock: 625
  // samples at 100 MHz, whole cycles of 160 kHz.
  const Wave lte = noise(384, 22);
  writeCsv("lte.csv", lte);
  convert(
      {"-d", "lte.csv", "--input-rate", "61.44MHz", "--resample", "100MHz", "--shift", "-320kHz"},
      100000000, &r);
  EXPECT_THAT(r.err, Not(HasSubstr("WARNING")));
  convert(
      {"-d", "lte.csv", "--input-rate", "61.44MHz", "--resample", "100MHz", "--shift", "100kHz"},
      100000000, &r);
  EXPECT_THAT(r.err, HasSubstr("0 Hz and 160000 Hz are the nearest seamless shifts"));
}

// ---------------------------------------------------------- crest-factor reduction

TEST_F(WavepackPrepOptions, CrestFactorReductionReachesItsTargetAndReportsItsCost) {
  // 201 tones of random phase in bins -100 ... 100 of 2048 at 2.048 MHz (1 kHz a bin).
  const Wave x = tones(2048, -100, 201, 31);
  const double before = paprOf(x);
  ASSERT_GT(before, 7.0);
  writeCsv("in.csv", x);
  ProcessResult r;
  const std::vector<std::int16_t> samples =
      convert({"-d", "in.csv", "-f", "2048k", "--papr", "5.5"}, 2048000, &r);
  const Wave written = fromSamples(samples);
  EXPECT_NEAR(paprOf(written), 5.5, 0.15);
  // The report: PAPR before and reached, EVM in % and dB, the power outside the band.
  const std::regex report(
      "NOTE: crest-factor reduction in the band .* \\(99 % occupied\\): PAPR ([0-9.]+) dB "
      "before, ([0-9.]+) dB reached \\(target 5.5 dB, [0-9]+ passes\\)\n"
      "NOTE: crest-factor reduction: EVM ([0-9.]+) % \\((-[0-9.]+) dB\\); power outside the band "
      "(-[0-9.]+|-inf) dB before, (-[0-9.]+|-inf) dB after\n");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(r.err, m, report)) << r.err;
  EXPECT_NEAR(std::stod(m[1]), before, 0.01);
  EXPECT_NEAR(std::stod(m[2]), paprOf(written), 0.05);
  const double evmPercent = std::stod(m[3]);
  EXPECT_NEAR(20 * std::log10(evmPercent / 100), std::stod(m[4]), 0.01);
  // The change the file shows, at the best scale: at most the EVM reported (the
  // reported one is at the signal's own scale), and not far below it.
  Iq fit = 0;
  double power = 0;
  for (std::size_t k = 0; k < x.size(); ++k) {
    fit += std::conj(written[k]) * x[k];
    power += std::norm(written[k]);
  }
  fit /= power;
  double change = 0;
  double signal = 0;
  for (std::size_t k = 0; k < x.size(); ++k) {
    change += std::norm(fit * written[k] - x[k]);
    signal += std::norm(x[k]);
  }
  const double fitted = 100 * std::sqrt(change / signal);
  EXPECT_LE(fitted, evmPercent + 0.05);
  EXPECT_GT(fitted, evmPercent / 2);
  EXPECT_GT(evmPercent, 0.5);
  // The same input gives the same samples.
  EXPECT_EQ(convert({"-d", "in.csv", "-f", "2048k", "--papr", "5.5"}, 2048000), samples);

  // A band given: the clipping noise is kept to it, and the signal is not filtered, so
  // the share of the power outside the band is the input's (within the little power
  // the clipping takes from inside and the quantisation).
  const Wave banded = fromSamples(convert(
      {"-d", "in.csv", "-f", "2048k", "--papr", "6dB", "--cfr-band", "-60kHz:80kHz"}, 2048000, &r));
  EXPECT_THAT(r.err, HasSubstr("in the band -60000 Hz to 80000 Hz (--cfr-band)"));
  EXPECT_NEAR(paprOf(banded), 6.0, 0.15);
  const auto outsideShare = [](const Wave& wave) {
    const Wave spectrum = directDft(wave, true);
    double outside = 0;
    double all = 0;
    for (std::size_t k = 0; k < spectrum.size(); ++k) {
      const long f = k < 1024 ? long(k) : long(k) - 2048;
      all += std::norm(spectrum[k]);
      if (f < -60 || f > 80) outside += std::norm(spectrum[k]);
    }
    return outside / all;
  };
  EXPECT_NEAR(10 * std::log10(outsideShare(banded) / outsideShare(x)), 0.0, 0.5);
}

// -------------------------------------------------------------------------- ramps

TEST_F(WavepackPrepOptions, ATaperRampsTheEndsToZero) {
  const Wave x = tones(1000, -20, 41, 41);
  writeCsv("in.csv", x);
  // 10 us at 1 MHz: 10 samples, w(k) = (1 - cos(pi k / 10)) / 2 at both ends.
  Wave expected = x;
  for (std::size_t k = 0; k < 10; ++k) {
    const double w = 0.5 * (1 - std::cos(std::numbers::pi * static_cast<double>(k) / 10));
    expected[k] *= w;
    expected[x.size() - 1 - k] *= w;
  }
  ProcessResult r;
  for (const char* time : {"10us", "1e-5", "0.01ms", "10000ns"}) {
    const std::vector<std::int16_t> samples =
        convert({"-d", "in.csv", "-f", "1MHz", "--taper", time}, 1000000, &r);
    ASSERT_EQ(samples.size(), 2000u) << time;
    EXPECT_EQ(samples[0], 0);
    EXPECT_EQ(samples[1], 0);
    EXPECT_EQ(samples[1998], 0);
    EXPECT_EQ(samples[1999], 0);
    expectSamples(samples, expected);
    EXPECT_THAT(r.err, HasSubstr("NOTE: raised-cosine ramps of 10 samples (1e-05 s)"));
  }
}

// ------------------------------------------------------------------- bad input

TEST_F(WavepackPrepOptions, BadValuesAreRefusedAndNothingIsWritten) {
  const Wave x = tones(1000, -20, 41, 51);
  writeCsv("in.csv", x);
  writeSigmf("rec", x, "1000000");
  const std::vector<std::string> csv = {"-d", "in.csv", "-f", "1MHz"};
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  auto with = [](std::vector<std::string> base, const std::vector<std::string>& more) {
    base.insert(base.end(), more.begin(), more.end());
    return base;
  };
  const std::vector<Case> cases = {
      // rates and clocks
      {{"-d", "rec.sigmf-meta", "--resample", "nan"}, "--resample must be a finite frequency"},
      {{"-d", "rec.sigmf-meta", "--resample", "inf"}, "--resample must be a finite frequency"},
      {{"-d", "rec.sigmf-meta", "--resample", "60MHz"}, "is not a clock the instrument plays"},
      {{"-d", "rec.sigmf-meta", "--resample", "1000.5"}, "is not a clock the instrument plays"},
      {{"-d", "rec.sigmf-meta", "--resample", "fast"}, "--resample takes a frequency in hertz"},
      {{"-d", "rec.sigmf-meta", "--resample", "10MHz", "--input-rate", "1e999"},
       "--input-rate must be a finite frequency"},
      {{"-d", "rec.sigmf-meta", "--resample", "10MHz", "--input-rate", "-1MHz"},
       "--input-rate must be a frequency above 0"},
      {{"-d", "rec.sigmf-meta", "--resample", "10MHz", "--input-rate", "10THz"},
       "--input-rate takes a frequency in hertz"},
      {{"-d", "rec.sigmf-meta", "--resample", "10MHz", "-f", "10MHz"},
       "-f and --resample cannot be given together"},
      {{"-d", "in.csv", "--resample", "10MHz"}, "--resample needs the sample rate of the data"},
      {{"-d", "missing.csv", "--resample", "10MHz", "--input-rate", "1MHz"},
       "Open missing.csv failed"},
      {with(csv, {"--input-rate", "1MHz"}), "--input-rate is the rate of the data that --resample"},
      {with(csv, {"--repeat", "2"}), "--repeat applies with --resample"},
      {{"-d", "rec.sigmf-meta", "--resample", "2MHz", "--repeat", "0"},
       "--repeat takes a whole number of at least 1"},
      {{"-d", "rec.sigmf-meta", "--resample", "2MHz", "--repeat", "2.5"},
       "--repeat takes a whole number of at least 1"},
      // shifts
      {with(csv, {"--shift", "nan"}), "--shift must be a finite frequency"},
      {with(csv, {"--shift", "-inf"}), "--shift must be a finite frequency"},
      {with(csv, {"--shift", "600kHz"}), "--shift 600000 Hz is beyond half the clock"},
      {with(csv, {"--shift", "-500.001kHz"}), "is beyond half the clock"},
      {with(csv, {"--shift", "5ms"}), "--shift takes a frequency in hertz"},
      // crest-factor reduction
      {with(csv, {"--papr", "0"}), "--papr takes a target PAPR in dB above 0"},
      {with(csv, {"--papr", "-3"}), "--papr takes a target PAPR in dB above 0"},
      {with(csv, {"--papr", "nan"}), "--papr takes a target PAPR in dB above 0"},
      {with(csv, {"--papr", "40"}), "--papr 40 dB is above the PAPR of the waveform"},
      {with(csv, {"--papr", "3", "--cfr-band", "0:600kHz"}), "is outside the clock"},
      {with(csv, {"--papr", "3", "--cfr-band", "-501kHz:0"}), "is outside the clock"},
      {with(csv, {"--papr", "3", "--cfr-band", "10kHz:-10kHz"}), "LOW must lie below HIGH"},
      {with(csv, {"--papr", "3", "--cfr-band", "10kHz"}), "--cfr-band takes two frequencies"},
      {with(csv, {"--papr", "3", "--cfr-band", "nan:1kHz"}), "--cfr-band must be a finite"},
      {with(csv, {"--cfr-band", "-1kHz:1kHz"}), "--cfr-band is the band of the crest-factor"},
      // ramps
      {with(csv, {"--taper", "0"}), "--taper must be a finite time above 0"},
      {with(csv, {"--taper", "nan"}), "--taper must be a finite time above 0"},
      {with(csv, {"--taper", "-1us"}), "--taper must be a finite time above 0"},
      {with(csv, {"--taper", "1s"}), "but the waveform has 1000 samples"},
      {with(csv, {"--taper", "501us"}), "is 501 samples at each end"},
      {with(csv, {"--taper", "0.1us"}), "is shorter than one sample"},
      {with(csv, {"--taper", "10 weeks"}), "--taper takes a time in seconds"},
  };
  for (const Case& c : cases) expectRefusal(c.args, c.message);
}

// ---------------------------------------------------------------- documentation

TEST_F(WavepackPrepOptions, HelpAndReadmeDescribeTheSteps) {
  const ProcessResult help = run({"--help"});
  ASSERT_EQ(help.exitStatus, 0);
  for (const char* part :
       {"--resample <CLOCK>", "--input-rate <FREQ>", "--repeat <K>", "--shift <FREQ>",
        "--papr <DB>", "--cfr-band <LOW:HIGH>", "--taper <TIME>", "PREPARATION"})
    EXPECT_THAT(help.out, HasSubstr(part));
  const std::string readme = arbtest::readText(std::string(ARBSUITE_SOURCE_DIR) + "/README.md");
  for (const char* part : {"--resample 100MHz", "--papr 8", "61.44 MHz", "EVM", "--taper",
                           "--shift", "tools/make-lte-like.py"})
    EXPECT_THAT(readme, HasSubstr(part));
}

}  // namespace
