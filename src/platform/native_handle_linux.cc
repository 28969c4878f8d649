#include <unistd.h>

#include "platform/native_handle.h"

namespace quillaro {

// close() is never retried: on Linux the descriptor is gone after the first
// call whatever it returns, and a retry could close one another thread just
// opened.
bool UniqueNativeHandle::CloseNative(NativeHandle handle) noexcept { return ::close(handle) == 0; }

}  // namespace quillaro
