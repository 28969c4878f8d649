#include "platform/thread.h"

#include <stdlib.h>

#include "platform/windows_util_windows.h"

namespace quillaro {

// std::thread starts a thread through winpthreads and _beginthreadex, and
// its errno says no more than EAGAIN; the CRT keeps the system's code of the
// failed CreateThread in _doserrno. None there: winpthreads failed before
// the call, for want of memory.
OsError ThreadStartError(int /*error_number*/) {
  const unsigned long code = _doserrno;
  return OsError{"CreateThread", static_cast<int>(code != 0 ? code : ERROR_NOT_ENOUGH_MEMORY), ""};
}

void LowerCallingThreadPriority() {
  // Failing leaves the thread at normal priority, which is harmless.
  ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_LOWEST);
}

}  // namespace quillaro
