#include "service/inbox_watcher.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <unordered_set>
#include <utility>
#include <vector>

#include "config/path_utils.h"
#include "config/settings.h"
#include "config/text_utils.h"
#include "platform/wait.h"
#include "service/change_record.h"
#include "service/change_watcher.h"
#include "service/job_path_rules.h"
#include "service/last_name_filter.h"
#include "service/waiting_jobs.h"

namespace quillaro {
namespace {

// After a failed wait, pause this long before waiting again, so that a
// broken wait can never turn into a busy loop.
constexpr auto kFailedWaitPause = std::chrono::milliseconds(100);

// While jobs wait for a free worker, the stop request is looked at this
// often.
constexpr uint32_t kQueuePollMs = 500;

// How many workers may be busy at once (not counting those past their run
// limit): as many as the interpreter lock lets run their stages side by side
// (the Parallel setting, 0 meaning one per core), and one more that waits
// for it, so that the lock never waits for a worker to be started.
int PaceWorkers() {
  const Settings settings = LoadSettings();
  const int cores = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
  const int running = settings.Parallel == 0 ? cores : settings.Parallel;
  return std::clamp(running + 1, 1, kWorkerSlotCount);
}

}  // namespace

InboxWatcher::InboxWatcher(ThreadEventPair& events, std::u16string folder,
                           std::u16string out_folder, WorkerEntry entry, WorkerPoolLimits limits)
    : events_(events),
      folder_(std::move(folder)),
      out_folder_(std::move(out_folder)),
      entry_(std::move(entry)),
      limits_(limits) {}

void InboxWatcher::QueueWaitingJobs(bool queue_found) {
  const std::vector<std::u16string> waiting = InboxListing(folder_, out_folder_).WaitingJobs();
  const std::unordered_set<std::u16string> still_waiting(waiting.begin(), waiting.end());
  auto finished = [&](const std::u16string& path) { return !still_waiting.contains(path); };
  std::erase_if(in_flight_, finished);
  std::erase_if(retried_, finished);
  in_flight_review_size_ = std::max(kInFlightReviewMinimum, 2 * in_flight_.size());
  if (!queue_found) return;
  for (const std::u16string& path : waiting) {
    if (in_flight_.contains(path) || !queued_.insert(path).second) continue;
    waiting_.push_back(path);
  }
}

void InboxWatcher::Dispatch(WorkerPool& pool, const std::u16string& path) {
  in_flight_.insert(path);
  if (in_flight_.size() >= in_flight_review_size_) {
    // Forget the jobs that have finished. Nothing found is queued: in a
    // burst, the jobs still waiting have their change records on the way.
    QueueWaitingJobs(false);
  }
  pool.Dispatch(path);
  // A worker is terminated when it has run past its limit, and the limit
  // counts its wait for the interpreter lock: in a burst behind slow jobs,
  // one that never began is ended too. Such a job goes once more, at the
  // queue's pace, where it waits without a limit.
  for (std::u16string& ended : pool.TakeTerminatedPaths()) {
    if (!retried_.insert(ended).second) continue;
    in_flight_.erase(ended);
    if (queued_.insert(ended).second) waiting_.push_back(std::move(ended));
  }
}

uint32_t InboxWatcher::Run() {
  {
    ChangeWatcher watcher(kInboxQueueCapacity);
    WorkerPool pool(entry_, limits_);
    LastNameFilter filter;
    OsError error;
    if (!watcher.Watch(folder_, false, kInboxReadBufferBytes, &error)) {
      ReportOsError(error, "cannot watch the job folder");
      watcher.Terminate();
      events_.stopped.Set();
      return 1;
    }
    events_.started.Set();
    const int pace = PaceWorkers();
    // The watch stands: a job dropped from now on comes as a record, and
    // every one dropped before is found here (one dropped in between may be
    // both, and is processed twice, which changes none of its results).
    QueueWaitingJobs(true);

    for (;;) {
      // Queued jobs go first, in their order, one per turn; a stop request
      // is seen between two of them.
      if (!waiting_.empty()) {
        if (events_.stop_request.IsSet()) break;
        // Jobs enter the pool only as fast as they can run. A worker's run
        // limit counts its wait for the interpreter lock too, so a burst
        // that filled every slot would have its last jobs ended unprocessed
        // behind slow ones; here they wait without a limit. A worker past
        // its limit does not count: the next dispatch ends it.
        if (pool.BusyWithinRunLimitCount() >= pace) {
          pool.WaitForAnyWorker(kQueuePollMs);
          continue;
        }
        const std::u16string path = std::move(waiting_.front());
        waiting_.pop_front();
        queued_.erase(path);
        // One removed since it was seen still goes: its worker writes its
        // marker and says that it vanished, rather than let it go silently.
        Dispatch(pool, path);
        continue;
      }
      int signalled = WaitAny({events_.stop_request, watcher.WaitHandle()}, kInfinite);
      if (signalled == 0) break;
      if (signalled == kWaitFailed) {
        std::this_thread::sleep_for(kFailedWaitPause);
        continue;
      }
      if (signalled != 1) continue;
      // Every action is treated alike; the filter drops repeats, removals
      // and old names. With no record the path is empty and goes nowhere.
      uint32_t action = 0;
      std::u16string path;
      watcher.Pop(&action, &path);
      if (action == kFolderRescanned) {
        QueueWaitingJobs(true);
        continue;
      }
      // An upload in progress still counts as the last name, so that the
      // rename that ends it is seen even when it renames to the last name.
      if (filter.Accept(path) && !IsUploadInProgress(path) && queued_.insert(path).second) {
        waiting_.push_back(std::move(path));
      }
    }

    pool.Drain();
    watcher.Terminate();
  }
  events_.stopped.Set();
  return 0;
}

}  // namespace quillaro
