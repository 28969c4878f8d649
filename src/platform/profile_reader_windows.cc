#include "platform/profile_reader.h"

#include "platform/windows_util_windows.h"

namespace quillaro {

// The system's own profile reader: its rules are the ones the header states.
std::u16string GetProfileText(std::u16string_view section, std::u16string_view key,
                              std::u16string_view default_value, const std::string& file_path) {
  wchar_t value[kProfileValueMaxLength + 1];
  const DWORD length = ::GetPrivateProfileStringW(
      ToWin(section).c_str(), ToWin(key).c_str(), ToWin(default_value).c_str(), value,
      static_cast<DWORD>(kProfileValueMaxLength + 1), ToWin(file_path).c_str());
  return std::u16string(value, value + length);
}

int32_t GetProfileInteger(std::u16string_view section, std::u16string_view key,
                          int32_t default_value, const std::string& file_path) {
  return static_cast<int32_t>(::GetPrivateProfileIntW(ToWin(section).c_str(), ToWin(key).c_str(),
                                                      default_value, ToWin(file_path).c_str()));
}

}  // namespace quillaro
