#!/usr/bin/env bash
# Builds and runs every test: the static checks, the POSIX unit and end-to-end tests, the
# same again under AddressSanitizer and UndefinedBehaviorSanitizer, and the Windows build
# under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

export TZ=UTC LC_ALL=C.UTF-8

# Each step's heading, and when the next begins, the seconds the one before took: on the
# clock, and of processor time (user and system, of everything it ran), which is what to
# compare when other work shares the machine.
times_file=$(mktemp)
cpu_now() {  # sets cpu; `times` runs in this shell, where the steps' processes were waited for
  times >"$times_file"
  cpu=$(awk 'NR == 2 { split($1, u, /[ms]/); split($2, s, /[ms]/); printf "%d", u[1] * 60 + u[2] + s[1] * 60 + s[2] }' \
    "$times_file")
}
cpu_now
step_start=$SECONDS step_cpu=$cpu step_name=
step() {
  cpu_now
  [ -n "$step_name" ] && echo "-- $step_name: $((SECONDS - step_start)) s, processor $((cpu - step_cpu)) s"
  step_start=$SECONDS step_cpu=$cpu step_name=$1
  if [ -n "$1" ]; then echo "== $1"; else echo "-- all: $SECONDS s, processor $cpu s"; rm -f "$times_file"; fi
}
trap 'step ""' EXIT

step "Source layout (clang-format, every source named in the build, function length of the tests)"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
# The builds name their sources one by one: a source that none names would not be built
# (a test file left out would not even fail).
for source in $(git ls-files '*.cpp'); do
  grep -qF "$source" CMakeLists.txt cmake/*.cmake || { echo "$source is not named in CMakeLists.txt or cmake/" >&2; exit 1; }
done
# The program's functions are held to 60 lines by clang-tidy below; those of the tests,
# benchmarks and fuzz targets by their layout.
scripts/function-length.py

step "Windows build (mingw-w64)"
cmake --preset windows >/dev/null
cmake --build build/windows

# One Wine prefix for the Windows tests, made before they run, and a Wine server that
# stays up between the programs they start.
export WINEPREFIX="$PWD/build/windows/wineprefix" WINEDEBUG=-all
/usr/lib/wine/wine64 build/windows/horalin.exe --version >/dev/null 2>&1 || true
/usr/lib/wine/wineserver -p 300 || true
trap 'step ""; /usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT

step "POSIX build, unit and end-to-end tests (POSIX host and Windows host under Wine)"
cmake --preset posix -DHORALIN_WINDOWS_BUILD="$PWD/build/windows" >/dev/null
cmake --build build/posix
# Each layer's library links only the layers it names (the include roots cannot stop a
# symbol declared by hand).
scripts/layer-links.py build/posix
scripts/layer-links.py build/windows
ctest --test-dir build/posix --output-on-failure

step "Static checks (clang-tidy) of both builds' sources"
scripts/clang-tidy.sh

step "Packages: the .deb installed, run and removed; the Windows .zip"
scripts/package-check.sh

step "The same under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset posix-sanitize >/dev/null
cmake --build build/posix-sanitize
ctest --test-dir build/posix-sanitize --output-on-failure

step "Fuzz targets (libFuzzer, ASan + UBSan): a short run of each"
scripts/fuzz-smoke.sh
