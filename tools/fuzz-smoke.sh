#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (only them, in their own build folder,
# with AddressSanitizer and UndefinedBehaviorSanitizer) and runs each for SECONDS
# (default 30) over its committed seed corpus (tests/<component>/fuzz/corpus/<target>/).
# A crash, a sanitizer report, a leak or a timeout fails the run; the input that
# caused it is kept in <build>/fuzz-artifacts/<target>/. New inputs found on the way
# go to a scratch folder, never into the committed corpus. Without clang the smoke
# run is skipped (and succeeds).
#
#   tools/fuzz-smoke.sh            # 30 s per target (the test command runs 20)
#   tools/fuzz-smoke.sh 3600       # a long run: one hour per target
#
# The build folder is build-fuzz/ (override with FUZZ_BUILD).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}
# Absolute, as the runs start in a scratch folder.
build=$(realpath -m "${FUZZ_BUILD:-$root/build-fuzz}")
jobs=$(nproc)

if ! command -v clang >/dev/null || ! command -v clang++ >/dev/null; then
  echo "=== fuzz smoke: clang not found, skipped"
  exit 0
fi

launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache); fi
echo "=== fuzz build ($build)"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DBUILD_FUZZERS=ON -DENABLE_SANITIZERS=ON \
  -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-g1 -O1" "-DCMAKE_C_FLAGS_DEBUG=-g1 -O1" \
  -DBUILD_BENCHMARKS=OFF -DWARNINGS_AS_ERRORS=ON "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$jobs" --target fuzzers

echo "=== fuzz runs, $seconds s each"
failed=0
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
while IFS=$'\t' read -r name program corpus; do
  [ -n "$name" ] || continue
  artifacts=$build/fuzz-artifacts/$name
  mkdir -p "$artifacts" "$scratch/$name"
  [ -d "$corpus" ] || { echo "$name: no seed corpus at $corpus"; failed=1; continue; }
  log=$build/fuzz-artifacts/$name.log
  started=$(date +%s)
  if (cd "$scratch" && "$program" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2560 \
        -print_final_stats=1 -artifact_prefix="$artifacts/" "$scratch/$name" "$corpus") \
        >"$log" 2>&1; then
    outcome=ok
  else
    outcome=FAILED
    failed=1
  fi
  ran=$(( $(date +%s) - started ))
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  found=$(find "$scratch/$name" -type f | wc -l)
  seeds=$(find "$corpus" -type f | wc -l)
  printf '%-28s %s: %4d s, %9s runs, %4d seeds, %4d new inputs\n' \
    "$name" "$outcome" "$ran" "${runs:-?}" "$seeds" "$found"
  if [ "$outcome" != ok ]; then
    # Not the warnings of allocations a target lets fail (they can be thousands).
    report=$(grep -v 'WARNING: AddressSanitizer failed to allocate' "$log" |
      grep -E 'ERROR|SUMMARY|==[0-9]+==|Test unit written' | head -n 20 || true)
    if [ -n "$report" ]; then echo "$report"; else tail -n 20 "$log"; fi
  fi
done <"$build/fuzzers.txt"

if [ "$failed" -ne 0 ]; then
  echo "=== fuzz smoke FAILED (logs and inputs in $build/fuzz-artifacts/)"
  exit 1
fi
echo "=== fuzz smoke passed"
