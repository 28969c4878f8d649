#ifndef QUILLARO_SERVICE_INTERPRETER_LOCK_H_
#define QUILLARO_SERVICE_INTERPRETER_LOCK_H_

#include <string>

#include "platform/named_lock.h"

namespace quillaro {

// The prefix that puts the interpreter lock in the machine-wide namespace.
inline constexpr char16_t kInterpreterLockPrefix[] = u"Global\\Quillaro";
// The suffix the job worker names the lock with.
inline constexpr char16_t kInterpreterLockSuffix[] = u"UseGhostscriptLibraryMutex";

// Holds the machine-wide interpreter lock for its lifetime: one job's stages
// at a time on the whole machine, shared with any other program that uses
// the same name. The constructor waits without a time limit; a lock left by
// a holder that died counts as taken. When the lock cannot be made the job
// goes on without it, and the cause is reported on standard error. The wait
// ends early, without the lock, when the calling thread's cancel event
// (platform/cancellation.h) is set.
class InterpreterLock {
 public:
  // Locks "Global\Quillaro" + `name_suffix`.
  explicit InterpreterLock(const std::u16string& name_suffix);
  InterpreterLock(const InterpreterLock&) = delete;
  InterpreterLock& operator=(const InterpreterLock&) = delete;
  // Releases the lock when held.
  ~InterpreterLock() = default;

  // True when the wait was ended by cancellation (the lock is not held).
  bool cancelled() const { return result_ == NamedLock::Result::kCancelled; }
  bool held() const { return lock_.held(); }

 private:
  NamedLock lock_;
  NamedLock::Result result_;
};

}  // namespace quillaro

#endif  // QUILLARO_SERVICE_INTERPRETER_LOCK_H_
