#ifndef QUILLARO_PLATFORM_WAIT_H_
#define QUILLARO_PLATFORM_WAIT_H_

#include <cstdint>
#include <initializer_list>
#include <span>

#include "platform/event.h"
#include "platform/semaphore.h"

namespace quillaro {

// One object of a WaitAny list: an event (waiting leaves it signalled) or a
// semaphore (a successful wait takes one count).
class Waitable {
 public:
  Waitable(const ManualResetEvent& event) : event_(&event) {}          // NOLINT
  Waitable(CountingSemaphore& semaphore) : semaphore_(&semaphore) {}  // NOLINT

 private:
  friend int WaitAny(std::span<const Waitable> objects, uint32_t timeout_ms);
  const ManualResetEvent* event_ = nullptr;
  CountingSemaphore* semaphore_ = nullptr;
};

inline constexpr int kWaitTimeout = -1;
inline constexpr int kWaitFailed = -2;

// Waits until any of `objects` is signalled, at most `timeout_ms`
// (kInfinite: no limit). Returns the index of the first signalled object in
// list order (having taken one count when it is a semaphore), kWaitTimeout,
// or kWaitFailed when the system refuses the wait (callers must not simply
// retry that without bound).
int WaitAny(std::span<const Waitable> objects, uint32_t timeout_ms);
inline int WaitAny(std::initializer_list<Waitable> objects, uint32_t timeout_ms) {
  return WaitAny(std::span<const Waitable>(objects.begin(), objects.size()), timeout_ms);
}

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_WAIT_H_
