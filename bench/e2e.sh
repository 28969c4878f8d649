#!/usr/bin/env bash
# End-to-end benchmark: drops jobs into a fresh service folder one at a time
# (IsConvert=1, Type=2, JPEG) and prints, per job and in total, the time from
# the drop to the completion marker next to the floor measured in the same
# run: the bare interpreter runs the job needs (bbox, then 100-dpi png16m of
# every page, each interpreter the service tries in turn) plus one PNG decode
# per page. The jobs: the generated small-job corpus (bench/corpus.sh, 33
# jobs of 1 to 12 pages) and three long documents made here (man -t bash as
# PostScript, the same through gs as PDF and as PCL XL).
#   bench/e2e.sh [BUILD_FOLDER] [QUILLARO_BINARY]   (default build/, its quillaro)
# The binary may be another build's, to measure it against the same floor.
set -euo pipefail
source "$(dirname "$0")/private_lock.sh"
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$repo/build}" && pwd)"
binary="${2:-$build/quillaro}"
decode="$build/bench/page_decode_bench"
kit="$build/tests/service"  # gs, gpcl6, gxps and urwfonts, linked by the build
[ -x "$decode" ] || { echo "build $decode first" >&2; exit 1; }
work="$(mktemp -d)"
pid=""
trap '[ -n "$pid" ] && kill -TERM "$pid" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT

service="$work/service"
mkdir -p "$service/in" "$service/out" "$work/staging" "$work/small" "$work/long" "$work/pages"
cp "$binary" "$service/quillaro"
for link in gs gpcl6 gxps urwfonts; do ln -s "$(readlink -f "$kit/$link")" "$service/$link"; done
printf '[Settings]\nIsConvert=1\nType=2\nImageType=0\nWaitSeconds=60\n' >"$service/settings.ini"

bash "$repo/bench/corpus.sh" "$service/gs" "$work/small"
man -t bash >"$work/long/bash.ps" 2>/dev/null
"$service/gs" -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=pdfwrite -o "$work/long/bash.pdf" "$work/long/bash.ps"
"$service/gs" -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=pxlmono -o "$work/long/bash.pxl" "$work/long/bash.ps"

cd "$service"  # gpcl6 finds urwfonts/ in the working folder
"$service/quillaro" 2>"$work/stderr.txt" &
pid=$!
until grep -q running "$work/stderr.txt" 2>/dev/null; do sleep 0.05; done

now() { date +%s%N; }
seconds() { awk -v t="$1" 'BEGIN { printf "%.3f", t / 1e9 }'; }

# The interpreters the service tries for a job, in its order.
interpreters() {
  case "$1" in
    *.ps | *.pdf) echo gs ;;
    *.xps) echo gxps ;;
    *.pcl | *.pxl)
      # ESC E first: no content test knows it, so gs is tried first.
      if [ "$(head -c 2 "$1")" = $'\eE' ]; then echo gs gpcl6; else echo gpcl6; fi ;;
    *.prn)
      case "$(grep -a -m 1 'ENTER LANGUAGE' "$1" | tr a-z A-Z)" in
        *POSTSCRIPT* | *PDF*) echo gs ;;
        *PCL*) echo gpcl6 ;;
        *) echo gxps ;;
      esac ;;
  esac
}

# Nanoseconds of the bare runs of the job: measurement, rendering, decoding.
floor_ns() {
  local job="$1" tool start total=0
  for tool in $(interpreters "$job"); do
    start=$(now)
    "./$tool" -q -dNOPAUSE -dBATCH -sDEVICE=bbox "$job" >/dev/null 2>&1 && break
    total=$((total + $(now) - start))
  done
  total=$((total + $(now) - start))
  rm -f "$work/pages"/*
  for tool in $(interpreters "$job"); do
    start=$(now)
    "./$tool" -q -dNOPAUSE -dBATCH -dSAFER -r100x100 -sDEVICE=png16m \
      "-sOutputFile=$work/pages/p_%d.png" -dFirstPage=1 -dLastPage=499 "$job" >/dev/null 2>&1 && break
    total=$((total + $(now) - start))
  done
  total=$((total + $(now) - start))
  local decode_ms
  decode_ms=$(QUILLARO_BENCH_PAGES="$work/pages" "$decode" --benchmark_format=csv 2>/dev/null |
    awk -F, '/DecodePages/ { print $3 }')
  echo $((total + ${decode_ms%.*} * 1000000))
}

# Nanoseconds from the drop of the job into in/ to its marker in out/.
service_ns() {
  local job="$1" name start
  name="$(basename "$job")"
  cp "$job" "$work/staging/$name"
  start=$(now)
  mv "$work/staging/$name" "$service/in/$name"
  until [ -e "$service/out/${name}_done" ]; do sleep 0.005; done
  echo $(($(now) - start))
}

printf '%-28s %6s %10s %10s %7s\n' job pages "service s" "floor s" ratio
for group in small long; do
  service_total=0
  floor_total=0
  for job in "$work/$group"/*; do
    s=$(service_ns "$job")
    f=$(floor_ns "$job")
    pages=$(ls "$work/pages" | wc -l)
    service_total=$((service_total + s))
    floor_total=$((floor_total + f))
    awk -v n="$(basename "$job")" -v p="$pages" -v s="$s" -v f="$f" \
      'BEGIN { printf "%-28s %6d %10.3f %10.3f %7.2f\n", n, p, s / 1e9, f / 1e9, s / f }'
  done
  awk -v n="all $group jobs" -v s="$service_total" -v f="$floor_total" \
    'BEGIN { printf "%-35s %10.3f %10.3f %7.2f\n", n, s / 1e9, f / 1e9, s / f }'
done
echo "[e2e] $(basename "$binary") from $(dirname "$binary"); load: $(uptime | sed 's/.*load/load/')"
