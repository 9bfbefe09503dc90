// The functions of the module on .arb files: read, write, stats and join.
#pragma once

#include <pybind11/pybind11.h>

#include <optional>

namespace arbsuite::python {

pybind11::tuple readFile(const pybind11::object& path, bool asComplex);

void writeFile(const pybind11::object& path, const pybind11::object& iq,
               const pybind11::object& clockHz, const pybind11::object& level);

pybind11::dict fileStats(const pybind11::object& source, const pybind11::object& clockHz);

pybind11::dict joinFiles(const pybind11::object& outPath, const pybind11::object& segments,
                         const std::string& level, const std::string& clock,
                         const pybind11::object& userClockHz, const pybind11::object& config);

}  // namespace arbsuite::python
