#!/bin/sh
# Installs what is missing, builds the release programs and runs the main job
# on the bundled sample image.
set -e
cd "$(dirname "$0")/.."
sh scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSOLO_TESTS=OFF -DTESSOLO_BENCH=ON
cmake --build build/release -j "$(nproc)"
mkdir -p out
build/release/tools/tessolo-tool demo out
