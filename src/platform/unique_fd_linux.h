#ifndef QUILLARO_PLATFORM_UNIQUE_FD_LINUX_H_
#define QUILLARO_PLATFORM_UNIQUE_FD_LINUX_H_

#include <dirent.h>

#include <memory>

#include "platform/native_handle.h"

namespace quillaro {

// Owns one file descriptor and closes it on destruction. Move-only.
using UniqueFd = UniqueNativeHandle;

// Owns a directory stream (opendir) and closes it on destruction.
struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using UniqueDir = std::unique_ptr<DIR, DirCloser>;

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_UNIQUE_FD_LINUX_H_
