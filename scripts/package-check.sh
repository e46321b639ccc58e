#!/usr/bin/env bash
# Builds the packages - the .deb of the POSIX build and, where the cross compiler is
# there, the .zip of the Windows build - and checks them: the .deb unpacked into a
# scratch root and (as root) installed with apt-get, its horalin run, and removed again.
#
#   scripts/package-check.sh            everything
#   HORALIN_PACKAGE_INSTALL=0 ...       no installation on the machine (scratch root only)
#   HORALIN_PACKAGE_WINDOWS=0 ...       no Windows build
set -euo pipefail
cd "$(dirname "$0")/.."

step() { printf '\n== %s\n' "$*"; }
fail() { printf 'package-check: %s\n' "$*" >&2; exit 1; }

step "POSIX build and .deb"
cmake --preset posix >/dev/null
cmake --build build/posix
rm -rf build/posix/packages
(cd build/posix && cpack -G DEB >/dev/null)
deb=$(ls "$PWD"/build/posix/packages/horalin_*.deb)
dpkg-deb -c "$deb"

if [ "${HORALIN_PACKAGE_WINDOWS:-1}" = 1 ] && command -v x86_64-w64-mingw32-g++-win32 >/dev/null; then
  step "Windows build and .zip"
  cmake --preset windows >/dev/null
  cmake --build build/windows
  rm -rf build/windows/packages
  (cd build/windows && cpack -G ZIP >/dev/null)
  zip=$(ls "$PWD"/build/windows/packages/horalin-*-win64.zip)
  listing=$(python3 -m zipfile -l "$zip")
  echo "$listing"
  for entry in Horalin.dll Horalin.chm horalin.exe host/TakeCmd.dll README.txt LICENSE.txt; do
    grep -q "win64/$entry " <<<"$listing" || fail "$entry is missing from $zip"
  done
  # Stripped: no symbols and no debug sections in the package; the build tree keeps both.
  unzipped=$(mktemp -d)
  python3 -m zipfile -e "$zip" "$unzipped"
  for binary in Horalin.dll horalin.exe host/TakeCmd.dll; do
    file=$(ls "$unzipped"/*/"$binary")
    if grep -q '\.debug' <<<"$(x86_64-w64-mingw32-objdump -h "$file")"; then fail "$binary in the .zip has debug sections"; fi
    grep -q 'no symbols' <<<"$(x86_64-w64-mingw32-nm "$file" 2>&1)" || fail "$binary in the .zip has symbols"
  done
  grep -q ' T GetPluginInfo' <<<"$(x86_64-w64-mingw32-nm build/windows/Horalin.dll)" ||
    fail "build/windows/Horalin.dll has lost its symbols"
  grep -q "MIT License" "$unzipped"/*/LICENSE.txt || fail "LICENSE.txt in the .zip is not the licence"
  rm -rf "$unzipped"
  echo "the .zip: stripped binaries, the licence"
fi

step "The .deb in a scratch root"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg-deb -x "$deb" "$scratch"
grep -q "MIT License" "$scratch/usr/share/doc/horalin/copyright" || fail "the .deb has no copyright file"
grep -q ', stripped' <<<"$(file "$scratch/usr/bin/horalin")" || fail "horalin in the .deb is not stripped"
grep -q 'not stripped' <<<"$(file build/posix/horalin)" || fail "build/posix/horalin has lost its symbols"
echo "the .deb: a stripped program, the copyright file"
version=$("$scratch/usr/bin/horalin" --version)
# The version the build was given (project(VERSION) in CMakeLists.txt), as four numbers.
expected=$(sed -n 's/^project(Horalin VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
while [ "$(tr -cd . <<<"$expected" | wc -c)" -lt 3 ]; do expected=$expected.0; done
[ "$version" = "horalin $expected" ] || fail "unexpected version: $version (the build's is $expected)"
echo "$version"
for file in usr/share/man/man1/horalin.1 usr/share/doc/horalin/Horalin.html usr/share/doc/horalin/ts.1 \
  usr/share/doc/horalin/f_datefmt.html; do
  [ -f "$scratch/$file" ] || fail "$file is missing from the .deb"
done
if command -v man >/dev/null; then
  # The help pages are found beside the program, in ../share/doc/horalin.
  # The whole page is read before it is searched: a reader that stopped at the first match
  # would leave the viewer writing into a closed pipe.
  page=$(env -u DISPLAY -u WAYLAND_DISPLAY -u HoralinHelp -u PluginHelp "$scratch/usr/bin/horalin" help ts </dev/null)
  grep -q "HORALIN-TS" <<<"$page" || fail "horalin help ts did not show the installed manual page"
  echo "horalin help ts: the installed manual page"
fi

if [ "$(id -u)" = 0 ] && [ "${HORALIN_PACKAGE_INSTALL:-1}" = 1 ] && command -v apt-get >/dev/null; then
  step "apt-get install, run, remove"
  if dpkg -s horalin >/dev/null 2>&1; then
    echo "horalin is installed on this machine already: the install check is left out"
  else
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -q "$deb" >/dev/null
    /usr/bin/horalin --version
    [ -f /usr/share/man/man1/horalin.1 ] || fail "the manual page was not installed"
    [ -f /usr/share/doc/horalin/ts.html ] || fail "the help pages were not installed"
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 remove --purge -y -q horalin >/dev/null
    [ ! -e /usr/bin/horalin ] && [ ! -e /usr/share/doc/horalin ] && [ ! -e /usr/share/man/man1/horalin.1 ] ||
      fail "files were left behind after removal"
    echo "installed, run and removed cleanly"
  fi
fi
step "package-check: all good"
