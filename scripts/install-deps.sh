#!/usr/bin/env bash
# Installs what the build and the tests need on a fresh Debian 12 machine.
# Packages already present are left alone; apt is only consulted when
# something is missing. Extra package groups: "win32" (cross compiler and
# wine), "fuzz" (clang and its sanitizer runtimes), "lint" (clang-format and
# clang-tidy).
set -euo pipefail

need_i386=0
# The viewer: cpp-httplib for its server, npm for three.js (below), and
# Chromium with its driver and Selenium for the browser tests.
packages=(cmake ninja-build g++ pkg-config libgtest-dev libbenchmark-dev
          libcli11-dev libtinyobjloader-dev libstb-dev libtinygltf-dev
          libcpp-httplib-dev nlohmann-json3-dev python3-selenium python3-pil chromium chromium-driver
          # the Python module: built against Debian's interpreter and numpy,
          # and installed by pip without build isolation with Debian's
          # setuptools and wheel
          python3-dev python3-venv pybind11-dev python3-numpy python3-pytest python3-setuptools python3-wheel
          # the batch over whole libraries runs on Dask's distributed scheduler
          python3-distributed)
# A Node.js installed from elsewhere brings its own npm; Debian's would
# conflict with it.
command -v npm >/dev/null 2>&1 || packages+=(npm)
for group in "$@"; do
  case "$group" in
    # The 32-bit Windows module: the MinGW-w64 i686 cross compiler, the
    # GoogleTest sources to build for it, and wine with its 32-bit part
    # (which needs the i386 architecture) to run what it builds.
    win32) packages+=(g++-mingw-w64-i686-posix binutils-mingw-w64-i686 googletest wine wine32:i386)
           need_i386=1 ;;
    fuzz) packages+=(clang libclang-rt-14-dev) ;;
    lint) packages+=(clang-format clang-tidy) ;;
    *) echo "install-deps: unknown group '$group'" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
if [ ${#missing[@]} -gt 0 ]; then
  # A Debian installed with a root password has no sudo.
  if [ ${#sudo_cmd[@]} -gt 0 ] && ! command -v sudo >/dev/null 2>&1; then
    self="$(cd "$(dirname "$0")" && pwd)/install-deps.sh${*:+ $*}"
    echo "install-deps: missing ${missing[*]}" >&2
    echo "install-deps: there is no sudo here; install them as root with" >&2
    echo "  su -c '$self'" >&2
    echo "install-deps: then run this command again" >&2
    exit 1
  fi
  if [ "$need_i386" -eq 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "install-deps: adding the i386 architecture" >&2
    "${sudo_cmd[@]}" dpkg --add-architecture i386
  fi
  echo "install-deps: installing ${missing[*]}" >&2
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# The viewer's page: three.js at the version the lockfile names.
cd "$(dirname "$0")/.."
want=$(node -p "require('./package-lock.json').packages['node_modules/three'].version")
have=$(node -p "try { require('./node_modules/three/package.json').version } catch (e) { '' }")
if [ "$want" != "$have" ]; then
  echo "install-deps: installing three.js $want (npm ci)" >&2
  npm ci --no-audit --no-fund --loglevel=error >/dev/null
fi
