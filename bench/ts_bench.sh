#!/usr/bin/env bash
# Throughput and memory of `horalin ts`, beside `cat | cat` (the cost of the pipe alone)
# and moreutils' ts doing comparable work, in the same run.
#
#   bench/ts_bench.sh [HORALIN] [LINES] [RUNS]
#
# HORALIN defaults to build/posix/horalin (a Release build), LINES to 1,000,000 and RUNS
# (the best of which counts) to 3. The memory check streams about 1 GB through the
# program and compares its peak resident size with that of the run above.
set -euo pipefail
cd "$(dirname "$0")/.."

HORALIN=${1:-build/posix/horalin}
LINES=${2:-1000000}
RUNS=${3:-3}
export TZ=UTC LC_ALL=C.UTF-8

[ -x "$HORALIN" ] || { echo "no program at $HORALIN: build it first (cmake --build build/posix)" >&2; exit 1; }
command -v ts >/dev/null || { echo "moreutils' ts is missing: apt-get install moreutils" >&2; exit 1; }

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
INPUT=$WORK/input.log

# Log-like lines of about 57 bytes, the same every run.
awk -v n="$LINES" 'BEGIN {
  srand(1); split("INFO WARN DEBUG ERROR", level, " ")
  for (i = 0; i < n; i++)
    printf "%-5s [svc-%02d] req=%08x user=%05d took %4d ms\n", level[i % 4 + 1], i % 16,
           int(rand() * 4294967295), int(rand() * 99999), int(rand() * 9999)
}' >"$INPUT"
BYTES=$(stat -c %s "$INPUT")

# The best wall time, in seconds, of RUNS runs of a pipeline read from the input.
best() {
  local best="" t
  for _ in $(seq "$RUNS"); do
    local start end
    start=$(date +%s.%N)
    bash -c "$1" <"$INPUT" >/dev/null
    end=$(date +%s.%N)
    t=$(echo "$end - $start" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
  done
  printf '%.3f' "$best"
}

rate() { echo "scale=1; $BYTES / $1 / 1000000" | bc -l; }
ratio() { echo "scale=1; $1 / $2" | bc -l; }

echo "input: $LINES lines, $BYTES bytes; best of $RUNS runs each"
CAT=$(best "cat | cat")
OURS=$(best "cat | '$HORALIN' ts")
OURS_ALL=$(best "cat | '$HORALIN' ts /I /S /F")
THEIRS_SUB=$(best "cat | ts '%Y-%m-%d %H:%M:%.S'")
THEIRS_DEFAULT=$(best "cat | ts")

printf '%-46s %8s s %8s MB/s\n' "cat | cat" "$CAT" "$(rate "$CAT")"
printf '%-46s %8s s %8s MB/s\n' "horalin ts (default, milliseconds)" "$OURS" "$(rate "$OURS")"
printf '%-46s %8s s %8s MB/s\n' "horalin ts /I /S /F" "$OURS_ALL" "$(rate "$OURS_ALL")"
printf '%-46s %8s s %8s MB/s\n' "moreutils ts '%Y-%m-%d %H:%M:%.S' (sub-second)" "$THEIRS_SUB" "$(rate "$THEIRS_SUB")"
printf '%-46s %8s s %8s MB/s\n' "moreutils ts (default, whole seconds)" "$THEIRS_DEFAULT" "$(rate "$THEIRS_DEFAULT")"
echo
echo "horalin ts vs moreutils ts, sub-second stamps: $(ratio "$THEIRS_SUB" "$OURS")x (goal: 30x)"
echo "horalin ts vs moreutils ts, its default:       $(ratio "$THEIRS_DEFAULT" "$OURS")x"
echo "horalin ts time / cat | cat time:              $(ratio "$OURS" "$CAT")"

# Memory: peak resident size for the input above and for about 1 GB streamed through.
REPEAT=$(( (1000000000 + BYTES - 1) / BYTES ))
SMALL=$(/usr/bin/time -f '%M' "$HORALIN" ts <"$INPUT" 2>&1 >/dev/null | tail -1)
LARGE=$( { for _ in $(seq "$REPEAT"); do cat "$INPUT"; done; } | /usr/bin/time -f '%M' "$HORALIN" ts 2>&1 >/dev/null | tail -1)
echo
echo "peak resident size: $SMALL KB for $BYTES bytes, $LARGE KB for $((BYTES * REPEAT)) bytes"
if [ "$LARGE" -le $((SMALL + 1024)) ]; then
  echo "memory: constant"
else
  echo "memory: GROWS with the input" >&2
  exit 1
fi
