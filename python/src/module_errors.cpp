// arbsuite.Error and the translation of LibraryFailure into it.
#include "module_errors.h"

namespace py = pybind11;

namespace arbsuite::python {
namespace {

// arbsuite.Error. Owned by the module object; borrowed here for the translator,
// for as long as the module lives (extension modules are never unloaded).
PyObject* errorType = nullptr;

void translate(std::exception_ptr pointer) {
  try {
    if (pointer) std::rethrow_exception(pointer);
  } catch (const LibraryFailure& failure) {
    py::object error = py::reinterpret_borrow<py::object>(errorType)(failure.what());
    error.attr("status") = failure.status ? py::object(py::int_(*failure.status)) : py::none();
    PyErr_SetObject(errorType, error.ptr());
  }
}

}  // namespace

void registerErrors(py::module_& module) {
  PyObject* type = PyErr_NewExceptionWithDoc(
      "arbsuite.Error",
      "A library of the suite reported a failure, or a file is not what it should be.\n\n"
      "str(error) names the file and says what failed, with the library status in words\n"
      "and its number; error.status is that number (an int), or None when the module\n"
      "found the fault itself (a truncated file, a library that cannot be loaded).",
      PyExc_RuntimeError, nullptr);
  if (type == nullptr) throw py::error_already_set();
  module.add_object("Error", py::reinterpret_steal<py::object>(type));
  // An Error raised by Python code itself has no status either.
  if (PyObject_SetAttrString(type, "status", Py_None) != 0) throw py::error_already_set();
  errorType = type;
  py::register_exception_translator(translate);
}

}  // namespace arbsuite::python
