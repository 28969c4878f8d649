# Sourced by the fleet tests and bench/fleet.sh: starts and stops a private
# RabbitMQ node on loopback, with its own data, log and config folders, node
# name, ports and Erlang cookie, so that it never meets the machine's own
# broker (if any) or another run's. It loads the fleet's definitions
# (deploy/rabbitmq/definitions.json: queues, exchanges, policies, and one
# user per role with the least permissions it needs), with passwords made
# for it in DIR/passwords/.
#   broker_start DIR PORT [TLS_PORT CA CERT KEY]
#                           starts it (data kept in DIR across restarts);
#                           with TLS_PORT also an amqps:// listener there,
#                           with the PEM files CA, CERT and KEY. Sets
#                           BROKER_DIR and BROKER_PORT.
#   broker_url ROLE [SCHEME HOST PORT]
#                           the URL of role node, submit or monitor (no
#                           password: the fleet programs refuse one on their
#                           command line); its password file is
#                           $BROKER_DIR/passwords/quillaro-ROLE
#   broker_stop             stops it (SIGTERM: a clean shutdown) and its epmd
# QUILLARO_MAX_MESSAGE_BYTES (default 16 MiB) is the broker's message limit,
# the setting it shares with the nodes and submitters.
# The node's name depends on DIR only, so a restart finds its quorum queues.

broker_start() {
  local dir="$1" port="$2" tls_port="${3:-}" ca="${4:-}" cert="${5:-}" key="${6:-}"
  local repo
  repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
  mkdir -p "$dir/mnesia" "$dir/log" "$dir/home" "$dir/passwords"
  python3 "$repo/deploy/rabbitmq/make_definitions.py" "$repo/deploy/rabbitmq/definitions.json" \
    "$dir/definitions.json" "$dir/passwords" || return 1
  {
    printf 'listeners.tcp.default = 127.0.0.1:%s\n' "$port"
    printf 'load_definitions = %s\n' "$dir/definitions.json"
    printf 'max_message_size = %s\n' "${QUILLARO_MAX_MESSAGE_BYTES:-16777216}"
    # Only the definitions' users: no guest account.
    printf 'default_user = quillaro-admin\ndefault_pass = %s\n' "$(head -c 12 /dev/urandom | od -An -tx1 | tr -d ' \n')"
    if [ -n "$tls_port" ]; then
      printf 'listeners.ssl.default = 127.0.0.1:%s\n' "$tls_port"
      printf 'ssl_options.cacertfile = %s\nssl_options.certfile = %s\nssl_options.keyfile = %s\n' \
        "$ca" "$cert" "$key"
      printf 'ssl_options.verify = verify_none\nssl_options.fail_if_no_peer_cert = false\n'
    fi
  } >"$dir/rabbitmq.conf"
  [ -f "$dir/home/.erlang.cookie" ] ||
    { head -c 16 /dev/urandom | od -An -tx1 | tr -d ' \n' >"$dir/home/.erlang.cookie"
      chmod 400 "$dir/home/.erlang.cookie"; }
  BROKER_DIR="$dir"
  BROKER_PORT="$port"
  BROKER_EPMD_PORT=$((port + 10000))
  # Our own epmd on a private port, in the foreground, so that we own its pid.
  epmd -port "$BROKER_EPMD_PORT" -address 127.0.0.1 >/dev/null 2>&1 &
  BROKER_EPMD_PID=$!
  ( export HOME="$dir/home" ERL_EPMD_PORT="$BROKER_EPMD_PORT"
    export RABBITMQ_NODENAME="quillaro$(echo "$dir" | cksum | cut -d' ' -f1)@localhost"
    export RABBITMQ_NODE_IP_ADDRESS=127.0.0.1 RABBITMQ_NODE_PORT="$port"
    export RABBITMQ_DIST_PORT=$((port + 20000))
    export RABBITMQ_MNESIA_BASE="$dir/mnesia" RABBITMQ_LOG_BASE="$dir/log"
    export RABBITMQ_CONFIG_FILE="$dir/rabbitmq.conf" RABBITMQ_ENABLED_PLUGINS_FILE="$dir/plugins"
    export RABBITMQ_PID_FILE="$dir/pid" RABBITMQ_ENABLED_PLUGINS=""
    exec /usr/lib/rabbitmq/bin/rabbitmq-server >"$dir/log/stdout.txt" 2>&1 ) &
  BROKER_PID=$!
  local deadline=$((SECONDS + 120))
  until (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do
    if ! kill -0 "$BROKER_PID" 2>/dev/null || ((SECONDS > deadline)); then
      echo "[broker] did not start; log: $dir/log" >&2
      tail -n 20 "$dir/log/stdout.txt" >&2
      return 1
    fi
    sleep 0.2
  done
}

broker_url() {
  local role="$1" scheme="${2:-amqp}" host="${3:-127.0.0.1}" port="${4:-$BROKER_PORT}"
  # The last part is the virtual host: "/", written %2f.
  echo "$scheme://quillaro-$role@$host:$port/%2f"
}

broker_stop() {
  if [ -n "${BROKER_PID:-}" ]; then
    kill -TERM "$BROKER_PID" 2>/dev/null
    wait "$BROKER_PID" 2>/dev/null || true
    BROKER_PID=""
  fi
  if [ -n "${BROKER_EPMD_PID:-}" ]; then
    kill -TERM "$BROKER_EPMD_PID" 2>/dev/null
    wait "$BROKER_EPMD_PID" 2>/dev/null || true
    BROKER_EPMD_PID=""
  fi
}
