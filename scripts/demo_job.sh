#!/bin/sh
# The demo's main job, run by scripts/demo.sh after the release build, from
# the repository's root: it writes into out/ with the programs in
# build/release/. The documentation's examples start from what it leaves.
set -e
cd "$(dirname "$0")/.."
mkdir -p out
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
# Layout mode: the same knives (the same seed) drawn as lines only, in the
# foreground colour on the background colour.
$T layout new --grid 8x6 --seed 7 --randomize 8 --flip random --mutate 20,20,10 --lines out/lines.qntd
$T layout block out/lines.qntd out/lines.block
$M --block out/lines.block out/lines.qnds
$H/tessolo-host --descriptor out/lines.qnds samples/sample.png out/lines.png
# A photo as a camera held on its side stores it: the pixels turned a
# quarter to the left (240 x 360), and EXIF orientation 6, "turn a quarter
# clockwise to show", so that every program opens it upright, 360 x 240.
# ImageMagick and exiftool come with scripts/setup.sh.
convert samples/sample.png -rotate -90 -density 300 -units PixelsPerInch -quality 92 out/photo.jpg
exiftool -q -overwrite_original -Orientation#=6 out/photo.jpg
echo "demo: wrote out/puzzle.png (pieces), out/pieces.png (piece map), out/lines.png (the same knives as lines) and out/photo.jpg (a photo stored on its side)"
