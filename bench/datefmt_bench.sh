#!/usr/bin/env bash
# horalin datefmt --lines beside GNU date -f on the same random dates and times.
#
#   bench/datefmt_bench.sh [HORALIN] [LINES]
#
# HORALIN defaults to build/posix/horalin, LINES to 1000000. The lines are random dates
# and times from 1601 to 9999 (the same ones on every run: the seed is fixed). Both
# programs format them by "%F %H:%M:%S %j %V" under TZ=UTC and TZ=Europe/Berlin; the
# outputs are compared line by line, leaving out the local times that do not exist in
# the zone (clocks moved forward), which date rejects and horalin formats as given. The
# goal: horalin at least 10 times as fast as date -f, with the same peak memory for a
# small and for the full input.
set -euo pipefail
cd "$(dirname "$0")/.."
horalin=${1:-build/posix/horalin}
lines=${2:-1000000}
format='%F %H:%M:%S %j %V'
export LC_ALL=C.UTF-8

[ -x "$horalin" ] || { echo "no horalin program at $horalin (build it first)" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Day numbers counted from 1970-01-01: 1601-01-01 is -134774, 9999-12-31 is 2932896.
awk -v n="$lines" -v seed=20240229 '
  function civil(z,   era, doe, yoe, doy, mp) {
    z += 719468; era = int(z / 146097); doe = z - era * 146097
    yoe = int((doe - int(doe / 1460) + int(doe / 36524) - int(doe / 146096)) / 365)
    Y = yoe + era * 400; doy = doe - (365 * yoe + int(yoe / 4) - int(yoe / 100))
    mp = int((5 * doy + 2) / 153); D = doy - int((153 * mp + 2) / 5) + 1
    M = mp < 10 ? mp + 3 : mp - 9; if (M <= 2) Y++
  }
  BEGIN {
    srand(seed)
    for (i = 0; i < n; i++) {
      civil(-134774 + int(rand() * 3067671))
      printf "%04d-%02d-%02d %02d:%02d:%02d\n", Y, M, D, int(rand() * 24), int(rand() * 60), int(rand() * 60)
    }
  }' > "$work/lines"
head -n 10000 "$work/lines" > "$work/small"

now() { date +%s.%N; }
# The best of three runs, in seconds.
best_of_three() {
  local best="" start end t
  for _ in 1 2 3; do
    start=$(now); "$@"; end=$(now)
    t=$(echo "$end - $start" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
  done
  echo "$best"
}
peak_kb() { { /usr/bin/time -f %M "$@" 2>&1 >/dev/null || true; } | tail -n 1; }

run_horalin() { "$horalin" datefmt --lines "$format" < "$work/lines" > "$work/horalin.out"; }
run_date() { date -f "$work/lines" "+$format" > "$work/date.out" 2> "$work/date.err" || true; }

status=0
printf '%s lines, format "%s"\n\n' "$lines" "$format"
printf '%-14s %10s %10s %8s %12s %12s  %s\n' zone horalin_s date_s ratio horalin_peak date_peak agreement
for zone in UTC Europe/Berlin; do
  export TZ=$zone
  th=$(best_of_three run_horalin)
  td=$(best_of_three run_date)
  ratio=$(echo "$td / $th" | bc -l)

  # Leave out the lines that date rejected, then compare the rest line by line.
  grep -o '[0-9]\{4\}-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9]' "$work/date.err" | sort -u \
    > "$work/rejected" || true
  awk 'FILENAME == ARGV[1] { bad[$0] = 1; next }
       FILENAME == ARGV[2] { input[FNR] = $0; next }
       !(input[FNR] in bad)' "$work/rejected" "$work/lines" "$work/horalin.out" > "$work/horalin.kept"
  skipped=$(wc -l < "$work/rejected")
  if cmp -s "$work/horalin.kept" "$work/date.out"; then
    agreement="same output ($skipped nonexistent local times left out)"
  else
    agreement="OUTPUTS DIFFER: $(diff "$work/horalin.kept" "$work/date.out" | grep -c '^<') lines"
    status=1
  fi

  hp_small=$(peak_kb "$horalin" datefmt --lines "$format" < "$work/small")
  hp=$(peak_kb "$horalin" datefmt --lines "$format" < "$work/lines")
  dp=$(peak_kb date -f "$work/lines" "+$format")
  printf '%-14s %10.3f %10.3f %7.1fx %9s KB %9s KB  %s\n' "$zone" "$th" "$td" "$ratio" "$hp" "$dp" "$agreement"
  printf '%-14s horalin peak memory: %s KB for 10000 lines, %s KB for %s lines\n' "" "$hp_small" "$hp" "$lines"
  [ "$(echo "$ratio >= 10" | bc -l)" = 1 ] || echo "               below the goal of 10x"
done
exit $status
