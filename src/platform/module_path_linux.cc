#include "platform/module_path.h"

#include <limits.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace quillaro {

std::optional<std::string> ExecutablePath() {
  // readlink does not say whether it truncated, so grow until it fits.
  std::vector<char> buffer(PATH_MAX);
  for (int attempt = 0; attempt < 4; ++attempt) {
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return std::nullopt;
    if (static_cast<size_t>(n) < buffer.size()) {
      return std::string(buffer.data(), static_cast<size_t>(n));
    }
    buffer.resize(buffer.size() * 4);
  }
  return std::nullopt;
}

std::string DataFolder() { return ModuleFolder(); }

std::string StateFolder() {
  const char* state = std::getenv("STATE_DIRECTORY");
  if (state == nullptr || state[0] == '\0') return DataFolder();
  const std::string folders = state;
  return folders.substr(0, folders.find(':'));  // the first of a list
}

}  // namespace quillaro
