#include "platform/monotonic_clock.h"

#include "platform/windows_util_windows.h"

namespace quillaro {

uint64_t MonotonicMilliseconds() { return ::GetTickCount64(); }

}  // namespace quillaro
