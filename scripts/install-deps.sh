#!/usr/bin/env bash
# Installs what the build and the tests need on a fresh Debian 12 machine.
# Packages already present are left alone; apt is only consulted when
# something is missing. Extra package groups: "win32" (cross compiler and
# wine), "fuzz" (clang and its sanitizer runtimes).
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config libgtest-dev libbenchmark-dev
          libcli11-dev libtinyobjloader-dev libstb-dev)
for group in "$@"; do
  case "$group" in
    win32) packages+=(g++-mingw-w64-i686-posix binutils-mingw-w64-i686 googletest) ;;
    fuzz) packages+=(clang libclang-rt-14-dev) ;;
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
  echo "install-deps: installing ${missing[*]}" >&2
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi
