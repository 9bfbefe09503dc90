// The preparation steps on numpy arrays (see prep_functions.h). Arguments are checked
// and copied into C++ storage with the interpreter lock held; the work runs with it
// released; the results become arrays once it is held again.
#include "prep_functions.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "arguments.h"
#include "interpreter_lock.h"
#include "waveform_prep.h"

namespace py = pybind11;
using namespace py::literals;
using arbsuite::prep::Iq;

namespace arbsuite::python {

namespace {

std::vector<Iq> complexSamples(const py::handle& iq) {
  const std::vector<arbsuite::IqPair> pairs = iqPairs(iq);
  std::vector<Iq> samples(pairs.size());
  for (std::size_t k = 0; k < pairs.size(); ++k) samples[k] = {pairs[k].i, pairs[k].q};
  return samples;
}

py::array_t<std::complex<double>> complexArray(const std::vector<Iq>& samples) {
  py::array_t<std::complex<double>> out(static_cast<py::ssize_t>(samples.size()));
  std::copy(samples.begin(), samples.end(), out.mutable_data());
  return out;
}

double positiveRate(const py::handle& value, const char* what) {
  const double rate = realArgument(value, what);
  if (!(rate > 0) || rate >= 1e12)
    throw py::value_error(std::string(what) + " must be a positive number of hertz below 1e12");
  return rate;
}

void warn(const std::string& message) { PyErr_WarnEx(PyExc_UserWarning, message.c_str(), 1); }

// The library's refusals of values it alone can judge, as ValueError.
template <typename Work>
auto released(Work&& work) {
  try {
    return withoutInterpreterLock(std::forward<Work>(work));
  } catch (const std::invalid_argument& e) {
    throw py::value_error(e.what());
  } catch (const std::length_error& e) {
    throw py::value_error(e.what());
  }
}

py::dict bandDict(const arbsuite::prep::Band& band) {
  return py::dict("low_hz"_a = band.low, "high_hz"_a = band.high);
}

py::array_t<std::complex<double>> resampleArray(const py::object& iq, const py::object& rateIn,
                                                const py::object& rateOut,
                                                const py::object& repeatValue) {
  const double in = positiveRate(rateIn, "rate_in");
  const double out = positiveRate(rateOut, "rate_out");
  const double repeatNumber = realArgument(repeatValue, "repeat");
  if (!(repeatNumber >= 1) || repeatNumber != std::floor(repeatNumber) || repeatNumber > 1e9)
    throw py::value_error("repeat must be a whole number of at least 1");
  const auto repeat = static_cast<std::uint64_t>(repeatNumber);
  std::vector<Iq> samples = complexSamples(iq);
  // The length rule before any work.
  const auto ratio = arbsuite::prep::rateRatio(in, out);
  if (!arbsuite::prep::resampledLength(samples.size() * repeat, ratio)) {
    const std::uint64_t k = arbsuite::prep::wholeLengthRepeat(samples.size() * repeat, ratio);
    throw py::value_error(std::to_string(samples.size() * repeat) +
                          " samples do not resample to a whole number of samples; repeat=" +
                          std::to_string(k * repeat) + " does");
  }
  if (const auto cut = arbsuite::prep::downsamplingWarning(samples, in, out)) warn(*cut);
  const std::vector<Iq> result =
      released([&] { return arbsuite::prep::resample(samples, in, out, repeat); });
  return complexArray(result);
}

py::array_t<std::complex<double>> shiftArray(const py::object& iq, const py::object& clockValue,
                                             const py::object& freqValue) {
  const double clock = positiveRate(clockValue, "clock");
  const double freq = realArgument(freqValue, "freq");
  if (std::fabs(freq) > clock / 2) throw py::value_error("freq must lie within half the clock");
  std::vector<Iq> samples = complexSamples(iq);
  if (const auto jump = arbsuite::prep::shiftWarning(samples.size(), clock, freq)) warn(*jump);
  released([&] {
    arbsuite::prep::shift(samples, clock, freq);
    return 0;
  });
  return complexArray(samples);
}

py::tuple composeArrays(const py::object& carriers, const py::object& clockValue) {
  const double clock = positiveRate(clockValue, "clock");
  if (!py::isinstance<py::sequence>(carriers) || py::isinstance<py::str>(carriers))
    throw py::type_error("carriers must be a sequence of (iq, clock, shift, gain_db) tuples");
  std::vector<arbsuite::prep::CarrierInput> inputs;
  for (const py::handle item : carriers) {
    if (!py::isinstance<py::sequence>(item) || py::len(item) < 2 || py::len(item) > 4)
      throw py::type_error("each carrier is a tuple (iq, clock[, shift[, gain_db]])");
    const auto entry = py::reinterpret_borrow<py::sequence>(item);
    arbsuite::prep::CarrierInput in;
    in.name = "carrier " + std::to_string(inputs.size() + 1);
    in.iq = complexSamples(entry[0]);
    in.clock = positiveRate(entry[1], "a carrier's clock");
    in.shift = py::len(entry) > 2 ? realArgument(entry[2], "a carrier's shift") : 0.0;
    in.gainDb = py::len(entry) > 3 ? realArgument(entry[3], "a carrier's gain_db") : 0.0;
    if (std::fabs(in.shift) > clock / 2)
      throw py::value_error(in.name + ": the shift must lie within half the clock");
    inputs.push_back(std::move(in));
  }
  if (inputs.empty()) throw py::value_error("carriers is empty");
  const arbsuite::prep::Composite composite =
      released([&] { return arbsuite::prep::compose(std::move(inputs), clock); });
  for (const std::string& message : composite.warnings) warn(message);
  py::list reports;
  for (std::size_t c = 0; c < composite.carriers.size(); ++c) {
    const auto& r = composite.carriers[c];
    reports.append(py::dict("shift_hz"_a = r.shift, "power_db"_a = r.powerDb,
                            "samples"_a = r.length, "repeats"_a = r.repeats,
                            "band"_a = bandDict(composite.bands[c])));
  }
  py::dict info("samples"_a = composite.iq.size(), "clock_hz"_a = clock,
                "papr_db"_a = arbsuite::prep::paprDb(composite.iq), "carriers"_a = reports,
                "warnings"_a = composite.warnings);
  return py::make_tuple(complexArray(composite.iq), info);
}

py::tuple reducePaprArray(const py::object& iq, const py::object& clockValue,
                          const py::object& targetValue, const py::object& bandValue) {
  const double clock = positiveRate(clockValue, "clock");
  const double target = realArgument(targetValue, "papr_db");
  if (!(target > 0)) throw py::value_error("papr_db must be above 0 dB");
  std::vector<arbsuite::prep::Band> bands;
  if (!bandValue.is_none()) {
    if (!py::isinstance<py::sequence>(bandValue) || py::len(bandValue) != 2)
      throw py::type_error("band must be (low_hz, high_hz)");
    const auto pair = py::reinterpret_borrow<py::sequence>(bandValue);
    const double low = realArgument(pair[0], "band's low_hz");
    const double high = realArgument(pair[1], "band's high_hz");
    if (!(low < high) || low < -clock / 2 || high > clock / 2)
      throw py::value_error("band must lie within -clock/2 to clock/2, low below high");
    bands.push_back({low, high});
  }
  std::vector<Iq> samples = complexSamples(iq);
  const double before = arbsuite::prep::paprDb(samples);
  if (target > before)
    throw py::value_error("papr_db (" + std::to_string(target) + " dB) is above the input's own (" +
                          std::to_string(before) + " dB)");
  const arbsuite::prep::CfrReport report = released(
      [&] { return arbsuite::prep::reducePapr(samples, clock, target, std::move(bands)); });
  py::list used;
  for (const auto& b : report.bands) used.append(bandDict(b));
  py::dict info("papr_before_db"_a = report.paprBeforeDb, "papr_db"_a = report.paprAfterDb,
                "evm_percent"_a = report.evmPercent, "evm_db"_a = report.evmDb,
                "out_of_band_before_db"_a = report.outOfBandBeforeDb,
                "out_of_band_after_db"_a = report.outOfBandAfterDb,
                "iterations"_a = report.iterations, "bands"_a = used);
  return py::make_tuple(complexArray(samples), info);
}

py::dict seamOf(const py::object& iq) {
  const std::vector<Iq> samples = complexSamples(iq);
  const auto s = released([&] { return arbsuite::prep::seam(samples); });
  const double regrowth = released([&] { return arbsuite::prep::loopRegrowthDb(samples); });
  return py::dict("jump"_a = s.jump, "ratio"_a = s.ratio, "loop_regrowth_db"_a = regrowth);
}

constexpr const char* kResampleDoc = R"(resample(iq, rate_in, rate_out, repeat=1) -> iq

Resamples one period of a looped waveform by the Fourier method, as wavepack
--resample does: the spectrum of the N samples (the input repeated `repeat` times
first) is cut or zero-padded to M = N x rate_out / rate_in bins, the Nyquist bin
split as scipy.signal.resample does, and transformed back. Exact for a
band-limited periodic signal; the result loops seamlessly.

iq: complex array (N,) or real array (N, 2). Returns a complex128 array (M,).
Raises ValueError when M is not a whole number (the message names the repeat
count that makes it whole), for rates that are not positive and finite, or an
empty input. Warns (UserWarning) when downsampling cuts into the 99 % occupied
band of the signal.)";

constexpr const char* kShiftDoc = R"(shift(iq, clock, freq) -> iq

Moves the waveform by freq hertz (negative allowed, within half the clock): sample
n is multiplied by exp(j 2 pi freq n / clock), the phase reduced exactly. Warns
(UserWarning) when freq x N / clock is not a whole number of cycles, naming the
two nearest seamless shifts. Returns a complex128 array.)";

