#ifndef QUILLARO_SERVICE_CHANGE_WATCHER_H_
#define QUILLARO_SERVICE_CHANGE_WATCHER_H_

#include <cstdint>
#include <memory>
#include <string>

#include "platform/os_error.h"
#include "platform/semaphore.h"
#include "platform/thread.h"

namespace quillaro {

// Turns the system's change notifications for folders into a queue of
// change records (action, full path) that a consumer takes one at a time.
// It passes every record through unfiltered; deciding what is a new job is
// the consumer's business.
//
// All work on the watched folders (opening, reading, decoding) happens on a
// thread of the watcher's own, started by the first Watch(). The owner's
// thread constructs, calls Watch, waits on WaitHandle(), calls Pop and
// Terminate; these calls are not meant for several consumer threads.
//
// When the queue is full, further records are kept back on the watcher's
// thread instead of being lost, and delivered in their order as soon as the
// consumer makes room; when the system itself drops notifications, the
// watcher looks through its folders and queues the files changed since the
// last notification it received, followed by a kFolderRescanned record
// (change_record.h); so it does for a watched folder deleted and made anew.
class ChangeWatcher {
 public:
  // `capacity` is the most records the queue holds (the service uses 1000).
  explicit ChangeWatcher(uint32_t capacity);
  ChangeWatcher(const ChangeWatcher&) = delete;
  ChangeWatcher& operator=(const ChangeWatcher&) = delete;
  // Terminates the thread.
  ~ChangeWatcher();

  // Starts watching `folder` (its sub-folders are not watched on Linux,
  // whatever `watch_subfolders` says; the service never asks for them).
  // `buffer_size` is the size in bytes of the buffer notifications are read
  // into. Returns once the watcher thread has set the watch up: true when
  // it stands, so that every change from then on is recorded; false when
  // the folder cannot be watched (`*error`, if given, says why), and it
  // then yields no records.
  bool Watch(const std::u16string& folder, bool watch_subfolders, uint32_t buffer_size,
             OsError* error = nullptr);

  // Counted once per queued record. A successful wait takes one count; the
  // consumer then takes exactly one record with Pop().
  CountingSemaphore& WaitHandle();

  // The oldest record, or false when none waits (see NotificationQueue).
  bool Pop(uint32_t* action, std::u16string* path);

  // Ends the watcher thread, waiting for it at most 10000 ms. Safe to call
  // when no thread runs and more than once.
  void Terminate();

 private:
  struct Context;
  std::shared_ptr<Context> context_;
  std::unique_ptr<Thread> thread_;
};

}  // namespace quillaro

#endif  // QUILLARO_SERVICE_CHANGE_WATCHER_H_
