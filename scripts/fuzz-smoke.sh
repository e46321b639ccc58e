#!/usr/bin/env bash
# Builds the fuzz targets and runs each for a short while from its seed corpus: every seed
# once, then new inputs for as long as the target still finds new code quickly (or the
# number of seconds given, for every target). Exits non-zero when a target crashes,
# breaks a sanitizer's rule or finds a property that does not hold; the input is kept in
# build/fuzz/artifacts. bench/fuzz.sh runs them for longer.
set -euo pipefail
cd "$(dirname "$0")/.."
export TZ=UTC LC_ALL=C.UTF-8

# Seconds per target. From the seeds, the tokenizer reaches all the code it will reach in
# about a second; datefmt, format, reader and restamp stop finding new code after 5 to 8 seconds
# (their coverage at 20 seconds is within 2% of that); ts, about 1,300 inputs a second,
# still gains slowly and gets the longest.
seconds_for() {
  if [ -n "${1:-}" ]; then echo "$1"; return; fi
  case "$2" in
    tokenizer) echo 3 ;;
    ts) echo 15 ;;
    *) echo 8 ;;
  esac
}

cmake --preset fuzz >/dev/null
cmake --build build/fuzz >/dev/null

artifacts="$PWD/build/fuzz/artifacts"
mkdir -p "$artifacts"
failed=0
for source in fuzz/*_fuzz.cpp; do
  target=$(basename "$source" .cpp)
  name=${target%_fuzz}
  work=$(mktemp -d)
  log="$work/log"
  seconds=$(seconds_for "${1:-}" "$name")
  if build/fuzz/"$target" -max_total_time="$seconds" -max_len=8192 -timeout=30 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$artifacts/$name-" "$work" "fuzz/corpus/$name" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz $name: ok, $runs runs in $seconds s"
  else
    echo "fuzz $name: FAILED"
    grep -E "Property failed|ERROR|SUMMARY|runtime error|Test unit written" "$log" | head -20
    failed=1
  fi
  rm -rf "$work"
done
exit $failed
