# Sourced by the fleet test and bench/fleet.sh (after scripts/broker.sh):
# runs fleet members on this machine, each a Quillaro service with a service
# folder and a machine-wide lock folder of its own (so that members here
# exclude each other no more than machines do), fed by a quillaro-node that
# logs in as the broker's node user.
#   fleet_start_member WORK INDEX BUILD SETTINGS [NODE_FLAG...]
#       lays out WORK/member-INDEX (binary, interpreter links from the
#       build's test folders, SETTINGS as settings.ini), starts the service
#       and its node; sets SERVICE_PIDS[INDEX], NODE_PIDS[INDEX]. With
#       FLEET_CPU set, both run on that core only (taskset). The service's
#       status lines go to WORK/member-INDEX/service.err, which the node
#       reads to know whether its service runs.
#   fleet_start_service WORK INDEX   (re)starts a member's service alone
#   fleet_start_node WORK INDEX BUILD [NODE_FLAG...]   (re)starts its node
#   fleet_stop_members   ends every member still running
#   fleet_make_jobs DIR COUNT GS   COUNT small one-page jobs (PS, PDF, PCL)
SERVICE_PIDS=()
NODE_PIDS=()

# Run in the background as `fleet_pin CMD... &`: exec, so that $! is the
# program itself and a signal to it reaches it.
fleet_pin() { if [ -n "${FLEET_CPU:-}" ]; then exec taskset -c "$FLEET_CPU" "$@"; else exec "$@"; fi; }

fleet_start_service() {
  local work="$1" index="$2" member="$1/member-$2"
  # Appended to, never truncated: the node counts the starts in it.
  local starts
  starts=$(cat "$member/service.err" 2>/dev/null | grep -c 'Quillaro running' || true)
  QUILLARO_LOCK_FOLDER="$member/lock" fleet_pin "$member/service/quillaro" 2>>"$member/service.err" &
  SERVICE_PIDS[$index]=$!
  local deadline=$((SECONDS + 30))
  until [ "$(cat "$member/service.err" 2>/dev/null | grep -c 'Quillaro running')" -gt "$starts" ]; do
    ((SECONDS < deadline)) || { echo "[fleet] service $index did not start" >&2; return 1; }
    sleep 0.05
  done
}

fleet_start_node() {
  local work="$1" index="$2" build="$3" member="$1/member-$2"
  shift 3
  fleet_pin "$build/src/node/quillaro-node" --url "$(broker_url node)" \
    --password-file "$BROKER_DIR/passwords/quillaro-node" --service "$member/service" \
    --service-status "$member/service.err" "$@" 2>>"$member/node.err" &
  NODE_PIDS[$index]=$!
}

fleet_start_member() {
  local work="$1" index="$2" build="$3" settings="$4"
  shift 4
  local member="$work/member-$index"
  mkdir -p "$member/service/in" "$member/service/out" "$member/lock"
  cp "$build/quillaro" "$member/service/quillaro"
  local link
  for link in gs gpcl6 gxps urwfonts; do
    ln -sfn "$(readlink "$build/tests/service/$link")" "$member/service/$link"
  done
  printf '%s\n' "$settings" >"$member/service/settings.ini"
  fleet_start_service "$work" "$index" || return 1
  fleet_start_node "$work" "$index" "$build" "$@"
}

fleet_stop_members() {
  local pid
  for pid in "${NODE_PIDS[@]}" "${SERVICE_PIDS[@]}"; do
    kill -TERM "$pid" 2>/dev/null || true
  done
  for pid in "${NODE_PIDS[@]}" "${SERVICE_PIDS[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  NODE_PIDS=()
  SERVICE_PIDS=()
}

fleet_make_jobs() {
  local dir="$1" count="$2" gs="$3" i
  mkdir -p "$dir/corpus"
  printf '%%!PS\n/Helvetica findfont 20 scalefont setfont 72 700 moveto (fleet) show showpage\n' \
    >"$dir/corpus/page.ps"
  "$gs" -q -dBATCH -dNOPAUSE -dSAFER -sDEVICE=pdfwrite -sOutputFile="$dir/corpus/page.pdf" "$dir/corpus/page.ps"
  "$gs" -q -dBATCH -dNOPAUSE -dSAFER -sDEVICE=ljet4 -r150 -sOutputFile="$dir/corpus/page.pcl" "$dir/corpus/page.ps"
  local corpus=(ps pdf pcl)
  for ((i = 0; i < count; i++)); do
    cp "$dir/corpus/page.${corpus[$((i % 3))]}" "$dir/job$i.${corpus[$((i % 3))]}"
  done
}
