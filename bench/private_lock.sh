# Sourced first by the end-to-end benchmarks, with the benchmark's own
# arguments. Today's service keeps its interpreter lock beside it (or in
# QUILLARO_LOCK_FOLDER), so the benchmark's own folder already makes it
# private; builds from before that took a machine-wide lock in /run/lock,
# which other services on this machine share and could stall the benchmark
# through. To measure such a build against today's, run as root the
# benchmark takes a private /run/lock (a mount namespace of its own, a fresh
# tmpfs there) by starting itself again inside that namespace.
# QUILLARO_BENCH_SHARED_LOCK=1 keeps the machine's.
if [ -z "${QUILLARO_BENCH_SHARED_LOCK:-}" ] && [ "$(id -u)" = 0 ] &&
  unshare -m --propagation private true 2>/dev/null; then
  export QUILLARO_BENCH_SHARED_LOCK=1
  exec unshare -m --propagation private bash -c 'mount -t tmpfs tmpfs /run/lock && exec bash "$0" "$@"' "$0" "$@"
fi
