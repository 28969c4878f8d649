#!/usr/bin/env bash
# Sets everything up and runs every test.
#   run_tests.sh [release|asan|tsan|windows]   (default release)
# windows cross-builds with mingw-w64 and runs the tests under Wine
# (scripts/run_windows_tests.sh).
# tsan runs the platform and service tests only, and of them those that
# make no images (the image codec's tests, the service tests that render
# pages): libvips and glib are not instrumented, so
# ThreadSanitizer takes their own thread hand-offs for races, and it slows
# the image stages twenty-fold. The imaging, interpreter and watermark tests
# hold no threads of ours.
# With CI=true a test skipped for want of the interpreters fails the run.
set -euo pipefail
variant="${1:-release}"
repo="$(cd "$(dirname "$0")/.." && pwd)"
if [ "$variant" = windows ]; then
  exec bash "$repo/scripts/run_windows_tests.sh"
fi
bash "$repo/scripts/setup.sh" "$variant"
build="$repo/build"
filter=()
case "$variant" in
  asan) build="$repo/build-asan" ;;
  tsan) build="$repo/build-tsan"; filter=(-R '^(platform|service)_tests$')
        export GTEST_FILTER="${GTEST_FILTER:--ServiceTest.Corpus*:ServiceTest.EachJobRunsTheStages*:ServiceTest.AStopDuringALongImagingStage*:ServiceFaultsTest.HostileJobs*:ImageCodecTest.*}" ;;
esac
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1 second_deadlock_stack=1}"
cd "$build"
ctest --output-on-failure -j"$(nproc)" "${filter[@]}" | tee "$build/ctest.log"
if [ "${CI:-}" = true ] && grep -q '\*\*\*Skipped' "$build/ctest.log"; then
  echo "[tests] FAILED: tests were skipped (interpreters not configured)" >&2
  exit 1
fi
