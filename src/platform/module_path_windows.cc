#include "platform/module_path.h"

#include <vector>

#include "platform/windows_util_windows.h"

namespace quillaro {

std::optional<std::string> ExecutablePath() {
  // GetModuleFileNameW truncates silently but says so by filling the buffer.
  std::vector<wchar_t> buffer(MAX_PATH);
  for (int attempt = 0; attempt < 4; ++attempt) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::nullopt;
    if (n < buffer.size()) return FromWin(std::wstring_view(buffer.data(), n));
    buffer.resize(buffer.size() * 8);
  }
  return std::nullopt;
}

}  // namespace quillaro
