// Checks and conversions of the module's arguments (see arguments.h).
#include "arguments.h"

#include <cmath>
#include <complex>

#include "arb_format.h"
#include "interpreter_lock.h"
#include "pair_source.h"

namespace py = pybind11;

namespace arbsuite::python {
namespace {

// Full scale of the 14-bit samples: a value of 8192 is 1.0 in complex form.
constexpr float kFullScale = 8192.0F;

std::string typeName(const py::handle& value) {
  return py::str(py::type::handle_of(value).attr("__name__"));
}

}  // namespace

std::string pathArgument(const py::handle& value, const char* what) {
  if (!py::isinstance<py::str>(value) && !py::isinstance<py::bytes>(value) &&
      !py::hasattr(value, "__fspath__")) {
    throw py::type_error(std::string(what) + " must be a path (str, bytes or os.PathLike), not " +
                         typeName(value));
  }
  const std::string path = py::str(py::module_::import("os").attr("fsdecode")(value));
  if (path.empty()) throw py::value_error(std::string(what) + " is empty");
  if (path.find('\0') != std::string::npos) {
    throw py::value_error(std::string(what) + " holds a zero character");
  }
  return path;
}

double realArgument(const py::handle& value, const char* what) {
  // numbers.Real holds int, float and the numpy scalars; bool is an int, but not a number here.
  const py::module_ numbers = py::module_::import("numbers");
  if (py::isinstance<py::bool_>(value) || !py::isinstance(value, numbers.attr("Real"))) {
    throw py::type_error(std::string(what) + " must be a real number, not " + typeName(value));
  }
  const double number = py::cast<double>(value);
  if (!std::isfinite(number)) throw py::value_error(std::string(what) + " must be finite");
  return number;
}

std::int32_t playableClock(const py::handle& value, const char* what) {
  const double hertz = realArgument(value, what);
  if (!arb::isPlayableClock(hertz) || hertz != std::floor(hertz)) {
    throw py::value_error(std::string(what) + " " + py::repr(value).cast<std::string>() +
                          " is not a clock the instrument plays: a whole number of hertz from " +
                          arb::kPlayableClockText);
  }
  return static_cast<std::int32_t>(hertz);
}

std::vector<arbsuite::IqPair> iqPairs(const py::handle& iq) {
  const py::module_ numpy = py::module_::import("numpy");
  py::array array;
  try {
    array = numpy.attr("asarray")(iq);
  } catch (const py::error_already_set& e) {
    throw py::type_error(std::string("iq must be an array of numbers: ") + e.what());
  }
  const py::dtype type = array.dtype();
  const char kind = type.kind();
  std::vector<arbsuite::IqPair> pairs;
  if (kind == 'c') {
    if (array.ndim() != 1) {
      throw py::value_error("a complex iq must have shape (N,), not " +
                            py::str(array.attr("shape")).cast<std::string>());
    }
    const auto values =
        py::array_t<std::complex<double>, py::array::c_style | py::array::forcecast>(
            numpy.attr("asarray")(array, "complex128"));
    const auto view = values.unchecked<1>();
    // The copy runs without the interpreter lock: `values` keeps the array alive.
    withoutInterpreterLock([&] {
      pairs.resize(static_cast<std::size_t>(view.shape(0)));
      for (py::ssize_t k = 0; k < view.shape(0); ++k) pairs[k] = {view(k).real(), view(k).imag()};
    });
  } else if (kind == 'f' || kind == 'i' || kind == 'u') {
    if (array.ndim() != 2 || array.shape(1) != 2) {
      throw py::value_error("a real iq must have shape (N, 2): I in column 0, Q in column 1; not " +
                            py::str(array.attr("shape")).cast<std::string>());
    }
    const auto values = py::array_t<double, py::array::c_style | py::array::forcecast>(
        numpy.attr("asarray")(array, "float64"));
    const auto view = values.unchecked<2>();
    withoutInterpreterLock([&] {
      pairs.resize(static_cast<std::size_t>(view.shape(0)));
      for (py::ssize_t k = 0; k < view.shape(0); ++k) pairs[k] = {view(k, 0), view(k, 1)};
    });
  } else {
    throw py::type_error("iq must hold numbers (complex, or real in two columns), not dtype " +
                         py::str(static_cast<const py::handle&>(type)).cast<std::string>());
  }
  if (pairs.empty()) throw py::value_error("iq holds no samples");
  const std::size_t firstNotFinite = withoutInterpreterLock([&] {
    std::size_t k = 0;
    while (k < pairs.size() && std::isfinite(pairs[k].i) && std::isfinite(pairs[k].q)) ++k;
    return k;
  });
  if (firstNotFinite < pairs.size())
    throw py::value_error("iq sample " + std::to_string(firstNotFinite) + " is not finite");
  if (pairs.size() > arbsuite::kMaxPairs) {
    throw py::value_error("iq holds " + std::to_string(pairs.size()) +
                          " samples; an .arb file holds at most " +
                          std::to_string(arbsuite::kMaxPairs));
  }
  return pairs;
}

py::array sampleArray(std::span<const std::int16_t> interleaved, bool asComplex) {
  const auto count = static_cast<py::ssize_t>(interleaved.size() / 2);
  if (asComplex) {
    py::array_t<std::complex<float>> values(count);
    auto out = values.mutable_unchecked<1>();
    for (py::ssize_t k = 0; k < count; ++k) {
      out(k) = {interleaved[2 * k] / kFullScale, interleaved[2 * k + 1] / kFullScale};
    }
    return values;
  }
  py::array_t<std::int16_t> values({count, py::ssize_t{2}});
  std::copy(interleaved.begin(), interleaved.end(), values.mutable_data());
  return values;
}

py::array sampleArray(SamplePieces& pieces, bool asComplex) {
  const auto count = static_cast<py::ssize_t>(pieces.samples());
  if (asComplex) {
    py::array_t<std::complex<float>> values(count);
    std::complex<float>* out = values.mutable_data();
    withoutInterpreterLock([&] {
      pieces.forEach([&](std::span<const std::int16_t> piece) {
        for (std::size_t k = 0; k < piece.size() / 2; ++k) {
          *out++ = {piece[2 * k] / kFullScale, piece[2 * k + 1] / kFullScale};
        }
      });
    });
    return values;
  }
  py::array_t<std::int16_t> values({count, py::ssize_t{2}});
  std::int16_t* out = values.mutable_data();
  withoutInterpreterLock([&] {
    pieces.forEach([&](std::span<const std::int16_t> piece) {
      out = std::copy(piece.begin(), piece.end(), out);
    });
  });
  return values;
}

}  // namespace arbsuite::python
