#include "platform/wait.h"

#include <vector>

#include "platform/windows_util_windows.h"

namespace quillaro {

// WaitForMultipleObjects reports the first signalled object in list order
// and takes a semaphore's count itself; manual-reset events stay signalled.
int WaitAny(std::span<const Waitable> objects, uint32_t timeout_ms) {
  if (objects.empty() || objects.size() > MAXIMUM_WAIT_OBJECTS) return kWaitFailed;
  std::vector<HANDLE> handles;
  handles.reserve(objects.size());
  for (const Waitable& object : objects) {
    handles.push_back(object.event_ != nullptr ? object.event_->native_handle()
                                               : object.semaphore_->native_handle());
  }
  const DWORD result = ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(),
                                                FALSE, timeout_ms);
  if (result == WAIT_TIMEOUT) return kWaitTimeout;
  if (result >= WAIT_OBJECT_0 && result < WAIT_OBJECT_0 + handles.size()) {
    return static_cast<int>(result - WAIT_OBJECT_0);
  }
  return kWaitFailed;
}

}  // namespace quillaro
