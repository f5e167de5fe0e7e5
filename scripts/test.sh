#!/usr/bin/env bash
# The test command: installs what is missing, builds everything with
# warnings as errors, checks the layout and names of the files that changed,
# checks the Windows module under wine, runs the fuzz targets briefly and
# every test, again in a Release build, then runs every test again in a
# build with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

scripts/install-deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_WERROR=ON >/dev/null
cmake --build build -j"$jobs"
# The layout and the names of the C++ files the last commit changed (and of
# edits not yet committed), against .clang-format and .clang-tidy.
scripts/lint.sh
# The 32-bit Windows module, its tests under wine, and its golden runs
# compared byte for byte with this build's.
scripts/win32.sh build
# Each fuzz target for 45 seconds from its seed corpus (ten targets: the
# whole run stays within half an hour on two cores).
scripts/fuzz.sh 45
ctest --test-dir build --output-on-failure -j"$jobs"
# The tests again in the build type users build, Release (-O3): the same
# input must give the same bytes whatever the build type, and the golden
# runs check it. Without the benchmarks, the Python module and the viewer's
# browser test, which the build above covers; warnings are not errors here,
# as in a user's build (GCC 12 at -O3 warns of a null argument inside the
# standard library's vector copy in a test).
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_BENCH=OFF \
  -DCORVANE_PYTHON=OFF >/dev/null
cmake --build build-release -j"$jobs"
ctest --test-dir build-release --output-on-failure -j"$jobs" -E view_browser
# The Python module, installed into .venv from this build, and its tests.
scripts/python.sh
.venv/bin/python -m pytest -q python/tests

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_WERROR=ON \
  -DCORVANE_SANITIZE=ON -DCORVANE_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"
