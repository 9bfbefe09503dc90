#!/usr/bin/env bash
# Times the library's default run with its log as a host makes it, beside dd writing the same
# number of bytes to the same folder: 1,000,000 QPSK symbols, 8 samples per symbol, RRC over 16
# symbols, the run log, the library's standard output (-v) into a file and an .arb file.
# Runs and dd alternate, best of three each; the ratio is run time over dd time.
#   bench/libiqsynth/time-default-run.sh [BUILD_DIR] [FOLDER]   (defaults: build, a temporary one)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
if [[ -n ${2:-} ]]; then
  work=$(cd "$2" && pwd)
else
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi
cd "$work"

elapsed_ms() {
  local start end
  start=$(date +%s%N)
  "$@"
  end=$(date +%s%N)
  echo $(((end - start) / 1000000))
}

run_once() {
  "$build/bin/iqsynth" -q --seed 1 -n 1000000 -s 8 -l 16 --log run.log -v -o w.arb > out.txt
}

run_once  # the sizes of what the run writes
log_bytes=$(stat -c %s run.log)
all_bytes=$((log_bytes + $(stat -c %s out.txt) + $(stat -c %s w.arb)))
blocks=$(((all_bytes + (1 << 20) - 1) >> 20))
rm -f run.log out.txt w.arb

best_run= best_dd=
for _ in 1 2 3; do
  t=$(elapsed_ms run_once)
  [[ -z $best_run || $t -lt $best_run ]] && best_run=$t
  rm -f run.log out.txt w.arb
  t=$(elapsed_ms dd if=/dev/zero of=dd.out bs=1M count="$blocks" status=none)
  [[ -z $best_dd || $t -lt $best_dd ]] && best_dd=$t
  rm -f dd.out
done
echo "folder $work; the run writes $all_bytes bytes (log $log_bytes), dd writes $blocks MiB"
printf 'run  %6d ms\ndd   %6d ms\nratio %s (run / dd)\n' "$best_run" "$best_dd" \
  "$(awk -v a="$best_run" -v b="$best_dd" 'BEGIN { printf "%.2f", a / b }')"
