#include "platform/private_folder.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/file_system.h"
#include "platform/run_security_windows.h"
#include "platform/windows_util_windows.h"

namespace quillaro {
namespace {

OsError ErrorFor(const char* call, DWORD code, const std::wstring& path) {
  return OsError{call, static_cast<int>(code), FromWin(path)};
}

}  // namespace

std::unique_ptr<PrivateFolder> PrivateFolder::Make(OsError* error) {
  static std::atomic<uint32_t> serial{0};
  wchar_t base[MAX_PATH + 1];
  const DWORD length = ::GetTempPathW(MAX_PATH + 1, base);
  if (length == 0 || length > MAX_PATH) {
    FailWith(error, ErrorFor("GetTempPathW", ::GetLastError(), L""));
    return nullptr;
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::wstring path = std::wstring(base, length) + L"quillaro-job-" +
                              std::to_wstring(::GetCurrentProcessId()) + L"-" +
                              std::to_wstring(serial.fetch_add(1));
    if (::CreateDirectoryW(path.c_str(), nullptr)) {
      auto folder = std::unique_ptr<PrivateFolder>(new PrivateFolder(FromWin(path)));
      // The folder alone grants the job's children (and only this job's)
      // their way in; without its ACL and label they could write nowhere.
      const char* call = "";
      if (const DWORD code = SecureJobFolder(path, &call); code != ERROR_SUCCESS) {
        FailWith(error, ErrorFor(call, code, path));
        return nullptr;
      }
      return folder;
    }
    const DWORD code = ::GetLastError();
    if (code != ERROR_ALREADY_EXISTS) {
      FailWith(error, ErrorFor("CreateDirectoryW", code, path));
      return nullptr;
    }
  }
  FailWith(error, ErrorFor("CreateDirectoryW", ERROR_ALREADY_EXISTS, L""));
  return nullptr;
}

PrivateFolder::~PrivateFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(std::filesystem::path(ToWin(path_)), ignored);
}

CopyInResult PrivateFolder::CopyIn(const std::string& source, const std::string& name,
                                   uint64_t max_bytes, OsError* error) {
  const std::wstring source_path = ToWin(source);
  // The entry itself, never what a reparse point (link, junction) leads to;
  // a folder opens too (backup semantics), to be refused below like on
  // Linux rather than failing as access denied.
  UniqueHandle in(::CreateFileW(source_path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN |
                                    FILE_FLAG_BACKUP_SEMANTICS,
                                nullptr));
  if (!in.Valid()) {
    const DWORD code = ::GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return CopyInResult::kMissing;
    FailWith(error, ErrorFor("CreateFileW", code, source_path));
    return CopyInResult::kFailed;
  }
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!::GetFileInformationByHandle(in.Get(), &info)) {
    FailWith(error, ErrorFor("GetFileInformationByHandle", ::GetLastError(), source_path));
    return CopyInResult::kFailed;
  }
  if ((info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
      ::GetFileType(in.Get()) != FILE_TYPE_DISK || info.nNumberOfLinks != 1) {
    return CopyInResult::kRefused;
  }
  const uint64_t size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  if (size > max_bytes) return CopyInResult::kTooLarge;

  const std::string target_path = path_ + "\\" + name;
  const std::wstring target = ToWin(target_path);
  const UniqueHandle out = OpenNewFile(target_path, 0600, false, error);
  if (!out.Valid()) return CopyInResult::kFailed;
  std::vector<char> block(1 << 20);
  uint64_t left = size;
  while (left > 0) {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<uint64_t>(left, block.size()));
    if (!::ReadFile(in.Get(), block.data(), want, &got, nullptr)) {
      FailWith(error, ErrorFor("ReadFile", ::GetLastError(), source_path));
      return CopyInResult::kFailed;
    }
    if (got == 0) break;
    DWORD written = 0;
    if (!::WriteFile(out.Get(), block.data(), got, &written, nullptr) || written != got) {
      FailWith(error, ErrorFor("WriteFile", ::GetLastError(), target));
      return CopyInResult::kFailed;
    }
    left -= got;
  }
  return CopyInResult::kCopied;
}

// What the service makes in the folder inherits the folder's grant to the
// job's children and its low label.
bool PrivateFolder::ShareWithChildren(const std::string& /*path*/, bool /*writable*/) {
  return true;
}

}  // namespace quillaro
