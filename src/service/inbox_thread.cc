#include <utility>

#include "config/path_utils.h"
#include "platform/module_path.h"
#include "service/inbox_watcher.h"
#include "service/job_worker.h"

namespace quillaro {

uint32_t InboxWatcherThread(ServiceThreads* threads) {
  std::u16string folder = GetDataFolder() + static_cast<char16_t>(kPathSeparator) + u"in";
  InboxWatcher watcher(threads->inbox, std::move(folder), RunJobWorker);
  return watcher.Run();
}

}  // namespace quillaro
