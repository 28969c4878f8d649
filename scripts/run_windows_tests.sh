#!/usr/bin/env bash
# The Windows leg: cross-builds Quillaro with mingw-w64 into build-windows/
# and runs its tests under Wine, in one headless Wine prefix made for the
# run and one persistent wineserver, stopped at the end.
#   run_windows_tests.sh            (run_tests.sh windows comes here)
# Environment:
#   QUILLARO_WINEPREFIX  the prefix (default <repo>/build-windows/wineprefix);
#                        made on first use, kept for later runs
# Each step is a function; a later step (the service life cycle, end-to-end
# jobs) goes after run_platform_tests in main.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="$repo/build-windows"
fail() { echo "[windows] FAILED: $*" >&2; exit 1; }
say() { echo "[windows] $*" >&2; }

install_deps() {
  bash "$repo/scripts/install_deps.sh" windows || fail "installing mingw-w64 and Wine"
}

# Headless and quiet: no display, no Mono or Gecko installers, no Wine
# diagnostics mixed into the programs' output.
start_wine() {
  export WINEPREFIX="${QUILLARO_WINEPREFIX:-$build/wineprefix}"
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY
  mkdir -p "$WINEPREFIX"
  # Persistent: each program then starts in well under a second. Started
  # first, so that the prefix's first boot runs on it too.
  wineserver -p || fail "wineserver -p"
  trap stop_wine EXIT
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    say "making the Wine prefix $WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || fail "wineboot -i"
  fi
}

stop_wine() {
  # Ends the server of this prefix (and what still runs in it) only.
  wineserver -k 2>/dev/null || true
}

cross_build() {
  say "cross-building into $build"
  cmake -S "$repo" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DQUILLARO_WERROR=ON >"$build/configure.log" 2>&1 \
    || { tail -n 30 "$build/configure.log" >&2; fail "cmake configure"; }
  cmake --build "$build" -j"$(nproc)" >"$build/build.log" 2>&1 \
    || { tail -n 40 "$build/build.log" >&2; fail "cmake build (log: $build/build.log)"; }
}

# The platform tests: the same sources as on Linux, less those named
# *_linux_test.cc; ctest starts them through Wine.
run_platform_tests() {
  say "platform tests under Wine"
  (cd "$build" && ctest --output-on-failure -R '^platform_tests$') || fail "platform tests"
}

main() {
  install_deps
  mkdir -p "$build"
  start_wine
  cross_build
  run_platform_tests
  say "done"
}

main "$@"
