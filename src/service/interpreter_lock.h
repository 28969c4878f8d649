#ifndef QUILLARO_SERVICE_INTERPRETER_LOCK_H_
#define QUILLARO_SERVICE_INTERPRETER_LOCK_H_

#include <cstdint>
#include <memory>
#include <string>

#include "platform/named_lock.h"

namespace quillaro {

// The prefix that puts the interpreter lock in the machine-wide namespace.
inline constexpr char16_t kInterpreterLockPrefix[] = u"Global\\Quillaro";
// The suffix the job worker names the lock with.
inline constexpr char16_t kInterpreterLockSuffix[] = u"UseGhostscriptLibraryMutex";

// Holds one of the machine-wide interpreter lock's slots for its lifetime:
// as many jobs' stages at a time on the whole machine as there are slots
// (one, unless the Parallel setting asks for more), shared with any other
// program that uses the same name. The constructor waits without a time
// limit; a lock left by a holder that died counts as taken. When the lock
// cannot be made the job goes on without it, and the cause is reported on
// standard error. The wait ends early, without
// the lock, when the calling thread's cancel event (platform/cancellation.h)
// is set.
//
// With more than one slot, jobs of this process whose results could mix
// are still kept apart: a job waits first, in order of arrival, until no
// earlier job whose STEM clashes with its own is still holding or waiting
// for the lock. Two STEMs clash when they are equal (the same result files)
// or when one is the other followed by "_" and more (image output removes
// STEM_*.*_ files, page files of the longer STEM among them).
class InterpreterLock {
 public:
  // Locks "Global\Quillaro" + `name_suffix` with `slots` slots (below 1
  // counts as 1) for the job whose STEM is `job_stem`.
  InterpreterLock(const std::u16string& name_suffix, int32_t slots = 1,
                  const std::u16string& job_stem = u"");
  InterpreterLock(const InterpreterLock&) = delete;
  InterpreterLock& operator=(const InterpreterLock&) = delete;
  // Releases the lock and the STEM when held.
  ~InterpreterLock();

  // True when the wait was ended by cancellation (the lock is not held).
  bool cancelled() const { return result_ == NamedLock::Result::kCancelled; }
  bool held() const { return lock_.held(); }

  // A job's place among the STEMs of this process (interpreter_lock.cc).
  struct StemClaim;

 private:
  std::shared_ptr<StemClaim> claim_;
  NamedLock lock_;
  NamedLock::Result result_ = NamedLock::Result::kCancelled;
};

}  // namespace quillaro

#endif  // QUILLARO_SERVICE_INTERPRETER_LOCK_H_
