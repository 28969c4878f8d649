#!/usr/bin/env bash
# Sets everything up and runs every test.
#   run_tests.sh [release|asan]   (default release)
set -euo pipefail
variant="${1:-release}"
repo="$(cd "$(dirname "$0")/.." && pwd)"
bash "$repo/scripts/setup.sh" "$variant"
build="$repo/build"
[ "$variant" = asan ] && build="$repo/build-asan"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
cd "$build"
ctest --output-on-failure -j"$(nproc)"
