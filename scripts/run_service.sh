#!/usr/bin/env bash
# Sets everything up and runs the service in the foreground (Ctrl-C stops it).
# A service folder made here for the first time gets settings that count,
# render and report every job (IsConvert=1, Type=2, IsReport=1); an existing
# settings.ini is the operator's and is left alone. (The defaults for a key
# settings.ini does not name stay those of the service.)
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
service="${QUILLARO_SERVICE_DIR:-$repo/service}"
fresh=0
[ -f "$service/settings.ini" ] || fresh=1
bash "$repo/scripts/setup.sh" release
if [ "$fresh" = 1 ]; then
  sed -i -e 's/^IsConvert=.*/IsConvert=1/' -e 's/^Type=.*/Type=2/' -e 's/^IsReport=.*/IsReport=1/' \
    "$service/settings.ini"
  echo "[run] new settings.ini: every job is counted, rendered and reported"
fi
echo "[run] starting $service/quillaro; drop jobs into $service/in, results appear in $service/out"
exec "$service/quillaro"
