#!/usr/bin/env bash
# The main job on a fresh Debian 12 machine: installs what is missing, builds
# the module (build/Corvane.p) and the corvane program (build/corvane), and
# chamfers a bundled example into out/, printing its counts and drawing a
# picture of it before and after.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target corvane

mkdir -p out
# Every option given, so that what earlier runs saved in the settings file
# does not change this result.
build/corvane examples/cube.obj -o out/cube.obj --size 0.25 --angle-mode disable --stats \
  --preview out/cube.png --preview-size 800,400
echo "main-job: wrote out/cube.obj and out/cube.png"
