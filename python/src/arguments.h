// Checks and conversions of the module's arguments: paths, numbers, clocks and
// sample arrays, each refused with ValueError or TypeError before any library call.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "pair_source.h"
#include "sample_pieces.h"

namespace arbsuite::python {

// A path from str, bytes or os.PathLike (os.fsdecode). TypeError otherwise,
// ValueError for an empty path. what names the argument in the message.
std::string pathArgument(const pybind11::handle& value, const char* what);

// A real number from int, float or a numpy scalar (not bool, not complex).
// TypeError otherwise, ValueError when it is not finite.
double realArgument(const pybind11::handle& value, const char* what);

// A clock the instrument plays: a whole number of hertz from 1 kHz to 50 MHz, or
// exactly 100 MHz. ValueError otherwise.
std::int32_t playableClock(const pybind11::handle& value, const char* what);

// IQ pairs from a complex array of shape (N,) or a real array of shape (N, 2)
// (any numeric dtype, or a nested sequence numpy reads as one): finite, N >= 1.
std::vector<arbsuite::IqPair> iqPairs(const pybind11::handle& iq);

// Interleaved 16-bit samples I0, Q0, I1, Q1, ... as a numpy array: int16 of shape
// (N, 2), or with asComplex complex64 I/8192 + jQ/8192 of shape (N,).
pybind11::array sampleArray(std::span<const std::int16_t> interleaved, bool asComplex);

// The same array of the pairs of pieces: made with the interpreter lock held, filled
// piece by piece without it (pieces may throw; the array is then dropped).
pybind11::array sampleArray(SamplePieces& pieces, bool asComplex);

}  // namespace arbsuite::python
