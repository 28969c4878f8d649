#include "platform/native_handle.h"
#include "platform/windows_util_windows.h"

namespace quillaro {

bool UniqueNativeHandle::CloseNative(NativeHandle handle) noexcept {
  return ::CloseHandle(handle) != 0;
}

}  // namespace quillaro
