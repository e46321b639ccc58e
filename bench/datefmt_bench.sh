#!/usr/bin/env bash
# horalin datefmt --lines beside GNU date -f on the same random dates and times.
#
#   bench/datefmt_bench.sh [HORALIN] [LINES]
#
# HORALIN defaults to build/posix/horalin, LINES to 1000000. The lines are random dates
# and times from 1601 to 9999, and random times within 2024 (the same ones on every run:
# the seed is fixed). horalin and date format them by "%F %H:%M:%S %j %V" under TZ=UTC and
# TZ=Europe/Berlin, and by "%F %H:%M:%S %z %Z %s" (the zone's offset, name and the instant,
# which need the zone's state at each local time) under TZ=Europe/Berlin and
# TZ=America/New_York. The outputs are compared line by line, leaving out the local times
# that do not exist in the zone (clocks moved forward), which date rejects and horalin
# reads with the offset before the change. A local time that the clocks show twice is
# read by date at its second occurrence and by horalin at its first: such a line must
# be what date shows for horalin's instant, and that instant the earlier one. The goal:
# horalin at least 20 times as fast as date -f, with the same peak memory for a small
# and for the full input.
#
# When the Windows build is there (HORALIN_WINDOWS, by default build/windows/horalin.exe)
# and Wine too, three last tables set the cost of a line of horalin.exe datefmt --lines
# under Wine (TZ=UTC: "%F %H:%M:%S %j %V" over the dates of 1601 to 9999, and
# "%F %H:%M:%S %z %s" over the times of 2024; TZ=Europe/Berlin: "%F %H:%M:%S %z %Z %s" over
# 200,000 random dates and times of 1970 to 2037, which need the zone's rules for many
# years) beside that of the POSIX program: a run over all lines less a run over a tenth of
# them, so that the start-up of Wine is left out, and checks that both print the same.
# Goal: within 10x of the POSIX build.
set -euo pipefail
cd "$(dirname "$0")/.."
horalin=${1:-build/posix/horalin}
horalin_windows=${HORALIN_WINDOWS:-build/windows/horalin.exe}
lines=${2:-1000000}
format='%F %H:%M:%S %j %V'
export LC_ALL=C.UTF-8

[ -x "$horalin" ] || { echo "no horalin program at $horalin (build it first)" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# N random dates and times, one a line, of the days FIRST to FIRST + DAYS - 1 counted from
# 1970-01-01 (1601-01-01 is -134774, 9999-12-31 is 2932896), drawn with SEED.
random_datetimes() {
  awk -v n="$1" -v seed="$2" -v first="$3" -v days="$4" '
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
        civil(first + int(rand() * days))
        printf "%04d-%02d-%02d %02d:%02d:%02d\n", Y, M, D, int(rand() * 24), int(rand() * 60), int(rand() * 60)
      }
    }'
}
random_datetimes "$lines" 20240229 -134774 3067671 > "$work/lines"
# Random seconds of 2024 (1704067200 to 1735689599 as UTC; read as local times).
awk -v n="$lines" -v seed=20240301 '
  BEGIN {
    srand(seed); split("31 29 31 30 31 30 31 31 30 31 30 31", len, " ")
    for (i = 0; i < n; i++) {
      s = int(rand() * 31622400); d = int(s / 86400); s %= 86400
      for (m = 1; d >= len[m]; m++) d -= len[m]
      printf "2024-%02d-%02d %02d:%02d:%02d\n", m, d + 1, int(s / 3600), int(s % 3600 / 60), s % 60
    }
  }' > "$work/year"
# 200,000 random dates and times of 1970 to 2037 (day 0 to 24836 from 1970-01-01).
random_datetimes 200000 20370101 0 24837 > "$work/years"
head -n 10000 "$work/lines" > "$work/small"

