#!/usr/bin/env bash
# Command-line tests of gdconv: exit status and messages for files that are
# missing, not GD pictures or cut short; --offset and --memory; -j against a
# single-threaded run; no partial output after a failure; existing outputs
# kept without --force; encode's refusals and its round trip.
#
#   gdconv_cli.sh GDCONV MAKE_SAMPLES SAMPLES_DIR
set -u
GDCONV=$(realpath "$1")
MAKE_SAMPLES=$(realpath "$2")
SAMPLES=$(realpath "$3")
[ -x "$GDCONV" ] && [ -x "$MAKE_SAMPLES" ] && [ -d "$SAMPLES" ] || { echo "usage: gdconv_cli.sh GDCONV MAKE_SAMPLES SAMPLES_DIR"; exit 2; }
WORK=$(mktemp -d /tmp/gdconv_cli_XXXXXX)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK" || exit 2

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# run EXPECTED_STATUS ARGS...: runs gdconv, keeps stdout in out.txt and
# stderr in err.txt, and checks the exit status.
run() {
  local want=$1
  shift
  "$GDCONV" "$@" >out.txt 2>err.txt
  local got=$?
  [ "$got" -eq "$want" ] || fail "gdconv $* exited $got, wanted $want; stderr: $(cat err.txt)"
}
err_has() { grep -qF -- "$1" err.txt || fail "stderr lacks \"$1\": $(cat err.txt)"; }
out_has() { grep -qF -- "$1" out.txt || fail "stdout lacks \"$1\": $(cat out.txt)"; }
err_lines() {
  local n
  n=$(wc -l <err.txt)
  [ "$n" -eq "$1" ] || fail "stderr has $n lines, wanted $1: $(cat err.txt)"
}
no_temporaries() {
  if ls -a "$1" | grep -q '\.tmp-'; then fail "a temporary file was left in $1: $(ls -a "$1")"; fi
}

# A raw GD2 picture of random pixels: header, letter "b", 921600 bytes.
make_raw() {
  { printf 'GD2'; head -c 9025 /dev/zero; printf 'b\000'; head -c 921600 /dev/urandom; } >"$1"
}

