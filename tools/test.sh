#!/usr/bin/env bash
# Runs the whole test suite: the native unit and contract tests, then the
# contract tests of VESK.SPI and VESK.SPH under Wine. Builds what is needed first.
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

status=0
echo "== native"
ctest --test-dir build/native --output-on-failure || status=1
echo "== win32 (Wine)"
ctest --test-dir build/win32 --output-on-failure || status=1
echo "== win64 (Wine)"
ctest --test-dir build/win64 --output-on-failure || status=1
exit $status
