#include "service/interpreter_lock.h"

#include "platform/cancellation.h"
#include "platform/os_error.h"

namespace quillaro {
namespace {

// The job goes on without the lock; the operator learns why it was missing.
NamedLock::Result AcquireOrReport(NamedLock& lock) {
  OsError error;
  const NamedLock::Result result = lock.Acquire(CurrentCancellation(), &error);
  if (result == NamedLock::Result::kUnavailable) ReportOsError(error);
  return result;
}

}  // namespace

InterpreterLock::InterpreterLock(const std::u16string& name_suffix)
    : lock_(kInterpreterLockPrefix + name_suffix), result_(AcquireOrReport(lock_)) {}

}  // namespace quillaro
