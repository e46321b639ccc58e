#!/usr/bin/env bash
# Long runs of the horalin program (not part of the test suite):
#  1. GIGABYTES of piped lines (10 by default) through "horalin ts": the peak resident
#     memory must stay flat, whatever the amount of input;
#  2. one line of 1 GiB with no line end: it comes out split, with nothing lost (the text
#     after the stamps has the input's bytes and checksum);
#  3. binary junk (256 MiB of random bytes, as code-page text): no crash, and every byte
#     accounted for (the text after the stamps, read back as the code page, has the
#     input's bytes less its line ends and zero bytes).
#   bench/longrun.sh [GIGABYTES]
set -euo pipefail
cd "$(dirname "$0")/.."
gigabytes="${1:-10}"
export TZ=UTC LC_ALL=C.UTF-8
cmake --preset posix >/dev/null
cmake --build build/posix >/dev/null
program="$PWD/build/posix/horalin"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0

peak() { sed -n 's/^\s*Maximum resident set size (kbytes): //p' "$1"; }
check() {  # description, expected, actual
  if [ "$2" = "$3" ]; then echo "  ok: $1"; else echo "  FAILED: $1: expected $2, got $3"; status=1; fi
}

echo "== $gigabytes GB of lines through ts (/T)"
line='the quick brown fox jumps over the lazy dog, line of a long log 0123456789'
bytes=$((gigabytes * 1000000000))
for size in $((bytes / 10)) $bytes; do
  start=$(date +%s)
  { yes "$line" || true; } | head -c "$size" | /usr/bin/time -v -o "$work/time" "$program" ts /T | wc -c >"$work/count"
  echo "  $((size / 1000000)) MB in: $(cat "$work/count") bytes out in $(( $(date +%s) - start )) s," \
       "peak RSS $(peak "$work/time") KiB"
done

echo "== one line of 1 GiB without a line end (/T)"
{ head -c $((1 << 30)) /dev/zero || true; } | tr '\0' 'x' >"$work/line"
/usr/bin/time -v -o "$work/time" "$program" ts /T <"$work/line" >"$work/out"
# Each output line is the stamp (12 characters), a blank, a part and LF.
cut -c14- "$work/out" | tr -d '\n' >"$work/text"
check "bytes after the stamps" "$(stat -c %s "$work/line")" "$(stat -c %s "$work/text")"
check "checksum" "$(md5sum <"$work/line" | cut -d' ' -f1)" "$(md5sum <"$work/text" | cut -d' ' -f1)"
echo "  $(wc -l <"$work/out") lines; peak RSS $(peak "$work/time") KiB"

echo "== 256 MiB of random bytes as code page 1252 (/T /U:CP1252)"
head -c $((256 << 20)) /dev/urandom >"$work/junk"
/usr/bin/time -v -o "$work/time" "$program" ts /T /U:CP1252 <"$work/junk" >"$work/out" || status=1
# Back to code page 1252 (whose five unmapped bytes come out as U+FFFD, and whose
# characters the program writes as UTF-8), then compared without line ends and zeros.
cut -c14- "$work/out" | tr -d '\n' | iconv -f UTF-8 -t CP1252 -c >"$work/text" 2>/dev/null || true
tr -d '\r\n\0\201\215\217\220\235' <"$work/junk" >"$work/expected"
check "bytes after the stamps" "$(stat -c %s "$work/expected")" "$(stat -c %s "$work/text")"
check "checksum" "$(md5sum <"$work/expected" | cut -d' ' -f1)" "$(md5sum <"$work/text" | cut -d' ' -f1)"
echo "  peak RSS $(peak "$work/time") KiB"
exit $status
