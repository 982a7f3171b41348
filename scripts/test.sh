#!/usr/bin/env bash
# Builds and runs the whole test suite twice: an optimised build, then a build with
# AddressSanitizer and UndefinedBehaviorSanitizer in which any report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS=${JOBS:-$(nproc)}

build_and_test() {
  local dir=$1
  shift
  cmake -S . -B "$dir" "$@"
  cmake --build "$dir" -j "$JOBS"
  ctest --test-dir "$dir" --output-on-failure -j "$JOBS"
}

echo "== optimised build =="
build_and_test build/release -DCMAKE_BUILD_TYPE=Release

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build =="
export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
build_and_test build/sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRISVANE_SANITIZE=ON -DBRISVANE_BENCH=OFF

if [[ -x scripts/fuzz-smoke.sh ]]; then
  echo "== fuzzer smoke run =="
  scripts/fuzz-smoke.sh
fi
echo "all test stages passed"
