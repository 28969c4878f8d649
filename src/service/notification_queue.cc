#include "service/notification_queue.h"

#include <utility>

namespace quillaro {

NotificationQueue::NotificationQueue(uint32_t capacity) : semaphore_(0, capacity) {}

bool NotificationQueue::Push(ChangeRecord record) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    records_.push_back(std::move(record));
  }
  // Counted outside the lock; the semaphore refuses a count past the
  // capacity, and then the record it would have counted goes again. Only
  // this (single) producer appends, and the consumer takes a record only
  // for a count it holds, so the uncounted record is still the last one.
  if (semaphore_.Release(1)) return true;
  std::lock_guard<std::mutex> lock(mu_);
  records_.pop_back();
  return false;
}

bool NotificationQueue::Pop(ChangeRecord* record) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!records_.empty()) {
    *record = std::move(records_.front());
    records_.pop_front();
    return true;
  }
  while (semaphore_.TryAcquire()) {
  }
  return false;
}

size_t NotificationQueue::size() const {
  std::lock_guard<std::mutex> lock(mu_);
  return records_.size();
}

}  // namespace quillaro
