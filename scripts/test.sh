#!/bin/sh
# Installs what is missing, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test (fuzz targets for a short
# smoke time, when clang is present); then builds the release programs and
# benchmarks with warnings as errors. Every stage runs even when an earlier
# one failed, so that one failure hides nothing after it; the script ends
# with the stages that failed and a non-zero exit, or "all tests passed".
cd "$(dirname "$0")/.." || exit 1
JOBS=$(nproc)
failed=""

# Runs a stage (a name, then a command and its arguments); a failure is
# noted and the script goes on.
stage() {
  name=$1
  shift
  echo "== $name"
  if ! "$@"; then
    echo "== $name: FAILED"
    failed="$failed
  - $name"
  fi
}

asan_build() {
  cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTESSOLO_SANITIZE=ON -DTESSOLO_BENCH=OFF \
    -DTESSOLO_WERROR=ON && cmake --build build/asan -j "$JOBS" -- --quiet
}

# The tests; afterwards the build's plug-in folder must hold no settings,
# presets or last settings that a test left there (every test works in a
# plug-in folder of its own).
asan_tests() {
  bundle=build/asan/bundle/Tessolo
  marker=$(mktemp "${TMPDIR:-/tmp}/tessolo-test.XXXXXX") || return 1
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build/asan --output-on-failure -j "$JOBS"
  rc=$?
  left=$(find "$bundle" -newer "$marker" \( -name last.data -o -name plugin.conf -o -name ckss.data \) 2>/dev/null)
  rm -f "$marker"
  if [ -n "$left" ]; then
    echo "tests wrote into the build's plug-in folder:" $left
    rc=1
  fi
  return $rc
}

fuzz_smoke() {
  CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTESSOLO_FUZZ=ON \
    -DTESSOLO_TESTS=OFF -DTESSOLO_WERROR=ON &&
    cmake --build build/fuzz -j "$JOBS" -- --quiet &&
    ctest --test-dir build/fuzz -L fuzz --output-on-failure -j "$JOBS"
}

# The benchmarks must keep building, though CI does not time them.
release_build() {
  cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSOLO_TESTS=OFF -DTESSOLO_BENCH=ON \
    -DTESSOLO_WERROR=ON && cmake --build build/release -j "$JOBS" -- --quiet
}

if ! sh scripts/setup.sh; then
  echo "setup failed: the tools the build needs are missing" >&2
  exit 1
fi
stage "AddressSanitizer build" asan_build
case "$failed" in
  "") stage "tests (build/asan)" asan_tests ;;
  *) failed="$failed
  - tests (build/asan): not run, the build failed" ;;
esac
if command -v clang++ >/dev/null 2>&1 && ls fuzz/*.cpp >/dev/null 2>&1; then
  stage "fuzz smoke runs (build/fuzz)" fuzz_smoke
fi
stage "release build with benchmarks (build/release)" release_build

if [ -n "$failed" ]; then
  echo "FAILED stages:$failed" >&2
  exit 1
fi
echo "all tests passed"
