#!/usr/bin/env bash
# Long fuzz runs: each target in turn for the given number of seconds (an hour each by
# default), one at a time, from its seed corpus and what earlier runs found (kept in
# build/fuzz/corpus). Reports each target's executions and its corpus size after the run
# (minimised). With --save, the minimised corpora replace the seeds in fuzz/corpus.
#   bench/fuzz.sh [SECONDS] [--save] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=3600
save=0
targets=()
for arg in "$@"; do
  case "$arg" in
    --save) save=1 ;;
    [0-9]*) seconds="$arg" ;;
    *) targets+=("$arg") ;;
  esac
done
[ ${#targets[@]} -eq 0 ] && targets=(tokenizer format datefmt reader ts)
export TZ=UTC LC_ALL=C.UTF-8

cmake --preset fuzz >/dev/null
cmake --build build/fuzz >/dev/null
mkdir -p build/fuzz/artifacts
status=0
for name in "${targets[@]}"; do
  corpus="build/fuzz/corpus/$name"
  mkdir -p "$corpus"
  log="build/fuzz/$name.log"
  if ! build/fuzz/"${name}_fuzz" -max_total_time="$seconds" -max_len=8192 -timeout=30 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="build/fuzz/artifacts/$name-" "$corpus" "fuzz/corpus/$name" \
      >"$log" 2>&1; then
    echo "$name: FAILED (see $log)"
    grep -E "Property failed|SUMMARY|Test unit written" "$log" | head -5
    status=1
  fi
  minimal=$(mktemp -d)
  build/fuzz/"${name}_fuzz" -merge=1 -max_len=8192 "$minimal" "$corpus" "fuzz/corpus/$name" >/dev/null 2>&1 || true
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  echo "$name: $runs executions ($rate/s) in ${seconds}s; corpus $(ls "$minimal" | wc -l) inputs," \
       "$(du -sk --apparent-size "$minimal" | cut -f1) KiB minimised"
  if [ $save = 1 ]; then
    rm -f "fuzz/corpus/$name"/*
    cp "$minimal"/* "fuzz/corpus/$name"/
  fi
  rm -rf "$minimal"
done
exit $status
