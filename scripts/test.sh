#!/bin/sh
# Installs what is missing, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test (fuzz targets for a short
# smoke time, when clang is present).
set -e
cd "$(dirname "$0")/.."
sh scripts/setup.sh
JOBS=$(nproc)
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTESSOLO_SANITIZE=ON -DTESSOLO_BENCH=OFF -DTESSOLO_WERROR=ON
cmake --build build/asan -j "$JOBS" -- --quiet
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build/asan --output-on-failure -j "$JOBS"
if command -v clang++ >/dev/null 2>&1 && ls fuzz/*.cpp >/dev/null 2>&1; then
  CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTESSOLO_FUZZ=ON -DTESSOLO_TESTS=OFF -DTESSOLO_WERROR=ON
  cmake --build build/fuzz -j "$JOBS" -- --quiet
  ctest --test-dir build/fuzz -L fuzz --output-on-failure -j "$JOBS"
fi
# The benchmarks must keep building, though CI does not time them.
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSOLO_TESTS=OFF -DTESSOLO_BENCH=ON -DTESSOLO_WERROR=ON
cmake --build build/release -j "$JOBS" -- --quiet
echo "all tests passed"
