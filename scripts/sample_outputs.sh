#!/bin/sh
# Runs the command-line programs on the bundled sample and prints one line per
# output file: its MD5 and name. Run it before and after a change that must
# not alter what the programs write, and compare the two listings:
#   sh scripts/sample_outputs.sh build/asan /tmp/before > before.txt
#   ... change, rebuild ...
#   sh scripts/sample_outputs.sh build/asan /tmp/after > after.txt
#   diff before.txt after.txt
set -e
BUILD=${1:?usage: sample_outputs.sh BUILD_DIR OUT_DIR}
OUT=${2:?usage: sample_outputs.sh BUILD_DIR OUT_DIR}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
T=$BUILD/tools/tessolo-tool
H=$BUILD/hostapp
M=$BUILD/tools/tessolo-mkdesc
S=$ROOT/samples/sample.png
rm -rf "$OUT"
mkdir -p "$OUT"
# The host loads a copy of the plug-in from a folder of this run's own, so
# that what it stores there (settings, last settings) neither changes the
# build's folder nor carries over from an earlier run.
P=$(mktemp -d "${TMPDIR:-/tmp}/tessolo-samples.XXXXXX")
trap 'rm -rf "$P"' EXIT
cp "$BUILD"/bundle/Tessolo/*.so "$BUILD"/bundle/Tessolo/*.qns4 "$P"/
run() { "$@" > /dev/null; }
# Layout documents, their blocks and descriptors.
run $T layout new --grid 8x6 --seed 7 --randomize 30 --pieces "$OUT/random.qntd"
run $T layout new --grid 6x4 --auto hexagonal --pieces "$OUT/hex.qntd"
run $T layout new --grid 5x4 "$OUT/plain.qntd"
$T layout show "$OUT/random.qntd" > "$OUT/random.show.txt"
$T layout show "$OUT/hex.qntd" > "$OUT/hex.show.txt"
run $T layout block "$OUT/random.qntd" "$OUT/random.block"
run $T layout block "$OUT/plain.qntd" "$OUT/plain.block"
run $M --block "$OUT/random.block" "$OUT/random.qnds"
run $M --grid 8x6 --lines "$OUT/lines.qnds"
run $M --grid 5x3 --raw "$OUT/pieces.block"
run $M --grid 4x3 --straight --knob 80 "$OUT/straight.qnds"
# The stand-in host replaying them.
run $H/tessolo-host --plugin "$P/Tessolo.so" --descriptor "$OUT/random.qnds" "$S" "$OUT/host_random.png"
run $H/tessolo-host --plugin "$P/Tessolo.so" --descriptor "$OUT/lines.qnds" "$S" "$OUT/host_lines.png"
run $H/tessolo-host --plugin "$P/Tessolo.so" --descriptor "$OUT/straight.qnds" --mode cmyk "$S" "$OUT/host_cmyk.png"
run $H/tessolo-host --plugin "$P/Tessolo.so" --descriptor "$OUT/lines.qnds" --mode gray --fg 802010 "$S" "$OUT/host_gray.png"
# The engine and the codecs through tessolo-tool.
$T engine lines --grid 6x4 "$S" "$OUT/engine_lines.png" > "$OUT/engine_lines.txt"
$T engine pieces --grid 6x4 --seed 3 "$S" "$OUT/engine_pieces.png" > "$OUT/engine_pieces.txt"
$T engine render --block "$OUT/random.block" "$S" "$OUT/engine_render.png" > "$OUT/engine_render.txt"
run $T psd write "$OUT/two.psd" "$S" "$OUT/engine_lines.png@10,10:lines"
run $T convert "$OUT/two.psd" "$OUT/two.png"
run $H/tessolo-host --plugin "$P/Tessolo.so" --descriptor "$OUT/lines.qnds" "$OUT/two.psd" "$OUT/host_psd.png"
cd "$OUT"
# Printed reports name the files; without the folder they compare.
sed -i "s|$OUT/||g" ./*.txt
for f in $(ls | sort); do
  echo "$(md5sum < "$f" | cut -c1-32)  $f"
done
