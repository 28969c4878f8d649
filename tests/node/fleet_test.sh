#!/usr/bin/env bash
# The fleet against a real RabbitMQ on loopback (with the fleet's own
# definitions: per-role users, queues, policies), real nodes and real
# services. Each case below is one way an ordinary operation could lose or
# mix jobs; every job's results must reach its collector exactly once.
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
proxy=""
trap '[ -z "$proxy" ] || kill "$proxy" 2>/dev/null; fleet_stop_members; broker_stop
      [ -n "${FLEET_TEST_KEEP:-}" ] || rm -rf "$work"' EXIT
failures=0
passes=0
check() {  # check WHAT CONDITION...
  local what="$1"; shift
  if "$@"; then echo "ok: $what"; passes=$((passes + 1)); else echo "FAILED: $what" >&2; failures=$((failures + 1)); fi
}
fails() { ! "$@" 2>/dev/null; }  # fails COMMAND...: true when COMMAND fails
# A failed case leaves what the nodes said behind in the test's output, so
# that a failure seen once (in CI) can be read afterwards.
failures_at_case=0
show_logs_on_failure() {
  [ "$failures" -gt "$failures_at_case" ] || return 0
  local log
  for log in "$work"/member-*/node.err "$work"/member-*/service.err; do
    echo "[$log, last lines]" >&2
    tail -n 15 "$log" >&2
  done
  failures_at_case=$failures
}
case_() { show_logs_on_failure; echo "--- $*"; }
# One setting for the broker, the nodes and the submitters: 256 KiB, so that
# the oversized cases stay small.
export QUILLARO_MAX_MESSAGE_BYTES=262144
submit() {  # submit OUT FILE... ; prints the closing line, keeps stderr in OUT.err and the exit status in OUT.rc
  mkdir -p "$1"
  "$build/src/node/quillaro-submit" --url "$(broker_url submit)" \
    --password-file "$BROKER_DIR/passwords/quillaro-submit" --out "$1" --timeout-seconds 120 "${@:2}" \
    2>"$1.err"
  echo $? >"$1.rc"
}
markers() { find "$1" -name '*_done' | wc -l; }
dead_letters() {  # dead_letters OUT: the dead-letter queue's contents, as the monitor sees them
  "$build/src/node/quillaro-submit" --url "$(broker_url monitor)" \
    --password-file "$BROKER_DIR/passwords/quillaro-monitor" --dead-letters >"$1" 2>&1
}
http_get() {  # http_get URL: prints "STATUS" then the body (curl may be missing)
  python3 -c 'import sys, urllib.request, urllib.error
try:
    r = urllib.request.urlopen(sys.argv[1], timeout=5); print(r.status); print(r.read().decode())
except urllib.error.HTTPError as e:
    print(e.code)
except OSError:
    print(0)' "$1"
}
metric() {  # metric INDEX NAME: the node's current value
  http_get "http://127.0.0.1:$((port + 100 + $1))/metrics" | awk -v n="$2" '$1 == n { print $2 }'
}
node_flags() { echo --metrics-listen "127.0.0.1:$((port + 100 + $1))"; }
restart_node() {  # restart_node INDEX [FLAG...]: SIGTERM, then a new node with FLAGs
  local index="$1"; shift
  kill -TERM "${NODE_PIDS[$index]}" 2>/dev/null; wait "${NODE_PIDS[$index]}" 2>/dev/null
  fleet_start_node "$work" "$index" "$build" $(node_flags "$index") "$@"
  wait_for_log "$work/member-$index/node.err" 'waiting for jobs' "$(grep -c 'waiting for jobs' "$work/member-$index/node.err")"
}
wait_for_log() {  # wait_for_log FILE PATTERN COUNT_BEFORE [SECONDS]: until PATTERN occurs more often
  local deadline=$((SECONDS + ${4:-30}))
  until [ "$(grep -c "$2" "$1" 2>/dev/null)" -gt "$3" ]; do
    ((SECONDS < deadline)) || return 1
    sleep 0.1
  done
}
in_job_member() {  # the index of the member whose in/ holds a job, waiting for one
  local i
  for ((n = 0; n < 600; n++)); do
    for i in 0 1; do
      [ -z "$(ls "$work/member-$i/service/in" 2>/dev/null)" ] || { echo "$i"; return; }
    done
    sleep 0.02
  done
}

# A test CA and a broker certificate for "localhost" only, made now.
tls="$work/tls"
mkdir -p "$tls"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Quillaro fleet test CA" \
  -keyout "$tls/ca.key" -out "$tls/ca.pem" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" -keyout "$tls/broker.key" \
  -out "$tls/broker.csr" 2>/dev/null
