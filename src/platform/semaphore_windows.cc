#include "platform/semaphore.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "platform/windows_util_windows.h"

namespace quillaro {

// A Win32 semaphore does the counting and refuses a release past its maximum
// by itself; count_ is not used on Windows, as WaitAny takes counts straight
// from the kernel object.
CountingSemaphore::CountingSemaphore(uint32_t initial_count, uint32_t maximum_count)
    : maximum_(maximum_count),
      handle_(::CreateSemaphoreW(
          nullptr, 0,
          static_cast<LONG>(std::min<uint32_t>(std::max<uint32_t>(maximum_count, 1),
                                               std::numeric_limits<LONG>::max())),
          nullptr)) {
  if (!handle_.Valid()) std::abort();
  if (initial_count > 0) Release(initial_count);
}

CountingSemaphore::~CountingSemaphore() = default;

bool CountingSemaphore::Release(uint32_t count) {
  if (count == 0) return true;
  if (count > maximum_) return false;
  return ::ReleaseSemaphore(handle_.Get(), static_cast<LONG>(count), nullptr) != 0;
}

bool CountingSemaphore::TryAcquire() { return Acquire(0); }

bool CountingSemaphore::Acquire(uint32_t timeout_ms) {
  return ::WaitForSingleObject(handle_.Get(), timeout_ms) == WAIT_OBJECT_0;
}

uint32_t CountingSemaphore::Count() const {
  // Windows offers no documented read of a semaphore's count: take one and
  // give it back, which reports the count before the give-back.
  std::lock_guard<std::mutex> lock(mu_);
  if (::WaitForSingleObject(handle_.Get(), 0) != WAIT_OBJECT_0) return 0;
  LONG previous = 0;
  ::ReleaseSemaphore(handle_.Get(), 1, &previous);
  return static_cast<uint32_t>(previous) + 1;
}

}  // namespace quillaro
