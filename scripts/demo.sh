#!/bin/sh
# Installs what is missing, builds the release programs and runs the main job
# on the bundled sample image.
set -e
cd "$(dirname "$0")/.."
sh scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSOLO_TESTS=OFF -DTESSOLO_BENCH=ON
cmake --build build/release -j "$(nproc)"
mkdir -p out
# The main job: the plug-in, loaded by the stand-in host, cuts the bundled
# sample into a bevelled puzzle. The layout (6 x 4 pieces with the default
# knob) is recorded as a scripting descriptor and replayed like a host action.
build/release/hostapp/tessolo-mkdesc --grid 6x4 out/puzzle.qnds
build/release/hostapp/tessolo-host --descriptor out/puzzle.qnds samples/sample.png out/puzzle.png
echo "demo: wrote out/puzzle.png"
