#!/usr/bin/env bash
# Builds the horalin command and shows what it does.
set -euo pipefail
cd "$(dirname "$0")/.."
HORALIN_DEPS_MINIMAL=1 scripts/install-deps.sh
cmake --preset posix -DHORALIN_BENCH=OFF >/dev/null
cmake --build build/posix --target horalin
h=build/posix/horalin

show() { printf '\n$ %s\n' "$*"; eval "$@" || true; }

show "$h --version"
show "$h info"
show "$h usage ts"
show "printf 'first line\nsecond line\n' | $h ts"
show "{ echo compiling; sleep 0.3; echo linking; sleep 0.2; echo done; } | $h ts /I /S /F %H:%M:%S"
show "$h run /M /F %H:%M:%S -- sh -c 'echo compiling; sleep 0.2; echo \"warning: unused x\" >&2; sleep 0.2; echo done; exit 3'"
show "$h datefmt '2024-02-29,%A, %#d %B %Y'"
show "$h datefmt '2026-W53-7T12:30,%F %H:%M (ISO week %V of %G, day %j)'"
show "TZ=America/New_York $h datefmt '2024-07-15 12:00,%F %H:%M %Z (%z), Unix time %s'"
show "$h datefmt '+1 Z,tomorrow in UTC: %A %F'"
show "$h datefmt '*,%Y-%m-%dT%H:%M:%S%z'"
show "$h datefmt '2024-02-29,%OY %#?d'"
show "$h datefmt '2024-13-01,%F'"
show "$h datefmt '2024-01-01 10,%H'"
show "printf '2024-02-29\\n1969-07-20 20:17\\n2024-W05-3\\n2023-366\\n' | $h datefmt --lines '%a %F %H:%M'"
