// Running the libraries without Python's interpreter lock, so that other Python
// threads go on meanwhile and a call that waits for one of the module's own locks
// never does so while holding the interpreter lock (which the holder of that lock
// may need).
#pragma once

#include <pybind11/pybind11.h>

#include <utility>

namespace arbsuite::python {

// Runs work with the interpreter lock released and returns its result; the lock is
// taken back before the result or an exception reaches the caller. work must touch
// no Python object (arguments are copied into C++ values first, results are turned
// into Python objects afterwards); it may throw C++ exceptions, the module's
// LibraryFailure and pybind11's value_error and type_error (plain C++ objects until
// they are translated, with the lock held again).
template <typename Work>
auto withoutInterpreterLock(Work&& work) {
  const pybind11::gil_scoped_release release;
  return std::forward<Work>(work)();
}

}  // namespace arbsuite::python
