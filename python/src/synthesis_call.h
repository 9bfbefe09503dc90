// arbsuite.synth: the settings of the iqsynth program as keyword arguments, run
// through the program's own parser and synthesis code.
#pragma once

#include <pybind11/pybind11.h>

namespace arbsuite::python {

pybind11::tuple synthesiseSettings(const pybind11::kwargs& settings);

}  // namespace arbsuite::python
