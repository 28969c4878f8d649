#include "platform/thread.h"

#include "platform/windows_util_windows.h"

namespace quillaro {

void LowerCallingThreadPriority() {
  // Failing leaves the thread at normal priority, which is harmless.
  ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_LOWEST);
}

}  // namespace quillaro
