#include "platform/event.h"

#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/monotonic_clock.h"

namespace quillaro {

ManualResetEvent::ManualResetEvent(bool signalled)
    : handle_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  // Without its descriptor the event cannot work at all; there is no way to
  // report that from a constructor short of crashing loudly.
  if (!handle_.Valid()) std::abort();
  if (signalled) Set();
}

ManualResetEvent::~ManualResetEvent() = default;

// The counter stays at 1 while signalled: Set() writes only when it is 0 and
// Reset() drains it, so readers can poll without consuming the signal.
void ManualResetEvent::Set() {
  if (IsSet()) return;
  uint64_t one = 1;
  // EAGAIN cannot happen below the counter's maximum.
  while (::write(handle_.Get(), &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void ManualResetEvent::Reset() {
  uint64_t value;
  while (::read(handle_.Get(), &value, sizeof value) < 0 && errno == EINTR) {
  }
}

bool ManualResetEvent::IsSet() const { return Wait(0); }

bool ManualResetEvent::Wait(uint32_t timeout_ms) const {
  const uint64_t start = MonotonicMilliseconds();
  for (;;) {
    int wait_ms = -1;
    if (timeout_ms != kInfinite) {
      uint64_t elapsed = MonotonicMilliseconds() - start;
      wait_ms = elapsed >= timeout_ms ? 0 : static_cast<int>(timeout_ms - elapsed);
    }
    pollfd fd = {handle_.Get(), POLLIN, 0};
    int n = ::poll(&fd, 1, wait_ms);
    if (n > 0) return true;
    if (n == 0) return false;
    if (errno != EINTR) return false;
  }
}

}  // namespace quillaro
