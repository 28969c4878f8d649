#ifndef QUILLARO_PLATFORM_SEMAPHORE_H_
#define QUILLARO_PLATFORM_SEMAPHORE_H_

#include <cstdint>
#include <mutex>

#include "platform/event.h"

namespace quillaro {

// A counting semaphore with a maximum count, as the change queue needs it:
// Release() refuses to go past the maximum (and then changes nothing), and a
// successful wait takes one count. Thread-safe. Backed by an eventfd on
// Linux and a semaphore object on Windows, so it can be waited on together
// with events (WaitAny in platform/wait.h).
class CountingSemaphore {
 public:
  CountingSemaphore(uint32_t initial_count, uint32_t maximum_count);
  CountingSemaphore(const CountingSemaphore&) = delete;
  CountingSemaphore& operator=(const CountingSemaphore&) = delete;
  ~CountingSemaphore();

  // Adds `count`. Returns false, leaving the count unchanged, when the result
  // would exceed the maximum.
  bool Release(uint32_t count = 1);
  // Takes one count if one stands; never blocks.
  bool TryAcquire();
  // Takes one count, waiting up to `timeout_ms` (kInfinite: no limit).
  bool Acquire(uint32_t timeout_ms);
  // The count standing now (a snapshot).
  uint32_t Count() const;
  uint32_t maximum_count() const { return maximum_; }

  // Readable while the count is above zero. Valid for the semaphore's life.
  NativeHandle native_handle() const { return handle_.Get(); }

 private:
  const uint32_t maximum_;
  UniqueNativeHandle handle_;
  mutable std::mutex mu_;  // count_, and keeps it in step with the eventfd (Linux)
  uint32_t count_ = 0;
};

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_SEMAPHORE_H_
