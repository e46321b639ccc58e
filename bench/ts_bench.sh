#!/usr/bin/env bash
# Throughput and memory of `horalin ts`, beside `cat | cat` (the cost of the pipe alone),
# `horalin run -- cat FILE` (the same lines from a command's own pipes) and moreutils' ts
# doing comparable work, in the same run.
#
#   bench/ts_bench.sh [HORALIN] [LINES] [RUNS]
#
# HORALIN defaults to build/posix/horalin (a Release build), LINES to 1,000,000 and RUNS
# (the best of which counts) to 3. Each pipeline reads the same input file and writes to
# /dev/null; both its wall time and its processor time (user + system, all processes of
# the pipeline) are shown, the latter being steadier on a busy machine. The memory check
# streams about 1 GB through the program and compares its peak resident size with that
# of a run over the input above. A table of `horalin ts` by the input's encoding (ASCII,
# UTF-8, code page 1252, UTF-16LE) shows the cost of each way the reader frames and
# decodes lines. Goal: `cat FILE | horalin ts` within 2x the processor time of
# `cat FILE | cat`.
#
# When the Windows build is there (HORALIN_WINDOWS, by default build/windows/horalin.exe)
# and Wine too, a last table sets the cost of a line of horalin.exe ts under Wine beside
# that of the POSIX program: a run over all LINES less a run over a tenth of them, file to
# file, so that the start-up of Wine is left out. Goal: within 10x of the POSIX build.
set -euo pipefail
cd "$(dirname "$0")/.."

HORALIN=${1:-build/posix/horalin}
LINES=${2:-1000000}
RUNS=${3:-3}
HORALIN_WINDOWS=${HORALIN_WINDOWS:-build/windows/horalin.exe}
export TZ=UTC LC_ALL=C.UTF-8

[ -x "$HORALIN" ] || { echo "no program at $HORALIN: build it first (cmake --build build/posix)" >&2; exit 1; }
command -v ts >/dev/null || { echo "moreutils' ts is missing: apt-get install moreutils" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is missing: apt-get install time" >&2; exit 1; }

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
INPUT=$WORK/input.log

# Log-like lines of about 57 bytes, the same every run.
awk -v n="$LINES" 'BEGIN {
  srand(1); split("INFO WARN DEBUG ERROR", level, " ")
  for (i = 0; i < n; i++)
    printf "%-5s [svc-%02d] req=%08x user=%05d took %4d ms ok\n", level[i % 4 + 1], i % 16,
           int(rand() * 4294967295), int(rand() * 99999), int(rand() * 9999)
}' >"$INPUT"
BYTES=$(stat -c %s "$INPUT")

