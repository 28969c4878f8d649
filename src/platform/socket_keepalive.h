#ifndef QUILLARO_PLATFORM_SOCKET_KEEPALIVE_H_
#define QUILLARO_PLATFORM_SOCKET_KEEPALIVE_H_

#include <cstdint>

#include "platform/os_error.h"

namespace quillaro {

// A connected socket as the system numbers it (a file descriptor on Linux),
// borrowed: the caller's library owns it and closes it.
using NativeSocket = int;

// Makes the system give up a TCP connection whose peer has vanished: after
// `idle_seconds` without traffic it sends a probe every `interval_seconds`
// and drops the connection after `probes` unanswered ones, and data sent but
// not acknowledged for `unacknowledged_limit_ms` also drops it (a write into
// a dead connection would otherwise block until the send buffer fills and
// then for ever). False with the reason in `*error`; the socket is unchanged
// then. Linux only so far: the fleet programs, its only callers, are built
// on Linux only.
bool EnableSocketKeepAlive(NativeSocket socket, uint32_t idle_seconds, uint32_t interval_seconds,
                           uint32_t probes, uint32_t unacknowledged_limit_ms, OsError* error);

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_SOCKET_KEEPALIVE_H_
