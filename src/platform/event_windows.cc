#include "platform/event.h"

#include <cstdlib>

#include "platform/windows_util_windows.h"

namespace quillaro {

ManualResetEvent::ManualResetEvent(bool signalled)
    : handle_(::CreateEventW(nullptr, TRUE, signalled ? TRUE : FALSE, nullptr)) {
  // Without its event object the event cannot work at all; there is no way
  // to report that from a constructor short of crashing loudly.
  if (handle_ == nullptr) std::abort();
}

ManualResetEvent::~ManualResetEvent() { ::CloseHandle(handle_); }

void ManualResetEvent::Set() { ::SetEvent(handle_); }

void ManualResetEvent::Reset() { ::ResetEvent(handle_); }

bool ManualResetEvent::IsSet() const { return Wait(0); }

bool ManualResetEvent::Wait(uint32_t timeout_ms) const {
  return ::WaitForSingleObject(handle_, timeout_ms) == WAIT_OBJECT_0;
}

}  // namespace quillaro