# "WALL CPU": the best wall time and the best processor time, in seconds, of RUNS runs.
measure() {
  local best_wall="" best_cpu="" line wall cpu
  for _ in $(seq "$RUNS"); do
    line=$(/usr/bin/time -f '%e %U %S' bash -c "$1" <"$INPUT" 2>&1 >/dev/null | tail -1)
    wall=$(echo "$line" | awk '{print $1}')
    cpu=$(echo "$line" | awk '{print $2 + $3}')
    best_wall=$(awk -v a="$best_wall" -v b="$wall" 'BEGIN {print ((a == "" || b + 0 < a + 0) ? b : a)}')
    best_cpu=$(awk -v a="$best_cpu" -v b="$cpu" 'BEGIN {print ((a == "" || b + 0 < a + 0) ? b : a)}')
  done
  echo "$best_wall $best_cpu"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.1f", (b > 0 ? a / b : 0)}'; }

# One round of all pipelines under the zone setting given ("UTC", or "" for the system's
# own zone file, which libc looks up again for every local time it computes).
round() {
  local zone=$1
  if [ -n "$zone" ]; then export TZ=$zone; else unset TZ; fi
  declare -A WALL CPU
  local names=("cat | cat" "horalin ts" "horalin ts /I /S /F" "horalin run -- cat FILE" "ts '%Y-%m-%d %H:%M:%.S'"
               "ts")
  local commands=("cat | cat" "cat | '$HORALIN' ts" "cat | '$HORALIN' ts /I /S /F" "'$HORALIN' run -- cat '$INPUT'"
                  "cat | ts '%Y-%m-%d %H:%M:%.S'" "cat | ts")
  local i w c
  for i in "${!names[@]}"; do
    read -r w c < <(measure "${commands[$i]}")
    WALL[${names[$i]}]=$w
    CPU[${names[$i]}]=$c
  done
  echo
  local shown=${zone:-"unset (the zone file of the system)"}
  echo "TZ $shown: $LINES lines, $BYTES bytes; best of $RUNS runs, read through 'cat |'"
  printf '%-36s %9s %9s %11s\n' "pipeline" "wall s" "cpu s" "MB/s (wall)"
  for name in "${names[@]}"; do
    printf '%-36s %9.3f %9.3f %11.1f\n' "$name" "${WALL[$name]}" "${CPU[$name]}" \
      "$(awk -v b="$BYTES" -v t="${WALL[$name]}" 'BEGIN {print (t > 0 ? b / t / 1e6 : 0)}')"
  done
  local sub="ts '%Y-%m-%d %H:%M:%.S'"
  echo "moreutils ts, sub-second stamps (like ours) / horalin ts: $(ratio "${WALL[$sub]}" "${WALL[horalin ts]}")x wall," \
       "$(ratio "${CPU[$sub]}" "${CPU[horalin ts]}")x cpu (goal: 30x)"
  echo "moreutils ts, its default format / horalin ts:           $(ratio "${WALL[ts]}" "${WALL[horalin ts]}")x wall," \
       "$(ratio "${CPU[ts]}" "${CPU[horalin ts]}")x cpu"
  echo "horalin run -- cat FILE / horalin ts:                     $(ratio "${WALL[horalin run -- cat FILE]}" "${WALL[horalin ts]}")x wall," \
       "$(ratio "${CPU[horalin run -- cat FILE]}" "${CPU[horalin ts]}")x cpu (goal: within 1.5x)"
  echo "horalin ts / cat | cat:                                   $(ratio "${WALL[horalin ts]}" "${WALL[cat | cat]}")x wall," \
       "$(ratio "${CPU[horalin ts]}" "${CPU[cat | cat]}")x cpu (goal: within 2x)"
}

round UTC
round ""
export TZ=UTC

# TS by the input's encoding, file to /dev/null under TZ UTC: the lines above (ASCII); the
# same with accented and CJK words (UTF-8); with accented words only, in code page 1252
# (/CP:1252); the UTF-8 lines as UTF-16LE with a signature.
awk '{ sub(/user=/, i % 2 ? "usuário=" : "名前="); sub(/ ok$/, " größe ok"); i++; print }' "$INPUT" >"$WORK/utf8.log"
awk '{ sub(/user=/, "usuário="); sub(/ ok$/, " größe ok"); print }' "$INPUT" | iconv -f UTF-8 -t CP1252 >"$WORK/cp1252.log"
{ printf '\xFF\xFE'; iconv -f UTF-8 -t UTF-16LE "$WORK/utf8.log"; } >"$WORK/utf16.log"
echo
echo "TZ UTC: horalin ts by input encoding, $LINES lines each; best of $RUNS runs, file to /dev/null"
printf '%-36s %9s %9s %11s\n' "input" "wall s" "cpu s" "MB/s (wall)"
for kind in ascii utf8 cp1252 utf16; do
  file=$WORK/$kind.log args=(ts)
  [ $kind = ascii ] && file=$INPUT
  [ $kind = cp1252 ] && args=(ts /CP:1252)
  best_wall="" best_cpu=""
  for _ in $(seq "$RUNS"); do
    /usr/bin/time -f '%e %U %S' -o "$WORK/time" "$HORALIN" "${args[@]}" <"$file" >/dev/null
    read -r wall user system <"$WORK/time"
    cpu=$(awk -v u="$user" -v s="$system" 'BEGIN {print u + s}')
    best_wall=$(awk -v a="$best_wall" -v b="$wall" 'BEGIN {print ((a == "" || b + 0 < a + 0) ? b : a)}')
    best_cpu=$(awk -v a="$best_cpu" -v b="$cpu" 'BEGIN {print ((a == "" || b + 0 < a + 0) ? b : a)}')
  done
  printf '%-36s %9.3f %9.3f %11.1f\n' "$kind ($(stat -c %s "$file") bytes)" "$best_wall" "$best_cpu" \
    "$(awk -v b="$(stat -c %s "$file")" -v t="$best_wall" 'BEGIN {print (t > 0 ? b / t / 1e6 : 0)}')"
done

# The best wall time of RUNS runs of a command with its input and output files.
best_wall() {
  local input=$1 best="" t
  shift
  for _ in $(seq "$RUNS"); do
    /usr/bin/time -f '%e' -o "$WORK/time" "$@" <"$input" >"$WORK/out" 2>/dev/null
    t=$(tail -1 "$WORK/time")
    best=$(awk -v a="$best" -v b="$t" 'BEGIN {print ((a == "" || b + 0 < a + 0) ? b : a)}')
  done
  echo "$best"
}

WINE=/usr/lib/wine/wine64
if [ -f "$HORALIN_WINDOWS" ] && [ -x "$WINE" ]; then
  export WINEPREFIX=${WINEPREFIX:-$PWD/$(dirname "$HORALIN_WINDOWS")/wineprefix} WINEDEBUG=-all
  "$WINE" "$HORALIN_WINDOWS" --version >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -p 60 || true  # the server stays up between the runs
  TENTH=$WORK/tenth.log
  head -n $((LINES / 10)) "$INPUT" >"$TENTH"
  echo
  echo "TZ UTC: cost of a line, file to file ($LINES lines less $((LINES / 10)); best of $RUNS runs)"
  printf '%-36s %9s %9s %12s\n' "program" "all s" "tenth s" "us a line"
  declare -A PER
  for name in posix windows; do
    if [ $name = posix ]; then cmd=("$HORALIN" ts); else cmd=("$WINE" "$HORALIN_WINDOWS" ts); fi
    all=$(best_wall "$INPUT" "${cmd[@]}")
    tenth=$(best_wall "$TENTH" "${cmd[@]}")
    PER[$name]=$(awk -v a="$all" -v t="$tenth" -v n="$LINES" 'BEGIN {printf "%.3f", (a - t) / (n - int(n / 10)) * 1e6}')
    printf '%-36s %9.3f %9.3f %12s\n' "horalin ts ($name)" "$all" "$tenth" "${PER[$name]}"
  done
  echo "windows (Wine) / posix, a line: $(ratio "${PER[windows]}" "${PER[posix]}")x (goal: within 10x)"
fi

# Memory: the peak resident size over the input above and over about 1 GB streamed through.
REPEAT=$(((1000000000 + BYTES - 1) / BYTES))
SMALL=$(/usr/bin/time -f '%M' "$HORALIN" ts <"$INPUT" 2>&1 >/dev/null | tail -1)
LARGE=$({ for _ in $(seq "$REPEAT"); do cat "$INPUT"; done; } | /usr/bin/time -f '%M' "$HORALIN" ts 2>&1 >/dev/null | tail -1)
echo
echo "peak resident size: $SMALL KB for $BYTES bytes, $LARGE KB for $((BYTES * REPEAT)) bytes"
if [ "$LARGE" -le $((SMALL + 1024)) ]; then
  echo "memory: constant"
else
  echo "memory: GROWS with the input" >&2
  exit 1
fi
