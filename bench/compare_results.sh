#!/usr/bin/env bash
# Black-box check that two builds of the service give the same results: runs
# each binary in a fresh service folder over the same real jobs (the bench
# corpus, and watermark copies of a few of them) under several settings,
# one job at a time, and compares everything each leaves in out/ and log.txt
# (with the time stamps of the log lines masked) byte for byte.
#   bench/compare_results.sh OLD_QUILLARO NEW_QUILLARO [KIT_FOLDER]
# COMPARE_SETTINGS="Key=Value ..." runs that one set of settings only.
# KIT_FOLDER holds gs, gpcl6, gxps and urwfonts (default: build/tests/service).
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
old="$(readlink -f "$1")"; new="$(readlink -f "$2")"
kit="$(readlink -f "${3:-$repo/build/tests/service}")"
work="$(mktemp -d)"
trap 'pkill -TERM -f "$work/" 2>/dev/null || true; [ -n "${COMPARE_KEEP:-}" ] || rm -rf "$work"' EXIT
bash "$repo/bench/corpus.sh" "$kit/gs" "$work/jobs"
source "$repo/bench/service_kit.sh"
add_watermark_jobs "$work/jobs"

settings=(${COMPARE_SETTINGS:+"$COMPARE_SETTINGS"})
[ ${#settings[@]} -gt 0 ] || settings=(
  "IsConvert=1 Type=2 ImageType=0 PagesMaxCount=3"
  "IsConvert=1 Type=2 ImageType=1 PagesMaxCount=2 LongPixelLength=200"
  "IsConvert=1 Type=1 ImageType=2 PagesMaxCount=2"
  "IsConvert=1 Type=1 ImageType=3 PagesMaxCount=2 Quality=30"
  "IsConvert=1 Type=0"
  "IsConvert=0 WMEnable=1"
  "IsConvert=1 Type=2 PagesMaxCount=1 IsReport=1 IsQuarantine=1"
  "IsConvert=1 Type=0 IsReport=1"
)
run() {  # binary, folder, settings
  local service="$2"
  run_service_folder "$1" "$service" "$3" "$kit" "$work/jobs"
  # Log lines begin with their time stamp and name the service folder: mask both.
  if [ -f "$service/log.txt" ]; then
    iconv -f UTF-16LE -t UTF-8 "$service/log.txt" |
      sed -E -e 's/^[0-9:. /-]{10,}/<time>/' -e "s|$service/|<service>/|g" >"$service/out/log.masked"
  fi
  # A report says when the job came and how long each stage took: masked.
  # Quarantined jobs and their reasons are compared with the results.
  local report
  for report in "$service"/out/*_report.json; do
    [ -e "$report" ] || continue
    masked_report "$report" >"$report.masked" && mv "$report.masked" "$report"
  done
  if [ -d "$service/failed" ]; then cp -r "$service/failed" "$service/out/failed.compared"; fi
}
differ=0
for i in "${!settings[@]}"; do
  run "$old" "$work/old$i" "${settings[$i]}"
  run "$new" "$work/new$i" "${settings[$i]}"
  if diff -r "$work/old$i/out" "$work/new$i/out" >"$work/diff$i.txt"; then
    echo "[compare] same: ${settings[$i]} ($(ls "$work/new$i/out" | wc -l) files)"
  else
    echo "[compare] DIFFERENT: ${settings[$i]}"; head -n 20 "$work/diff$i.txt"; differ=1
  fi
done
exit $differ
