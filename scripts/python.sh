#!/usr/bin/env bash
# Installs the Python module `corvane` into a virtual environment at .venv in
# the checkout: installs what is missing, builds the package folder
# (build/python/corvane: the extension, its stub and Corvane.p beside it)
# and copies it into the environment's site-packages. The environment sees
# Debian's numpy and pytest; nothing is fetched from a package index.
#
#   scripts/python.sh && .venv/bin/python -c "import corvane"
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target corvane_python

# Debian's interpreter, whatever python3 comes first on PATH; an environment
# made from another one is made anew.
if [ ! -x .venv/bin/python ] || [ "$(.venv/bin/python -c 'import sys; print(sys.base_prefix)')" != /usr ]; then
  rm -rf .venv
  /usr/bin/python3 -m venv --system-site-packages .venv
fi
site=$(.venv/bin/python -c 'import sysconfig; print(sysconfig.get_paths()["platlib"])')
rm -rf "$site/corvane"
cp -r build/python/corvane "$site/corvane"
.venv/bin/python -c 'import corvane; print("corvane installed in", corvane.__file__.rsplit("/", 1)[0])'
