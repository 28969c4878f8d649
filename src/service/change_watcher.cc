#include "service/change_watcher.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "config/text_utils.h"
#include "platform/directory_listing.h"
#include "platform/directory_watch.h"
#include "platform/file_times.h"
#include "platform/module_path.h"
#include "platform/os_error.h"
#include "service/notification_queue.h"

namespace quillaro {
namespace {

constexpr uint32_t kTerminateWaitMs = 10000;

// Files changed this long before the last notification received are still
// taken when the system drops notifications: time stamps are coarser than
// the order of events.
constexpr int64_t kRescanMarginNs = 1000000000;

// While a watched folder is missing (deleted or moved away), this often the
// watcher looks for a new folder of that name to watch.
constexpr int kRewatchIntervalMs = 1000;

}  // namespace

// Shared by the owner and the watcher thread. The queue, the wake event and
// the fields under `mu` are touched by both; the rest only by the watcher
// thread. Shared ownership keeps it valid for a thread that outlives
// Terminate()'s wait.
struct ChangeWatcher::Context {
  explicit Context(uint32_t capacity) : queue(capacity) {}

  NotificationQueue queue;
  // Set for a new folder, for termination, and when the consumer made room
  // while records were held back.
  ManualResetEvent wake{false};
  std::mutex mu;                           // pending_folders, terminate, watch results
  std::vector<std::string> pending_folders;
  // The outcome of the folders last taken from `pending_folders`: set once
  // they are watched or refused.
  ManualResetEvent watched{false};
  bool watch_failed = false;
  OsError watch_error;
  size_t buffer_bytes = 0;
  bool terminate = false;
  std::atomic<bool> holding_back{false};   // backlog is not empty

  // Watcher thread only.
  DirectoryWatch watch;
  std::vector<std::string> folders;
  std::deque<ChangeRecord> backlog;  // records the full queue could not take
  int64_t last_notification_ns = 0;

