#!/usr/bin/env bash
# Builds the fuzz targets and runs each for a short while (20 seconds, or the number of
# seconds given) from its seed corpus. Exits non-zero when a target crashes, breaks a
# sanitizer's rule or finds a property that does not hold; the input is kept in
# build/fuzz/artifacts.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-20}"
export TZ=UTC LC_ALL=C.UTF-8

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
  if build/fuzz/"$target" -max_total_time="$seconds" -max_len=8192 -timeout=30 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$artifacts/$name-" "$work" "fuzz/corpus/$name" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz $name: ok, $runs runs"
  else
    echo "fuzz $name: FAILED"
    grep -E "Property failed|ERROR|SUMMARY|runtime error|Test unit written" "$log" | head -20
    failed=1
  fi
  rm -rf "$work"
done
exit $failed
