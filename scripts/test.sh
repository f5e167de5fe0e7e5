#!/usr/bin/env bash
# The test command: installs what is missing, builds everything with
# warnings as errors, checks the Windows module under wine, runs the fuzz
# targets briefly and every test, then runs every test again in a build with
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

scripts/install-deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_WERROR=ON >/dev/null
cmake --build build -j"$jobs"
# The 32-bit Windows module, its tests under wine, and its golden runs
# compared byte for byte with this build's.
scripts/win32.sh build
# Each fuzz target for a minute from its seed corpus.
scripts/fuzz.sh 60
ctest --test-dir build --output-on-failure -j"$jobs"
# The Python module, installed into .venv from this build, and its tests.
scripts/python.sh
.venv/bin/python -m pytest -q python/tests

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_WERROR=ON \
  -DCORVANE_SANITIZE=ON -DCORVANE_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"
