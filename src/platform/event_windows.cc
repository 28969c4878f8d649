#include "platform/event.h"

#include <cstdlib>

#include "platform/windows_util_windows.h"

namespace quillaro {

ManualResetEvent::ManualResetEvent(bool signalled)
    : handle_(::CreateEventW(nullptr, TRUE, signalled ? TRUE : FALSE, nullptr)) {
  // Without its event object the event cannot work at all; there is no way
  // to report that from a constructor short of crashing loudly.
  if (!handle_.Valid()) std::abort();
}

ManualResetEvent::~ManualResetEvent() = default;

void ManualResetEvent::Set() { ::SetEvent(handle_.Get()); }

void ManualResetEvent::Reset() { ::ResetEvent(handle_.Get()); }

bool ManualResetEvent::IsSet() const { return Wait(0); }

bool ManualResetEvent::Wait(uint32_t timeout_ms) const {
  return ::WaitForSingleObject(handle_.Get(), timeout_ms) == WAIT_OBJECT_0;
}

}  // namespace quillaro
