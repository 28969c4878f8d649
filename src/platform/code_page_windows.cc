#include "platform/code_page.h"

#include "platform/windows_util_windows.h"

namespace quillaro {

// The system's ANSI code page is the narrow encoding on Windows; what it
// cannot carry becomes "?" (the converter's default character).
std::u16string NarrowToWide(std::string_view narrow) {
  if (narrow.empty()) return std::u16string();
  const int size = static_cast<int>(narrow.size());
  const int length = ::MultiByteToWideChar(CP_ACP, 0, narrow.data(), size, nullptr, 0);
  if (length <= 0) return std::u16string();
  std::wstring wide(static_cast<size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, narrow.data(), size, wide.data(), length);
  return std::u16string(wide.begin(), wide.end());
}

std::string WideToNarrow(std::u16string_view wide) {
  if (wide.empty()) return std::string();
  const std::wstring text(wide.begin(), wide.end());
  const int size = static_cast<int>(text.size());
  const int length =
      ::WideCharToMultiByte(CP_ACP, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return std::string();
  std::string narrow(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, text.data(), size, narrow.data(), length, nullptr, nullptr);
  return narrow;
}

std::string NarrowToUtf8(std::string_view narrow) {
  const std::u16string wide = NarrowToWide(narrow);
  if (wide.empty()) return std::string();
  const std::wstring text(wide.begin(), wide.end());
  const int size = static_cast<int>(text.size());
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return std::string();
  std::string utf8(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, utf8.data(), length, nullptr, nullptr);
  return utf8;
}

}  // namespace quillaro