  void Run();
  void Deliver(ChangeRecord record);
  void DeliverBacklog();
  void Rescan();
  void RescanFolder(const std::string& folder, int64_t since_ns);
};

void ChangeWatcher::Context::Run() {
  std::vector<DirectoryChange> changes;
  size_t read_bytes = 16384;
  // Watched folders that were deleted or moved away, with the time of the
  // loss: watched again as soon as a folder of that name exists.
  std::vector<std::pair<std::string, int64_t>> missing;
  for (;;) {
    // Reset before reading the requests, so that one made after this point
    // sets the event again and is not missed.
    wake.Reset();
    std::vector<std::string> added;
    {
      std::lock_guard<std::mutex> lock(mu);
      if (terminate) break;
      added.swap(pending_folders);
      read_bytes = std::max<size_t>(buffer_bytes, 1);
    }
    if (!added.empty()) {
      bool failed = false;
      OsError error;
      for (std::string& folder : added) {
        if (watch.AddFolder(folder, &error)) {
          folders.push_back(std::move(folder));
        } else {
          failed = true;
        }
      }
      {
        std::lock_guard<std::mutex> lock(mu);
        watch_failed = failed;
        watch_error = std::move(error);
      }
      watched.Set();
    }
    for (auto it = missing.begin(); it != missing.end();) {
      if (watch.AddFolder(it->first)) {
        folders.push_back(it->first);
        // Files that arrived between the loss and the new watch.
        RescanFolder(it->first, it->second);
        it = missing.erase(it);
      } else {
        ++it;
      }
    }
    DeliverBacklog();

    changes.clear();
    bool overflowed = false;
    DirectoryWatch::Result result = watch.WaitForChanges(
        wake, read_bytes, &changes, &overflowed, missing.empty() ? -1 : kRewatchIntervalMs);
    for (std::string& lost : watch.TakeLostFolders()) {
      std::erase(folders, lost);
      missing.emplace_back(std::move(lost), CurrentTimeNanoseconds() - kRescanMarginNs);
    }
    if (result == DirectoryWatch::Result::kTimedOut) continue;
    if (result == DirectoryWatch::Result::kFailed) {
      // Nothing more will come from the system; only a request can change
      // that, so sleep until one arrives instead of retrying.
      wake.Wait(kInfinite);
      continue;
    }
    if (result == DirectoryWatch::Result::kWoken) continue;
    const int64_t previous_notification_ns = last_notification_ns;
    last_notification_ns = CurrentTimeNanoseconds();
    for (DirectoryChange& change : changes) {
      Deliver({change.action,
               ToWide(change.folder + kPathSeparator + change.name)});
    }
    if (overflowed) {
      last_notification_ns = previous_notification_ns;
      Rescan();
      last_notification_ns = CurrentTimeNanoseconds();
    }
  }
  watch.Close();
}

void ChangeWatcher::Context::Deliver(ChangeRecord record) {
  if (backlog.empty() && queue.Push(record)) return;
  // Keep the order: once records are held back, later ones queue behind
  // them. A repeat of the record just held back adds nothing.
  if (backlog.empty() || backlog.back().path != record.path) backlog.push_back(std::move(record));
  // Announce first, then try: a consumer that made room before the flag was
  // visible is caught by this attempt, one after it sets `wake`.
  holding_back.store(true);
  DeliverBacklog();
}

void ChangeWatcher::Context::DeliverBacklog() {
  while (!backlog.empty() && queue.Push(backlog.front())) backlog.pop_front();
  if (backlog.empty()) holding_back.store(false);
}

// The system dropped notifications: queue every file of the watched folders
// changed since (shortly before) the last notification that did arrive.
void ChangeWatcher::Context::Rescan() {
  const int64_t since_ns = last_notification_ns - kRescanMarginNs;
  for (const std::string& folder : folders) RescanFolder(folder, since_ns);
}

// Queues every file of `folder` changed at or after `since_ns`, then a
// kFolderRescanned record for the folder.
void ChangeWatcher::Context::RescanFolder(const std::string& folder, int64_t since_ns) {
  std::optional<std::vector<DirectoryEntry>> entries = ListDirectory(folder);
  if (!entries) return;
  std::vector<const DirectoryEntry*> changed;
  for (const DirectoryEntry& entry : *entries) {
    // Links and pipes too: they get their marker like any new name.
    if (!entry.is_folder && entry.change_time_ns >= since_ns) changed.push_back(&entry);
  }
  // Oldest first, as the notifications would have come.
  std::stable_sort(changed.begin(), changed.end(), [](const auto* a, const auto* b) {
    return a->change_time_ns < b->change_time_ns;
  });
  for (const DirectoryEntry* entry : changed) {
    Deliver({kFileActionAdded, ToWide(folder + kPathSeparator + entry->name)});
  }
  Deliver({kFolderRescanned, ToWide(folder)});
}

ChangeWatcher::ChangeWatcher(uint32_t capacity)
    : context_(std::make_shared<Context>(capacity)) {}

ChangeWatcher::~ChangeWatcher() { Terminate(); }

bool ChangeWatcher::Watch(const std::u16string& folder, bool /*watch_subfolders*/,
                          uint32_t buffer_size, OsError* error) {
  if (!thread_) {
    auto thread = std::make_unique<Thread>();
    std::shared_ptr<Context> context = context_;
    {
      std::lock_guard<std::mutex> lock(context_->mu);
      context_->terminate = false;
    }
    OsError start_error;
    if (!thread->Start([context] { context->Run(); }, ThreadPriority::kNormal, &start_error)) {
      start_error.path = ToNarrow(folder);
      return FailWith(error, std::move(start_error));
    }
    thread_ = std::move(thread);
  }
  {
    std::lock_guard<std::mutex> lock(context_->mu);
    context_->watched.Reset();
    context_->pending_folders.push_back(ToNarrow(folder));
    context_->buffer_bytes = std::max<size_t>(context_->buffer_bytes, buffer_size);
  }
  context_->wake.Set();
  // The watcher thread takes the request as soon as it is woken.
  if (!context_->watched.Wait(kTerminateWaitMs)) {
    return FailWith(error, DirectoryWatch::TimedOutError(ToNarrow(folder)));
  }
  std::lock_guard<std::mutex> lock(context_->mu);
  if (context_->watch_failed) return FailWith(error, context_->watch_error);
  return true;
}

CountingSemaphore& ChangeWatcher::WaitHandle() { return context_->queue.semaphore(); }

bool ChangeWatcher::Pop(uint32_t* action, std::u16string* path) {
  ChangeRecord record;
  bool popped = context_->queue.Pop(&record);
  *action = record.action;
  *path = std::move(record.path);
  // Room again: let the watcher thread hand over what it held back.
  if (popped && context_->holding_back.load()) context_->wake.Set();
  return popped;
}

void ChangeWatcher::Terminate() {
  if (!thread_) return;
  {
    std::lock_guard<std::mutex> lock(context_->mu);
    context_->terminate = true;
  }
  context_->wake.Set();
  if (thread_->finished().Wait(kTerminateWaitMs)) {
    thread_->Join();
  } else {
    // The context is shared with the thread, so it may safely run on.
    thread_->Detach();
  }
  thread_.reset();
}

}  // namespace quillaro
