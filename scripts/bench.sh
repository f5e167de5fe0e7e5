#!/usr/bin/env bash
# The benchmarks: builds the modules and the benchmark program in an
# optimised build (build-bench) and runs them once, printing Google
# Benchmark's lines and then one table: for object mode (plain and angle
# limited) on quad spheres of 1,536, 6,144 and 16,224 quads, and for the
# two-polygon mode on tube rings of 500, 2,000 and 8,000 pairs, the time of
# the indexed module, of the literal module (given up after a minute) and of
# a plain copy of the same mesh through the same host (the floor), their
# ratios, the targets they are held to, and the peak resident set of one
# activation at 16,224 quads; then the Python module's call on the largest
# sphere against the activation inside it. All figures come from this one run: the indexed
# module and the floor are timed in pairs, repeated and interleaved, and the
# table gives medians.
#
#   scripts/bench.sh [extra Google Benchmark flags, e.g. --benchmark_filter=object_plain]
#
# The literal runs take several minutes in all. Nothing here is part of the
# test run.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_TESTS=OFF \
  -DCORVANE_CLI=OFF -DCORVANE_BENCH=ON >/dev/null
cmake --build build-bench -j"$(nproc)" --target corvane_bench corvane_python
build-bench/bench/corvane_bench --benchmark_color=false "$@"
# The Python module around the same activation, in the same optimised build.
echo
PYTHONPATH=build-bench/python /usr/bin/python3 python/bench/bench_chamfer.py
