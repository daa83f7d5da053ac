#!/usr/bin/env bash
# Hostile input, faults and threads, as CI runs them:
#   asan  the whole native suite built with AddressSanitizer and UBSan (build/asan)
#   tsan  the concurrency tests built with ThreadSanitizer (build/tsan)
#   fuzz  every libFuzzer target built with clang, run over its corpus and
#         crashers, then fuzzing for FUZZ_SECONDS each (build/fuzz)
# Usage: tools/hardening.sh [asan] [tsan] [fuzz]   (all three by default)
# FUZZ_SECONDS (default 60) sets the fuzzing time per target; new inputs go
# to build/fuzz/work/<target>, crashes to build/fuzz/artifacts/.
set -uo pipefail
cd "$(dirname "$0")/.."
bash tools/bootstrap.sh || exit 1

parts=("$@")
[ ${#parts[@]} -eq 0 ] && parts=(asan tsan fuzz)
fuzz_seconds=${FUZZ_SECONDS:-60}
jobs=2
status=0
fail() {
  echo "hardening: FAILED: $*"
  status=1
}

run_asan() {
  echo "== hardening: native suite with ASan and UBSan"
  cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESK_SANITIZE=ON >/dev/null &&
    ninja -j"$jobs" -C build/asan >/dev/null || { fail "asan build"; return; }
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build/asan --output-on-failure || fail "asan suite"
}

run_tsan() {
  echo "== hardening: concurrency tests with ThreadSanitizer"
  cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread \
    -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread >/dev/null &&
    ninja -j"$jobs" -C build/tsan unit_tests plugin_contract vesk_plugin >/dev/null || { fail "tsan build"; return; }
  export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
  build/tsan/unit_tests --gtest_filter='Threads.*' || fail "tsan unit threads"
  build/tsan/plugin_contract build/tsan/libvesk.so HostThreads || fail "tsan contract threads"
  unset TSAN_OPTIONS
}

run_fuzz() {
  echo "== hardening: fuzz targets, ${fuzz_seconds}s each"
  cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESK_FUZZ=ON -DVESK_TESTS=OFF \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null || { fail "fuzz configure"; return; }
  local targets=(detect lz chain palette picture)
  ninja -j"$jobs" -C build/fuzz "${targets[@]/#/fuzz_}" >/dev/null || { fail "fuzz build"; return; }
  mkdir -p build/fuzz/artifacts
  for t in "${targets[@]}"; do
    local seeds=(fuzz/corpus/"$t")
    [ -d fuzz/crashers/"$t" ] && seeds+=(fuzz/crashers/"$t")
    mkdir -p build/fuzz/work/"$t"
    # Every known input first, then the timed run from the corpus.
    build/fuzz/fuzz_"$t" -runs=0 "${seeds[@]}" >build/fuzz/"$t".replay.log 2>&1 ||
      { tail -30 build/fuzz/"$t".replay.log; fail "fuzz_$t on its corpus"; continue; }
    build/fuzz/fuzz_"$t" build/fuzz/work/"$t" "${seeds[@]}" -max_total_time="$fuzz_seconds" -timeout=20 \
      -rss_limit_mb=2560 -print_final_stats=1 -artifact_prefix=build/fuzz/artifacts/"$t"- \
      >build/fuzz/"$t".log 2>&1 || { tail -30 build/fuzz/"$t".log; fail "fuzz_$t found a crash (build/fuzz/artifacts)"; }
    echo "fuzz_$t: $(grep -E '^stat::number_of_executed_units' build/fuzz/"$t".log | awk '{print $2}') runs," \
      "$(grep -oE 'cov: [0-9]+ ft: [0-9]+' build/fuzz/"$t".log | tail -1)"
  done
}

for part in "${parts[@]}"; do
  case "$part" in
    asan) run_asan ;;
    tsan) run_tsan ;;
    fuzz) run_fuzz ;;
    *) fail "unknown part $part" ;;
  esac
done
[ $status -eq 0 ] && echo "hardening: all passed"
exit $status
