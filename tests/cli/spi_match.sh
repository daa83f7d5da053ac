#!/usr/bin/env bash
# Every sample decoded by gdconv into BMP must equal, byte for byte, the BMP
# that VESK.SPI gives under Wine through spihost.exe (file input, memory
# input, and a picture at an offset inside a larger file). Exits 77 (skipped)
# when Wine or the Windows build is not there.
#
#   spi_match.sh GDCONV WIN32_BUILD_DIR SAMPLES_DIR
set -u
GDCONV=$(realpath "$1")
WIN32=$(realpath -m "$2")
SAMPLES=$(realpath "$3")
SKIP=77
if ! command -v wine >/dev/null; then
  echo "skipped: wine is not installed"
  exit $SKIP
fi
if [ ! -f "$WIN32/VESK.SPI" ] || [ ! -f "$WIN32/spihost.exe" ]; then
  echo "skipped: no $WIN32/VESK.SPI or spihost.exe (build the win32 tree first)"
  exit $SKIP
fi
export WINEPREFIX="$WIN32/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
WORK=$(mktemp -d /tmp/gdconv_spi_XXXXXX)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK" || exit 2

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# The jobs are gathered first and run in one start of spihost.exe: a start
# of Wine takes seconds (a minute where 32-bit code runs emulated).
# job INPUT OUT.bmp [spihost options]
: >batch.txt
job() { echo "$*" >>batch.txt; }
run_jobs() {
  wine "$WIN32/spihost.exe" "$WIN32/VESK.SPI" --batch batch.txt >spi.txt 2>&1
  tr -d '\r' <spi.txt | awk '/^job:/ {name = $2} /^GetPicture:/ && $2 != "0" {print "VESK.SPI refused " name ": " $0}' >refused.txt
  while read -r line; do fail "$line"; done <refused.txt
}

shopt -s nullglob nocaseglob
samples=("$SAMPLES"/*.gd "$SAMPLES"/*.dcl "$SAMPLES"/*.hhp)
shopt -u nocaseglob
[ ${#samples[@]} -gt 0 ] || { echo "FAIL: no samples in $SAMPLES"; exit 1; }

# Copies under plain names: Wine sees the same name that gdconv is given.
mkdir in
cp "${samples[@]}" in/
"$GDCONV" convert in/* -d gdconv --format bmp || fail "gdconv failed on a sample"
for f in in/*; do
  job "$f" "spi-$(basename "$f").bmp"
done

# Memory input: no name, the content decides. (A palette picture would then
# read as a chain stream without an end: VESK.SPI shows what that gives,
# gdconv refuses it as cut short.)
memory_names="testcard-gd3-chain-lower.gd shapes-headerless-lz.dcl gradients-headerless-chain-bare.dcl"
for name in $memory_names; do
  job "in/$name" "mem-$name.bmp" --memory
done
{ head -c 7777 /dev/zero; cat in/testcard-gd2-lz.gd; } >inside.gd
job inside.gd inside-spi.bmp --offset 7777
run_jobs

for f in in/*; do
  name=$(basename "$f")
  cmp -s "spi-$name.bmp" "gdconv/${name%.*}.bmp" || fail "$name: gdconv and VESK.SPI differ"
done
for name in $memory_names; do
  "$GDCONV" convert "in/$name" --memory -o "mem-gdconv-$name.bmp" 2>/dev/null
  if [ -f "mem-gdconv-$name.bmp" ]; then
    cmp -s "mem-$name.bmp" "mem-gdconv-$name.bmp" || fail "$name as memory input: gdconv and VESK.SPI differ"
  else
    fail "$name as memory input: gdconv refused what VESK.SPI decoded"
  fi
done

# A picture inside a larger file.
"$GDCONV" convert inside.gd --offset 7777 -o inside-gdconv.bmp || fail "gdconv --offset 7777 failed"
cmp -s inside-spi.bmp inside-gdconv.bmp || fail "--offset 7777: gdconv and VESK.SPI differ"

if [ "$failures" -ne 0 ]; then
  echo "spi_match: $failures failures"
  exit 1
fi
echo "spi_match: ${#samples[@]} samples, memory input and an offset: gdconv and VESK.SPI agree byte for byte"
