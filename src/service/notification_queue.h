#ifndef QUILLARO_SERVICE_NOTIFICATION_QUEUE_H_
#define QUILLARO_SERVICE_NOTIFICATION_QUEUE_H_

#include <cstdint>
#include <deque>
#include <mutex>

#include "platform/semaphore.h"
#include "service/change_record.h"

namespace quillaro {

// A bounded first-in first-out queue of change records with a semaphore that
// counts them, so a consumer can sleep until one arrives. Thread-safe: one
// producer (the change watcher's thread) and one consumer (the inbox
// watcher) in the service.
class NotificationQueue {
 public:
  // The semaphore's maximum count, and the most records ever held, is
  // `capacity`.
  explicit NotificationQueue(uint32_t capacity);
  NotificationQueue(const NotificationQueue&) = delete;
  NotificationQueue& operator=(const NotificationQueue&) = delete;

  // Appends `record` and counts it. Returns false, dropping the record and
  // leaving queue and count as they were, when `capacity` records wait.
  bool Push(ChangeRecord record);

  // Takes the oldest record into `*record`. The consumer calls it once after
  // each successful wait on semaphore(). On an empty queue returns false
  // and takes every count still standing, so count and list agree again.
  bool Pop(ChangeRecord* record);

  // The consumer's wait handle: one count per queued record.
  CountingSemaphore& semaphore() { return semaphore_; }
  size_t size() const;
  uint32_t capacity() const { return semaphore_.maximum_count(); }

 private:
  mutable std::mutex mu_;  // records_
  std::deque<ChangeRecord> records_;
  CountingSemaphore semaphore_;
};

}  // namespace quillaro

#endif  // QUILLARO_SERVICE_NOTIFICATION_QUEUE_H_
