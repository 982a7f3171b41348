#!/usr/bin/env bash
# Quick fuzzing stage of the test suite: builds the libFuzzer targets with clang
# (AddressSanitizer + UndefinedBehaviorSanitizer), replays every committed seed of
# fuzz/corpus/<target>/ and then fuzzes each target for a few seconds. The mutations come
# from a fixed seed and a fixed number of runs per target, so the stage gives the same
# verdict every time for the same code (FUZZ_SMOKE_SECONDS caps each target's time).
# Any crash, violated property, leak, timeout or oversized allocation fails the stage.
# Usage: scripts/fuzz-smoke.sh
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS=${JOBS:-$(nproc)}
SECONDS_PER_TARGET=${FUZZ_SMOKE_SECONDS:-30}
BUILD=${FUZZ_BUILD:-build/fuzz}

if ! command -v clang++ >/dev/null 2>&1; then
  echo "clang++ not found: the fuzz targets need clang with libFuzzer" >&2
  exit 1
fi
cmake -S . -B "$BUILD" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBRISVANE_FUZZ=ON -DBRISVANE_TESTS=OFF -DBRISVANE_BENCH=OFF >/dev/null
mapfile -t TARGETS < <(cd fuzz && ls fuzz_*.cpp | sed 's/\.cpp$//')
cmake --build "$BUILD" -j "$JOBS" --target "${TARGETS[@]}"

export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:strict_string_checks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
mkdir -p "$BUILD/logs" "$BUILD/artifacts"
status=0
for t in "${TARGETS[@]}"; do
  scratch="$BUILD/smoke-corpus/$t"       # new inputs land here, never in the seeds
  rm -rf "$scratch" && mkdir -p "$scratch"
  dict=()
  [[ -f fuzz/$t.dict ]] && dict=(-dict="fuzz/$t.dict")
  # Runs that take a few seconds each under the sanitizers.
  case $t in
    fuzz_pipeline) runs=100 ;;
    fuzz_args) runs=2000 ;;
    fuzz_fdoubleread) runs=20000 ;;
    *) runs=50000 ;;
  esac
  log="$BUILD/logs/$t.smoke.log"
  if "$BUILD/fuzz/$t" -seed=1 -runs="$runs" -max_total_time="$SECONDS_PER_TARGET" -timeout=25 -rss_limit_mb=2048 \
       -print_final_stats=1 -artifact_prefix="$BUILD/artifacts/$t-" "${dict[@]}" \
       "$scratch" "fuzz/corpus/$t" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    echo "fuzz smoke $t: ok, ${runs:-?} executions"
  else
    echo "fuzz smoke $t: FAILED (log $log)"
    tail -n 40 "$log"
    status=1
  fi
done
exit $status
