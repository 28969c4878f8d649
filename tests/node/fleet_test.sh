#!/usr/bin/env bash
# The fleet against a real RabbitMQ on loopback, real nodes and real
# services: a node SIGKILLed mid-job, a poison job, a broker restarted
# mid-batch. Every job's results must reach the collector exactly once.
#   fleet_test.sh BUILD_FOLDER     (exit 77: skipped, broker or interpreters missing)
set -uo pipefail
build="$1"
repo="$(cd "$(dirname "$0")/../.." && pwd)"
if [ ! -x /usr/lib/rabbitmq/bin/rabbitmq-server ] || [ ! -e "$build/tests/service/gpcl6" ]; then
  echo "SKIPPED: needs rabbitmq-server and the interpreters: run bash scripts/setup.sh" >&2
  exit 77
fi
source "$repo/scripts/broker.sh"
source "$repo/scripts/fleet_members.sh"
work="$(mktemp -d)"
trap 'fleet_stop_members; broker_stop; [ -n "${FLEET_TEST_KEEP:-}" ] || rm -rf "$work"' EXIT
failures=0
passes=0
check() {  # check WHAT CONDITION...
  local what="$1"; shift
  if "$@"; then echo "ok: $what"; passes=$((passes + 1)); else echo "FAILED: $what" >&2; failures=$((failures + 1)); fi
}
submit() {  # submit OUT FILE... ; prints the closing line, keeps stderr in OUT.err
  mkdir -p "$1"
  "$build/src/node/quillaro-submit" --url "$BROKER_URL" --out "$1" --timeout-seconds 300 "${@:2}" \
    2>"$1.err"
}
markers() { find "$1" -name '*_done' | wc -l; }

# A free port above 20000, with its epmd (+10000) and distribution (+20000) ports.
port=$((20000 + RANDOM % 9000))
broker_start "$work/broker" "$port" || exit 1
settings=$'[Settings]\nIsConvert=1\nType=0'
for i in 0 1; do
  fleet_start_member "$work" "$i" "$build" "$settings" --max-failures 2 --marker-timeout-seconds 8 ||
    exit 1
done
fleet_make_jobs "$work/jobs" 12 "$build/tests/service/gs"

# 1. Node 0 dies holding a job: its job goes to node 1, and no result is lost
# or written twice.
submit "$work/out1" "$work"/jobs/job*.* >"$work/line1" &
submitter=$!
until [ -n "$(ls "$work/member-0/service/in")" ]; do sleep 0.01; done
kill -KILL "${NODE_PIDS[0]}"
wait "$submitter"
check "all 12 results after a node was killed: $(cat "$work/line1")" \
  grep -q '^submit: 12 submitted, 12 results, 0 lost' "$work/line1"
check "each job's marker once in the collector" [ "$(markers "$work/out1")" -eq 12 ]
check "node 1's service took its lock in its own lock folder" [ -n "$(ls "$work/member-1/lock")" ]

# 2. A job the service never takes (its name is one of the service's own
# result names) gets no marker: after 2 tries it is dead-lettered with why.
cp "$work/jobs/job0.ps" "$work/poison_pagescount.ps"
submit "$work/out2" "$work/poison_pagescount.ps" >"$work/line2"
check "the poison job comes back failed" \
  grep -q 'failed: no completion marker within 8 s; failed 2 times' "$work/out2/poison_pagescount.ps.error.txt"
"$build/src/node/quillaro-submit" --url "$BROKER_URL" --dead-letters >"$work/dead" 2>&1
check "the poison job is in the dead-letter queue with its reason" \
  grep -q 'poison_pagescount.ps: no completion marker within 8 s; failed 2 times' "$work/dead"

# 3. The broker restarts mid-batch: confirmed jobs and unacknowledged results
# survive it, the node and the submitter reconnect.
mkdir -p "$work/out3"
submit "$work/out3" "$work"/jobs/job*.* >"$work/line3" &
submitter=$!
until [ "$(markers "$work/out3")" -ge 3 ]; do sleep 0.05; done
broker_stop
broker_start "$work/broker" "$port" || exit 1
wait "$submitter"
check "all 12 results across a broker restart: $(cat "$work/line3")" \
  grep -q '^submit: 12 submitted, 12 results, 0 lost' "$work/line3"
check "each job's marker once after the restart" [ "$(markers "$work/out3")" -eq 12 ]

# 4. The URL names its virtual host: "/%2f" is the default one (every run
# above used it); a URL ending in "/" names the empty one, which is refused
# before any login, and a login to a virtual host that does not exist says
# which one it tried.
check "the broker URL names the default virtual host" [ "${BROKER_URL%/%2f}" != "$BROKER_URL" ]
node_says() {  # node_says URL: the node's first complaint about URL
  timeout 3 "$build/src/node/quillaro-node" --url "$1" --service "$work/member-0/service" 2>&1 |
    head -n 1
}
check "a URL ending in / is refused, naming the virtual host" \
  grep -q 'empty virtual host' <<<"$(node_says "${BROKER_URL%/%2f}/")"
check "a failed login names the virtual host" \
  grep -q 'login to virtual host "nosuch"' <<<"$(node_says "${BROKER_URL%/%2f}/nosuch")"

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
