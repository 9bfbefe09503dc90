#!/usr/bin/env bash
# End-to-end demo on a fresh Debian machine: installs the build dependencies (as
# root), builds and installs the suite, then uses the installed programs to
#   1. synthesise a QPSK waveform with iqsynth,
#   2. convert the shipped example CSV file with wavepack,
#   3. join both, with a blank segment between them, with arbtool join,
#   4. show arbtool info of the joined file and dump its samples back to CSV,
#   5. export them as a SigMF recording (numpy, GNU Radio),
#   6. measure the QPSK waveform and plot its sheet, which it also copies to
#      docs/qpsk-sheet.png (the picture of the README),
#   7. compose it with a 16QAM waveform at -10 and +10 MHz, check the composite and
#      plot its spectrum, with and without crest-factor reduction (copied to
#      docs/two-carriers-spectrum.png and docs/two-carriers-cfr-spectrum.png).
#   8. resample LTE-like data made at 61.44 MHz to 100 MHz with its PAPR cut to 8 dB.
#   tools/demo.sh                 installs to ./out, works in ./out/demo
# PREFIX overrides the install prefix (default out/ at the top of the checkout),
# BUILD_DIR the build folder (default build-demo/).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
prefix=$(mkdir -p "${PREFIX:-$root/out}" && cd "${PREFIX:-$root/out}" && pwd)
build=${BUILD_DIR:-$root/build-demo}
work=$prefix/demo

step() { printf '\n=== %s\n' "$*"; }

step "dependencies"
"$root/tools/install-deps.sh"

step "configure and build (Release, no tests, no benchmarks)"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DBUILD_BENCHMARKS=OFF
cmake --build "$build" -j "$(nproc)"

step "install to $prefix"
cmake --install "$build" --prefix "$prefix"
bin=$prefix/bin

mkdir -p "$work"
cd "$work"

step "1. iqsynth: 512 QPSK symbols at 2.5 MHz, 4 samples per symbol (10 MHz clock)"
"$bin/iqsynth" -M qpsk -n 512 -r 2.5MHz -s 4 -f rrc -a 0.35 -d prbs9 -o qpsk.arb \
  --log iqSynthRun.log

step "2. wavepack: the example two-tone CSV file at a 10 MHz sample clock"
"$bin/wavepack" -d "$root/examples/two-tone.csv" -f 10MHz -o two-tone.arb

step "3. arbtool join: QPSK, 1000 blank pairs, two-tone; levels matched by RMS"
"$bin/arbtool" join -o joined.arb --level rms --clock highest \
  qpsk.arb blank:1000 two-tone.arb

step "4. arbtool info joined.arb"
"$bin/arbtool" info joined.arb

step "5. arbtool dump joined.arb, as CSV and as a SigMF recording"
"$bin/arbtool" dump joined.arb -o joined.csv
"$bin/arbtool" dump joined.arb --format sigmf -o joined

step "6. arbtool stats and plot of the QPSK waveform"
"$bin/arbtool" stats qpsk.arb
"$bin/arbtool" plot qpsk.arb -o qpsk-sheet.png --symbol-rate 2.5MHz
mkdir -p "$root/docs"
cp qpsk-sheet.png "$root/docs/qpsk-sheet.png"

step "7. arbtool compose: QPSK at -10 MHz, 16QAM 3 dB down at +10 MHz, a 50 MHz clock"
"$bin/iqsynth" -M 16qam -n 1024 -r 5MHz -s 4 -f rrc -a 0.25 -d prbs9 -o qam16.arb
"$bin/arbtool" compose -o two.arb --clock 50MHz qpsk.arb:-10MHz qam16.arb:10MHz:-3
"$bin/arbtool" check two.arb --min-samples 1000
"$bin/arbtool" plot two.arb --kind spectrum -o two-spectrum.png
"$bin/arbtool" compose -o two-cfr.arb --clock 50MHz qpsk.arb:-10MHz qam16.arb:10MHz:-3 --papr 5
"$bin/arbtool" plot two-cfr.arb --kind spectrum -o two-cfr-spectrum.png
cp two-spectrum.png "$root/docs/two-carriers-spectrum.png"
cp two-cfr-spectrum.png "$root/docs/two-carriers-cfr-spectrum.png"

step "8. wavepack: LTE-like data at 61.44 MHz, resampled to 100 MHz, PAPR cut to 8 dB"
/usr/bin/python3 "$root/tools/make-lte-like.py" lte-like
"$bin/wavepack" -d lte-like.sigmf-meta --resample 100MHz --papr 8 -o lte-8dB.arb
"$bin/arbtool" stats lte-8dB.arb

step "where everything went"
cat <<EOF
programs and libraries:     $bin/{iqsynth,wavepack,arbtool}, $prefix/lib/
synthesised QPSK waveform:  $work/qpsk.arb
converted example CSV:      $work/two-tone.arb
segment configuration:      $work/joined-segments.txt
joined multi-segment file:  $work/joined.arb
its samples, as I,Q lines:  $work/joined.csv ($(wc -l < joined.csv) lines)
as a SigMF recording:       $work/joined.sigmf-meta, $work/joined.sigmf-data
QPSK spectrum, constellation, time view and CCDF:
                            $work/qpsk-sheet.png (copied to $root/docs/qpsk-sheet.png)
synthesis run log:          $work/iqSynthRun.log
two carriers composed:      $work/two.arb, $work/two-cfr.arb (crest factor 5 dB)
their spectra:              $work/two-spectrum.png, $work/two-cfr-spectrum.png
LTE-like data at 61.44 MHz: $work/lte-like.sigmf-meta, lte-like.sigmf-data
at 100 MHz, PAPR 8 dB:      $work/lte-8dB.arb
EOF
