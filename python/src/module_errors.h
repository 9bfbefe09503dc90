// The exceptions of the Python module: arbsuite.Error for failures of the suite's
// libraries (with the library's status, when there is one), ValueError and
// TypeError for arguments refused before any library call.
#pragma once

#include <pybind11/pybind11.h>

#include <optional>
#include <stdexcept>
#include <string>

namespace arbsuite::python {

// Raised as arbsuite.Error: the message says what failed and the status in words
// and its number; status is None when the module found the fault itself.
struct LibraryFailure : std::runtime_error {
  LibraryFailure(const std::string& message, std::optional<int> libraryStatus)
      : std::runtime_error(message), status(libraryStatus) {}
  std::optional<int> status;
};

// Creates arbsuite.Error (a subclass of RuntimeError) in the module and turns
// LibraryFailure into it.
void registerErrors(pybind11::module_& module);

}  // namespace arbsuite::python
