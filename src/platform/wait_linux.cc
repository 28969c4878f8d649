#include "platform/wait.h"

#include <errno.h>
#include <poll.h>

#include <vector>

#include "platform/monotonic_clock.h"

namespace quillaro {

int WaitAny(std::span<const Waitable> objects, uint32_t timeout_ms) {
  std::vector<pollfd> fds;
  fds.reserve(objects.size());
  for (const Waitable& object : objects) {
    int fd = object.event_ != nullptr ? object.event_->native_handle()
                                      : object.semaphore_->native_handle();
    fds.push_back({fd, POLLIN, 0});
  }
  const uint64_t start = MonotonicMilliseconds();
  if (objects.empty()) return kWaitFailed;
  for (;;) {
    int wait_ms = -1;
    if (timeout_ms != kInfinite) {
      uint64_t elapsed = MonotonicMilliseconds() - start;
      wait_ms = elapsed >= timeout_ms ? 0 : static_cast<int>(timeout_ms - elapsed);
    }
    for (pollfd& fd : fds) fd.revents = 0;
    int n = ::poll(fds.data(), fds.size(), wait_ms);
    if (n < 0) {
      if (errno == EINTR) continue;
      return kWaitFailed;
    }
    if (n == 0) return kWaitTimeout;
    int index = 0;
    for (const Waitable& object : objects) {
      const pollfd& fd = fds[index];
      if (fd.revents & (POLLERR | POLLNVAL)) return kWaitFailed;
      if (fd.revents & POLLIN) {
        // Another consumer may have taken the count between poll and read;
        // then this semaphore was not signalled for us after all.
        if (object.event_ != nullptr || object.semaphore_->TryAcquire()) return index;
      }
      ++index;
    }
    if (wait_ms == 0) return kWaitTimeout;
  }
}

}  // namespace quillaro