mkdir in
for i in 1 2 3 4 5 6; do make_raw "in/r$i.gd"; done
cp "$SAMPLES"/*.gd "$SAMPLES"/*.dcl "$SAMPLES"/*.hhp in/

echo "== failures name the file and the reason"
run 1 convert missing.gd
err_has "gdconv: missing.gd: cannot open: No such file or directory"
err_lines 1
[ -e missing.png ] && fail "an output appeared for a missing file"

printf 'GD9 this is no picture' >notgd.gd
run 1 convert notgd.gd
err_has "gdconv: notgd.gd: not a GD picture: begins with \"GD\" but the format digit is \"9\""
[ -e notgd.png ] && fail "an output appeared for a non-GD file"

cp in/r1.gd photo.jpg
run 1 convert photo.jpg
err_has "gdconv: photo.jpg: not a GD picture by its name"
run 0 convert photo.jpg --memory -o photo-memory.png
[ -s photo-memory.png ] || fail "--memory did not let the content decide"

head -c 500000 in/r1.gd >cut.gd
run 1 convert cut.gd
err_has "gdconv: cut.gd: truncated: 490970 of the 921600 pixel bytes"
[ -e cut.png ] && fail "an output appeared for a truncated file"
no_temporaries .

head -c 9000 in/r1.gd >header-only.gd
run 1 convert header-only.gd
err_has "truncated: a GD2 header, but the input ends before its mode letter"

lz_size=$(stat -c %s in/testcard-gd2-lz.gd)
head -c $((lz_size / 2)) in/testcard-gd2-lz.gd >cut-lz.gd
run 1 convert cut-lz.gd
err_has "gdconv: cut-lz.gd: truncated: the lz stream ends before its end code"
[ -e cut-lz.png ] && fail "an output appeared for a truncated LZ file"

echo "== one bad file among good ones"
mkdir mixed
run 1 convert in/r1.gd missing.gd cut.gd in/r2.gd -d mixed
err_lines 3  # two failures and the summary
err_has "gdconv: 2 of 4 files failed"
[ -s mixed/r1.png ] && [ -s mixed/r2.png ] || fail "the good files were not converted"
[ -e mixed/cut.png ] && fail "the truncated file left an output"
no_temporaries mixed

echo "== info"
run 0 info in/testcard-gd2-chain.gd in/shapes.hhp
out_has "in/testcard-gd2-chain.gd: variant 9, GD2 header, letter \"P\", chain coding, 640 x 480, stream at byte 9030"
out_has "in/shapes.hhp: variant 0, .HHP palette form, palette coding, 640 x 400, stream at byte 0"
run 1 info --json in/gradients-headerless-chain-bare.dcl missing.gd
out_has '"variant": 5, "form": "headerless", "letter": null, "coding": "chain", "width": 640, "height": 480'
out_has '{"file": "missing.gd", "ok": false, "error": "cannot open: No such file or directory"}'
if command -v jq >/dev/null; then
  [ "$(jq length out.txt)" = 2 ] || fail "--json is not one JSON array of two entries"
fi

echo "== --offset"
{ head -c 4321 /dev/urandom; cat in/testcard-gd3-lz.gd; } >wrapped.bin
run 0 convert in/testcard-gd3-lz.gd -o direct.png
run 0 convert wrapped.bin --offset 4321 --memory -o offset.png
cmp -s direct.png offset.png || fail "--offset 4321 --memory decoded something else"
cp wrapped.bin wrapped.gd
run 0 info wrapped.gd --offset 4321
out_has "variant 11, GD3 header"
run 1 convert wrapped.gd --offset 99999999
err_has "offset 99999999 lies past the end of the file"
run 2 convert wrapped.gd --offset -5
err_has "--offset wants a byte count"

echo "== -j gives what one job gives"
run 0 convert in/* -d one -j 1
run 0 convert in/* -d many -j 4
[ -n "$(cat err.txt)" ] && fail "a successful run wrote to stderr (no progress bar off a terminal): $(cat err.txt)"
count=0
for f in one/*; do
  count=$((count + 1))
  cmp -s "$f" "many/$(basename "$f")" || fail "-j 4 output $(basename "$f") differs from -j 1"
done
[ "$count" -eq 23 ] || fail "expected 23 outputs, got $count"
run 0 convert in/* -d many-bmp -j 3 --format bmp
for i in 1 2 3; do
  [ "$(stat -c %s "many-bmp/r$i.bmp")" -eq $((54 + 921600)) ] || fail "r$i.bmp has the wrong size"
  cmp -s <(tail -c 921600 "in/r$i.gd") <(tail -c 921600 "many-bmp/r$i.bmp") ||
    fail "r$i.bmp does not hold the raw pixels unchanged"
done

echo "== existing outputs are kept without --force"
echo keep >kept.png
run 1 convert in/r3.gd -o kept.png
err_has "kept.png exists (--force replaces it)"
[ "$(cat kept.png)" = keep ] || fail "kept.png was overwritten without --force"
run 0 convert in/r3.gd -o kept.png --force
cmp -s kept.png one/r3.png || fail "--force did not write the picture"
no_temporaries .
run 1 convert in/r1.gd in/r1.gd -d twice
err_has "twice/r1.png is already the output of in/r1.gd"

echo "== encode"
"$MAKE_SAMPLES" --pictures art >/dev/null || fail "make_samples --pictures failed"
run 0 encode art/testcard-800x600.png -o card.gd --coding lz
run 0 info card.gd
out_has "variant 11, GD3 header, letter \"L\", lz coding, 800 x 600"
run 0 convert card.gd -o card.png
cmp -s card.png art/testcard-800x600.png || fail "lz: encode then convert did not give back the picture"
# The chain coding cannot hold pure white, so its round trip takes random
# pixels with no byte 255; a random picture holds a pure white pixel in about
# one run in 55.
{ printf 'GD2'; head -c 9025 /dev/zero; printf 'b\000'; head -c 921600 /dev/urandom | tr '\377' '\376'; } >in/no-white.gd
run 0 convert in/no-white.gd -o no-white.png
run 0 encode no-white.png -o no-white.dcl --coding chain --form headerless
run 0 convert no-white.dcl -o no-white-back.png
cmp -s no-white-back.png no-white.png || fail "headerless chain: encode then convert changed the pixels"
# One pure white pixel among them is stored as (255, 255, 254), with a note.
{ printf 'GD2'; head -c 9025 /dev/zero; printf 'b\000\377\377\377'; tail -c 921597 in/no-white.gd; } >in/one-white.gd
run 0 convert in/one-white.gd -o one-white.png
run 0 encode one-white.png -o one-white.dcl --coding chain --form headerless
err_has "1 pure white pixels (255, 255, 255) stored as (255, 255, 254)"
run 0 convert one-white.dcl -o one-white.bmp --format bmp
[ "$(head -c 57 one-white.bmp | tail -c 3 | od -An -tx1 | tr -d ' \n')" != ffffff ] ||
  fail "chain: pure white came back as pure white"
cmp -s <(tail -c 921597 in/one-white.gd) <(tail -c 921597 one-white.bmp) ||
  fail "chain: the pixels after a pure white one changed"
run 0 encode art/shapes-640x400.png -o shapes.hhp --coding palette
run 0 convert shapes.hhp -o shapes-back.png
cmp -s shapes-back.png art/shapes-640x400.png || fail "palette: encode then convert changed the pixels"
run 0 encode one/r5.png -o r5.gd --coding raw
cmp -s r5.gd in/r5.gd || fail "raw gd2: encode did not give back the same file"

run 1 encode art/testcard-800x600.png -o small.gd --coding lz --form gd2
err_has "800 x 600 pixels, but the gd2 form holds 640 x 480 pictures"
run 1 encode one/r4.png -o r4-raw.dcl --coding raw --form headerless
err_has "the headerless form has no letter for raw pixels"
run 1 encode one/r4.png -o r4.gd --coding palette --form gd2
err_has "the palette coding exists only in the .HHP form"
run 1 encode one/r4.png -o r4.hhp --coding palette
err_has "640 x 480 pixels, but the hhp form holds 640 x 400 pictures"
run 1 encode art/shapes-640x400.png -o shapes.gd --coding palette
err_has "must end in .HHP"
run 1 encode art/testcard-640x480.png -o card.hhp --coding lz
err_has "readers would take it for a palette picture"
run 1 encode missing.png -o x.gd --coding lz
err_has "gdconv: missing.png: cannot read as PNG"
run 1 encode in/r1.gd -o x.gd --coding lz
err_has "cannot read as PNG"
[ -e x.gd ] && fail "an output appeared for a refused encode"

# More than 256 colours: refused, or reduced with --quantize.
run 1 encode art/gradients-640x400.png -o grad.hhp --coding palette
err_has "colours, and a palette picture holds at most 256 (--quantize reduces them)"
[ -e grad.hhp ] && fail "an output appeared for a refused palette picture"
run 0 encode art/gradients-640x400.png -o grad.hhp --coding palette --quantize
err_has " colours reduced to "
run 0 info grad.hhp
out_has "variant 0, .HHP palette form"

# Pure white in a chain picture becomes the nearest colour that it keeps.
run 0 encode art/testcard-640x480.png -o white.gd --coding chain
err_has "pure white pixels (255, 255, 255) stored as (255, 255, 254)"
run 0 encode art/testcard-640x480.png -o nowhite.gd --coding lz
err_lines 0
run 1 encode art/testcard-640x480.png -o white.gd --coding chain
err_has "white.gd exists (--force replaces it)"
no_temporaries .

if [ "$failures" -ne 0 ]; then
  echo "gdconv_cli: $failures failures"
  exit 1
fi
echo "gdconv_cli: all passed"
