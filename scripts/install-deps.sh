#!/usr/bin/env bash
# Installs, with apt-get, what building and testing Horalin needs on Debian. Packages
# that are already there are left alone, so a second run costs nothing.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config        # the POSIX build
  libabsl-dev                             # the POSIX zone service (Abseil's time zone library)
  libgtest-dev libbenchmark-dev           # unit tests, benchmarks
  g++-mingw-w64-x86-64 mingw-w64-tools    # the Windows build
  wine64                                  # running the Windows build
  locales-all                             # real locales for the locale tests
  tzdata                                  # real zones for the zone tests
  moreutils time                          # benchmarks: the reference stamper, peak memory
  fp-utils python3                        # the compiled help file, help rendering
  clang libclang-rt-14-dev                # fuzzing
  clang-format clang-tidy                 # the source layout check, the static checks
  valgrind                                # memory checks of the end-to-end tests
  faketime                                # a wall clock set back under a running TS
)
[ "${HORALIN_DEPS_MINIMAL:-}" = 1 ] && packages=(cmake ninja-build g++ libabsl-dev libgtest-dev locales-all tzdata)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get -o DPkg::Lock::Timeout=600 update -qq
  apt-get -o DPkg::Lock::Timeout=600 install -y -qq "${missing[@]}" >/dev/null
fi
