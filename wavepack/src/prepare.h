// The preparation steps wavepack runs between reading the input and quantising it,
// when the command line asks for them: Fourier resampling to a clock the instrument
// plays, a frequency shift, crest-factor reduction and raised-cosine ramps (the
// steps themselves are prep_core's). Without these options nothing here runs and
// the conversion streams as it always has.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "diagnostics.h"
#include "formats/input_data.h"
#include "pair_source.h"
#include "waveform_prep.h"

namespace arbsuite::wavepack {

// The options of the steps as given on the command line (absent when not given).
struct PrepareOptions {
  std::optional<std::string> resample;   // --resample CLOCK or auto
  std::optional<std::string> inputRate;  // --input-rate FREQ
  std::optional<std::string> repeat;     // --repeat K
  std::optional<std::string> shift;      // --shift FREQ
  std::optional<std::string> papr;       // --papr DB
  std::optional<std::string> cfrBand;    // --cfr-band LOW:HIGH
  std::optional<std::string> taper;      // --taper TIME
};

// The steps in numbers.
struct PrepareSteps {
  bool resample = false;
  std::optional<double> resampleClock;  // hertz, whole and playable; none for auto
  std::optional<double> inputRate;      // hertz
  std::uint64_t repeat = 1;
  std::optional<double> shift;                  // hertz
  std::optional<double> paprDb;                 // the target, above 0 dB
  std::optional<arbsuite::prep::Band> cfrBand;  // hertz
  std::optional<double> taperSeconds;           // above 0

  bool any() const { return resample || shift || paprDb || taperSeconds; }
};

// A frequency option: a number with an optional unit as -f takes it (parseFrequency:
// 10MHz, 10m, 2.5k, 1e6), of which only H, Hz, K, kHz, M and MHz (in any case) are
// units here. Throws std::invalid_argument naming the option for other text and for
// a value that is not finite.
double parseFrequencyOption(const std::string& option, const std::string& text);

// A time option in seconds with an optional unit s, ms, us (or µs) or ns: 10us,
// 1.5ms, 1e-5. Throws std::invalid_argument naming the option for other text and for
// a time that is not finite and above 0.
double parseDuration(const std::string& option, const std::string& text);

// Checks the options and turns them into numbers, before any file is read.
// `fsGiven`: -f was given (it cannot be combined with --resample). Throws
// std::invalid_argument with the message the user sees.
PrepareSteps checkPrepareOptions(const PrepareOptions& options, bool fsGiven);

// The rate of the data that --resample converts: --input-rate when given (with a
// note when the input names another), else the input's own sample rate. Throws
// std::invalid_argument when there is neither.
double resampleInputRate(const PrepareSteps& steps, const InputData& input,
                         Diagnostics& diagnostics);

// The clock the resampled data is written at: the --resample clock, or for auto the
// data's rate when the instrument plays it, else the lowest playable clock above it,
// else 100 MHz (said in a note).
std::int32_t resampleClock(const PrepareSteps& steps, double dataRate, Diagnostics& diagnostics);

// Runs the steps, in the order resample, shift, crest-factor reduction, taper, on
// every pair of `pairs` held in memory as complex doubles (the source is released
// once read). `dataRate` is the rate of the input (used when resampling), `clock`
// the clock written. Reports the figures of each step as notes and its warnings
// through `diagnostics`; throws std::invalid_argument or std::length_error with the
// message the user sees for a step that cannot be made (nothing is written then).
std::unique_ptr<PairSource> prepareWaveform(std::unique_ptr<PairSource> pairs,
                                            const PrepareSteps& steps, double dataRate,
                                            std::int32_t clock, Diagnostics& diagnostics);

// A prepared waveform handed to the quantiser as pairs, converted block by block.
class WaveformPairs final : public PairSource {
 public:
  explicit WaveformPairs(std::vector<arbsuite::prep::Iq> samples) : samples_(std::move(samples)) {}
  std::uint64_t size() const override { return samples_.size(); }
  std::span<const IqPair> read(std::uint64_t start, std::span<IqPair> scratch) override;

 private:
  std::vector<arbsuite::prep::Iq> samples_;
};

}  // namespace arbsuite::wavepack