constexpr const char* kComposeDoc = R"(compose(carriers, clock) -> (iq, info)

Several waveforms in one, as arbtool compose makes it: carriers is a sequence of
(iq, clock, shift=0, gain_db=0); each is resampled to the common clock, shifted,
scaled to unit mean power times 10**(gain_db/10) and summed over the least common
multiple of the periods. info: "samples", "clock_hz", "papr_db", "warnings" and
"carriers" (per carrier "shift_hz", "power_db", "samples", "repeats", "band").
Raises ValueError for values that are not finite, a composite over 2**28 samples
(naming the lengths) or an empty input.)";

constexpr const char* kReducePaprDoc = R"(reduce_papr(iq, clock, papr_db, band=None) -> (iq, report)

Crest-factor reduction by iterative clipping and filtering, as wavepack --papr
does: the envelope is clipped, the clipping noise outside the band (low_hz,
high_hz) removed from the periodic spectrum (the signal's 99 % occupied band when
band is None), until the PAPR is within 0.1 dB of papr_db or after 16 passes.
report: "papr_before_db", "papr_db", "evm_percent", "evm_db",
"out_of_band_before_db", "out_of_band_after_db", "iterations", "bands".
Deterministic. Raises ValueError for papr_db at or below 0 or above the input's
PAPR, or a band outside the clock.)";

constexpr const char* kSeamDoc = R"(seam(iq) -> dict

How the waveform loops: "jump", the modulus of the step from the last sample to
the first (in the samples' unit: LSB for int16 samples); "ratio", that jump over
the 99th percentile of the steps between neighbouring samples; and
"loop_regrowth_db", the power outside the 99 % occupied band of the periodic
spectrum against that of a Welch spectrum of the inside (0 for a clean loop).)";

}  // namespace

void registerPrepFunctions(py::module_& module) {
  module.def("resample", &resampleArray, kResampleDoc, "iq"_a, "rate_in"_a, "rate_out"_a,
             "repeat"_a = 1);
  module.def("shift", &shiftArray, kShiftDoc, "iq"_a, "clock"_a, "freq"_a);
  module.def("compose", &composeArrays, kComposeDoc, "carriers"_a, "clock"_a);
  module.def("reduce_papr", &reducePaprArray, kReducePaprDoc, "iq"_a, "clock"_a, "papr_db"_a,
             "band"_a = py::none());
  module.def("seam", &seamOf, kSeamDoc, "iq"_a);
}

}  // namespace arbsuite::python
