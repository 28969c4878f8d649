#!/usr/bin/env bash
# The Windows leg: cross-builds Quillaro with mingw-w64 into build-windows/
# and runs its tests under Wine, in one headless Wine prefix made for the
# run and one persistent wineserver, stopped at the end.
#   run_windows_tests.sh            (run_tests.sh windows comes here)
# Environment:
#   QUILLARO_WINEPREFIX  the prefix (default <repo>/build-windows/wineprefix);
#                        made on first use, kept for later runs
# Each step is a function; a later step (the service life cycle, end-to-end
# jobs) goes after run_test_programs in main.
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
  trap stop_wine EXIT
  # A new prefix boots on a server of its own, which ends with the boot: the
  # first boot's services.exe and a service manager started by an early
  # `sc` could otherwise both run on a persistent server, and sc then sees a
  # service it cannot open.
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    say "making the Wine prefix $WINEPREFIX"
    { wineboot -i && wineserver -w; } </dev/null >/dev/null 2>&1 || fail "wineboot -i"
  fi
  # Persistent: each program then starts in well under a second. Its output
  # goes nowhere, so that no caller's pipe stays open behind it.
  wineserver -p </dev/null >/dev/null 2>&1 || fail "wineserver -p"
  wineboot </dev/null >/dev/null 2>&1 || fail "wineboot"
}

stop_wine() {
  # Ends the server of this prefix (and what still runs in it) only.
  wineserver -k 2>/dev/null || true
}

# The tests that run interpreters find the Windows ones and the PCL font kit
# beside them, and the test corpus made beforehand by the Linux gs.
cross_build() {
  local sqlite interpreters linux_bin fonts
  sqlite=$(bash "$repo/scripts/build_windows_sqlite.sh" | tail -n 1) || fail "SQLite for Windows"
  interpreters=$(bash "$repo/scripts/build_windows_interpreters.sh" | tail -n 1) ||
    fail "the Windows interpreters"
  linux_bin=$(bash "$repo/scripts/build_interpreters.sh" | tail -n 1) || fail "the Linux interpreters"
  fonts=$(bash "$repo/scripts/make_fonts.sh" "$(dirname "$linux_bin")" | tail -n 1) ||
    fail "the PCL font kit"
  bash "$repo/bench/corpus.sh" "$(command -v gs)" "$build/corpus" || fail "the test corpus"
  QUILLARO_TEST_CORPUS="$(winepath -w "$build/corpus")"
  export QUILLARO_TEST_CORPUS
  say "cross-building into $build"
  cmake -S "$repo" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DQUILLARO_WERROR=ON -DQUILLARO_LEDGER=ON \
    -DQUILLARO_CCACHE_DIR="${QUILLARO_CACHE:-/var/cache/quillaro}/ccache" \
    -DQUILLARO_WINDOWS_SQLITE="$sqlite" -DQUILLARO_WINDOWS_INTERPRETER_DIR="$interpreters" \
    -DQUILLARO_FONT_DIR="$fonts" >"$build/configure.log" 2>&1 \
    || { tail -n 30 "$build/configure.log" >&2; fail "cmake configure"; }
  cmake --build "$build" -j"$(nproc)" >"$build/build.log" 2>&1 \
    || { tail -n 40 "$build/build.log" >&2; fail "cmake build (log: $build/build.log)"; }
}

# Every test program the Windows build makes (tests/CMakeLists.txt lists
# their sources: the shared ones and the Windows ones, the interpreter tests
# with the Windows interpreters). ctest starts them through Wine.
run_test_programs() {
  say "test programs under Wine"
  (cd "$build" && ctest --output-on-failure) || fail "test programs under Wine"
}

# The package installed as a service in the prefix, and the jobs of every
# language through it against the Linux build (scripts/setup.sh makes that one,
# with the Linux interpreters it compares against).
run_service_tests() {
  say "Linux build to compare with"
  bash "$repo/scripts/setup.sh" release >&2 || fail "the Linux build"
  local dist="$build/dist"
  bash "$repo/scripts/package_windows.sh" "$dist" >/dev/null || fail "package_windows.sh"
  say "the package as a service under Wine"
  local msi
  msi=$(ls "$build"/Quillaro-*.msi | head -n 1)
  bash "$repo/tests/windows/service_under_wine.sh" "$dist" "$repo/build/quillaro" \
    "$repo/build/tests/service" "$build/tests/windows/slow_writer.exe" "$msi" ||
    fail "the service under Wine"
}

main() {
  install_deps
  mkdir -p "$build"
  start_wine
  cross_build
  run_test_programs
  run_service_tests
  say "done"
}

main "$@"
