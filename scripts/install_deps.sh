#!/usr/bin/env bash
# Installs the Debian packages Quillaro builds, runs and tests with.
# Idempotent: packages already present are left alone.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git ca-certificates dpkg-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libvips-dev libsystemd-dev
  ghostscript fonts-urw-base35 fontforge
  clang libclang-rt-14-dev python3
)

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
