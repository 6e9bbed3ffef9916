#!/bin/sh
# Installs what is missing, builds the release programs and runs the main job
# on the bundled sample image. The build's output is kept short; a failing
# step shows its output in full.
set -e
cd "$(dirname "$0")/.."
sh scripts/setup.sh
mkdir -p out
if ! cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSOLO_TESTS=OFF -DTESSOLO_BENCH=ON \
    > out/configure.log 2>&1; then
  cat out/configure.log >&2
  exit 1
fi
echo "demo: building (build/release)"
cmake --build build/release -j "$(nproc)" -- --quiet
# The main job: a layout document (8 x 6 pieces, knots moved a little at
# random with a fixed seed, knobs flipped at random and every knife's nodes
# varied, as in a real puzzle) is made, recorded as the scripting descriptor
# a host keeps, and replayed: the plug-in, loaded by the stand-in host, cuts
# the bundled sample into bevelled puzzle pieces without a window. Small
# randomness keeps knives from crossing, so there are exactly 48 pieces.
T=build/release/tools/tessolo-tool
H=build/release/hostapp
M=build/release/tools/tessolo-mkdesc
$T layout new --grid 8x6 --seed 7 --randomize 8 --flip random --mutate 20,20,10 --pieces out/puzzle.qntd
$T layout show out/puzzle.qntd
$T layout block out/puzzle.qntd out/puzzle.block
$T engine pieces --block out/puzzle.block samples/sample.png out/pieces.png | tail -n 1
$M --block out/puzzle.block out/puzzle.qnds
$H/tessolo-host --descriptor out/puzzle.qnds samples/sample.png out/puzzle.png
# Layout mode: a plain 8 x 6 grid, drawn as knife lines only, in the
# foreground colour on the background colour.
$M --grid 8x6 --lines out/lines.qnds
$H/tessolo-host --descriptor out/lines.qnds samples/sample.png out/lines.png
echo "demo: wrote out/puzzle.png (pieces), out/pieces.png (piece map) and out/lines.png (knife lines)"
