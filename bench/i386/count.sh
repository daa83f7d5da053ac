#!/usr/bin/env bash
# Instructions per decode of the i686 code, for machines that run 32-bit
# programs only under qemu (where gdbench.exe's times say nothing): builds
# the decoders as a 32-bit Linux program with the same compiler flags as
# the Windows build's (-m32 -msse2 -O3), runs it under qemu-i386 with an
# instruction-counting plugin, and prints for each picture the decoder's
# and the reference decoder's instructions per decode and their ratio.
#
#   bash bench/i386/count.sh [PICTURE...]     (default: samples/*)
#
# Instructions are not time: memory-bound code (the sweeps, memset) runs at
# a lower rate than the reference's bit-by-bit loops. Compare builds by it,
# not against the timing targets. Needs root once, to install qemu-user and
# g++-multilib.
set -euo pipefail
cd "$(dirname "$0")/../.."
need=()
command -v qemu-i386 >/dev/null || need+=(qemu-user)
echo 'int main(){}' | g++ -m32 -x c++ - -o /dev/null 2>/dev/null || need+=(g++-multilib)
if [ ${#need[@]} -gt 0 ]; then
  apt-get install -y -q "${need[@]}" >/dev/null
fi
out=build/i386-count
mkdir -p "$out"
gcc -shared -fPIC -O2 -o "$out/insn_count.so" bench/i386/insn_count.c
g++ -m32 -msse2 -O3 -DNDEBUG -fno-exceptions -I. -o "$out/decode_once" bench/i386/decode_once.cpp \
  bench/reference.cpp decode/*.cpp format/variant.cpp
count() {  # FILE REPS [ref]
  INSN_COUNT_OUT="$out/count" qemu-i386 -plugin "$out/insn_count.so" "$out/decode_once" "$@"
  cat "$out/count"
}
[ $# -gt 0 ] || set -- samples/*.gd samples/*.dcl samples/*.hhp
printf '%-40s %12s %12s %8s\n' picture "decoder" "reference" "ref/dec"
for picture in "$@"; do
  base=$(count "$picture" 0)
  dec=$(( ($(count "$picture" 3) - base) / 3 ))
  ref=$(( ($(count "$picture" 1 ref) - base) ))
  printf '%-40s %12d %12d %8s\n' "$(basename "$picture")" "$dec" "$ref" "$(awk "BEGIN{printf \"%.2f\", $ref/$dec}")"
done
