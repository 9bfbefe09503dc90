// The Python module arbsuite: read, write, join, measure and synthesise .arb
// waveforms with numpy arrays, through the suite's own libraries and the code of
// its programs (no program is run).
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "module_errors.h"
#include "prep_functions.h"
#include "synthesis_call.h"
#include "waveform_files.h"

#ifndef ARBSUITE_VERSION
#define ARBSUITE_VERSION "unknown"
#endif

namespace py = pybind11;
using namespace py::literals;

namespace {

constexpr const char* kModuleDoc = R"(Waveforms for arbitrary-waveform and vector signal generators.

Reads and writes the instrument's encrypted .arb waveform files, joins them into
multi-segment files, measures them and synthesises modulated signals, with numpy
arrays. The functions call the suite's libraries (libseqlink, libwavecrypt,
libiqsynth) and the code of its programs, so their results equal those of
wavepack, arbtool and iqsynth.

Samples are 14-bit integers (-8192 to 8191), I and Q: as int16 arrays of shape
(N, 2), or with complex=True as complex64 arrays of shape (N,) scaled by 1/8192.

Functions:
  read(path, complex=False) -> (iq, info)      samples and description of a file
  write(path, iq, clock_hz, level=0.81)        IQ data -> .arb file, as wavepack
  join(out_path, segments, ...) -> info        multi-segment file, as arbtool join
  stats(path) -> dict                          the figures of arbtool stats --json
  stats(iq, clock_hz) -> dict                  the same of an array, as written
  synth(**settings) -> (iq, info)              a waveform, as iqsynth makes it
  resample(iq, rate_in, rate_out, repeat=1)    Fourier resampling of one period
  shift(iq, clock, freq)                       a frequency shift, phase exact
  compose(carriers, clock) -> (iq, info)       carriers in one waveform
  reduce_papr(iq, clock, papr_db) -> (iq, rep) crest-factor reduction
  seam(iq) -> dict                             how the waveform loops

Errors: arbsuite.Error (a RuntimeError) when a library reports a failure or a
file is damaged; its status attribute holds the library's status number.
ValueError and TypeError for arguments refused before any library call.

Example:
  import numpy as np, arbsuite
  t = np.arange(4096)
  iq = np.exp(2j * np.pi * 0.01 * t)              # a tone at clock/100
  arbsuite.write("tone.arb", iq, 10e6)            # 10 MHz clock
  samples, info = arbsuite.read("tone.arb", complex=True)
  print(info["clock_hz"], abs(samples).max())     # 10000000.0 0.81

Threads: every function lets go of the interpreter lock while the libraries
work, so other Python threads run meanwhile and reads and stats run side by side.
Writes, joins and synth runs each take turns (the libraries keep process-wide
state for them: the packer's key draw, the joined configuration, the synthesis
settings).
)";

constexpr const char* kReadDoc = R"(read(path, complex=False) -> (iq, info)

Reads an .arb file (single waveform or multi-segment) and decrypts its samples.

iq: numpy int16 array of shape (N, 2), I in column 0 and Q in column 1, the values
as stored; with complex=True a complex64 array of shape (N,), (I + jQ) / 8192.
info: dict with
  "samples"   N, the number of IQ pairs
  "clock_hz"  the sample clock in Hz (float); for a multi-segment file the clock
              its segments share, or None when they differ
  "energy"    the header's signal energy, the sum of (v / 8192)**2 over every I
              and Q value (its "Value" item), or None
  "header"    the text header's items, {key: value} as str
  "segments"  multi-segment files only: one dict per segment with "name",
              "clock_hz", "samples", "energy" and "start" (its first pair)

Raises arbsuite.Error when the file is missing, not an .arb file, truncated or
damaged (error.status: the libseqlink status, or None for a truncated file);
TypeError when path is not a path.)";

constexpr const char* kWriteDoc = R"(write(path, iq, clock_hz, level=0.81)

Writes IQ data as an encrypted single-waveform .arb file, the file wavepack makes
from the same values: the pairs are divided by their largest modulus
sqrt(I**2 + Q**2), multiplied by level x 8191 and truncated toward zero, then
packed with a fresh data key. The file is written under a temporary name and
renamed when complete.

path:      the output, ending in ".arb"
iq:        complex array of shape (N,), or real array of shape (N, 2) with I in
           column 0 and Q in column 1 (any numeric dtype); finite, N >= 1
clock_hz:  the sample clock, a whole number of hertz the instrument plays:
           1 kHz to 50 MHz, or exactly 100 MHz
level:     the peak modulus as a fraction of full scale, above 0 up to 1

Raises ValueError for a path without ".arb", an empty or non-finite iq, an iq of
another shape, a clock the instrument does not play or a level outside (0, 1];
TypeError for arguments of the wrong type; arbsuite.Error when the file cannot be
written (error.status: the packer's status, such as 19 for an output that cannot
be created).)";

constexpr const char* kJoinDoc =
    R"(join(out_path, segments, level="unchanged", clock="unchanged", user_clock_hz=None, config=None) -> info

Joins single-waveform .arb files and blank segments into one multi-segment .arb
file, as "arbtool join -o OUT SEGMENT..." does (libseqlink builds it).

out_path:  the multi-segment file to write
segments:  list of paths of single-waveform .arb files and blanks
           ("blank", count, clock_hz): count zero pairs at clock_hz, or at the
           clock of the nearest file segment (looking back first) when None
level:     "unchanged", or "rms": every segment scaled down to the lowest RMS
           level of the segments
clock:     "unchanged" (each segment keeps its clock), "highest" (every segment
           plays at the highest clock) or "user" (at user_clock_hz)
