#!/usr/bin/env bash
# Long fuzzing sessions: builds the libFuzzer targets with clang (build/fuzz) and runs
# every target for the given number of seconds (default 600). New inputs go to
# build/fuzz/corpus/<target>/ (kept between sessions; the committed seeds in
# fuzz/corpus/<target>/ are read, never written); findings go to build/fuzz/artifacts/.
# FUZZ_PARALLEL=n runs n targets at a time (default 1; the machine has two cores).
# Usage: scripts/fuzz-run.sh [seconds] [target ...]
set -euo pipefail
cd "$(dirname "$0")/.."
TIME=${1:-600}
shift || true
JOBS=${JOBS:-$(nproc)}
PARALLEL=${FUZZ_PARALLEL:-1}
BUILD=${FUZZ_BUILD:-build/fuzz}

cmake -S . -B "$BUILD" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBRISVANE_FUZZ=ON -DBRISVANE_TESTS=OFF -DBRISVANE_BENCH=OFF >/dev/null
if [[ $# -gt 0 ]]; then
  TARGETS=("$@")
else
  mapfile -t TARGETS < <(cd fuzz && ls fuzz_*.cpp | sed 's/\.cpp$//')
fi
cmake --build "$BUILD" -j "$JOBS" --target "${TARGETS[@]}"

export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:strict_string_checks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
mkdir -p "$BUILD/logs" "$BUILD/artifacts"

runone() {
  local t=$1
  local corpus="$BUILD/corpus/$t"
  mkdir -p "$corpus"
  local dict=()
  [[ -f fuzz/$t.dict ]] && dict=(-dict="fuzz/$t.dict")
  "$BUILD/fuzz/$t" -max_total_time="$TIME" -timeout=25 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$BUILD/artifacts/$t-" "${dict[@]}" "$corpus" "fuzz/corpus/$t" \
    >"$BUILD/logs/$t.log" 2>&1
}

declare -A PIDS=()
for t in "${TARGETS[@]}"; do
  while [[ $(jobs -rp | wc -l) -ge $PARALLEL ]]; do sleep 1; done
  echo "fuzzing $t for ${TIME} s"
  runone "$t" &
  PIDS[$t]=$!
done

status=0
printf '%-20s %-8s %14s %12s %8s\n' target result executions exec/s corpus
for t in "${TARGETS[@]}"; do
  result=ok
  wait "${PIDS[$t]}" || { result=FINDING; status=1; }
  log="$BUILD/logs/$t.log"
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  size=$(ls "$BUILD/corpus/$t" | wc -l)
  printf '%-20s %-8s %14s %12s %8s\n' "$t" "$result" "${runs:-?}" "${rate:-?}" "$size"
done
[[ $status -eq 0 ]] || echo "findings: see $BUILD/artifacts/ and $BUILD/logs/"
exit $status
