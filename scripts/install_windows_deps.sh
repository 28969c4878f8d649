#!/usr/bin/env bash
# Installs the Debian packages the Windows port is cross-built and tested with:
# mingw-w64 (posix thread variant: the win32 one has no std::thread) and Wine,
# which runs the cross-built programs here. Idempotent like install_deps.sh.
set -euo pipefail

packages=(
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools
  libz-mingw-w64-dev wine64 wine
  autoconf automake libtool cmake pkg-config dpkg-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "[windows-deps] all packages present"
  exit 0
fi

echo "[windows-deps] installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq || { echo "[windows-deps] FAILED: apt-get update" >&2; exit 1; }
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null \
  || { echo "[windows-deps] FAILED: apt-get install ${missing[*]}" >&2; exit 1; }
echo "[windows-deps] done"
