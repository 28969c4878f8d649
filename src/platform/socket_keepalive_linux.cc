#include "platform/socket_keepalive.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace quillaro {

bool EnableSocketKeepAlive(NativeSocket socket, uint32_t idle_seconds, uint32_t interval_seconds,
                           uint32_t probes, uint32_t unacknowledged_limit_ms, OsError* error) {
  const int on = 1;
  const int idle = static_cast<int>(idle_seconds);
  const int interval = static_cast<int>(interval_seconds);
  const int count = static_cast<int>(probes);
  const unsigned int user_timeout = unacknowledged_limit_ms;
  const struct {
    int level;
    int option;
    const void* value;
    socklen_t size;
    const char* name;
  } options[] = {
      {SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on, "setsockopt(SO_KEEPALIVE)"},
      {IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle, "setsockopt(TCP_KEEPIDLE)"},
      {IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval, "setsockopt(TCP_KEEPINTVL)"},
      {IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count, "setsockopt(TCP_KEEPCNT)"},
      {IPPROTO_TCP, TCP_USER_TIMEOUT, &user_timeout, sizeof user_timeout,
       "setsockopt(TCP_USER_TIMEOUT)"},
  };
  for (const auto& option : options) {
    if (::setsockopt(socket, option.level, option.option, option.value, option.size) != 0) {
      return FailWith(error, LastOsError(option.name, {}));
    }
  }
  return true;
}

}  // namespace quillaro
