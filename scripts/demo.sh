#!/bin/sh
# Installs what is missing, builds the release programs and runs the main job
# on the bundled sample image (scripts/demo_job.sh). The build's output is kept short; a failing
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
sh scripts/demo_job.sh
