// Chooses the reader of each input file from the command line (-b, --format) or
// from the file's name (and the first bytes of files read as CSV or raw samples,
// which may be GNU Radio metadata), checks the options that go with it, reads the
// inputs, and decides the clock: -f when given, else the file's own sample rate,
// else 50 MHz.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "convert.h"
#include "csv_reader.h"
#include "diagnostics.h"
#include "input_data.h"

namespace arbsuite::wavepack {

// The reading options of the command line, as given (absent when not given).
struct FormatOptions {
  std::optional<std::string> format;     // --format: a raw datatype, csv, sigmf, mat, wav, gnuradio
  std::optional<std::string> columns;    // --columns: "I,Q" for -d, "N" for -i/-q
  std::optional<std::string> delimiter;  // --delimiter: , ; tab space
  bool decimalComma = false;             // --decimal-comma
  std::optional<std::string> variable;   // --variable: the .mat variable
  std::optional<std::string> level;      // --level: the peak level, 0 < X <= 1
};

// How one input file is read.
enum class InputKind { csv, raw, sigmf, mat, wav, gnuradio };

// The kind a file name implies: .sigmf-meta, .sigmf-data and .sigmf (an archive)
// are SigMF, .mat MATLAB, .wav WAV, .hdr GNU Radio metadata (a detached header),
// .cf32 .cfile .fc32 cf32_le, .ci16 .cs16 .sc16 ci16_le, .cu8 cu8 (set in `raw`);
// anything else, and standard input, is CSV. Extensions in any case.
InputKind kindFromName(const std::string& path, std::string& raw);

// The --format word as it is read: in lower case, and with the names of raw
// files that the file-name rule knows (cf32, cfile, fc32; ci16, cs16, sc16) as
// the datatype it gives them, with a note saying so. Other text is returned in
// lower case (the readers' messages name unknown formats).
std::string canonicalFormat(const std::string& text, Diagnostics& diagnostics);

// The peak level: kPeakLevel when absent; otherwise a number X with 0 < X <= 1.
// Throws std::invalid_argument("--level must be a number greater than 0 and at
// most 1, not <text>").
double peakLevel(const std::optional<std::string>& text);

// Reads the inputs as the options say. Without -b and --format, a file the name
// rule reads as CSV or raw samples is read as GNU Radio metadata when its first
// bytes are a GNU Radio header or its name + ".hdr" is a file (a detached
// header); with a raw --format such a header is read as samples, with a warning.
// Throws the readers' failures, the option rules' failures (a raw format that is
// complex for -i/-q or real for -d, a container format other than GNU Radio's on
// -i/-q, any container format on standard input, standard input named twice,
// --columns/--delimiter/--decimal-comma without a CSV input, --variable without
// a MATLAB input, -b with another --format), "Data length is not equal in <I>
// and <Q>" for separate files of different lengths, and separate files whose
// sample rates differ. Warnings go to `diagnostics` (in strict mode the first one
// is thrown instead).
InputData readInputs(const InputOptions& files, const FormatOptions& options,
                     Diagnostics& diagnostics);

// The clock written into the file. `fsGiven`: -f was on the command line and
// `fs` is its checked value. Otherwise the input's own sample rate when it has
// one, truncated to whole hertz (a fraction is reported as a warning) and
// refused when it is not a clock the instrument plays; otherwise `fs` (the
// default 50 MHz), with a warning naming what the input lacks when it is a
// container format that can give a rate (InputData::missingRate).
std::int32_t chooseClock(bool fsGiven, std::int32_t fs, const InputData& input,
                         Diagnostics& diagnostics);

}  // namespace arbsuite::wavepack