now() { date +%s.%N; }
# The best of five runs, in seconds: the fastest run is the one least disturbed by the machine's
# other work.
best_of_five() {
  local best="" start end t
  for _ in 1 2 3 4 5; do
    start=$(now); "$@"; end=$(now)
    t=$(echo "$end - $start" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
  done
  echo "$best"
}
peak_kb() { { /usr/bin/time -f %M "$@" 2>&1 >/dev/null || true; } | tail -n 1; }

run_horalin() { "$horalin" datefmt --lines "$format" < "$work/$input" > "$work/horalin.out"; }
run_date() { date -f "$work/$input" "+$format" > "$work/date.out" 2> "$work/date.err" || true; }

# Compares the outputs as described above; prints the verdict and returns 1 on a difference.
compare() {
  grep -o '[0-9]\{4\}-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9]' "$work/date.err" | sort -u \
    > "$work/rejected" || true
  awk 'FILENAME == ARGV[1] { bad[$0] = 1; next }
       FILENAME == ARGV[2] { input[FNR] = $0; next }
       !(input[FNR] in bad)' "$work/rejected" "$work/$input" "$work/horalin.out" > "$work/horalin.kept"
  local skipped repeated=0 differ
  skipped=$(wc -l < "$work/rejected")
  paste -d '\t' "$work/horalin.kept" "$work/date.out" | awk -F '\t' '$1 != $2' > "$work/differ"
  differ=$(wc -l < "$work/differ")
  if [ "$differ" -gt 0 ] && [ "$format" = "$zone_format" ]; then
    # Repeated local times: horalin's instant earlier, and date shows it as horalin does.
    awk -F '\t' '{ n = split($1, a, " "); m = split($2, b, " "); if (a[n] + 0 < b[m] + 0) print "@" a[n] }' \
      "$work/differ" > "$work/instants"
    date -f "$work/instants" "+$format" > "$work/instants.date" 2>/dev/null || true
    repeated=$(cut -f 1 "$work/differ" | paste -d '\t' - "$work/instants.date" | awk -F '\t' '$1 == $2' | wc -l)
  fi
  if [ "$differ" -eq "$repeated" ]; then
    echo "same output ($skipped skipped local times left out, $repeated repeated ones at their first occurrence)"
  else
    echo "OUTPUTS DIFFER: $((differ - repeated)) lines"
    return 1
  fi
}

status=0
plain_format='%F %H:%M:%S %j %V'
zone_format='%F %H:%M:%S %z %Z %s'
printf '%s lines each\n\n' "$lines"
printf '%-34s %-17s %10s %10s %8s %12s %12s  %s\n' format zone horalin_s date_s ratio horalin_peak date_peak agreement
for row in "plain lines UTC" "plain lines Europe/Berlin" \
           "zone lines Europe/Berlin" "zone lines America/New_York" \
           "zone year Europe/Berlin" "zone year America/New_York"; do
  read -r kind input zone <<< "$row"
  if [ "$kind" = plain ]; then format=$plain_format; else format=$zone_format; fi
  export TZ=$zone
  th=$(best_of_five run_horalin)
  td=$(best_of_five run_date)
  ratio=$(echo "$td / $th" | bc -l)
  agreement=$(compare) || status=1

  hp=$(peak_kb "$horalin" datefmt --lines "$format" < "$work/$input")
  dp=$(peak_kb date -f "$work/$input" "+$format")
  label="$format ($([ "$input" = lines ] && echo 1601-9999 || echo 2024))"
  printf '%-34s %-17s %10.3f %10.3f %7.1fx %9s KB %9s KB  %s\n' "$label" "$zone" "$th" "$td" "$ratio" "$hp" "$dp" \
    "$agreement"
  [ "$(echo "$ratio >= 20" | bc -l)" = 1 ] || echo "  below the goal of 20x"
done
hp_small=$(peak_kb "$horalin" datefmt --lines "$zone_format" < "$work/small")
hp=$(peak_kb "$horalin" datefmt --lines "$zone_format" < "$work/lines")
printf '\nhoralin peak memory, "%s": %s KB for 10000 lines, %s KB for %s lines\n' "$zone_format" "$hp_small" "$hp" \
  "$lines"

wine=/usr/lib/wine/wine64
if [ -f "$horalin_windows" ] && [ -x "$wine" ]; then
  export WINEPREFIX=${WINEPREFIX:-$PWD/$(dirname "$horalin_windows")/wineprefix} WINEDEBUG=-all
  TZ=UTC "$wine" "$horalin_windows" --version >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -p 60 || true  # the server stays up between the runs
  # The plain format over the dates of 1601 to 9999, and the offset and instant (the
  # zone's rules for the line's year) over the times of 2024 and over the dates of 1970
  # to 2037 (the rules of many years).
  for row in "plain lines UTC" "zone year UTC" "names years Europe/Berlin"; do
    read -r kind input zone <<< "$row"
    case $kind in
      plain) row_format=$plain_format ;;
      zone) row_format='%F %H:%M:%S %z %s' ;;
      names) row_format=$zone_format ;;
    esac
    export TZ=$zone
    count=$(wc -l < "$work/$input")
    head -n $((count / 10)) "$work/$input" > "$work/tenth"
    printf '\nTZ %s, "%s": cost of a line (%s lines less %s; best of five)\n' "$zone" "$row_format" "$count" \
      "$((count / 10))"
    printf '%-28s %10s %10s %10s\n' program all_s tenth_s us_a_line
    declare -A per
    for build in posix windows; do
      if [ $build = posix ]; then cmd=("$horalin"); else cmd=("$wine" "$horalin_windows"); fi
      run_all() { "${cmd[@]}" datefmt --lines "$row_format" < "$work/$input" > "$work/$build.out"; }
      run_tenth() { "${cmd[@]}" datefmt --lines "$row_format" < "$work/tenth" > /dev/null; }
      ta=$(best_of_five run_all)
      tt=$(best_of_five run_tenth)
      per[$build]=$(echo "($ta - $tt) / ($count - $count / 10) * 1000000" | bc -l)
      printf '%-28s %10.3f %10.3f %10.3f\n' "datefmt --lines ($build)" "$ta" "$tt" "${per[$build]}"
    done
    printf 'windows (Wine) / posix, a line: %.1fx (goal: within 10x)\n' "$(echo "${per[windows]} / ${per[posix]}" | bc -l)"
    tr -d '\r' < "$work/windows.out" > "$work/windows.lf"
    if [ "$kind" = names ]; then
      # The zone's names are the system's (Windows: "Central Europe Standard Time"), and
      # Wine's zone data holds only the rules in force since 1996: the date, the offset and
      # the instant are compared from 1996 on.
      differ=$(paste -d '\t' "$work/windows.lf" "$work/posix.out" |
        awk -F '\t' '{ n = split($1, w, " "); m = split($2, p, " ")
                       if (w[1] >= "1996" && (w[1] != p[1] || w[2] != p[2] || w[3] != p[3] || w[n] != p[m])) bad++ }
                     END { print bad + 0 }')
      if [ "$differ" -eq 0 ]; then
        echo "same dates, offsets and instants from 1996 on (the names are each system's)"
      else
        echo "OUTPUTS DIFFER between the builds: $differ lines from 1996 on"
        status=1
      fi
    elif cmp -s "$work/windows.lf" "$work/posix.out"; then
      echo "same output from both builds"
    else
      echo "OUTPUTS DIFFER between the builds"
      status=1
    fi
  done
fi
exit $status
