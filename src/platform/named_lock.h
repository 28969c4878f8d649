#ifndef QUILLARO_PLATFORM_NAMED_LOCK_H_
#define QUILLARO_PLATFORM_NAMED_LOCK_H_

#include <cstdint>
#include <memory>
#include <string>

#include "platform/event.h"
#include "platform/os_error.h"

namespace quillaro {

// A lock that any process on the machine can take by name, like a named
// mutex in the "Global\" namespace, with one or more slots: up to `slots`
// holders at once, in this process and all others that use the name. Threads
// of one process exclude each other too, and take it in the order they asked
// for it. When a holder dies, its slot is free for the next waiter (an
// abandoned lock counts as taken).
//
// On Linux the "Global\" namespace is a lock folder that only the service's
// user should be able to write to: QUILLARO_LOCK_FOLDER when set and not
// empty (services that name the same folder share the slots), else systemd's
// RUNTIME_DIRECTORY, else the executable's own folder. The lock is a file
// named after the rest of the name, and slot k is an open-file-description
// lock on its byte k, so a lock of the whole file (as other programs may take
// it) excludes every slot. The file is made mode 0600 and never re-moded; a
// link at its path is not followed, and a file that is not a plain file of
// the process's own effective user with one link is refused (Acquire gives
// kUnavailable, with ELOOP or EPERM).
// On Windows each slot is a named mutex of its own (the name, then the slot
// number after the first slot); a mutex a dead holder left (abandoned) is
// taken over. A mutex belongs to a thread: call Release() on the thread that
// acquired. The mutexes are made owned by the process's own account, with a
// DACL granting only that account, SYSTEM and Administrators; a mutex of
// that name owned by another account is refused (Acquire gives
// kUnavailable, with ERROR_INVALID_OWNER).
class NamedLock {
 public:
  enum class Result {
    kAcquired,
    kCancelled,    // `cancel` was set before the lock came
    kUnavailable,  // the lock could not be made; the caller goes on without
  };

  // `slots` below 1 counts as 1. Every user of a name should give the same
  // count; one that gives fewer only ever takes the first slots.
  explicit NamedLock(const std::u16string& name, int32_t slots = 1);
  NamedLock(const NamedLock&) = delete;
  NamedLock& operator=(const NamedLock&) = delete;
  // Releases the lock if held.
  ~NamedLock();

  // Waits without a time limit until a slot is held, or until `cancel`
  // (when not null) is set. One object holds one slot at most. On
  // kUnavailable sets `*error` (when not null) to the call that failed; the
  // threads of this process then still exclude each other.
  Result Acquire(const ManualResetEvent* cancel, OsError* error = nullptr);
  void Release();
  bool held() const { return held_; }

  // The lock file a name maps to on Linux, the mutex name of the first
  // slot on Windows (for tests and diagnostics).
  static std::string LockFilePath(const std::u16string& name);

 private:
  struct Gate;
  std::string path_;
  int32_t slots_;
  std::shared_ptr<Gate> gate_;
  UniqueNativeHandle handle_;  // the lock file, or the held slot's mutex
  bool held_ = false;
  bool gate_held_ = false;
};

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_NAMED_LOCK_H_
