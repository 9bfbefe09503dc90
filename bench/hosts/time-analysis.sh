#!/usr/bin/env bash
# Times arbtool stats and plot on a 16,000,000-sample .arb file (16QAM, RRC 0.35,
# 4 samples per symbol, 10 MHz clock), end to end, best of three runs each. The
# reading of the samples through libseqlink (timed alone as a dump to /dev/null)
# is part of every figure. Targets: stats under 1.5 s, plot under 3 s.
#   bench/hosts/time-analysis.sh [BUILD_DIR]     (default: build)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

"$build/bin/hosts_analysis_bench" --make-arb w16m.arb
arbtool=$build/bin/arbtool

best_of_three() {
  local best=
  for _ in 1 2 3; do
    local start end elapsed
    start=$(date +%s%N)
    "$@" > /dev/null
    end=$(date +%s%N)
    elapsed=$(( (end - start) / 1000000 ))
    if [[ -z $best || $elapsed -lt $best ]]; then best=$elapsed; fi
  done
  printf '%6d ms  %s\n' "$best" "${*#"$build/bin/"}"
}

echo "16,000,000 samples, $(stat -c %s w16m.arb) bytes; best of three runs"
best_of_three "$arbtool" dump w16m.arb --format ci16_le -o /dev/null
best_of_three "$arbtool" stats w16m.arb
best_of_three "$arbtool" stats --json w16m.arb
best_of_three "$arbtool" plot w16m.arb -o sheet.png --symbol-rate 2.5MHz
best_of_three "$arbtool" plot w16m.arb -o sheet.svg --symbol-rate 2.5MHz
best_of_three "$arbtool" plot w16m.arb -o sheet.pdf --symbol-rate 2.5MHz
best_of_three "$arbtool" plot w16m.arb -o eye.png --kind eye --symbol-rate 2.5MHz
