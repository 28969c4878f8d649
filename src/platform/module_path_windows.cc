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

std::string DataFolder() {
  static const std::string folder = [] {
    std::vector<wchar_t> value(MAX_PATH + 1);
    for (int attempt = 0; attempt < 4; ++attempt) {
      DWORD bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
      const LSTATUS status =
          ::RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Quillaro", L"DataFolder", RRF_RT_REG_SZ,
                         nullptr, value.data(), &bytes);
      if (status == ERROR_MORE_DATA) {
        value.resize(bytes / sizeof(wchar_t) + 1);
        continue;
      }
      if (status != ERROR_SUCCESS) break;
      std::wstring path(value.data());
      while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
      if (!path.empty()) return FromWin(path);
      break;
    }
    return ModuleFolder();
  }();
  return folder;
}

std::string StateFolder() { return DataFolder() + "\\ledger"; }

}  // namespace quillaro
