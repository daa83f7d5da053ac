#!/usr/bin/env bash
# Runs the whole test suite: the native unit and contract tests, then the
# contract tests of VESK.SPI and VESK.SPH under Wine, the unit tests over the
# careful decoding loops alone, then the suite under
# ASan/UBSan, the thread tests under TSan and a short run of every fuzzer.
# Builds what is needed first.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/build.sh --no-samples

status=0
echo "== native"
ctest --test-dir build/native --output-on-failure || status=1
# The bootstrap has 32-bit programs run under qemu where this machine runs
# 64-bit code only; the tests that emulation cannot carry are told so.
if grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386 2>/dev/null; then
  echo "32-bit programs run emulated (qemu-i386) on this machine: each Wine start of one takes about a minute"
  export VESK_I386_EMULATED=1
fi
echo "== win32 (Wine)"
ctest --test-dir build/win32 --output-on-failure || status=1
echo "== win64 (Wine)"
ctest --test-dir build/win64 --output-on-failure || status=1
echo "== careful decoding (the decoders' fast loops switched off)"
if cmake -S . -B build/careful -G Ninja -DCMAKE_BUILD_TYPE=Release -DVESK_CAREFUL_DECODING=ON >/dev/null &&
   ninja -C build/careful unit_tests >/dev/null; then
  build/careful/unit_tests --gtest_brief=1 || status=1
else
  echo "careful build failed"
  status=1
fi
echo "== hardening (sanitizers, threads, fuzzing)"
bash tools/hardening.sh || status=1
exit $status
