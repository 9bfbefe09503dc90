#!/usr/bin/env bash
# Sets up the machine, then builds and runs the whole test suite twice:
# a normal optimised build and an AddressSanitizer + UndefinedBehaviorSanitizer build,
# then the fuzz smoke run (tools/fuzz-smoke.sh) when clang is present.
# Warnings are errors in both. Build trees go to build-ci/ (override with BUILD_ROOT).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_root=${BUILD_ROOT:-$root/build-ci}
jobs=$(nproc)

"$root/tools/install-deps.sh"

# Every hand-written source keeps the project's .clang-format (generated tables
# carry a .clang-format of their own that turns formatting off).
echo "=== format check"
(cd "$root" && git ls-files -z '*.cpp' '*.h' '*.c' '*.hpp' | xargs -0 clang-format --dry-run -Werror)

run_variant() {
  local name=$1; shift
  local dir=$build_root/$name
  echo "=== $name build"
  cmake -S "$root" -B "$dir" -DWARNINGS_AS_ERRORS=ON "$@"
  cmake --build "$dir" -j "$jobs"
  echo "=== $name tests"
  (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 600)
}

# Both builds keep their optimisation and leave out the full debug information, which
# costs a third of the normal build's compile time and half the sanitizer build's: the
# tests need none, and the sanitizers' reports still name file and line (-g1).
run_variant normal -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG" -DBUILD_BENCHMARKS=ON
run_variant sanitize -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-g1 -O1" "-DCMAKE_C_FLAGS_DEBUG=-g1 -O1" -DENABLE_SANITIZERS=ON -DBUILD_BENCHMARKS=OFF
echo "=== all tests passed in both builds"

# The libFuzzer targets, 10 seconds each over their committed seed corpora (skipped
# without clang); a crash fails the run.
FUZZ_BUILD=$build_root/fuzz "$root/tools/fuzz-smoke.sh" 10
