// The preparation steps on numpy arrays: resample, shift, compose, reduce_papr and
// seam, over the same code as wavepack and arbtool (the prep component).
#pragma once

#include <pybind11/pybind11.h>

namespace arbsuite::python {

// Adds the functions with their docstrings to the module.
void registerPrepFunctions(pybind11::module_& module);

}  // namespace arbsuite::python
