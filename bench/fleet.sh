#!/usr/bin/env bash
# A local fleet: a private RabbitMQ on loopback, N members (a service with a
# service folder and a lock folder of its own, and its quillaro-node), and
# JOBS generated one-page jobs (PS, PDF, PCL; Type=1: measurement, rendering
# and a JPEG per page) sent by quillaro-submit. One node is SIGKILLed once a
# third of the results are in; a new node then takes its place on the same
# service folder, as an orchestrator restarts a dead container, and the job
# it held goes to whichever node the broker picks. Ends with
#   fleet: JOBS submitted, R results, L lost, D duplicates, T s, X jobs/s
# where D counts results that came twice and that the collector dropped.
#   bench/fleet.sh [N] [JOBS] [BUILD_FOLDER]   (default 2, 200, build/)
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
nodes="${1:-2}"
jobs="${2:-200}"
build="${3:-$repo/build}"
source "$repo/scripts/broker.sh"
source "$repo/scripts/fleet_members.sh"
work="$(mktemp -d)"
trap 'fleet_stop_members; broker_stop; rm -rf "$work"' EXIT

port=$((20000 + RANDOM % 9000))
broker_start "$work/broker" "$port"
settings=$'[Settings]\nIsConvert=1\nType=1\nImageType=0\nLongPixelLength=200'
for ((i = 0; i < nodes; i++)); do
  fleet_start_member "$work" "$i" "$build" "$settings"
done
fleet_make_jobs "$work/jobs" "$jobs" "$build/tests/service/gs"

mkdir -p "$work/out"
"$build/src/node/quillaro-submit" --url "$BROKER_URL" --out "$work/out" "$work"/jobs/job* \
  >"$work/line" 2>"$work/submit.err" &
submitter=$!
until (( $(find "$work/out" -name '*_done' | wc -l) >= jobs / 3 )); do sleep 0.1; done
kill -KILL "${NODE_PIDS[0]}"
echo "[fleet] killed node 0 after $(find "$work/out" -name '*_done' | wc -l) results" >&2
wait "${NODE_PIDS[0]}" 2>/dev/null || true
"$build/src/node/quillaro-node" --url "$BROKER_URL" --service "$work/member-0/service" \
  2>>"$work/member-0/node.err" &
NODE_PIDS[0]=$!
code=0
wait "$submitter" || code=$?
sed 's/^submit:/fleet:/' "$work/line"
markers=$(find "$work/out" -name '*_done' | wc -l)
[ "$markers" -eq "$jobs" ] || { echo "[fleet] $markers markers in the collector's folder" >&2; exit 1; }
exit "$code"
