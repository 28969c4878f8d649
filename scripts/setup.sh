#!/usr/bin/env bash
# One-step setup: Debian packages, the interpreters (built once and cached),
# the PCL font kit, the Quillaro build, and the service folder.
#   setup.sh [release|asan|tsan]  build variant (default release)
# Environment:
#   QUILLARO_CACHE        cache for interpreters and fonts (default /var/cache/quillaro)
#   QUILLARO_SERVICE_DIR  service folder to lay out (default <repo>/service)
set -euo pipefail
variant="${1:-release}"
repo="$(cd "$(dirname "$0")/.." && pwd)"
fail() { echo "[setup] FAILED: $*" >&2; exit 1; }

bash "$repo/scripts/install_deps.sh" || fail "installing Debian packages"
interp_bin=$(bash "$repo/scripts/build_interpreters.sh" | tail -n 1) || fail "building gpcl6 and gxps"
font_kit=$(bash "$repo/scripts/make_fonts.sh" "$(dirname "$interp_bin")" | tail -n 1) || fail "making the PCL font kit"

# Our own builds treat warnings as errors; a user's plain cmake build does not.
# They compile through ccache, its cache beside the interpreters'.
export QUILLARO_CCACHE_DIR="${QUILLARO_CACHE:-/var/cache/quillaro}/ccache"
targets=()
case "$variant" in
  release) build="$repo/build"; flags=(-DCMAKE_BUILD_TYPE=Release) ;;
  asan) build="$repo/build-asan"
        flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLARO_SANITIZE=ON -DQUILLARO_BENCH=OFF) ;;
  # The threaded parts only, built with clang (which also keeps the sources
  # warning-free with a second compiler).
  tsan) build="$repo/build-tsan"
        flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLARO_TSAN=ON -DQUILLARO_BENCH=OFF
               -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++)
        targets=(--target quillaro platform_tests service_tests) ;;
  *) fail "unknown build variant $variant" ;;
esac
echo "[setup] building Quillaro ($variant)"
cmake -S "$repo" -B "$build" -DQUILLARO_WERROR=ON -DQUILLARO_CCACHE_DIR="$QUILLARO_CCACHE_DIR" \
  -DQUILLARO_INTERPRETER_DIR="$interp_bin" -DQUILLARO_FONT_DIR="$font_kit" "${flags[@]}" >/dev/null \
  || fail "cmake configure"
cmake --build "$build" -j"$(nproc)" "${targets[@]}" >"$build/build.log" 2>&1 \
  || { tail -n 40 "$build/build.log" >&2; fail "cmake build (log: $build/build.log)"; }

if [ "$variant" = release ]; then
  service="${QUILLARO_SERVICE_DIR:-$repo/service}"
  bash "$repo/scripts/layout_service.sh" "$service" "$build/quillaro" "$interp_bin" "$font_kit" \
    || fail "laying out $service"
fi
echo "[setup] done"
