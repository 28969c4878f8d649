#!/usr/bin/env bash
# What the job report costs a Type=2 job: every job of the benchmark corpus
# (bench/corpus.sh, 33 jobs) goes through the real service from the drop into
# in/ to the completion marker, once with IsReport=0 and once with IsReport=1
# right after each other, so that the load of a shared machine weighs on both
# alike. Prints the sum over the jobs of each job's median time, for each
# setting, the report's share, and the load average.
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

job_ms() {  # job file, name in in/, IsReport value: one job from drop to marker, milliseconds
  settings "$3"
  local start end
  start=$(date +%s%N)
  cp "$1" "$folder/in/$2"
  until [ -e "$folder/out/${2}_done" ]; do sleep 0.005; done
  end=$(date +%s%N)
  rm -f "$folder/in/$2" "$folder"/out/*
  echo $(((end - start) / 1000000))
}

# Each job runs with and without the report back to back, the order
# swapped from job to job and round to round, under names of their own (the
# inbox takes a name dropped twice in a row for one job). A job that waited
# for the machine-wide interpreter lock (other services, other test runs)
# would weigh on one setting alone, so each job counts with its median over
# the rounds.
times="$folder/times"
: >"$times"
for ((round = 0; round <= rounds; round++)); do
  index=0
  for job in "$folder"/jobs/*; do
    name="$(basename "$job")"
    if (((round + index) % 2)); then order="1 0"; else order="0 1"; fi
    for report in $order; do
      ms=$(job_ms "$job" "${name%.*}_${round}_${report}.${name##*.}" "$report")
      # The first round warms the caches and lets the report ask the
      # interpreter versions; it is not counted.
      ((round == 0)) || echo "$name $report $ms" >>"$times"
    done
    index=$((index + 1))
  done
  echo "round $round done"
done
sort -k1,1 -k2,2n -k3,3n "$times" | awk '
  { key = $1 " " $2; v[key, ++n[key]] = $3 }
  END {
    for (key in n) {
      split(key, part, " ")
      sum[part[2]] += v[key, int((n[key] + 1) / 2)]
    }
    printf "sum of per-job medians: IsReport=0 %d ms, IsReport=1 %d ms; the report adds %+.1f %%\n",
      sum[0], sum[1], (sum[1] - sum[0]) * 100 / sum[0]
  }'
echo "load: $(uptime)"
