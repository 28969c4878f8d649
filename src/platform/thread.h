#ifndef QUILLARO_PLATFORM_THREAD_H_
#define QUILLARO_PLATFORM_THREAD_H_

#include <functional>
#include <memory>

#include "platform/event.h"
#include "platform/os_error.h"

namespace quillaro {

enum class ThreadPriority {
  kNormal,
  // Below the service's own threads, so a busy job never starves the inbox
  // watcher or the stop sequence (THREAD_PRIORITY_LOWEST on Windows).
  // Child processes started from such a thread inherit its priority on
  // Linux.
  kLowest,
};

// A thread of the service, owned by one object: its owner joins it. Start()
// runs `body` on a new thread; finished() is signalled when the body has
// returned, so an owner can tell a finished thread from a running one
// without blocking, and wait for it together with other events.
class Thread {
 public:
  Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  // Joins the thread if it still runs.
  ~Thread();

  // Starts the thread. Returns false (and runs nothing) when the system
  // cannot create one, and then sets `*error` (when not null) to the call
  // that failed, or when a thread was already started.
  bool Start(std::function<void()> body, ThreadPriority priority = ThreadPriority::kNormal,
             OsError* error = nullptr);
  bool Started() const;
  // Signalled once the body has returned. Set from the start when no thread
  // was ever started, so waiting on it never hangs.
  const ManualResetEvent& finished() const;
  // Waits for the body to return and releases the thread. Safe to call when
  // nothing was started or the thread was already joined.
  void Join();
  // Lets the thread run on alone; it releases itself when it ends. Used only
  // when its owner cannot wait any longer; `body` must not refer to anything
  // that the owner destroys.
  void Detach();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The system-specific parts of Thread.
// Lowers the calling thread below the service's own threads (a nice step on
// Linux, THREAD_PRIORITY_LOWEST on Windows); failing leaves it as it was.
// Thread calls it from the new thread for ThreadPriority::kLowest.
void LowerCallingThreadPriority();
// Why the system made no thread, when the C++ library's thread start failed
// with `error_number` (an errno value): the system's own call and code.
// Call it on the thread that tried, right after the failure.
OsError ThreadStartError(int error_number);

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_THREAD_H_
