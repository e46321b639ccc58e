#!/usr/bin/env bash
# `horalin restamp` beside dateutils' dconv -S and moreutils' ts -r, in the same run.
#
#   bench/restamp_bench.sh [HORALIN] [LINES] [RUNS]
#
# HORALIN defaults to build/posix/horalin (a Release build), LINES to 1,000,000 and RUNS
# (the best of which counts) to 3. The input is a log of LINES lines, each beginning with
# an RFC 3339 stamp in UTC with milliseconds (2026-12-07T17:39:42.377Z), the same every
# run. Both programs rewrite the stamps to Europe/Berlin's local time as
# "%F %H:%M:%S.%L" (dconv: %N, its finest fraction), file to /dev/null. Goal: horalin at
# least 6 times as fast as dconv -S in processor time. Then the ratio to ts -r on the
# first tenth of the lines (ts -r and restamp /R both give the time from each stamp to
# now). Then two logs of LINES lines whose stamp forms cost more to find: a web server's
# access log with the client first (the stamp inside [ ] further in) and a syslog with
# microseconds, each restamped alone (no peer reads them). Wall times and processor times
# (user + system) are shown; the latter are steadier on a busy machine.
# dateutils and moreutils come from Debian's packages, installed here when missing.
set -euo pipefail
cd "$(dirname "$0")/.."

HORALIN=${1:-build/posix/horalin}
LINES=${2:-1000000}
RUNS=${3:-3}
export LC_ALL=C.UTF-8

[ -x "$HORALIN" ] || { echo "no program at $HORALIN: build it first (cmake --build build/posix)" >&2; exit 1; }
if ! command -v dateutils.dconv >/dev/null || ! command -v ts >/dev/null || [ ! -x /usr/bin/time ]; then
  apt-get install -y dateutils moreutils time >/dev/null
fi

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
INPUT=$WORK/input.log
SMALL=$WORK/small.log

awk -v n="$LINES" 'BEGIN {
  t = 1796665182; srand(7)
  for (i = 0; i < n; i++) {
    t += rand() * 0.75; s = int(t)
    printf "%s.%03dZ worker[%02d] step %d finished in %d ms\n", strftime("%Y-%m-%dT%H:%M:%S", s, 1),
      int((t - s) * 1000), i % 17, i, int(rand() * 900)
  }
}' >"$INPUT"
head -n $((LINES / 10)) "$INPUT" >"$SMALL"
WEB=$WORK/access.log
SYSLOG=$WORK/syslog
awk -v n="$LINES" 'BEGIN {
  t = 1796665182; srand(11)
  for (i = 0; i < n; i++) {
    t += rand() * 0.75; s = int(t)
    printf "203.0.113.%d - - [%s +0100] \"GET /item/%d HTTP/1.1\" 200 %d \"-\" \"curl/8.5.0\"\n", i % 250,
      strftime("%d/%b/%Y:%H:%M:%S", s + 3600, 1), i, int(rand() * 9000)
    printf "%s.%06d db-2 sshd[%d]: Accepted publickey for deploy from 198.51.100.%d\n",
      strftime("%b %e %H:%M:%S", s, 1), int((t - s) * 1000000), 1000 + i % 9000, i % 250 > "/dev/stderr"
  }
}' >"$WEB" 2>"$SYSLOG"

# a / b to `scale` places, or "-" when b rounds to 0 (too quick for the timer's 10 ms).
ratio() { if [ "$(echo "$2 > 0" | bc)" = 1 ]; then echo "$(echo "scale=$3; $1 / $2" | bc)x"; else echo "-"; fi; }

# best WALL CPU of RUNS runs of the command ("$@"), reading $1's file on standard input.
best() {
  local file=$1 best_wall=999999 best_cpu=999999 wall cpu
  shift
  for _ in $(seq "$RUNS"); do
    read -r wall user sys < <({ /usr/bin/time -f "%e %U %S" "$@" <"$file" >/dev/null; } 2>&1 | tail -n 1)
    cpu=$(echo "$user + $sys" | bc)
    if (($(echo "$wall < $best_wall" | bc))); then best_wall=$wall; fi
    if (($(echo "$cpu < $best_cpu" | bc))); then best_cpu=$cpu; fi
  done
  echo "$best_wall $best_cpu"
}

# The two agree on the first lines (dconv's nine digits cut to three).
diff <(head -n 1000 "$INPUT" | TZ=Europe/Berlin "$HORALIN" restamp "%F %H:%M:%S.%L") \
  <(head -n 1000 "$INPUT" | TZ=UTC dateutils.dconv -S -z Europe/Berlin -i '%Y-%m-%dT%H:%M:%S.%NZ' \
    -f '%F %H:%M:%S.%N' | sed -E 's/^([0-9-]+ [0-9:]+\.[0-9]{3})[0-9]{6}/\1/') >/dev/null ||
  { echo "horalin restamp and dconv -S differ" >&2; exit 1; }

read -r h_wall h_cpu < <(best "$INPUT" env TZ=Europe/Berlin "$HORALIN" restamp "%F %H:%M:%S.%L")
read -r d_wall d_cpu < <(best "$INPUT" env TZ=UTC dateutils.dconv -S -z Europe/Berlin \
  -i '%Y-%m-%dT%H:%M:%S.%NZ' -f '%F %H:%M:%S.%N')
read -r r_wall r_cpu < <(best "$SMALL" env TZ=UTC "$HORALIN" restamp /R)
read -r t_wall t_cpu < <(best "$SMALL" env TZ=UTC ts -r)
read -r w_wall w_cpu < <(best "$WEB" env TZ=Europe/Berlin "$HORALIN" restamp "%F %H:%M:%S.%L")
read -r s_wall s_cpu < <(best "$SYSLOG" env TZ=Europe/Berlin "$HORALIN" restamp /YEAR:2026 /ZONE:UTC "%F %H:%M:%S.%L")

printf '%-44s %10s %10s\n' "$LINES lines, best of $RUNS" "wall s" "cpu s"
printf '%-44s %10s %10s\n' "horalin restamp (to Europe/Berlin)" "$h_wall" "$h_cpu"
printf '%-44s %10s %10s\n' "dateutils.dconv -S (to Europe/Berlin)" "$d_wall" "$d_cpu"
printf '%-44s %10s %10s\n' "  dconv / horalin" "$(ratio "$d_wall" "$h_wall" 1)" "$(ratio "$d_cpu" "$h_cpu" 1)"
printf '%-44s %10s %10s\n' "horalin restamp /R, $((LINES / 10)) lines" "$r_wall" "$r_cpu"
printf '%-44s %10s %10s\n' "ts -r, $((LINES / 10)) lines" "$t_wall" "$t_cpu"
printf '%-44s %10s %10s\n' "  ts -r / horalin" "$(ratio "$t_wall" "$r_wall" 0)" "$(ratio "$t_cpu" "$r_cpu" 0)"
printf '%-44s %10s %10s\n' "horalin restamp, web log (client first)" "$w_wall" "$w_cpu"
printf '%-44s %10s %10s\n' "horalin restamp, syslog with microseconds" "$s_wall" "$s_cpu"
ok=$(echo "$d_cpu >= 6 * $h_cpu" | bc)
[ "$ok" = 1 ] && echo "goal met: at least 6x as fast as dconv -S" || echo "goal missed: under 6x dconv -S"
