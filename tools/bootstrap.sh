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

install_packages() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "bootstrap: missing packages: $*; run as root to install them" >&2
    exit 1
  fi
  echo "bootstrap: installing $*" >&2
  export DEBIAN_FRONTEND=noninteractive
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  if [ -z "${apt_updated:-}" ]; then
    # A mirror in the middle of a sync fails one index now and then; the
    # lists that did arrive usually hold what we need, so go on with them.
    if ! apt-get update -q; then
      sleep 10
      apt-get update -q ||
        echo "bootstrap: apt-get update reported errors; going on with the package lists it fetched" >&2
    fi
    apt_updated=1
  fi
  if ! apt-get install -y -q --no-install-recommends "$@"; then
    # Without one arch's security list, apt mixes versions of one library
    # across amd64 and i386 and gives up; the release's own versions match.
    echo "bootstrap: retrying with the packages of the release itself" >&2
    apt-get install -y -q --no-install-recommends -t bookworm "$@"
  fi
}
[ ${#missing[@]} -eq 0 ] || install_packages "${missing[@]}"

# VESK.SPI is a 32-bit program, and so is the Wine loader that runs it. Some
# machines (virtual ones among them) run 64-bit code only; there the loader
# runs under qemu's user-mode emulation, registered for i386 programs. It is
# slow to start (about a minute) but gives the same results.
runs_i386() { /lib/ld-linux.so.2 --version >/dev/null 2>&1; }
if ! runs_i386; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "bootstrap: this machine cannot run 32-bit programs; run as root to set up emulation for them" >&2
    exit 1
  fi
  dpkg-query -W -f='${Status}' qemu-user-static 2>/dev/null | grep -q 'install ok installed' ||
    install_packages qemu-user-static
  misc=/proc/sys/fs/binfmt_misc
  [ -e "$misc/register" ] || mount -t binfmt_misc binfmt_misc "$misc"
  if [ ! -e "$misc/qemu-i386" ]; then
    echo "bootstrap: 32-bit programs run under qemu-i386-static on this machine" >&2
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' >"$misc/register"
  fi
  runs_i386 || { echo "bootstrap: 32-bit programs still cannot run" >&2; exit 1; }
fi
exit 0
