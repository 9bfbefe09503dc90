// The reading rules and examples printed by --help after the option list.
#include "help_text.h"

namespace arbsuite::wavepack {

const char* const kHelpText = R"(
INPUTS
   -d FILE        one file with I and Q (CSV columns, interleaved raw samples,
                  a SigMF recording or archive, a MATLAB file, a two-channel
                  WAV file or a GNU Radio metadata file)
   -i FILE -q FILE  separate I and Q files (CSV, real raw samples or real GNU
                  Radio metadata files), of equal length; either one alone
                  leaves the other component at 0
   A FILE named - is standard input (CSV, or raw with --format); a file named -
   is given as ./-.

FORMATS (--format FMT, in any case; without it and without -b, from the file
name)
   csv            text, see CSV below (any name not listed here)
   sigmf          .sigmf-meta or .sigmf-data: the pair is read, either name
                  may be given; core:datatype, core:sample_rate, core:offset,
                  the first capture's core:sample_start and core:header_bytes,
                  core:trailing_bytes and core:dataset are honoured; one
                  channel, complex datatypes only. Samples before the first
                  capture are left out with a warning; a capture that starts
                  before core:offset is read from the data's first sample,
                  with a warning. .sigmf (a SigMF archive: a tar file of the
                  pair, or any tar file given with --format sigmf): its first
                  recording is read
   gnuradio       GNU Radio metadata (file_meta_sink): headers inline in the
                  data file, or detached in FILE.hdr beside it (either name
                  may be given). A file named like CSV or raw samples that
                  starts with a header, or has a .hdr beside it, is read so.
                  The headers give the item (byte, short, int, float or
                  double, little-endian; complex, or two values read as I and
                  Q, for -d; one value for -i and -q) and the sample rate;
                  the segments of a file continued after tags are read in
                  order; anything the headers do not describe is refused
   mat            .mat (MATLAB v5 and v7.3): a complex vector or a real Nx2
                  matrix (columns I and Q), single or double; --variable NAME
                  picks it, otherwise the file must hold exactly one; a real
                  scalar fs, Fs, FS, SampleRate or sample_rate is the sample rate
   wav            .wav: two channels, I then Q, any sample format libsndfile
                  reads; integer samples are read as their values (8-bit ones,
                  unsigned, less 128, as libsndfile reads them)
   Raw samples, named as SigMF names them (_le little-endian, _be big-endian):
   cf64_le        64-bit doubles, I and Q interleaved (what -b reads)
   cf32_le        32-bit floats (.cf32 .cfile .fc32; --format cf32, cfile and
                  fc32 read cf32_le too, with a note)
   ci32_le ci16_le  signed integers (.ci16 .cs16 .sc16 are ci16_le; so are
                  --format ci16, cs16 and sc16, with a note)
   ci8 cu8        8-bit signed, unsigned (.cu8); unsigned values are offset by
                  half their range (127.5 for cu8), as are cu16_le and cu32_le:
                  raw cu8 data is centred on 127.5, while 8-bit samples inside
                  a WAV file are centred on 128 (libsndfile's rule)
   _be forms      cf64_be cf32_be ci32_be ci16_be cu32_be cu16_be
   rf64_le rf32_le ri32_le ri16_le ru32_le ru16_le ri8 ru8 (and _be): real
                  values, one per sample, for -i and -q files
   Integers are read as their values: the normalisation to the peak makes their
   scale irrelevant. A value that is not a finite number is refused. A file
   whose size is not a whole number of samples is refused, naming its size.
   With -b the data are read as whole 8-byte doubles: 1 to 7 bytes after the
   last one are ignored with a warning, and a -d file that holds an odd number
   of doubles (an I without its Q) is refused ("length is odd").

CSV
   One sample per line. Lines end with LF, CRLF or, in a file without LF, a
   lone CR (noted); a last line without an end is read; a UTF-8 byte-order
   mark is skipped. UTF-16 text and files holding NUL bytes are refused,
   naming what they look like. Fields are separated by --delimiter: ,
   (default), ; or tab (each one separates two fields), or space (any run of
   spaces and tabs; blanks at the start and end of a line are ignored). A field is a number when, after
   leading white space, it starts with an optional sign, digits with an
   optional decimal point (a comma with --decimal-comma, which needs a
   delimiter other than ,) and an optional exponent; anything after the number
   in the field is ignored (1.5V reads 1.5). With --decimal-comma a '.' right
   after the digits makes the field no number (1.234,5 is refused, not read
   as 1). Without it, a number followed by a comma and digits (0,5) is read
   up to the comma with a warning naming the line. inf, nan and hexadecimal
   numbers are not numbers (a line of hexadecimal numbers is named). A number
   between double quotes ("0.5") is read as a number, and so is numpy's
   complex form (a+bj) alone on a line, as I = a and Q = b (both noted).
   -d reads I from field 1 and Q from field 2; --columns I,Q chooses others
   (from 1, for example 2,3 for Time,I,Q). -i and -q files read field 1;
   --columns N chooses another. A line with more non-blank fields than that is
   reported once (unless --columns was given).
   Lines before the first line holding a number (headers) and blank lines
   are skipped silently. Any later line whose fields are not all numbers is
   reported on standard error with its number and text (the first 5, then a
   count); with -d, its numbers still count, I and Q apart, as before.

CLOCK
   -f takes hertz with an optional unit: H (1), K (1000) or M (1000000), upper
   or lower case, only its first letter counts: 10MHz, 10m, 2.5k, 1e6 and
   1000000 are all accepted; lower-case m is mega. The clock must lie within
   1 kHz to 50 MHz, or be exactly 100 MHz. Without -f the sample rate of a
   SigMF, MATLAB, WAV or GNU Radio input is the clock (refused when outside
   that range; a fraction of a hertz is dropped with a warning); otherwise
   50 MHz, with a warning for a SigMF or MATLAB input that gives no rate.
   -f writes the clock without changing the data; --resample (see below)
   converts the data to the clock it names and cannot be given with -f.

PREPARATION (in this order, before the normalisation to --level)
   --resample CLOCK
                  resamples one period of the data by the Fourier method to
                  CLOCK, a clock the instrument plays and the clock written;
                  not with -f. The data's rate is the file's own (SigMF,
                  MATLAB, WAV, GNU Radio) or --input-rate FREQ. When
                  N x CLOCK / rate is not a whole number the run is
                  refused, naming the smallest --repeat K that makes it whole
                  (the input repeated K times first). auto: the data's rate if
                  the instrument plays it (the samples are kept), else the
                  lowest playable clock above it, else 100 MHz. Downsampling
                  that cuts into the 99 % occupied band is warned, with both
                  bandwidths.
   --shift FREQ   multiplies sample n by exp(j 2 pi FREQ n / clock), the phase
                  reduced exactly; FREQ may be negative, within half the clock.
                  Seamless when FREQ x N / clock is a whole number of cycles;
                  otherwise a warning names the two nearest seamless shifts.
   --papr DB      crest-factor reduction by iterative clipping and filtering
                  to a peak-to-average power ratio of DB (above 0, at most the
                  waveform's own), in the 99 % occupied band or --cfr-band
                  LOW:HIGH (for example -5MHz:5MHz). Notes give the PAPR
                  reached, the EVM it costs (RMS of the change over the RMS of
                  the signal, in % and dB) and the power outside the band
                  before and after. The same input gives the same samples.
   --taper TIME   raised-cosine fades in and out over TIME (s, ms, us or ns:
                  10us, 1e-5) at both ends: the first and last samples are 0.
   FREQ and CLOCK here are a number and an optional unit, the whole text:
   Hz or h, k or kHz, m or MHz (mega), g or GHz, upper or lower case (10MHz,
   2.5k, -1e6), as arbtool and iqsynth read them.
   The figures of each step go to standard error as NOTE: lines; standard
   output stays the two lines below. Without these options the samples stream
   from the file to the output as before.

LEVEL AND CHECKS
   --level X      the largest complex sample becomes X of full scale
                  (0 < X <= 1; default 0.81)
   --strict       every warning is an error: exit status 1, nothing written

OUTPUT
   The first line on standard output is the success message; a second line
   sums up samples, clock, duration, peak and RMS level in dBFS (full scale
   8192), crest factor and the format that was read. Warnings and errors go
   to standard error; a failure exits with status 1.

EXAMPLES
   wavepack -d wave.csv -f 10MHz -o wave.arb
   wavepack -d scope.csv --columns 2,3 -o scope.arb          (Time,I,Q)
   wavepack -d eu.csv --delimiter ';' --decimal-comma -o eu.arb
   wavepack -d numpy.txt --delimiter space -o np.arb          (numpy.savetxt)
   wavepack -d capture.sigmf-meta -o capture.arb              (clock from it)
   wavepack -d rx.cfile -f 2MHz -o rx.arb                     (GNU Radio cf32)
   wavepack -d rx.dat -o rx.arb                 (GNU Radio metadata, clock from it)
   wavepack -d capture.sigmf -o capture.arb                   (SigMF archive)
   wavepack -d iq.bin --format ci16_be -f 1m -o iq.arb
   wavepack -d iq.mat --variable sig --level 0.5 -o iq.arb
   wavepack -i i.bin -q q.bin --format rf32_le -o two.arb
   gen_samples | wavepack -d - --format cf32_le -f 5MHz -o live.arb
   wavepack -d lte.sigmf-meta --resample 100MHz --papr 8 -o lte.arb
   wavepack -d iq.csv --input-rate 61.44MHz --resample auto --repeat 3 -o a.arb
   wavepack -d burst.csv -f 10MHz --shift -1.25MHz --taper 10us -o burst.arb
)";

}  // namespace arbsuite::wavepack
