#!/usr/bin/env bash
# Flood benchmark: drops JOBS small jobs (default 2000) into a fresh service
# folder at once, with IsConvert=0 so that each job is its completion marker
# alone, and reports the time until every marker is there and the service's
# peak resident memory.
#   bench/flood.sh [QUILLARO_BINARY] [JOBS]
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
binary="${1:-$repo/build/quillaro}"
jobs="${2:-2000}"
work="$(mktemp -d)"
trap 'kill -TERM "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT

service="$work/service"
mkdir -p "$service/in" "$service/out" "$work/staging"
cp "$binary" "$service/quillaro"
printf '[Settings]\nIsConvert=0\n' >"$service/settings.ini"
for ((i = 0; i < jobs; i++)); do printf '\033E' >"$work/staging/flood$i.pcl"; done

"$service/quillaro" 2>"$work/stderr.txt" &
pid=$!
until grep -q running "$work/stderr.txt" 2>/dev/null; do sleep 0.05; done

start=$(date +%s.%N)
mv "$work/staging"/* "$service/in/"   # one mv: every job arrives at once
deadline=$((SECONDS + 600))
while (( $(find "$service/out" -name '*_done' | wc -l) < jobs )); do
  (( SECONDS < deadline )) || { echo "[flood] timed out" >&2; exit 1; }
  sleep 0.02
done
end=$(date +%s.%N)
peak_kb=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status")
kill -TERM "$pid"
wait "$pid"
code=$?
markers=$(find "$service/out" -name '*_done' | wc -l)
awk -v n="$jobs" -v s="$start" -v e="$end" -v m="$markers" -v kb="$peak_kb" -v c="$code" \
  'BEGIN { printf "[flood] %d jobs drained in %.2f s (%.0f jobs/s); %d markers; peak RSS %d KiB; exit %d\n", n, e - s, n / (e - s), m, kb, c }'
