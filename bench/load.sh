#!/usr/bin/env bash
# Load test: drops JOBS tiny real jobs (default 2000) into a fresh service
# folder at once, with real conversion (IsConvert=1, Type=1: measurement,
# rendering and a JPEG per page), and reports the drain time, the service's
# peak memory and open descriptors, and checks that every job was processed
# exactly once and that no zombie or interpreter is left afterwards. PARALLEL
# is the Parallel setting (jobs at once; default 1, 0 = one per core); the
# jobs per second are the figure to compare.
#   bench/load.sh [BUILD_FOLDER] [JOBS] [PARALLEL] [QUILLARO_BINARY]
#   (default build/, 2000, 1, the build's quillaro)
set -euo pipefail
source "$(dirname "$0")/private_lock.sh"
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$repo/build}"
jobs="${2:-2000}"
parallel="${3:-1}"
binary="${4:-$build/quillaro}"
work="$(mktemp -d)"
pid=""
trap '[ -n "$pid" ] && kill -TERM "$pid" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT

service="$work/service"
mkdir -p "$service/in" "$service/out" "$work/staging"
cp "$binary" "$service/quillaro"
# The interpreters and the font kit, as the test folders have them.
for link in gs gpcl6 gxps urwfonts; do
  ln -s "$(readlink "$build/tests/service/$link")" "$service/$link"
done
printf '[Settings]\nIsConvert=1\nType=1\nImageType=0\nLongPixelLength=200\nParallel=%d\n' \
  "$parallel" >"$service/settings.ini"

# A small corpus of one-page jobs in three languages.
printf '%%!PS\n/Helvetica findfont 20 scalefont setfont 72 700 moveto (load) show showpage\n' \
  >"$work/page.ps"
"$service/gs" -q -dBATCH -dNOPAUSE -dSAFER -sDEVICE=pdfwrite -sOutputFile="$work/page.pdf" "$work/page.ps"
"$service/gs" -q -dBATCH -dNOPAUSE -dSAFER -sDEVICE=ljet4 -r150 -sOutputFile="$work/page.pcl" "$work/page.ps"
corpus=(ps pdf pcl)
for ((i = 0; i < jobs; i++)); do
  ext=${corpus[$((i % 3))]}
  cp "$work/page.$ext" "$work/staging/load$i.$ext"
done

"$service/quillaro" 2>"$work/stderr.txt" &
pid=$!
until grep -q running "$work/stderr.txt" 2>/dev/null; do sleep 0.05; done

max_fds=0
max_threads=0
start=$(date +%s.%N)
mv "$work/staging"/* "$service/in/"   # one mv: every job arrives at once
deadline=$((SECONDS + 7200))
while (( $(find "$service/out" -name '*_done' | wc -l) < jobs )); do
  (( SECONDS < deadline )) || { echo "[load] timed out" >&2; exit 1; }
  fds=$(ls "/proc/$pid/fd" | wc -l)
  threads=$(awk '/^Threads:/ {print $2}' "/proc/$pid/status")
  if (( fds > max_fds )); then max_fds=$fds; fi
  if (( threads > max_threads )); then max_threads=$threads; fi
  sleep 0.5
done
end=$(date +%s.%N)
peak_kb=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status")
sleep 2
zombies=$( (ps -o stat= --ppid "$pid" || true) | grep -c Z || true)
children=$( (ps -o pid= --ppid "$pid" || true) | wc -l)
kill -TERM "$pid"
wait "$pid"
code=$?
pid=""
markers=$(find "$service/out" -name '*_done' | wc -l)
measured=$(find "$service/out" -name '*_pagescount.txt' | wc -l)
images=$(find "$service/out" -name '*_1.jpg' | wc -l)
left_pages=$(find "$service/out" -name '*_' | wc -l)
awk -v par="$parallel" -v n="$jobs" -v s="$start" -v e="$end" -v m="$markers" -v p="$measured" -v im="$images" \
    -v kb="$peak_kb" -v fd="$max_fds" -v th="$max_threads" -v z="$zombies" -v ch="$children" \
    -v png="$left_pages" -v c="$code" \
  'BEGIN { printf "[load] Parallel=%s: %d jobs drained in %.1f s (%.1f jobs/s); markers %d, page counts %d, images %d, pages left %d; peak RSS %d KiB; max fds %d; max threads %d; children at end %d (zombies %d); exit %d\n", par, n, e - s, n / (e - s), m, p, im, png, kb, fd, th, ch, z, c }'
[ "$markers" -eq "$jobs" ] && [ "$measured" -eq "$jobs" ] && [ "$zombies" -eq 0 ] && [ "$code" -eq 0 ]