printf 'subjectAltName = DNS:localhost\n' >"$tls/san.ext"
openssl x509 -req -in "$tls/broker.csr" -CA "$tls/ca.pem" -CAkey "$tls/ca.key" -CAcreateserial \
  -days 2 -extfile "$tls/san.ext" -out "$tls/broker.pem" 2>/dev/null
chmod 644 "$tls"/*

# A free port above 20000, with its epmd (+10000) and distribution (+20000)
# ports; amqps:// on +50, the node's metrics on +100 and +101.
port=$((20000 + RANDOM % 9000))
broker_start "$work/broker" "$port" $((port + 50)) "$tls/ca.pem" "$tls/broker.pem" "$tls/broker.key" ||
  exit 1
settings=$'[Settings]\nIsConvert=1\nType=1\nImageType=0\nLongPixelLength=400'
for i in 0 1; do
  fleet_start_member "$work" "$i" "$build" "$settings" $(node_flags "$i") || exit 1
done
fleet_make_jobs "$work/jobs" 12 "$build/tests/service/gs"
# A job that keeps the service busy for at least 4 s of processor time in
# each run (measurement and rendering), however fast the processor is, with
# PAGES pages.
slow_job() {  # slow_job FILE PAGES
  { printf '%%!PS\nusertime 4000 add { dup usertime lt { exit } if } loop pop\n'
    for ((p = 0; p < $2; p++)); do printf '/Helvetica findfont 20 scalefont setfont 72 700 moveto (slow) show showpage\n'; done
  } >"$1"
}

case_ "a node SIGKILLed mid-job: its job goes to the other node, nothing lost or doubled"
submit "$work/out1" "$work"/jobs/job*.* >"$work/line1" &
submitter=$!
until [ -n "$(ls "$work/member-0/service/in")" ]; do sleep 0.01; done
kill -KILL "${NODE_PIDS[0]}"
wait "$submitter"
check "all 12 results after a node was killed: $(cat "$work/line1")" \
  grep -q '^submit: 12 submitted, 12 results, 0 lost' "$work/line1"
check "each job's results in a folder of its own, under the submitted name, marker once" \
  [ "$(markers "$work/out1")" -eq 12 -a -f "$work/out1/job5.pcl/job5.pcl_done" \
    -a "$(ls "$work/out1/job5.pcl" | grep -c '^job5_.*jpg$')" -eq 1 ]
check "node 1's service took its lock in its own lock folder" [ -n "$(ls "$work/member-1/lock")" ]
wait "${NODE_PIDS[0]}" 2>/dev/null
fleet_start_node "$work" 0 "$build" $(node_flags 0)

case_ "a node sent SIGTERM mid-job finishes and acknowledges it, then exits 0"
slow_job "$work/slow.ps" 1
taken_before=("$(metric 0 quillaro_node_jobs_taken_total)" "$(metric 1 quillaro_node_jobs_taken_total)")
submit "$work/out2" "$work/slow.ps" >"$work/line2" &
submitter=$!
busy=$(in_job_member)
other=$((1 - busy))
kill -TERM "${NODE_PIDS[$busy]}"
wait "${NODE_PIDS[$busy]}"
status=$?
wait "$submitter"
check "the stopped node exited 0 after its job" [ "$status" -eq 0 ]
check "it finished the job first" grep -q 'stop requested: finishing job' "$work/member-$busy/node.err"
check "the job's results came once: $(cat "$work/line2")" \
  grep -q '^submit: 1 submitted, 1 results, 0 lost, 0 duplicates' "$work/line2"
check "no redelivery: the other node never took it" \
  [ "$(metric "$other" quillaro_node_jobs_taken_total)" -eq "${taken_before[$other]}" ]
fleet_start_node "$work" "$busy" "$build" $(node_flags "$busy")

case_ "a half-open connection is detected within a minute"
proxy_port=$((port + 60))
python3 "$repo/tests/node/freeze_proxy.py" "$proxy_port" "$port" &
proxy=$!
sleep 0.5
kill -TERM "${NODE_PIDS[0]}"; wait "${NODE_PIDS[0]}"
before=$(grep -c 'waiting for jobs' "$work/member-0/node.err")
"$build/src/node/quillaro-node" --url "$(broker_url node amqp 127.0.0.1 "$proxy_port")" \
  --password-file "$BROKER_DIR/passwords/quillaro-node" --service "$work/member-0/service" \
  --service-status "$work/member-0/service.err" --heartbeat-seconds 5 $(node_flags 0) \
  2>>"$work/member-0/node.err" &
NODE_PIDS[0]=$!
wait_for_log "$work/member-0/node.err" 'waiting for jobs' "$before"
lost_before=$(grep -c 'connection to the broker lost' "$work/member-0/node.err")
kill -USR1 "$proxy"
frozen_at=$SECONDS
wait_for_log "$work/member-0/node.err" 'connection to the broker lost' "$lost_before" 60
check "the node noticed within a minute ($((SECONDS - frozen_at)) s, heartbeat 5 s)" \
  [ $((SECONDS - frozen_at)) -lt 60 -a "$(grep -c 'connection to the broker lost' "$work/member-0/node.err")" -gt "$lost_before" ]
check "and connected again" wait_for_log "$work/member-0/node.err" 'waiting for jobs' "$((before + 1))" 30
kill -TERM "${NODE_PIDS[0]}" "$proxy"; wait "${NODE_PIDS[0]}" "$proxy" 2>/dev/null
proxy=""
fleet_start_node "$work" 0 "$build" $(node_flags 0)

case_ "a job with the same name as an abandoned one gets only its own results"
kill -TERM "${NODE_PIDS[1]}"; wait "${NODE_PIDS[1]}"
check "node 1 is stopped, so node 0 takes the jobs" fails kill -0 "${NODE_PIDS[1]}"
restart_node 0 --marker-timeout-seconds 2 --max-failures 1
mkdir -p "$work/same1" "$work/same2"
slow_job "$work/same1/same.ps" 3
printf '%%!PS\n/Helvetica findfont 20 scalefont setfont 72 700 moveto (own) show showpage\n' >"$work/same2/same.ps"
submit "$work/out3a" "$work/same1/same.ps" >"$work/line3a"
submit "$work/out3b" "$work/same2/same.ps" >"$work/line3b"
check "the abandoned job came back failed: $(cat "$work/line3a"; cat "$work/out3a.err")" \
  grep -q 'no completion marker within 2 s; failed 1 times' "$work/out3a/same.ps.error.txt"
check "exit status 3: a job failed" [ "$(cat "$work/out3a.rc")" = 3 ]
check "the node took nothing until its service had finished the abandoned job" \
  grep -q 'the service is idle again' "$work/member-0/node.err"
check "the new job's results are its own (1 page, not 3)" \
  [ "$(cat "$work/out3b/same.ps/same_pagescount.txt" 2>/dev/null)" = 1 ]
check "and only its own: one marker, one image" \
  [ "$(markers "$work/out3b")" -eq 1 -a "$(ls "$work/out3b/same.ps" | grep -c jpg)" -eq 1 ]
dead_letters "$work/dead"
check "the abandoned job is in the dead-letter queue with its reason" \
  grep -q 'same.ps: no completion marker within 2 s; failed 1 times' "$work/dead"
restart_node 0
fleet_start_node "$work" 1 "$build" $(node_flags 1)

case_ "a forged reply-to is refused; each role has only its own rights"
probe() { "$build/src/node/fleet_probe" "$1" "$(broker_url "$2")" "$BROKER_DIR/passwords/quillaro-$2" "${@:3}"; }
check "a submitter can send a job whose reply-to names the jobs queue" \
  [ "$(probe publish submit quillaro.submit quillaro.jobs forged-1 quillaro.jobs x.ps "$work/jobs/job0.ps")" = confirmed ]
for ((n = 0; n < 100; n++)); do
  ! grep -q 'job forged-1 dead-lettered' "$work"/member-*/node.err || break
  sleep 0.1
