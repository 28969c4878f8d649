#ifndef QUILLARO_PLATFORM_EVENT_H_
#define QUILLARO_PLATFORM_EVENT_H_

#include <cstdint>

#include "platform/native_handle.h"

namespace quillaro {

// Wait time meaning "no limit".
inline constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// A manual-reset event: once Set(), it stays signalled until Reset().
// Thread-safe. Backed by an eventfd on Linux and an event object on Windows,
// so it can be waited on together with other objects (see WaitAny in
// platform/wait.h and the child-process runner).
class ManualResetEvent {
 public:
  explicit ManualResetEvent(bool signalled = false);
  ManualResetEvent(const ManualResetEvent&) = delete;
  ManualResetEvent& operator=(const ManualResetEvent&) = delete;
  ~ManualResetEvent();

  void Set();
  void Reset();
  bool IsSet() const;
  // Returns true if the event was (or became) signalled within `timeout_ms`.
  bool Wait(uint32_t timeout_ms) const;

  // Readable while signalled. Valid for the event's lifetime.
  NativeHandle native_handle() const { return handle_.Get(); }

 private:
  UniqueNativeHandle handle_;
};

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_EVENT_H_
