#!/bin/sh
# Installs what is missing, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test (fuzz targets for a short
# smoke time, built with clang); then builds the release programs and
# benchmarks with warnings as errors. The fuzz and release stages run even
# when an earlier one failed, so that one failure hides nothing after it;
# the tests run only on a sanitizer build that succeeded. The script ends
# with the tests that skipped themselves and why, then the stages that
# failed and a non-zero exit, or "all tests passed".
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
# plug-in folder of its own). ctest's JUnit report keeps each test's output,
# where a skipped test gives its reason.
JUNIT=build/asan/Testing/tests.xml
asan_tests() {
  bundle=build/asan/bundle/Tessolo
  marker=$(mktemp "${TMPDIR:-/tmp}/tessolo-test.XXXXXX") || return 1
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build/asan --output-on-failure -j "$JOBS" --output-junit "$PWD/$JUNIT"
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
  if ! command -v clang++ >/dev/null 2>&1; then
    echo "clang++ is not installed: it comes with Debian's package clang, which scripts/setup.sh installs"
    return 1
  fi
  CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTESSOLO_FUZZ=ON \
    -DTESSOLO_TESTS=OFF -DTESSOLO_WERROR=ON &&
    cmake --build build/fuzz -j "$JOBS" -- --quiet &&
    ctest --test-dir build/fuzz -L fuzz --output-on-failure -j "$JOBS"
}

# Every test that skipped itself, one line each with the reason it gave
# (GoogleTest prints "FILE:LINE: Skipped" and the reason on the next line).
list_skipped() {
  [ -f "$JUNIT" ] || return 0
  awk '
    /<testcase name="/ {
      name = $0; sub(/.*<testcase name="/, "", name); sub(/".*/, "", name)
      skipped = 0; reason = ""; take = 0
    }
    take { reason = $0; take = 0 }
    /<skipped message=/ { skipped = 1 }
    /: Skipped$/ { take = 1 }
    /<\/testcase>/ && skipped {
      sub(/<\/?system-out>/, "", reason)
      gsub(/&apos;/, "\047", reason); gsub(/&quot;/, "\"", reason)
      gsub(/&lt;/, "<", reason); gsub(/&gt;/, ">", reason); gsub(/&amp;/, "\\&", reason)
      if (reason == "") reason = "no reason given"
      line[++n] = "  " name ": " reason
    }
    END {
      if (n == 0) { print "skipped tests: none"; exit }
      print "skipped tests (" n "):"
      for (i = 1; i <= n; ++i) print line[i]
    }' "$JUNIT"
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
rm -f "$JUNIT"
stage "AddressSanitizer build" asan_build
case "$failed" in
  "") stage "tests (build/asan)" asan_tests ;;
  *) failed="$failed
  - tests (build/asan): not run, the build failed" ;;
esac
if ls fuzz/*.cpp >/dev/null 2>&1; then
  stage "fuzz smoke runs (build/fuzz)" fuzz_smoke
fi
stage "release build with benchmarks (build/release)" release_build

list_skipped
if [ -n "$failed" ]; then
  echo "FAILED stages:$failed" >&2
  exit 1
fi
echo "all tests passed"
