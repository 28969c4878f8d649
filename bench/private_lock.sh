# Sourced first by the end-to-end benchmarks, with the benchmark's own
# arguments. Other services on this machine share the machine-wide
# interpreter lock; run as root, the benchmark takes a private lock folder (a
# mount namespace of its own, /run/lock a fresh tmpfs there) so that their
# jobs cannot stall it, by starting itself again inside that namespace.
# QUILLARO_BENCH_SHARED_LOCK=1 keeps the machine's.
if [ -z "${QUILLARO_BENCH_SHARED_LOCK:-}" ] && [ "$(id -u)" = 0 ] &&
  unshare -m --propagation private true 2>/dev/null; then
  export QUILLARO_BENCH_SHARED_LOCK=1
  exec unshare -m --propagation private bash -c 'mount -t tmpfs tmpfs /run/lock && exec bash "$0" "$@"' "$0" "$@"
fi
