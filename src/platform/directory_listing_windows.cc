#include "platform/directory_listing.h"

#include <string_view>

#include "platform/windows_util_windows.h"

namespace quillaro {
namespace {

// The entry's last change of content or metadata: NTFS keeps a change time
// beside the write time (a rename sets it), readable through a handle opened
// for attributes only. The write time stands in when that fails.
int64_t ChangeTimeNs(const std::wstring& path, const WIN32_FIND_DATAW& data) {
  UniqueHandle file(::CreateFileW(
      path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  FILE_BASIC_INFO info;
  if (file.Valid() &&
      ::GetFileInformationByHandleEx(file.Get(), FileBasicInfo, &info, sizeof info)) {
    FILETIME change;
    change.dwLowDateTime = static_cast<DWORD>(info.ChangeTime.QuadPart);
    change.dwHighDateTime = static_cast<DWORD>(info.ChangeTime.QuadPart >> 32);
    if (info.ChangeTime.QuadPart != 0) return FileTimeToUnixNanoseconds(change);
  }
  return FileTimeToUnixNanoseconds(data.ftLastWriteTime);
}

}  // namespace

std::optional<std::vector<DirectoryEntry>> ListDirectory(const std::string& folder) {
  const std::wstring base = ToWin(folder) + L"\\";
  WIN32_FIND_DATAW data;
  const UniqueFindHandle find(::FindFirstFileExW((base + L"*").c_str(), FindExInfoBasic, &data,
                                                 FindExSearchNameMatch, nullptr, 0));
  if (!find.Valid()) return std::nullopt;
  std::vector<DirectoryEntry> entries;
  do {
    const std::wstring_view name(data.cFileName);
    if (name == L"." || name == L"..") continue;
    DirectoryEntry item;
    item.name = FromWin(name);
    const DWORD attributes = data.dwFileAttributes;
    const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    item.is_folder = !link && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    item.is_regular_file = !link && !item.is_folder && (attributes & FILE_ATTRIBUTE_DEVICE) == 0;
    const int64_t created_ns = FileTimeToUnixNanoseconds(data.ftCreationTime);
    item.creation_seconds = created_ns / 1000000000;
    item.change_time_ns = ChangeTimeNs(base + std::wstring(name), data);
    item.modification_time_ns = FileTimeToUnixNanoseconds(data.ftLastWriteTime);
    entries.push_back(std::move(item));
  } while (::FindNextFileW(find.Get(), &data));
  const DWORD error = ::GetLastError();
  if (error != ERROR_NO_MORE_FILES) return std::nullopt;
  return entries;
}

}  // namespace quillaro
