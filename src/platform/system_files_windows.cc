#include "platform/system_files.h"

#include <algorithm>

#include "platform/windows_util_windows.h"

namespace quillaro {

InterpreterFileNames InterpreterFiles() {
  return {u"gswin32c.exe", u"gpcl6win32.exe", u"gxpswin32.exe"};
}

std::string SystemFontFolder() {
  wchar_t folder[MAX_PATH];
  const UINT length = ::GetWindowsDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return "C:\\Windows\\Fonts";
  return FromWin(std::wstring_view(folder, length)) + "\\Fonts";
}

std::string PclFontSource(const std::string& font_folder) {
  std::string source = font_folder + "/";
  std::replace(source.begin(), source.end(), '\\', '/');
  return source;
}

}  // namespace quillaro
