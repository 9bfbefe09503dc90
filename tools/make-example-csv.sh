#!/bin/sh
# Writes the example input of wavepack: a two-column CSV file (header "I,Q", then
# 4096 IQ pairs of a two-tone baseband signal, six decimals). Regenerate with
#   tools/make-example-csv.sh > examples/two-tone.csv
# Deterministic: the same file on every machine (awk only, no other tools).
set -eu
awk 'BEGIN {
  pi = atan2(0, -1)
  print "I,Q"
  for (k = 0; k < 4096; k++) {
    a = 2 * pi * 16 * k / 4096      # tone at 16 cycles per 4096 samples
    b = -2 * pi * 151 * k / 4096    # weaker tone at -151 cycles
    printf "%.6f,%.6f\n", 0.6 * cos(a) + 0.3 * cos(b), 0.6 * sin(a) + 0.3 * sin(b)
  }
}'
