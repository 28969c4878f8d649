#include <utility>

#include "config/path_utils.h"
#include "platform/module_path.h"
#include "service/inbox_watcher.h"
#include "service/job_worker.h"

namespace quillaro {

uint32_t InboxWatcherThread(ServiceThreads* threads) {
  const std::u16string data = GetDataFolder() + static_cast<char16_t>(kPathSeparator);
  InboxWatcher watcher(threads->inbox, data + u"in", data + u"out", RunJobWorker);
  return watcher.Run();
}

}  // namespace quillaro
