#!/usr/bin/env bash
# Builds everything (native library and tools, the Windows plug-in and its
# host) and decodes the bundled sample pictures through VESK.SPI under Wine
# and through gdconv. With --no-samples it only builds.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/bootstrap.sh

jobs=$(nproc)
cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -j"$jobs" -C build/native
cmake -S . -B build/win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
ninja -j"$jobs" -C build/win32
cmake -S . -B build/win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DVESK_PLUGIN_NAME=VESK.SPH >/dev/null
ninja -j"$jobs" -C build/win64

[ "${1:-}" = "--no-samples" ] && exit 0

export WINEPREFIX="$PWD/build/win32/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
out=build/samples
mkdir -p "$out/spi" "$out/png"
shopt -s nullglob nocaseglob
samples=(samples/*.gd samples/*.dcl samples/*.hhp)
shopt -u nocaseglob
if [ ${#samples[@]} -eq 0 ]; then
  echo "no sample pictures in samples/"
  exit 0
fi
# One start of the host for all of them: Wine takes seconds to start.
for f in "${samples[@]}"; do
  echo "$f $out/spi/$(basename "$f").bmp"
done >"$out/spi/batch.txt"
wine build/win32/spihost.exe build/win32/VESK.SPI --batch "$out/spi/batch.txt" |
  tr -d '\r' | grep -E 'job:|GetPicture:|wrote' || true
if [ -x build/native/gdconv ]; then
  build/native/gdconv convert "${samples[@]}" -d "$out/png" --format png --force
fi
echo
echo "Decoded ${#samples[@]} sample pictures:"
echo "  through VESK.SPI under Wine: $out/spi/*.bmp"
[ -x build/native/gdconv ] && echo "  through gdconv:              $out/png/*.png"
exit 0
