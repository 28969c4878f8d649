#ifndef QUILLARO_SERVICE_INBOX_WATCHER_H_
#define QUILLARO_SERVICE_INBOX_WATCHER_H_

#include <cstdint>
#include <string>

#include "service/service_threads.h"
#include "service/worker_pool.h"

namespace quillaro {

// The capacity of the change queue, and the read buffer size, that the
// inbox watcher asks of its change watcher.
inline constexpr uint32_t kInboxQueueCapacity = 1000;
inline constexpr uint32_t kInboxReadBufferBytes = 16384;

// The inbox watcher: watches `folder` (not its sub-folders), turns change
// records into job paths by the last-name rule, and hands each to a worker
// of its pool, until `events.stop_request` is set; then drains the pool,
// ends the change watcher and sets `events.stopped`. Sets `events.started`
// once the folder is watched; when it cannot be, writes the reason as one
// line on standard error, sets `events.stopped` and returns 1. Files already
// in the folder when the watch begins are not dispatched.
//
// Run() is the body of the inbox thread. `events` must outlive it.
class InboxWatcher {
 public:
  InboxWatcher(ThreadEventPair& events, std::u16string folder, WorkerEntry entry,
               WorkerPoolLimits limits = {});
  InboxWatcher(const InboxWatcher&) = delete;
  InboxWatcher& operator=(const InboxWatcher&) = delete;

  // Returns 0 once stopped, 1 when the folder cannot be watched.
  uint32_t Run();

 private:
  ThreadEventPair& events_;
  std::u16string folder_;
  WorkerEntry entry_;
  WorkerPoolLimits limits_;
};

// The inbox thread of the service: an InboxWatcher over the folder "in"
// beside the executable, with job workers (RunJobWorker), using
// `threads->inbox`. Defined in inbox_thread.cc, beside the job workers it
// starts.
uint32_t InboxWatcherThread(ServiceThreads* threads);

}  // namespace quillaro

#endif  // QUILLARO_SERVICE_INBOX_WATCHER_H_
