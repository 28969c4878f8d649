#include "platform/file_times.h"

#include "platform/windows_util_windows.h"

namespace quillaro {

// NTFS records a creation time for every entry; a rename keeps it.
std::optional<int64_t> FileCreationSeconds(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA info;
  if (!::GetFileAttributesExW(ToWin(path).c_str(), GetFileExInfoStandard, &info)) {
    return std::nullopt;
  }
  const int64_t ns = FileTimeToUnixNanoseconds(info.ftCreationTime);
  return ns >= 0 ? ns / 1000000000 : -((-ns + 999999999) / 1000000000);
}

int64_t CurrentTimeSeconds() { return CurrentTimeNanoseconds() / 1000000000; }

int64_t CurrentTimeNanoseconds() {
  FILETIME now;
  ::GetSystemTimePreciseAsFileTime(&now);
  return FileTimeToUnixNanoseconds(now);
}

}  // namespace quillaro
