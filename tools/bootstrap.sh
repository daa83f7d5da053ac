#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12. Does nothing when
# everything is already present, so it is safe to run before every build.
set -euo pipefail

need_pkgs=(cmake ninja-build g++ clang libclang-rt-14-dev llvm pkg-config
           libgtest-dev libgmock-dev libbenchmark-dev libpng-dev
           g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686
           wine wine64 wine32:i386 valgrind)

missing=()
for p in "${need_pkgs[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "bootstrap: missing packages: ${missing[*]}; run as root to install them" >&2
  exit 1
fi

echo "bootstrap: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
