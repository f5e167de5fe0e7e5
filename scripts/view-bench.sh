#!/usr/bin/env bash
# The viewer's benchmark: builds the program (build/) and prints one table
# from one run: the server's answer to a re-run against the bare activation,
# and the page's time from a change of the bevel size until the new result is
# drawn in headless Chromium, at 1,536 and 16,224 quads. Not part of the tests.
# CORVANE_BASELINE_PROGRAM=/path/to/an/older/corvane times that program's
# page too, in the same run, and prints the ratio.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target corvane
CORVANE_BUILD_DIR=build CORVANE_SOURCE_DIR=. exec /usr/bin/python3 bench/view_bench.py
