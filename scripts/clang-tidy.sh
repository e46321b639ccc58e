#!/usr/bin/env bash
# Runs clang-tidy, with the checks in .clang-tidy, over the program's sources in the
# compile databases of the POSIX and the Windows build (build/posix and build/windows,
# configured first), each source of each build once, as many at a time as there are
# processors. The sources shared by both are checked in both: long is 32 bits on Windows.
# The tests, benchmarks and fuzz targets are left out: each test file costs seconds of
# parsing (the test framework, <regex>), the program's sources a fraction of one.
# Exits non-zero on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."

# The sources of a build's compile database that belong to the program.
sources() {
  python3 - "$1" <<'PY'
import json, os, sys
seen = set()
for entry in json.load(open(os.path.join(sys.argv[1], "compile_commands.json"))):
    path = os.path.relpath(os.path.join(entry["directory"], entry["file"]))
    if path.endswith(".cpp") and not path.startswith(("tests/", "bench/", "fuzz/", "build/")) and path not in seen:
        seen.add(path)
        print(path)
PY
}

# clang reads the mingw compile commands as a Windows target, with mingw's C++ library.
windows_args=(--extra-arg=--target=x86_64-w64-mingw32)
if command -v x86_64-w64-mingw32-g++-win32 >/dev/null; then
  while read -r dir; do windows_args+=("--extra-arg=-isystem$dir"); done < <(
    x86_64-w64-mingw32-g++-win32 -std=c++20 -E -x c++ -v - </dev/null 2>&1 |
      sed -n '/^#include <\.\.\.> search starts here:/,/^End of search list/p' | sed -n 's|^ \(/.*/c++.*\)|\1|p')
fi

failed=0
for build in build/posix build/windows; do
  [ -f "$build/compile_commands.json" ] || continue
  args=()
  [ "$build" = build/windows ] && args=("${windows_args[@]}")
  if ! sources "$build" | xargs -P "$(nproc)" -n 4 clang-tidy -quiet -p "$build" "${args[@]}" 2>/dev/null; then
    failed=1
  fi
  echo "clang-tidy: $(sources "$build" | wc -l) sources of $build"
done
exit $failed
