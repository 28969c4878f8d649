#!/usr/bin/env bash
# Installs the Debian packages Quillaro builds, runs and tests with.
# Idempotent: packages already present are left alone.
#   install_deps.sh [linux|windows|deb]   (default linux)
# windows: what the Windows port is cross-built and tested with, mingw-w64
# (the posix thread variant: the win32 one has no std::thread) and Wine,
# which runs the cross-built programs here; GoogleTest's sources and the
# JSON headers, which the cross-build compiles itself; tclsh, with which
# SQLite's source makes its amalgamation; Ghostscript, whose version keys the
# Windows interpreters' cache and which writes the test corpus; wixl (from
# msitools), which builds the MSI installer.
set -euo pipefail

case "${1:-linux}" in
  linux) packages=(
           build-essential cmake pkg-config git ca-certificates dpkg-dev ccache
           libgtest-dev libgmock-dev libbenchmark-dev
           libvips-dev libsystemd-dev libseccomp-dev nlohmann-json3-dev
           ghostscript fonts-urw-base35 fontforge
           clang libclang-rt-14-dev python3 python3-jsonschema
           rabbitmq-server librabbitmq-dev prometheus-cpp-dev libcivetweb-dev
           libsqlite3-dev
           cups cups-filters foomatic-db-compressed-ppds printer-driver-postscript-hp
           openprinting-ppds
         )
         # Node.js and npm validate the Kubernetes manifests; a machine that
         # has them from elsewhere keeps those.
         command -v npm >/dev/null || packages+=(nodejs npm) ;;
  windows) packages=(
             g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools
             libz-mingw-w64-dev wine64 wine wixl
             autoconf automake libtool cmake pkg-config dpkg-dev libvips-tools tcl ghostscript ccache
             googletest nlohmann-json3-dev
           ) ;;
  # scripts/check_deb.sh: a fresh Debian 12 root booted with systemd.
  deb) packages=(mmdebstrap systemd-container) ;;
  *) echo "[deps] unknown package set $1" >&2; exit 1 ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "[deps] all packages present"
  exit 0
fi

echo "[deps] installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq || { echo "[deps] FAILED: apt-get update" >&2; exit 1; }
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null \
  || { echo "[deps] FAILED: apt-get install ${missing[*]}" >&2; exit 1; }
echo "[deps] done"
