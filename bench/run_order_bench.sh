#!/usr/bin/env bash
# The order of a command's output and error lines under `horalin run /M`, beside
# devscripts' annotate-output, in the same run.
#
#   bench/run_order_bench.sh [HORALIN] [RUNS]
#
# A small C program writes line K to standard error when K is even and to standard
# output when it is odd, each with one write: 2,000 lines without pauses, then 200 lines
# with a pause of 1 ms after each error line (an error line, then the output line that
# follows it 1 ms later). For each run the table shows the lines that are not in the
# place they were written in, the stream changes (a line of one stream after one of the
# other) whose later line was written first, and, for the paused lines, the pairs whose
# output line came out before its error line. Without pauses the order in which the two
# pipes' data came cannot be known line by line (each read takes what a pipe holds), so
# the counts there show only whether one stream is favoured; with pauses both should
# show 0 reversed pairs.
set -euo pipefail
cd "$(dirname "$0")/.."

HORALIN=${1:-build/posix/horalin}
RUNS=${2:-3}
export TZ=UTC LC_ALL=C.UTF-8
[ -x "$HORALIN" ] || { echo "no program at $HORALIN: build it first (cmake --build build/posix)" >&2; exit 1; }
if ! command -v annotate-output >/dev/null; then
  echo "installing devscripts for annotate-output" >&2
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends devscripts >/dev/null
fi

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cat >"$WORK/alternate.c" <<'EOF'
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
int main(int argc, char** argv) {
  int lines = atoi(argv[1]), pause = atoi(argv[2]);
  char text[32];
  for (int k = 0; k < lines; ++k) {
    int n = snprintf(text, sizeof text, "%c%d\n", k % 2 ? 'O' : 'E', k);
    if (write(k % 2 ? 1 : 2, text, (size_t)n) != n) return 1;
    if (pause) usleep((useconds_t)(k % 2 ? 5 * pause : pause));
  }
  return 0;
}
EOF
cc -O2 -o "$WORK/alternate" "$WORK/alternate.c"

# "PLACE CHANGES PAIRS": counts over the lines (tagged "E12" or "O13" as their last field).
count() {
  awk '{ t = $NF; k = substr(t, 2) + 0; s = substr(t, 1, 1); if (t !~ /^[EO][0-9]+$/) next
         if (k != n) place++
         if (n > 0 && s != last && k < prev) changes++
         if (s == "O" && !((k - 1) in seen)) pairs++
         seen[k] = 1; prev = k; last = s; n++ }
       END { printf "%d %d %d\n", place, changes, pairs }'
}

printf '%-28s %-5s %12s %16s %14s\n' "program" "run" "not in place" "changes reversed" "pairs reversed"
for test in "2000 0" "200 1000"; do
  read -r lines pause <<<"$test"
  for run in $(seq "$RUNS"); do
    read -r p c r < <("$HORALIN" run /M -- "$WORK/alternate" "$lines" "$pause" | count)
    printf '%-28s %-5s %12s %16s %14s\n' "horalin run /M ($lines, ${pause}us)" "$run" "$p" "$c" "$r"
    read -r p c r < <(annotate-output "$WORK/alternate" "$lines" "$pause" | count)
    printf '%-28s %-5s %12s %16s %14s\n' "annotate-output ($lines, ${pause}us)" "$run" "$p" "$c" "$r"
  done
done
