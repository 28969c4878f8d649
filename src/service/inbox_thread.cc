#include <utility>

#include "config/path_utils.h"
#include "platform/module_path.h"
#include "service/inbox_watcher.h"
#include "service/job_worker.h"

namespace quillaro {

uint32_t InboxWatcherThread(ServiceThreads* threads) {
  const std::u16string module = GetModuleFolder() + static_cast<char16_t>(kPathSeparator);
  InboxWatcher watcher(threads->inbox, module + u"in", module + u"out", RunJobWorker);
  return watcher.Run();
}

}  // namespace quillaro
