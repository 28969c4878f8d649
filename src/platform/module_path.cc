#include "platform/module_path.h"

namespace quillaro {

// The same on both systems once each has found its executable.
std::string ModuleFolder() {
  std::optional<std::string> exe = ExecutablePath();
  if (!exe) return std::string();
  const size_t slash = exe->rfind(kPathSeparator);
  return slash == std::string::npos ? *exe : exe->substr(0, slash);
}

}  // namespace quillaro
