#!/usr/bin/env bash
# Main job on a fresh Debian machine: installs the build dependencies (as root),
# builds the wavepack program and converts the shipped example CSV file into an
# encrypted .arb waveform file.
#   tools/demo.sh [output.arb]     default output: build/two-tone.arb
# BUILD_DIR overrides the build folder (default build/ at the top of the checkout).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
output=${1:-$build/two-tone.arb}

"$root/tools/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j "$(nproc)" --target wavepack

# 4096 IQ pairs, I in column 1 and Q in column 2, played at a 10 MHz sample clock.
"$build/bin/wavepack" -d "$root/examples/two-tone.csv" -f 10MHz -o "$output"
echo "demo: wrote $output ($(stat -c %s "$output") bytes)"
