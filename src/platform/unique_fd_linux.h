#ifndef QUILLARO_PLATFORM_UNIQUE_FD_LINUX_H_
#define QUILLARO_PLATFORM_UNIQUE_FD_LINUX_H_

#include "platform/native_handle.h"

namespace quillaro {

// Owns one file descriptor and closes it on destruction. Move-only.
using UniqueFd = UniqueNativeHandle;

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_UNIQUE_FD_LINUX_H_
