#!/usr/bin/env bash
# Builds the module for the 32-bit Windows host and proves it there:
#   scripts/win32.sh [LINUX_BUILD_DIR]
#
# 1. installs what is missing (MinGW-w64 i686 cross compiler, wine with its
#    32-bit part);
# 2. cross-builds build-win32/Corvane.p, the Windows test runner and the
#    golden program with cmake/toolchain-i686-w64-mingw32.cmake;
# 3. builds the Linux module and golden program in LINUX_BUILD_DIR
#    (default build-w32lin), whose output the Windows one must equal;
# 4. makes a wine prefix in build-win32/wine-prefix if there is none and runs
#    the cross build's tests: the module's export and import tables, the
#    end-to-end activation tests under wine, and the golden comparison.
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
linux_build=${1:-build-w32lin}
case "$linux_build" in /*) ;; *) linux_build="$root/$linux_build" ;; esac
win_build="$root/build-win32"
jobs=$(nproc)

scripts/install-deps.sh win32

echo "win32: Linux build in $linux_build" >&2
if [ ! -f "$linux_build/CMakeCache.txt" ]; then
  cmake -S . -B "$linux_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$linux_build" -j"$jobs" --target Corvane corvane_golden

echo "win32: cross build in $win_build" >&2
cmake -S . -B "$win_build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-w64-mingw32.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_WERROR=ON \
  -DCORVANE_TESTS=ON -DCORVANE_BENCH=OFF -DCORVANE_CLI=OFF \
  -DCORVANE_LINUX_BUILD="$linux_build" \
  -DCORVANE_WINEPREFIX="$win_build/wine-prefix" >/dev/null
cmake --build "$win_build" -j"$jobs"

export WINEPREFIX="$win_build/wine-prefix"
export WINEARCH=win32
export WINEDEBUG=-all,err+module        # keeps "DLL not found" messages
# No .NET or browser installers, and no menu entries or file associations
# written into the user's home for the prefix's programs.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "win32: creating the wine prefix $WINEPREFIX" >&2
  rm -rf "$WINEPREFIX"
  wineboot --init </dev/null >/dev/null 2>&1
fi
# One wine server for the whole run, started here with the prefix's
# background processes, so that each test starts quickly and no test's
# output pipe is held open by a process it did not start.
# A server already running for this prefix (fails to start a second one)
# is used as it is and left running.
if wineserver -p </dev/null >/dev/null 2>&1; then
  trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
fi
wine cmd /c exit </dev/null >/dev/null 2>&1

ctest --test-dir "$win_build" --output-on-failure
