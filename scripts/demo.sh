#!/bin/sh
# Installs what is missing, builds the release programs and runs the main job
# on the bundled sample image.
set -e
cd "$(dirname "$0")/.."
sh scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSOLO_TESTS=OFF -DTESSOLO_BENCH=ON
cmake --build build/release -j "$(nproc)"
mkdir -p out
# The main job: a layout document (8 x 6 pieces, knots moved at random with a
# fixed seed, per-piece effect records) is made, recorded as the scripting
# descriptor a host keeps, and replayed: the plug-in, loaded by the stand-in
# host, cuts the bundled sample into bevelled puzzle pieces without a window.
T=build/release/tools/tessolo-tool
H=build/release/hostapp
$T layout new --grid 8x6 --seed 7 --randomize 30 --pieces out/puzzle.qntd
$T layout show out/puzzle.qntd
$T layout block out/puzzle.qntd out/puzzle.block
$H/tessolo-mkdesc --block out/puzzle.block out/puzzle.qnds
$H/tessolo-host --descriptor out/puzzle.qnds samples/sample.png out/puzzle.png
# Layout mode: a plain 8 x 6 grid, drawn as knife lines only.
$H/tessolo-mkdesc --grid 8x6 --lines out/lines.qnds
$H/tessolo-host --descriptor out/lines.qnds samples/sample.png out/lines.png
echo "demo: wrote out/puzzle.png (pieces) and out/lines.png (knife lines)"
