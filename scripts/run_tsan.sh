#!/usr/bin/env bash
# ThreadSanitizer pass over the threaded parts: builds the platform and
# service test programs (and the service binary their end-to-end tests run)
# with -fsanitize=thread in build-tsan/ and runs them.
#   run_tsan.sh [gtest filter]    (default: every test)
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="$repo/build-tsan"
filter="${1:-*}"
bash "$repo/scripts/install_deps.sh" >/dev/null
interp_bin=$(bash "$repo/scripts/build_interpreters.sh" | tail -n 1)
font_kit=$(bash "$repo/scripts/make_fonts.sh" "$(dirname "$interp_bin")" | tail -n 1)
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLARO_TSAN=ON \
  -DQUILLARO_BENCH=OFF -DQUILLARO_INTERPRETER_DIR="$interp_bin" -DQUILLARO_FONT_DIR="$font_kit" \
  >/dev/null
cmake --build "$build" -j"$(nproc)" --target quillaro platform_tests service_tests \
  >"$build/build.log" 2>&1 || { tail -n 40 "$build/build.log" >&2; exit 1; }
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1 second_deadlock_stack=1}"
for program in platform service; do
  echo "[tsan] ${program}_tests"
  (cd "$build/tests/$program" && "./${program}_tests" --gtest_filter="$filter")
done