done
check "a node refuses it without running it" \
  grep -q 'job forged-1 dead-lettered: reply-to is not a results queue' "$work"/member-*/node.err
dead_letters "$work/dead2"
check "it is in the dead-letter queue, nothing reached the jobs queue" \
  grep -q 'forged-1 x.ps: reply-to is not a results queue' "$work/dead2"
check "a node cannot send jobs" fails probe publish node quillaro.submit quillaro.jobs n-1 quillaro.results.0123456789abcdef x.ps "$work/jobs/job0.ps"
check "a submitter cannot publish past the exchanges (default exchange)" \
  fails probe publish submit "" quillaro.jobs s-1 quillaro.results.0123456789abcdef x.ps "$work/jobs/job0.ps"
check "a submitter cannot read the jobs queue" fails probe drain submit quillaro.jobs 100
check "the monitor sees the jobs queue (KEDA's passive declare)" [ "$(probe exists monitor quillaro.jobs)" = yes ]
check "a password on the command line is refused" \
  fails "$build/src/node/quillaro-submit" --url "amqp://quillaro-submit:pw@127.0.0.1:$port/%2f" --out "$work/x" "$work/jobs/job0.ps"

case_ "a job the broker gives up reaches its collector as failed (the dead-letter relay)"
for i in 0 1; do kill -TERM "${NODE_PIDS[$i]}"; wait "${NODE_PIDS[$i]}"; done
"$build/src/node/quillaro-node" --relay-dead-letters --url "$(broker_url node)" \
  --password-file "$BROKER_DIR/passwords/quillaro-node" 2>"$work/relay.err" &
