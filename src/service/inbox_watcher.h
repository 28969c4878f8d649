#ifndef QUILLARO_SERVICE_INBOX_WATCHER_H_
#define QUILLARO_SERVICE_INBOX_WATCHER_H_

#include <cstdint>
#include <deque>
#include <string>
#include <unordered_set>

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
// line on standard error, sets `events.stopped` and returns 1.
//
// No job is left behind: once the watch stands, every job already waiting in
// the folder (InboxListing::IsWaitingJob against the markers in
// `out_folder`: dropped while the service was down, or still waiting when
// it last stopped) is queued, oldest first, before the jobs that arrive
// later; so again whenever the change watcher had to look through the folder
// (kFolderRescanned), except for jobs already dispatched and not finished.
// Jobs enter the pool from that queue only as fast as the interpreter lock
// lets them run (Parallel, plus one waiting), since the pool's run limit
// counts a worker's wait for the lock; a job whose worker the pool ended is
// queued once more. Names beginning with "." (uploads in progress) are never
// dispatched. The stop request is honoured between two queued jobs; those
// not yet dispatched stay in the folder for the next start.
//
// Run() is the body of the inbox thread. `events` must outlive it.
class InboxWatcher {
 public:
  InboxWatcher(ThreadEventPair& events, std::u16string folder, std::u16string out_folder,
               WorkerEntry entry, WorkerPoolLimits limits = {});
  InboxWatcher(const InboxWatcher&) = delete;
  InboxWatcher& operator=(const InboxWatcher&) = delete;

  // Returns 0 once stopped, 1 when the folder cannot be watched.
  uint32_t Run();

 private:
  ThreadEventPair& events_;
  // Looks through folder_: forgets the in-flight paths that no longer wait
  // (finished, or gone) and, when `queue_found`, adds the waiting jobs that
  // are neither queued nor in flight to the end of waiting_.
  void QueueWaitingJobs(bool queue_found);
  // Hands `path` to a worker of `pool`, remembering it as in flight; queues
  // again, once, the jobs whose workers the pool terminated meanwhile.
  void Dispatch(WorkerPool& pool, const std::u16string& path);

  std::u16string folder_;
  std::u16string out_folder_;
  WorkerEntry entry_;
  WorkerPoolLimits limits_;
  // Jobs not yet dispatched, in their order (those found by looking through
  // the folder oldest first, then the records'); and the same paths as a set.
  std::deque<std::u16string> waiting_;
  std::unordered_set<std::u16string> queued_;
  // Paths dispatched whose job had no marker yet when last looked at. Kept
  // small: looked through once it doubles in size.
  std::unordered_set<std::u16string> in_flight_;
  // Jobs queued again after their worker was terminated, until they no
  // longer wait: a second termination leaves the job for the next start.
  std::unordered_set<std::u16string> retried_;
  static constexpr size_t kInFlightReviewMinimum = 1024;
  size_t in_flight_review_size_ = kInFlightReviewMinimum;
};

// The inbox thread of the service: an InboxWatcher over the folder "in"
// beside the executable, with job workers (RunJobWorker), using
// `threads->inbox`. Defined in inbox_thread.cc, beside the job workers it
// starts.
uint32_t InboxWatcherThread(ServiceThreads* threads);

}  // namespace quillaro

#endif  // QUILLARO_SERVICE_INBOX_WATCHER_H_
