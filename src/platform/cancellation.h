#ifndef QUILLARO_PLATFORM_CANCELLATION_H_
#define QUILLARO_PLATFORM_CANCELLATION_H_

#include "platform/event.h"

namespace quillaro {

// Cooperative cancellation of a thread's work. POSIX has no safe way to kill a
// thread, so a job worker installs its cancel event for the duration of a
// job; the child-process runner watches the current thread's event while a
// child runs and kills the child's whole process group as soon as it is set,
// and the worker skips its remaining stages.
//
// Installs `cancel` as the calling thread's cancel event until destruction
// (restoring the previous one). `cancel` must outlive this object.
class ScopedCancellation {
 public:
  explicit ScopedCancellation(const ManualResetEvent& cancel);
  ScopedCancellation(const ScopedCancellation&) = delete;
  ScopedCancellation& operator=(const ScopedCancellation&) = delete;
  ~ScopedCancellation();

 private:
  const ManualResetEvent* previous_;
};

// The calling thread's cancel event, or nullptr when none is installed.
const ManualResetEvent* CurrentCancellation();

// True when the calling thread's cancel event is installed and set.
bool CancellationRequested();

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_CANCELLATION_H_