relay=$!
submit "$work/out10" "$work/jobs/job1.pdf" >"$work/line10" &
submitter=$!
# A node that hands the job back every time, as one whose service keeps
# dying would: past the queue's delivery limit the broker gives it up.
rejected=$(probe reject node quillaro.jobs 3000)
check "the job was handed back until the broker gave it up ($rejected times, limit 10)" [ "$rejected" -gt 10 ]
wait "$submitter"
check "its collector is told: $(cat "$work/line10")" \
  grep -q 'failed: given up by the broker' "$work/out10/job1.pdf.error.txt"
dead_letters "$work/dead3"
check "and it is in the dead-letter queue with its reason" grep -q 'job1.pdf: given up by the broker' "$work/dead3"
kill -TERM "$relay"; wait "$relay"
for i in 0 1; do fleet_start_node "$work" "$i" "$build" $(node_flags "$i"); done

case_ "an oversized job and an oversized result each give one clear error result; the batch completes"
head -c 300000 /dev/urandom >"$work/big.pcl"
cat >"$work/noisy.ps" <<'EOF'
%!PS
1 1 10 { pop gsave 36 36 translate 540 720 scale
  128 128 8 [128 0 0 128 0 0] { 16384 string 0 1 16383 { 1 index exch rand 256 mod put } for } image
  grestore showpage } for
EOF
retries_before=$(cat "$work"/member-*/node.err | grep -c 'failed (')
submit "$work/out4" "$work/jobs/job0.ps" "$work/jobs/job1.pdf" "$work/big.pcl" "$work/noisy.ps" >"$work/line4"
check "the batch completed: $(cat "$work/line4")" grep -q '^submit: 4 submitted, 3 results, 0 lost' "$work/line4"
check "the oversized job was refused before sending" grep -q 'exceed the broker.s message limit of 262144' "$work/out4/big.pcl.error.txt"
check "the oversized result was refused once, with its size" \
  grep -q "refused: the results' [0-9]* bytes exceed the message limit of 262144 bytes" "$work/out4/noisy.ps.error.txt"
check "the other jobs' results are there" [ "$(markers "$work/out4")" -eq 2 ]
check "exit status 3: jobs failed, none lost" [ "$(cat "$work/out4.rc")" = 3 ]
check "no node failed or retried anything" [ "$(cat "$work"/member-*/node.err | grep -c 'failed (')" -eq "$retries_before" ]

case_ "a resumed batch collects what the dead collector left; an unwritable result is not acknowledged"
mkdir -p "$work/out5/job2.pcl/blocker"  # the folder job2.pcl's results need is taken
submit "$work/out5" "$work"/jobs/job[0-5].* >"$work/line5"
check "the unwritable result stopped the run, exit status 1" [ "$(cat "$work/out5.rc")" = 1 ]
batch=$(sed -n 's/^quillaro-submit: batch //p' "$work/out5.err")
check "it says how to resume" grep -q "collect the rest with --batch $batch" "$work/out5.err"
rm -rf "$work/out5/job2.pcl"
submit "$work/out5" --batch "$batch" >"$work/line5b"
check "the resumed run collects the rest: $(cat "$work/line5b")" \
  grep -q '^submit: 6 submitted, 6 results, 0 lost' "$work/line5b"
check "every job's results once" [ "$(markers "$work/out5")" -eq 6 -a -f "$work/out5/job2.pcl/job2.pcl_done" ]
# A collector killed after sending: the results wait on the broker.
"$build/src/node/quillaro-submit" --url "$(broker_url submit)" \
  --password-file "$BROKER_DIR/passwords/quillaro-submit" --out "$work/out6" "$work"/jobs/job*.* \
  >/dev/null 2>"$work/out6.err" &
