#include "service/inbox_watcher.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>

#include "config/text_utils.h"
#include "platform/wait.h"
#include "service/change_watcher.h"
#include "service/last_name_filter.h"

namespace quillaro {
namespace {

// After a failed wait, pause this long before waiting again, so that a
// broken wait can never turn into a busy loop.
constexpr auto kFailedWaitPause = std::chrono::milliseconds(100);

}  // namespace

InboxWatcher::InboxWatcher(ThreadEventPair& events, std::u16string folder, WorkerEntry entry,
                           WorkerPoolLimits limits)
    : events_(events), folder_(std::move(folder)), entry_(std::move(entry)), limits_(limits) {}

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

    for (;;) {
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
      if (filter.Accept(path)) pool.Dispatch(path);
    }

    pool.Drain();
    watcher.Terminate();
  }
  events_.stopped.Set();
  return 0;
}

}  // namespace quillaro
