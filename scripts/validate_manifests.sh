#!/usr/bin/env bash
# Checks deploy/kubernetes/ without a cluster: every manifest against the
# JSON schemas of the Kubernetes API and of KEDA (npm kubernetes-models and
# @kubernetes-models/keda, installed once into a cache outside the clone),
# then the fleet's own cross-checks (check_manifests.py: names that must
# agree between documents, the shared message limit, no floating tags).
#   validate_manifests.sh          (QUILLARO_CACHE: default /var/cache/quillaro)
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
packages=(kubernetes-models@5.1.0 @kubernetes-models/keda@2.0.0 yaml@2.9.1)
# One folder per package list: a new list installs afresh, an old one is kept.
version=$(printf '%s\n' "${packages[@]}" | sha256sum | cut -c1-12)
prefix="${QUILLARO_CACHE:-/var/cache/quillaro}/npm-$version"
command -v npm >/dev/null || { echo "[manifests] FAILED: npm missing: run scripts/install_deps.sh" >&2; exit 1; }
if [ ! -f "$prefix/.complete" ]; then
  echo "[manifests] installing ${packages[*]} into $prefix"
  rm -rf "$prefix"
  mkdir -p "$prefix"
  npm install --prefix "$prefix" --no-audit --no-fund --loglevel=error "${packages[@]}" >/dev/null \
    || { echo "[manifests] FAILED: npm install" >&2; exit 1; }
  touch "$prefix/.complete"
fi
NODE_PATH="$prefix/node_modules" node "$repo/deploy/kubernetes/validate_manifests.mjs" "$repo/deploy/kubernetes"
python3 "$repo/deploy/kubernetes/check_manifests.py"
