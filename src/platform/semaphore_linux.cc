#include "platform/semaphore.h"

#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/monotonic_clock.h"

namespace quillaro {

// EFD_SEMAPHORE makes every read take exactly one count off the eventfd's
// counter, so the descriptor is readable exactly while counts stand.
CountingSemaphore::CountingSemaphore(uint32_t initial_count, uint32_t maximum_count)
    : maximum_(maximum_count),
      handle_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK | EFD_SEMAPHORE)) {
  if (!handle_.Valid()) std::abort();
  if (initial_count > 0) Release(initial_count);
}

CountingSemaphore::~CountingSemaphore() = default;

bool CountingSemaphore::Release(uint32_t count) {
  std::lock_guard<std::mutex> lock(mu_);
  if (count == 0 || count > maximum_ - count_) return count == 0;
  uint64_t value = count;
  ssize_t written;
  do {
    written = ::write(handle_.Get(), &value, sizeof value);
  } while (written < 0 && errno == EINTR);
  if (written != sizeof value) return false;
  count_ += count;
  return true;
}

bool CountingSemaphore::TryAcquire() {
  std::lock_guard<std::mutex> lock(mu_);
  if (count_ == 0) return false;
  uint64_t value;
  ssize_t got;
  do {
    got = ::read(handle_.Get(), &value, sizeof value);
  } while (got < 0 && errno == EINTR);
  if (got != sizeof value) return false;
  --count_;
  return true;
}

bool CountingSemaphore::Acquire(uint32_t timeout_ms) {
  const uint64_t start = MonotonicMilliseconds();
  for (;;) {
    if (TryAcquire()) return true;
    int wait_ms = -1;
    if (timeout_ms != kInfinite) {
      uint64_t elapsed = MonotonicMilliseconds() - start;
      if (elapsed >= timeout_ms) return false;
      wait_ms = static_cast<int>(timeout_ms - elapsed);
    }
    pollfd fd = {handle_.Get(), POLLIN, 0};
    if (::poll(&fd, 1, wait_ms) < 0 && errno != EINTR) return false;
  }
}

uint32_t CountingSemaphore::Count() const {
  std::lock_guard<std::mutex> lock(mu_);
  return count_;
}

}  // namespace quillaro
