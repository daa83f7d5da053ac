#!/usr/bin/env bash
# Runs the whole test suite: the native unit and contract tests, then the
# contract tests of VESK.SPI and VESK.SPH under Wine, then the suite under
# ASan/UBSan, the thread tests under TSan and a short run of every fuzzer.
# Builds what is needed first.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/build.sh --no-samples

status=0
echo "== native"
ctest --test-dir build/native --output-on-failure || status=1
echo "== win32 (Wine)"
ctest --test-dir build/win32 --output-on-failure || status=1
echo "== win64 (Wine)"
ctest --test-dir build/win64 --output-on-failure || status=1
echo "== hardening (sanitizers, threads, fuzzing)"
bash tools/hardening.sh || status=1
exit $status
