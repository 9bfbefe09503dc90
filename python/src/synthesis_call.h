// arbsuite.synth: the settings of the iqsynth program as keyword arguments, checked
// by the program's settings parser and run by the synthesis run of core.
#pragma once

#include <pybind11/pybind11.h>

namespace arbsuite::python {

pybind11::tuple synthesiseSettings(const pybind11::kwargs& settings);

}  // namespace arbsuite::python