user_clock_hz: the clock of clock="user", 1 kHz to 50 MHz or 100 MHz
config:    where to keep the segment configuration file libseqlink reads (as
           arbtool's --config); None: a temporary file, removed afterwards

Returns a dict with "output", "samples" (the total of pairs) and "segments" (one
dict per segment: "name", "clock_hz", "samples", "energy" as joined).

Raises ValueError for an unknown mode, a missing or unplayable user clock, a
malformed blank, a name the configuration cannot hold, too many pairs or
segments, a segment that would be written with a clock the instrument does not
play (a blank with no file segment to take its clock from), or an output or
configuration that would write over a segment file or over each other;
TypeError for arguments of the wrong type; arbsuite.Error when a segment file
cannot be read or is itself multi-segment, or the join fails (error.status: the
libseqlink status).)";

constexpr const char* kStatsDoc = R"(stats(path) -> dict
stats(iq, clock_hz) -> dict

Measures an .arb file, or the waveform write(path, iq, clock_hz) would make of an
array (complex (N,) or real (N, 2)): the dict of "arbtool stats --json", with the keys
"samples", "clock_hz", "duration_s", "peak", "peak_dbfs", "rms_dbfs", "papr_db",
"ccdf_db" ({"10", "1", "0.1", "0.01"}: dB above the mean power), "dc" ([I, Q]),
"clipped", "obw_hz" (99 % occupied bandwidth) and "segments" (the same per
segment, with "name"). Levels are against full scale, a modulus of 8192; a
figure the waveform does not have is None.

Raises arbsuite.Error as read does.)";

constexpr const char* kSynthDoc = R"(synth(**settings) -> (iq, info)

Synthesises a waveform with libiqsynth as the iqsynth program does. Every setting
of the program is a keyword argument with its long option name, dashes written
as underscores, and the same meaning and checks ("iqsynth --help" lists them):

  mode="digital"|"noise"|"mccw"
  digital: modulation="qpsk", symbols=1000, symbol_rate=1e6, oversampling=8,
           filter="rrc", alpha=0.35, span=8, data="prbs9" (zeros, ones,
           "hex:A5F0", "bin:0110", "file:PATH", prbs9 ... prbs23), coding="gray",
           constellation=PATH (modulation="user"), taps=PATH (filter="user"),
           fsk_deviation=30e3, ask_depth=0.5
  ramp and noise (digital, mccw): ramp=[(0, 0), (100, -20)] or "0:0,100:-20",
           ramp_time=1, ramp_shape="cosine", cnr=20
  noise:   noise_rate=20e6, noise_samples=8192
  mccw:    carriers=16, spacing=250e3, levels=[0, -3, ...], phases="newman" or
           [0, 1.57, ...], switches=[1, 0, 1, ...] or "101", crest_law=True
  every mode: system_bandwidth=5e6, bandwidth_ratio=1.0
  seed=N    seed of the noise and of phases="random" (0 to 4294967295); drawn
            when absent, and info["seed"] repeats the run
  log=PATH  keep libiqsynth's run log there. The library opens its log when it
            loads, at the process's first synth call: a later call may name the
            same file again (the log collects every run) but no other one
  complex=True  return complex64 samples scaled by 1/8192

Frequencies take numbers in Hz or the program's texts ("2.5MHz", "250k"). A
setting given as None keeps the program's default; flags take True or False.
Outputs are the caller's: the program's output, csv, plot and verbose options are
not settings here (arbsuite.write makes an .arb file of the samples).

iq: int16 array of shape (N, 2) (complex64 of shape (N,) with complex=True).
info: dict with "samples", "clock_hz" (the sample rate), "peak" and "rms" (of the
envelope, in sample units), "crest_factor_db", "energy", "filter_taps" (digital),
"noise" (when noise was made: "bandwidth_hz", "system_bandwidth_hz",
"level_system_db", "level_total_db", and for added noise "carrier_db",
"signal_db", "peak_db"), "seed" and "log" (the run log's path, or None).

Raises TypeError for an unknown keyword or a value of the wrong type;
ValueError for a value the program refuses, or a constellation or taps file that
cannot be read; arbsuite.Error when libiqsynth cannot be loaded, its run fails
(error.status: the negative result of runIqSynth) or the run log cannot be
written.)";

}  // namespace

PYBIND11_MODULE(arbsuite, module) {
  // Each docstring opens with its own signature line.
  py::options options;
  options.disable_function_signatures();
  module.doc() = kModuleDoc;
  module.attr("__version__") = ARBSUITE_VERSION;
  arbsuite::python::registerErrors(module);
  // pybind11 finds numpy's C interface at its first use, in a function-local static
  // whose initialisation imports numpy and so may hand the interpreter lock to
  // another thread; a second thread that reached it meanwhile would wait for that
  // initialisation holding the lock the first one needs. The import of this module
  // does it once, before any call.
  py::dtype::of<std::int16_t>();
  module.def("read", &arbsuite::python::readFile, kReadDoc, "path"_a, py::kw_only(),
             "complex"_a = false);
  module.def("write", &arbsuite::python::writeFile, kWriteDoc, "path"_a, "iq"_a, "clock_hz"_a,
             "level"_a = 0.81);
  module.def("join", &arbsuite::python::joinFiles, kJoinDoc, "out_path"_a, "segments"_a,
             "level"_a = "unchanged", "clock"_a = "unchanged", "user_clock_hz"_a = py::none(),
             "config"_a = py::none());
  module.def("stats", &arbsuite::python::fileStats, kStatsDoc, "path"_a, "clock_hz"_a = py::none());
  module.def("synth", &arbsuite::python::synthesiseSettings, kSynthDoc);
  arbsuite::python::registerPrepFunctions(module);
}
