#!/usr/bin/env bash
# How the fleet scales, measured against what this machine itself allows.
# Two cores are not two machines: two programs pinned to a core each run
# well below twice the speed of one (shared caches, memory bandwidth, turbo).
# So the fleet's speed-up is compared with the machine's own ceiling,
# measured in the same run on the same jobs:
#   ceiling   one service on core 0 runs JOBS jobs (fed one at a time, as
#             a node feeds it), then two services on cores 0 and 1 run
#             JOBS/2 each, no broker: ceiling = time(one) / time(two)
#   fleet     one member (service and node, both on core 0) runs JOBS jobs
#             sent by quillaro-submit, then two members (on core 0 and core
#             1) run the same JOBS: speed-up = time(one) / time(two)
#   efficiency = speed-up / ceiling; overhead per job = (time of the
#             one-member fleet - time of the one service alone) / JOBS
# No node is killed in the timed runs. A separate run then kills one of two
# nodes (SIGKILL) once a third of the results are in, starts a new node on
# its service folder, and counts the lost and duplicate results.
# The broker and the submitter are not pinned: on this two-core machine they
# take their share from the members' cores, which is part of the overhead.
# Jobs: generated one-page PS, PDF and PCL, Type=1 (measurement, rendering,
# a JPEG per page).
# This machine is shared: other work comes and goes on its two cores and
# only ever adds time. So each round measures all four set-ups back to back
# on JOBS jobs, the rounds repeat, and each set-up counts with its best
# round (the one least disturbed); the median round is printed beside it.
#   bench/fleet.sh [JOBS] [ROUNDS] [BUILD_FOLDER]   (default 20, 6, build/)
# Ends with
#   fleet: ceiling C x, speed-up S x, efficiency E %, overhead O ms/job (best rounds)
#   fleet (median rounds): ...
#   fleet kill run: JOBS submitted, R results, L lost, D duplicates
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
jobs="${1:-20}"
rounds="${2:-6}"
build="${3:-$repo/build}"
[ "$(nproc)" -ge 2 ] || { echo "[fleet] needs two cores" >&2; exit 1; }
source "$repo/scripts/broker.sh"
source "$repo/scripts/fleet_members.sh"
work="$(mktemp -d)"
feeders=()
trap '[ ${#feeders[@]} -eq 0 ] || kill "${feeders[@]}" 2>/dev/null; fleet_stop_members; broker_stop
      rm -rf "$work"' EXIT
settings=$'[Settings]\nIsConvert=1\nType=1\nImageType=0\nLongPixelLength=200'
now() { date +%s.%N; }
seconds() { echo "$2 - $1" | bc -l; }

port=$((20000 + RANDOM % 9000))
broker_start "$work/broker" "$port"
fleet_make_jobs "$work/jobs" "$jobs" "$build/tests/service/gs"
for i in 0 1; do
  member="$work/member-$i"
  mkdir -p "$member/service/in" "$member/service/out" "$member/service/staging" "$member/lock"
  cp "$build/quillaro" "$member/service/quillaro"
  for link in gs gpcl6 gxps urwfonts; do
    ln -sfn "$(readlink "$build/tests/service/$link")" "$member/service/$link"
  done
  printf '%s\n' "$settings" >"$member/service/settings.ini"
done

stop_all() { fleet_stop_members; rm -rf "$work"/member-*/service/{in,out,staging}/*; }

# The service alone, fed as a node feeds it: one job at a time, written into
# staging/ and renamed into in/, the next once the marker of the last is in
# out/ (polled every 10 ms, as the node polls). Python: a shell loop would
# fork a process per poll on the very core it measures. Each feeder starts
# on the go file (its interpreter's start-up is not timed) and prints when it
# started and ended.
cat >"$work/feed.py" <<'PY'
import os, shutil, sys, time
go, service, files = sys.argv[1], sys.argv[2], sys.argv[3:]
open(os.path.join(service, "..", "ready"), "w").close()
while not os.path.exists(go):
    time.sleep(0.001)
start = time.time()
for path in files:
    name = os.path.basename(path)
    shutil.copyfile(path, os.path.join(service, "staging", name))
    os.rename(os.path.join(service, "staging", name), os.path.join(service, "in", name))
    while not os.path.exists(os.path.join(service, "out", name + "_done")):
        time.sleep(0.01)
print(start, time.time())
PY
# feed_services "INDEX FILE..." ...: feeds each member's service its files,
# all at once, and prints the seconds from the first start to the last end.
feed_services() {
  local specs=("$@") spec pids=() words
  rm -f "$work/go" "$work"/member-*/ready "$work"/feed-*.times
  for spec in "${specs[@]}"; do
    read -ra words <<<"$spec"
    python3 "$work/feed.py" "$work/go" "$work/member-${words[0]}/service" "${words[@]:1}" \
      >"$work/feed-${words[0]}.times" &
    pids+=($!)
  done
  feeders=("${pids[@]}")
  for spec in "${specs[@]}"; do
    until [ -e "$work/member-${spec%% *}/ready" ]; do sleep 0.01; done
  done
  touch "$work/go"
  wait "${pids[@]}"
  feeders=()
  cat "$work"/feed-*.times | awk 'NR == 1 || $1 < s { s = $1 } NR == 1 || $2 > e { e = $2 } END { print e - s }'
}

