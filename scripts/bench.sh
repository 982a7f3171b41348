#!/usr/bin/env bash
# Speed benchmark of the analysis command on ten minutes of speech, on one core.
#
# Builds the optimised command and the pipeline timing program in build/bench, writes the
# corpus recordings (../shared/corpus, repeated) into one 600 s recording, then for each
# setting prints the command's processor time, its real-time factor, its time against SPTK's
# RAPT tracker (`pitch -a 0`, installed from Debian's sptk package when missing) on the same
# audio, the per-stage times, the pitch stage against RAPT, and the peak memory against its
# bound. Every time is the least of BENCH_REPEATS runs (default 3). Not part of the test suite.
set -euo pipefail
cd "$(dirname "$0")/.."

SECONDS_OF_SPEECH=${SECONDS_OF_SPEECH:-600}
CORPUS=${BRISVANE_CORPUS_DIR:-../shared/corpus}
OUT=build/bench
CORE=${BENCH_CORE:-0}

if ! compgen -G "$CORPUS/*.wav" >/dev/null; then
  echo "no recordings in $CORPUS: nothing to measure"
  exit 1
fi

cmake -S . -B "$OUT" -DCMAKE_BUILD_TYPE=Release -DBRISVANE_TESTS=OFF >/dev/null
cmake --build "$OUT" -j "$(nproc)" --target brisvane16 bench_pipeline >/dev/null

# SPTK's tools: Debian installs them under /usr/libexec/sptk/bin.
sptkbin() {
  if [[ -x /usr/libexec/sptk/bin/$1 ]]; then
    echo "/usr/libexec/sptk/bin/$1"
  elif command -v "$1" >/dev/null && "$1" -h 2>&1 | grep -q "RAPT\|x2x"; then
    command -v "$1"
  fi
}
if [[ -z "$(sptkbin pitch)" ]]; then
  echo "installing sptk (RAPT reference)"
  apt-get update >/dev/null
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends sptk >/dev/null
fi
PITCH=$(sptkbin pitch)
X2X=$(sptkbin x2x)

WAV=$OUT/speech${SECONDS_OF_SPEECH}.wav
"$OUT/bench/bench_pipeline" concat "$CORPUS" "$SECONDS_OF_SPEECH" "$WAV"
# The recording has the canonical 44-byte header: the rest is 16-bit samples.
tail -c +45 "$WAV" | "$X2X" +sf >"$OUT/speech.f32"

# Processor seconds (user + system) and peak resident memory (kB) of one command: the least
# time and the largest peak over REPEATS runs (the speed of a shared machine drifts by 10 %
# and more within minutes; the least time is the run least disturbed).
REPEATS=${BENCH_REPEATS:-3}
timed() {
  local log=$OUT/time.txt best="" peak=0 cpu mem
  for ((r = 0; r < REPEATS; r++)); do
    taskset -c "$CORE" /usr/bin/time -f "%U %S %M" -o "$log" "$@" >/dev/null
    read -r cpu mem < <(awk '{printf "%.3f %d\n", $1 + $2, $3}' "$log")
    if [[ -z $best ]] || (($(echo "$cpu < $best" | bc -l))); then best=$cpu; fi
    ((mem > peak)) && peak=$mem
  done
  echo "$best $peak"
}

read -r rapt _ < <(timed "$PITCH" -a 0 -s 16 -p 80 "$OUT/speech.f32")

frames=$(( (SECONDS_OF_SPEECH * 16000 - 1) / 80 + 1 ))
# Bound on peak memory: twice the signal and the output streams as 64-bit floats, + 32 MB.
boundkb=$(( (2 * (SECONDS_OF_SPEECH * 16000 + frames * 42) * 8) / 1024 + 32768 ))

printf "%s s of speech, one core (cpu %s); RAPT (SPTK pitch -a 0): %.2f s, RTF %.4f\n" \
  "$SECONDS_OF_SPEECH" "$CORE" "$rapt" "$(echo "$rapt / $SECONDS_OF_SPEECH" | bc -l)"
printf "%-9s %7s %7s %7s | %6s %6s %6s %6s %6s %6s | %9s %8s | %8s %8s\n" setting cpu RTF cpu/RAPT \
  read pitch refine ceps fv write pitchRTF "pitch/RAPT" "peak MB" "bound MB"
for setting in "default" "--CCMETH=1" "--CCMETH=2" "--F0HR=1" "--F0ITREF=3"; do
  params=()
  [[ $setting != default ]] && params=("$setting")
  read -r cpu peak < <(timed "$OUT/brisvane16" "$WAV" "$OUT/f0" "$OUT/cc" "$OUT/fv" "${params[@]}")
  # Stage times: the least of each over REPEATS runs of the timing program.
  declare -A st=()
  for ((r = 0; r < REPEATS; r++)); do
    while read -r _ name value; do
      if [[ -z ${st[$name]:-} ]] || (($(echo "$value < ${st[$name]}" | bc -l))); then st[$name]=$value; fi
    done < <(taskset -c "$CORE" "$OUT/bench/bench_pipeline" run "$WAV" "$OUT/f0" "$OUT/cc" "$OUT/fv" \
      "${params[@]}")
  done
  printf "%-9s %7.2f %7.4f %7.2f | %6.2f %6.2f %6.2f %6.2f %6.2f %6.2f | %9.5f %8.2f | %8.1f %8.1f\n" \
    "${setting#--}" "$cpu" "$(echo "$cpu / $SECONDS_OF_SPEECH" | bc -l)" "$(echo "$cpu / $rapt" | bc -l)" \
    "${st[read]}" \
    "${st[pitch]}" "${st[refine]}" "${st[cepstrum]}" "${st[fv]}" "${st[write]}" \
    "$(echo "${st[pitch]} / $SECONDS_OF_SPEECH" | bc -l)" \
    "$(echo "${st[pitch]} / $rapt" | bc -l)" "$(echo "$peak / 1024" | bc -l)" \
    "$(echo "$boundkb / 1024" | bc -l)"
  unset st
done
echo "targets: default RTF <= 0.005; pitch/RAPT < 1; other settings within 2x of the default;"
echo "         peak memory <= bound"
