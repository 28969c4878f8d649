#!/usr/bin/env bash
# The slow hostile jobs that CI leaves out (a 100 MB job of one line, a PJL header line of
# 100 MB), through the real service in a temporary service folder; prints how long each took,
# whether it got its marker, and the service's peak memory.
#   bench/hostile_jobs.sh [BUILD_FOLDER]     (default build/)
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$repo/build}" && pwd)"
dir="$(mktemp -d)"
pid=""
trap '[ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null; rm -rf "$dir"' EXIT
cp "$build/quillaro" "$dir/"
for link in gs gpcl6 gxps urwfonts; do ln -s "$(readlink "$build/tests/service/$link")" "$dir/$link"; done
mkdir "$dir/in" "$dir/out"
printf '[Settings]\nIsConvert=1\nType=1\nWaitSeconds=10\n' >"$dir/settings.ini"
(cd "$dir" && exec ./quillaro 2>stderr.txt) &
pid=$!
for _ in $(seq 100); do grep -q running "$dir/stderr.txt" 2>/dev/null && break; sleep 0.1; done
uel=$'\e%-12345X'
{ printf '%%!PS '; head -c 100000000 /dev/zero | tr '\0' x; } >"$dir/staged_line.ps"
{ printf '%s@PJL SET COPIES=' "$uel"; head -c 100000000 /dev/zero | tr '\0' 9; } >"$dir/staged_pjl.prn"
for job in huge_line.ps:staged_line.ps huge_pjl.prn:staged_pjl.prn; do
  start=$(date +%s.%N)
  mv "$dir/${job#*:}" "$dir/in/${job%%:*}"
  for _ in $(seq 1200); do [ -e "$dir/out/${job%%:*}_done" ] && break; sleep 0.1; done
  marker=$([ -e "$dir/out/${job%%:*}_done" ] && echo marker || echo "NO MARKER")
  echo "[hostile] ${job%%:*}: $marker after $(awk "BEGIN {print $(date +%s.%N) - $start}") s"
done
echo "  service peak $(awk '/VmHWM/ {print $2}' "/proc/$pid/status") KiB"
kill -TERM "$pid"
wait "$pid" && echo "  service stopped with 0"
pid=""