# The fleet: sends all jobs and waits for every result.
submit_all() {  # submit_all OUT
  mkdir -p "$1"
  "$build/src/node/quillaro-submit" --url "$(broker_url submit)" \
    --password-file "$BROKER_DIR/passwords/quillaro-submit" --out "$1" "$work"/jobs/job* \
    2>"$1.err" >"$1.line"
  grep -q ' 0 lost' "$1.line"
}

all=("$work"/jobs/job*)
half=$(( jobs / 2 ))
times=()  # one line per round: c1 c2 t1 t2
for ((round = 1; round <= rounds; round++)); do
  # Ceiling: one service on one core, then two on one core each.
  FLEET_CPU=0 fleet_start_service "$work" 0
  c1=$(feed_services "0 ${all[*]}")
  stop_all
  FLEET_CPU=0 fleet_start_service "$work" 0
  FLEET_CPU=1 fleet_start_service "$work" 1
  c2=$(feed_services "0 ${all[*]:0:half}" "1 ${all[*]:half}")
  stop_all
  # The fleet: one member on one core, then two members on one core each.
  FLEET_CPU=0 fleet_start_member "$work" 0 "$build" "$settings"
  start=$(now); submit_all "$work/one-$round"; t1=$(seconds "$start" "$(now)")
  stop_all
  FLEET_CPU=0 fleet_start_member "$work" 0 "$build" "$settings"
  FLEET_CPU=1 fleet_start_member "$work" 1 "$build" "$settings"
  start=$(now); submit_all "$work/two-$round"; t2=$(seconds "$start" "$(now)")
  stop_all
  printf '[fleet] round %d: service alone %.2f s, two services %.2f s, one member %.2f s, two members %.2f s (load %s)\n' \
    "$round" "$c1" "$c2" "$t1" "$t2" "$(cut -d' ' -f1 /proc/loadavg)" >&2
  times+=("$c1 $c2 $t1 $t2")
done
# pick COLUMN min|median: that column's best or median round
pick() {
  printf '%s\n' "${times[@]}" | awk -v c="$1" '{ print $c }' | sort -g |
    awk -v how="$2" '{ v[NR] = $1 } END { print (how == "min") ? v[1] : v[int((NR + 1) / 2)] }'
}
summary() {  # summary min|median LABEL
  local c1 c2 t1 t2
  c1=$(pick 1 "$1"); c2=$(pick 2 "$1"); t1=$(pick 3 "$1"); t2=$(pick 4 "$1")
  local ceiling speedup
  ceiling=$(echo "$c1 / $c2" | bc -l); speedup=$(echo "$t1 / $t2" | bc -l)
  printf '%s: %d jobs, %d rounds: ceiling %.2f x, speed-up %.2f x, efficiency %.0f %%, overhead %.0f ms/job (%s)\n' \
    "$2" "$jobs" "$rounds" "$ceiling" "$speedup" "$(echo "100 * $speedup / $ceiling" | bc -l)" \
    "$(echo "1000 * ($t1 - $c1) / $jobs" | bc -l)" "$3"
}
summary min "fleet" "best rounds"
summary median "fleet" "median rounds"

# The kill run: not timed.
for i in 0 1; do FLEET_CPU=$i fleet_start_member "$work" "$i" "$build" "$settings"; done
mkdir -p "$work/kill"
"$build/src/node/quillaro-submit" --url "$(broker_url submit)" \
  --password-file "$BROKER_DIR/passwords/quillaro-submit" --out "$work/kill" "$work"/jobs/job* \
  >"$work/kill.line" 2>"$work/kill.err" &
submitter=$!
# (2>/dev/null: the collector renames folders while find walks them)
until (( $(find "$work/kill" -name '*_done' 2>/dev/null | wc -l) >= jobs / 3 )); do sleep 0.1; done
kill -KILL "${NODE_PIDS[0]}"
wait "${NODE_PIDS[0]}" 2>/dev/null || true
FLEET_CPU=0 fleet_start_node "$work" 0 "$build"
code=0
wait "$submitter" || code=$?
sed 's/^submit:/fleet kill run:/' "$work/kill.line"
markers=$(find "$work/kill" -name '*_done' | wc -l)
[ "$markers" -eq "$jobs" ] || { echo "[fleet] $markers markers in the collector's folder" >&2; exit 1; }
exit "$code"
