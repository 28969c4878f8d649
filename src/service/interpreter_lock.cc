#include "service/interpreter_lock.h"

#include "platform/cancellation.h"

namespace quillaro {

InterpreterLock::InterpreterLock(const std::u16string& name_suffix)
    : lock_(kInterpreterLockPrefix + name_suffix),
      result_(lock_.Acquire(CurrentCancellation())) {}

}  // namespace quillaro
