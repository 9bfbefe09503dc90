// Chooses the reader of each input file from the command line (-b, --format) or
// from the file's name, checks the options that go with it, reads the inputs, and
// decides the clock: -f when given, else the file's own sample rate, else 50 MHz.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "convert.h"
#include "csv_reader.h"
#include "diagnostics.h"
#include "input_data.h"

namespace wavepack {

// The reading options of the command line, as given (absent when not given).
struct FormatOptions {
  std::optional<std::string> format;     // --format: a raw datatype, csv, sigmf, mat or wav
  std::optional<std::string> columns;    // --columns: "I,Q" for -d, "N" for -i/-q
  std::optional<std::string> delimiter;  // --delimiter: , ; tab space
  bool decimalComma = false;             // --decimal-comma
  std::optional<std::string> variable;   // --variable: the .mat variable
  std::optional<std::string> level;      // --level: the peak level, 0 < X <= 1
};

// How one input file is read.
enum class InputKind { csv, raw, sigmf, mat, wav };

// The kind a file name implies: .sigmf-meta and .sigmf-data are SigMF, .mat MATLAB,
// .wav WAV, .cf32 .cfile .fc32 cf32_le, .ci16 .cs16 .sc16 ci16_le, .cu8 cu8 (set in
// `raw`); anything else, and standard input, is CSV. Extensions in any case.
InputKind kindFromName(const std::string& path, std::string& raw);

// The peak level: kPeakLevel when absent; otherwise a number X with 0 < X <= 1.
// Throws std::invalid_argument("--level must be a number greater than 0 and at
// most 1, not <text>").
double peakLevel(const std::optional<std::string>& text);

// Reads the inputs as the options say. Throws the readers' failures, the option
// rules' failures (a raw format that is complex for -i/-q or real for -d, a
// container format on -i/-q or on standard input, standard input named twice,
// --columns/--delimiter/--decimal-comma without a CSV input, --variable without
// a MATLAB input, -b with another --format), and "Data length is not equal in
// <I> and <Q>" for separate files of different lengths. Warnings go to
// `diagnostics` (in strict mode the first one is thrown instead).
InputData readInputs(const InputOptions& files, const FormatOptions& options,
                     Diagnostics& diagnostics);

// The clock written into the file. `fsGiven`: -f was on the command line and
// `fs` is its checked value. Otherwise the input's own sample rate when it has
// one, truncated to whole hertz (a fraction is reported as a warning) and
// refused when it is not a clock the instrument plays; otherwise `fs` (the
// default 50 MHz).
std::int32_t chooseClock(bool fsGiven, std::int32_t fs, const InputData& input,
                         Diagnostics& diagnostics);

}  // namespace wavepack
