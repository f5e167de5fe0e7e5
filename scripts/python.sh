#!/usr/bin/env bash
# Installs the Python module `corvane` into a virtual environment at .venv in
# the checkout: installs what is missing, then `pip install .` without build
# isolation, building the package folder (build/python/corvane: the
# extension, its stub and Corvane.p beside it) in the checkout's build/. The
# environment sees Debian's numpy, pytest and build tools; nothing is
# fetched from a package index.
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
# An install of before pip knew the package: a bare folder pip would not replace.
site=$(.venv/bin/python -c 'import sysconfig; print(sysconfig.get_paths()["platlib"])')
[ -d "$site/corvane" ] && ! .venv/bin/python -m pip show -q corvane >/dev/null 2>&1 && rm -rf "$site/corvane"
CORVANE_CMAKE_BUILD_DIR=build .venv/bin/python -m pip install -q --no-build-isolation --no-index .
.venv/bin/python -c 'import corvane; print("corvane installed in", corvane.__file__.rsplit("/", 1)[0])'
