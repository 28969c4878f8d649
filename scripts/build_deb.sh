#!/usr/bin/env bash
# Builds the Debian package of the service: quillaro_<version>-1_<arch>.deb in
# dist/ (or $1). It holds the service folder /opt/quillaro with our gpcl6, gxps
# and PCL font kit (from the interpreter cache, built here when missing), a
# link to Debian's gs, and the sandboxed systemd unit; its postinst makes the
# system user quillaro and enables and starts the unit where systemd runs.
#
# CPack makes it from a Release build of its own (build-deb/, tests and
# benchmarks off), with the install rules a by-hand install uses
# (packaging/install.cmake, packaging/deb.cmake).
#   build_deb.sh [OUT_DIR]
# Install it with `apt install ./dist/quillaro_*.deb`.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-$repo/dist}"
build="$repo/build-deb"
fail() { echo "[deb] FAILED: $*" >&2; exit 1; }

bash "$repo/scripts/install_deps.sh" >&2 || fail "installing Debian packages"
interp_bin=$(bash "$repo/scripts/build_interpreters.sh" | tail -n 1) || fail "building gpcl6 and gxps"
font_kit=$(bash "$repo/scripts/make_fonts.sh" "$(dirname "$interp_bin")" | tail -n 1) || fail "making the PCL font kit"

echo "[deb] building Quillaro (Release) in $build" >&2
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUILLARO_WERROR=ON \
  -DQUILLARO_TESTS=OFF -DQUILLARO_BENCH=OFF \
  -DQUILLARO_INTERPRETER_DIR="$interp_bin" -DQUILLARO_FONT_DIR="$font_kit" >/dev/null \
  || fail "cmake configure"
cmake --build "$build" -j"$(nproc)" >"$build/build.log" 2>&1 \
  || { tail -n 40 "$build/build.log" >&2; fail "cmake build (log: $build/build.log)"; }

echo "[deb] packaging" >&2
rm -rf "$build/deb"
(cd "$build" && cpack -G DEB >"$build/cpack.log" 2>&1) \
  || { tail -n 40 "$build/cpack.log" >&2; fail "cpack (log: $build/cpack.log)"; }
deb=$(ls "$build"/deb/quillaro_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || fail "cpack made no package (log: $build/cpack.log)"
mkdir -p "$out"
cp "$deb" "$out/"
echo "[deb] $(dpkg-deb -f "$deb" Package Version Architecture Depends | tr '\n' ' ')" >&2
echo "$out/$(basename "$deb")"