collector=$!
until [ "$(cat "$work"/out6/.batch-* 2>/dev/null | grep -c '^sent')" -ge 12 ]; do sleep 0.05; done
kill -KILL "$collector"; wait "$collector" 2>/dev/null
batch=$(sed -n 's/^quillaro-submit: batch //p' "$work/out6.err")
submit "$work/out6" --batch "$batch" >"$work/line6"
check "a batch whose collector was killed is collected by --batch: $(cat "$work/line6")" \
  grep -q '^submit: 12 submitted, 12 results, 0 lost' "$work/line6"
check "each of its jobs once" [ "$(markers "$work/out6")" -eq 12 ]

case_ "amqps:// with a test CA; a wrong host name is refused"
tls_submit() {  # tls_submit HOST CA OUT
  mkdir -p "$3"
  "$build/src/node/quillaro-submit" --url "$(broker_url submit amqps "$1" $((port + 50)))" \
    --password-file "$BROKER_DIR/passwords/quillaro-submit" --ca-file "$2" \
    --out "$3" --timeout-seconds 20 "$work/jobs/job3.ps" 2>"$3.err"
}
tls_submit localhost "$tls/ca.pem" "$work/out7" >"$work/line7"
check "a batch over TLS to localhost: $(cat "$work/line7")" [ "$(markers "$work/out7")" -eq 1 ]
tls_submit 127.0.0.1 "$tls/ca.pem" "$work/out8" >/dev/null
check "127.0.0.1 is not the certificate's name: refused" \
  grep -q 'connect to amqps://127.0.0.1' "$work/out8.err"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Another CA" \
  -keyout "$tls/other.key" -out "$tls/other.pem" 2>/dev/null
tls_submit localhost "$tls/other.pem" "$work/out8b" >/dev/null
check "a broker certificate of another CA is refused" grep -q 'connect to amqps://localhost' "$work/out8b.err"

case_ "the broker restarts mid-batch: confirmed jobs and unacknowledged results survive"
mkdir -p "$work/out9"
submit "$work/out9" "$work"/jobs/job*.* >"$work/line9" &
submitter=$!
until [ "$(ls "$work/out9" | wc -l)" -ge 3 ]; do sleep 0.05; done
broker_stop
broker_start "$work/broker" "$port" $((port + 50)) "$tls/ca.pem" "$tls/broker.pem" "$tls/broker.key" || exit 1
wait "$submitter"
check "all 12 results across a broker restart: $(cat "$work/line9")" \
  grep -q '^submit: 12 submitted, 12 results, 0 lost' "$work/line9"
check "each job's marker once after the restart" [ "$(markers "$work/out9")" -eq 12 ]

case_ "a node gives jobs only to a running service and clears what a restarted one left"
kill -TERM "${SERVICE_PIDS[0]}"; wait "${SERVICE_PIDS[0]}"
check "the node stops taking jobs when its service stops" \
  wait_for_log "$work/member-0/node.err" 'waiting for the service to report running' 0 10
cleared_before=$(grep -c 'its folder cleared of stale jobs' "$work/member-0/node.err")
touch "$work/member-0/service/out/stale.ps_done" "$work/member-0/service/in/stale.ps"
fleet_start_service "$work" 0
check "and clears the restarted service's folder of stale jobs before taking more" \
  wait_for_log "$work/member-0/node.err" 'its folder cleared of stale jobs' "$cleared_before" 10
check "the stale files are gone" [ ! -e "$work/member-0/service/out/stale.ps_done" ]

case_ "metrics and health"
check "jobs counted as succeeded" [ "$(metric 1 quillaro_node_jobs_succeeded_total)" -gt 0 ]
check "job durations as a histogram" [ -n "$(metric 1 quillaro_node_job_duration_seconds_count)" ]
check "healthy" [ "$(http_get "http://127.0.0.1:$((port + 101))/healthz" | head -n 1)" = 200 ]

case_ "the URL names its virtual host"
node_says() {  # node_says URL: the node's first complaint about URL
  timeout 3 "$build/src/node/quillaro-node" --url "$1" --password-file "$BROKER_DIR/passwords/quillaro-node" \
    --service "$work/member-0/service" 2>&1 | head -n 1
}
check "a URL ending in / is refused, naming the virtual host" \
  grep -q 'empty virtual host' <<<"$(node_says "amqp://quillaro-node@127.0.0.1:$port/")"
check "a failed login names the virtual host" \
  grep -q 'login to virtual host "nosuch"' <<<"$(node_says "amqp://quillaro-node@127.0.0.1:$port/nosuch")"

show_logs_on_failure
echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
