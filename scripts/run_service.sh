#!/usr/bin/env bash
# Sets everything up and runs the service in the foreground (Ctrl-C stops it).
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
bash "$repo/scripts/setup.sh" release
service="${QUILLARO_SERVICE_DIR:-$repo/service}"
echo "[run] starting $service/quillaro; drop jobs into $service/in, results appear in $service/out"
exec "$service/quillaro"
