#include "platform/file_system.h"

#include <fcntl.h>
#include <io.h>

#include <string_view>

#include "platform/windows_util_windows.h"

namespace quillaro {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens the entry itself (a link is not followed) for its attributes only.
UniqueHandle OpenEntry(const std::wstring& path) {
  return UniqueHandle(
      ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// A write that succeeded short (disk full, quota) leaves no error of its own.
OsError ShortWriteError(const std::string& path) {
  return OsError{"WriteFile", static_cast<int>(ERROR_DISK_FULL), path};
}

}  // namespace

// The directory search matches "*" and "?" as the system's file names do.
bool PathExists(const std::string& path) {
  if (path.empty()) return false;
  const std::wstring wide = ToWin(path);
  const size_t slash = wide.find_last_of(L"\\/");
  const std::wstring last = slash == std::wstring::npos ? wide : wide.substr(slash + 1);
  if (last.find_first_of(L"*?") == std::wstring::npos) {
    return ::GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  WIN32_FIND_DATAW data;
  const UniqueFindHandle find(
      ::FindFirstFileExW(wide.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0));
  if (!find.Valid()) return false;
  bool found = false;
  do {
    const std::wstring_view name(data.cFileName);
    found = name != L"." && name != L"..";
  } while (!found && ::FindNextFileW(find.Get(), &data));
  return found;
}

bool RemoveFile(const std::string& path) { return ::DeleteFileW(ToWin(path).c_str()) != 0; }

// NTFS counts a name in UTF-16 code units.
bool FileNameFits(const std::string& name) { return ToWin(name).size() <= 255; }

bool AppendToFile(const std::string& path,
                  const std::function<std::string(uint64_t current_size)>& make_bytes,
                  OsError* error) {
  UniqueHandle file(::CreateFileW(ToWin(path).c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                                  kShareAll, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) return FailWith(error, LastOsError("CreateFileW", path));
  // The size and the write belong together: hold a lock over the whole file
  // so that concurrent writers (other processes too) take turns.
  OVERLAPPED whole = {};
  if (!::LockFileEx(file.Get(), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
    return FailWith(error, LastOsError("LockFileEx", path));
  }
  LARGE_INTEGER size = {};
  bool ok = ::GetFileSizeEx(file.Get(), &size) != 0;
  if (!ok) FailWith(error, LastOsError("GetFileSizeEx", path));
  if (ok) {
    const std::string bytes = make_bytes(static_cast<uint64_t>(size.QuadPart));
    DWORD written = 0;
    ok = ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) != 0;
    if (!ok) {
      FailWith(error, LastOsError("WriteFile", path));
    } else if (written != bytes.size()) {
      ok = FailWith(error, ShortWriteError(path));
    }
  }
  ::UnlockFileEx(file.Get(), 0, MAXDWORD, MAXDWORD, &whole);
  return ok;
}

EntryInfo GetEntryInfo(const std::string& path) {
  const std::wstring wide = ToWin(path);
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return EntryInfo{};
  EntryInfo info;
  info.hard_links = 1;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    info.kind = EntryKind::kLink;
  } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    info.kind = EntryKind::kFolder;
  } else if (attributes & FILE_ATTRIBUTE_DEVICE) {
    info.kind = EntryKind::kOther;
  } else {
    info.kind = EntryKind::kFile;
  }
  UniqueHandle entry = OpenEntry(wide);
  BY_HANDLE_FILE_INFORMATION details;
  if (entry.Valid() && ::GetFileInformationByHandle(entry.Get(), &details)) {
    info.hard_links = details.nNumberOfLinks;
  }
  return info;
}

std::FILE* OpenRegularFileForReading(const std::string& path) {
  UniqueHandle file(::CreateFileW(ToWin(path).c_str(), GENERIC_READ, kShareAll, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.Valid() || ::GetFileType(file.Get()) != FILE_TYPE_DISK) return nullptr;
  BY_HANDLE_FILE_INFORMATION details;
  if (!::GetFileInformationByHandle(file.Get(), &details) ||
      (details.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
    return nullptr;
  }
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file.Get()), _O_RDONLY | _O_BINARY);
  if (fd < 0) return nullptr;
  file.Release();  // the descriptor owns it now
  std::FILE* stream = ::_fdopen(fd, "rb");
  if (stream == nullptr) ::_close(fd);
  return stream;
}

UniqueNativeHandle OpenNewFile(const std::string& path, uint32_t /*mode*/, bool share_read,
                               OsError* error) {
  // CREATE_NEW fails on any entry of that name; a reparse point (a link, a
  // junction) is the entry itself, never what it leads to.
  UniqueHandle file(::CreateFileW(ToWin(path).c_str(), GENERIC_WRITE,
                                  share_read ? FILE_SHARE_READ : 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.Valid()) FailWith(error, LastOsError("CreateFileW", path));
  return file;
}

bool WriteNewFile(const std::string& path, const std::string& bytes, OsError* error) {
  ::DeleteFileW(ToWin(path).c_str());
  const UniqueHandle file = OpenNewFile(path, 0644, true, error);
  if (!file.Valid()) return false;
  DWORD written = 0;
  if (!::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
    return FailWith(error, LastOsError("WriteFile", path));
  }
  if (written != bytes.size()) return FailWith(error, ShortWriteError(path));
  return true;
}

}  // namespace quillaro
