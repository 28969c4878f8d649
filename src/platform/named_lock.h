#ifndef QUILLARO_PLATFORM_NAMED_LOCK_H_
#define QUILLARO_PLATFORM_NAMED_LOCK_H_

#include <memory>
#include <string>

#include "platform/event.h"
#include "platform/os_error.h"

namespace quillaro {

// A lock that any process on the machine can take by name, like a named
// mutex in the "Global\" namespace. Threads of one process exclude each
// other too, and take it in the order they asked for it. When a holder dies,
// the lock is free for the next waiter (an abandoned lock counts as taken).
//
// On Linux the "Global\" namespace is a lock folder (/run/lock when
// writable, else /tmp) and the lock is an open-file-description lock on a
// file named after the rest of the name.
class NamedLock {
 public:
  enum class Result {
    kAcquired,
    kCancelled,    // `cancel` was set before the lock came
    kUnavailable,  // the lock could not be made; the caller goes on without
  };

  explicit NamedLock(const std::u16string& name);
  NamedLock(const NamedLock&) = delete;
  NamedLock& operator=(const NamedLock&) = delete;
  // Releases the lock if held.
  ~NamedLock();

  // Waits without a time limit until the lock is held, or until `cancel`
  // (when not null) is set. One object holds the lock at most once. On
  // kUnavailable sets `*error` (when not null) to the call that failed; the
  // threads of this process then still exclude each other.
  Result Acquire(const ManualResetEvent* cancel, OsError* error = nullptr);
  void Release();
  bool held() const { return held_; }

  // The lock file a name maps to (for tests and diagnostics).
  static std::string LockFilePath(const std::u16string& name);

 private:
  struct Gate;
  std::string path_;
  std::shared_ptr<Gate> gate_;
  int fd_ = -1;
  bool held_ = false;
  bool gate_held_ = false;
};

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_NAMED_LOCK_H_
