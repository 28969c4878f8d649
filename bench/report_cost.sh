#!/usr/bin/env bash
# What the job report costs a Type=2 job: the benchmark corpus (bench/corpus.sh,
# 33 jobs) goes through the real service one job at a time, from the drop into
# in/ to the completion marker, in rounds that alternate IsReport=0 and
# IsReport=1 (the order swapped every round, so that the load of a shared
# machine weighs on both alike). Prints each batch, the median of each
# setting and the report's share, and the load average.
#   bench/report_cost.sh [build folder] [rounds]   (default build, 3)
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$repo/build}" && pwd)"
rounds="${2:-3}"
kit="$build/tests/interp"  # gs, gpcl6, gxps and urwfonts, linked by the build
[ -x "$build/quillaro" ] || { echo "build $build/quillaro first" >&2; exit 1; }

folder="$(mktemp -d)"
service=""
cleanup() {
  [ -n "$service" ] && kill -TERM "$service" 2>/dev/null && wait "$service" 2>/dev/null
  rm -rf "$folder"
}
trap cleanup EXIT
cp "$build/quillaro" "$folder/"
for tool in gs gpcl6 gxps urwfonts; do ln -s "$(readlink -f "$kit/$tool")" "$folder/$tool"; done
mkdir -p "$folder/in" "$folder/out" "$folder/jobs"
bash "$repo/bench/corpus.sh" "$folder/gs" "$folder/jobs"
settings() {
  printf '[Settings]\nIsConvert=1\nType=2\nImageType=0\nPagesMaxCount=10\nIsReport=%s\n' \
    "$1" >"$folder/settings.ini"
}
settings 0
(cd "$folder" && exec ./quillaro 2>"$folder/stderr.txt") &
service=$!
until grep -q running "$folder/stderr.txt" 2>/dev/null; do sleep 0.1; done
sleep 0.5  # the watch on in/ stands just after "running"

batch_ms() {  # IsReport value: every job, one at a time; prints milliseconds
  settings "$1"
  rm -f "$folder"/out/*
  local start end job name
  start=$(date +%s%N)
  for job in "$folder"/jobs/*; do
    name="$(basename "$job")"
    cp "$job" "$folder/in/$name"
    until [ -e "$folder/out/${name}_done" ]; do sleep 0.01; done
    rm -f "$folder/in/$name"
  done
  end=$(date +%s%N)
  echo $(((end - start) / 1000000))
}

batch_ms 1 >/dev/null  # warm-up: caches, and the interpreter versions the report asks once
without=()
with=()
for ((round = 1; round <= rounds; round++)); do
  if ((round % 2)); then order="0 1"; else order="1 0"; fi
  for report in $order; do
    ms=$(batch_ms "$report")
    echo "round $round IsReport=$report: $ms ms"
    if [ "$report" = 0 ]; then without+=("$ms"); else with+=("$ms"); fi
  done
done
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
m0=$(median "${without[@]}")
m1=$(median "${with[@]}")
awk -v a="$m0" -v b="$m1" 'BEGIN {
  printf "median IsReport=0: %d ms, IsReport=1: %d ms, report: %+.1f %%\n", a, b, (b - a) * 100 / a }'
echo "load: $(uptime)"
