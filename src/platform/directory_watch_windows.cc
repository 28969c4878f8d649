#include "platform/directory_watch.h"

#include <algorithm>
#include <cstddef>
#include <list>
#include <map>
#include <memory>
#include <utility>

#include "platform/monotonic_clock.h"
#include "platform/windows_util_windows.h"

namespace quillaro {
namespace {

// File names, last writes and creations: the changes a job's arrival makes.
constexpr DWORD kNotifyFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE |
                                FILE_NOTIFY_CHANGE_CREATION;  // 0x51
// How often a file reported added or modified is looked at until its writer
// is done with it.
constexpr uint32_t kSettleCheckMs = 50;

}  // namespace

// Windows reports a file as soon as it is created and at each write; it has
// no "closed after writing" record. A file is therefore held back until it
// opens without sharing write access (so no writer has it open) and its size
// is the same on two looks in a row, so a consumer never reads one
// half-written. Sharing reading keeps the look from disturbing other readers.
struct DirectoryWatch::State {
  struct Folder {
    State* state = nullptr;
    std::string name;  // as given to AddFolder
    UniqueHandle handle;
    OVERLAPPED overlapped = {};
    std::vector<char> buffer;
    bool armed = false;  // a read is outstanding
  };
  struct Pending {
    uint32_t action = 0;
    int64_t size = -1;  // at the last look; -1 before the first
  };

  std::list<Folder> folders;  // stable addresses: the system writes into them
  std::map<std::pair<std::string, std::string>, Pending> pending;  // (folder, name)
  std::vector<DirectoryChange> ready;
  std::vector<std::string> lost;
  size_t buffer_bytes = 64 * 1024;
  bool overflowed = false;
  bool closed = false;

  bool Arm(Folder& folder) {
    if (folder.buffer.size() != buffer_bytes) folder.buffer.assign(buffer_bytes, 0);
    folder.overlapped = OVERLAPPED{};
    folder.overlapped.hEvent = &folder;  // unused by completion routines: ours to carry
    folder.armed =
        ::ReadDirectoryChangesW(folder.handle.Get(), folder.buffer.data(),
                                static_cast<DWORD>(folder.buffer.size()), FALSE, kNotifyFilter,
                                nullptr, &folder.overlapped, Completed) != 0;
    return folder.armed;
  }

  static void WINAPI Completed(DWORD error, DWORD bytes, OVERLAPPED* overlapped) {
    Folder& folder = *static_cast<Folder*>(overlapped->hEvent);
    folder.armed = false;
    folder.state->Receive(folder, error, bytes);
  }

  void Receive(Folder& folder, DWORD error, DWORD bytes) {
    if (closed || error == ERROR_OPERATION_ABORTED) return;
    if (error != ERROR_SUCCESS && error != ERROR_NOTIFY_ENUM_DIR) {
      // The folder was deleted or moved away: its watch ends.
      lost.push_back(folder.name);
      folder.handle.Reset();
      return;
    }
    // Copy the records out and ask for the next ones before decoding, so no
    // change that happens meanwhile goes unrecorded.
    std::vector<char> records(folder.buffer.begin(), folder.buffer.begin() + bytes);
    const bool rearmed = Arm(folder);
    if (error == ERROR_NOTIFY_ENUM_DIR || bytes == 0 || !rearmed) {
      overflowed = true;  // the system dropped records: the caller rescans
      if (!rearmed) {
        lost.push_back(folder.name);
        folder.handle.Reset();
      }
    }
    size_t offset = 0;
    while (offset + sizeof(FILE_NOTIFY_INFORMATION) <= records.size()) {
      FILE_NOTIFY_INFORMATION record;
      std::copy_n(records.data() + offset, sizeof record, reinterpret_cast<char*>(&record));
      const size_t name_offset = offset + offsetof(FILE_NOTIFY_INFORMATION, FileName);
      if (name_offset + record.FileNameLength > records.size()) break;
      std::wstring wide(record.FileNameLength / sizeof(wchar_t), L'\0');
      std::copy_n(records.data() + name_offset, record.FileNameLength,
                  reinterpret_cast<char*>(wide.data()));
      Note(folder.name, FromWin(wide), record.Action);
      if (record.NextEntryOffset == 0) break;
      offset += record.NextEntryOffset;
    }
  }

  void Note(const std::string& folder, const std::string& name, DWORD action) {
    const auto key = std::make_pair(folder, name);
    switch (action) {
      case FILE_ACTION_ADDED:
        pending[key] = Pending{kFileActionAdded, -1};
        break;
      case FILE_ACTION_MODIFIED:
        // A modification of a file still pending changes nothing: once it
        // settles it is reported as what it was first.
        pending.try_emplace(key, Pending{kFileActionModified, -1});
        break;
      case FILE_ACTION_RENAMED_NEW_NAME:
        // A file moved in arrives whole, as on Linux: reported at once.
      case FILE_ACTION_REMOVED:
      case FILE_ACTION_RENAMED_OLD_NAME:
        pending.erase(key);
        ready.push_back({static_cast<uint32_t>(action), folder, name});
        break;
      default:
        break;
    }
  }

  // Moves the files whose writers are done from `pending` to `ready`.
  void Settle() {
    for (auto it = pending.begin(); it != pending.end();) {
      const std::wstring path = ToWin(it->first.first + "\\" + it->first.second);
      const DWORD attributes = ::GetFileAttributesW(path.c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        it = pending.erase(it);  // gone again (its removal is reported), or a folder
        continue;
      }
      UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
      LARGE_INTEGER size = {};
      if (!file.Valid() || !::GetFileSizeEx(file.Get(), &size)) {
        ++it;  // a writer still has it open
        continue;
      }
      if (it->second.size != size.QuadPart) {
        it->second.size = size.QuadPart;
        ++it;
        continue;
      }
      ready.push_back({it->second.action, it->first.first, it->first.second});
      it = pending.erase(it);
    }
  }
};

DirectoryWatch::DirectoryWatch() : state_(std::make_unique<State>()) {}

DirectoryWatch::~DirectoryWatch() { Close(); }

bool DirectoryWatch::AddFolder(const std::string& folder, OsError* error) {
  if (state_->closed) {
    return FailWith(error, OsError{"ReadDirectoryChangesW", ERROR_INVALID_HANDLE, folder});
  }
  State::Folder& entry = state_->folders.emplace_back();
  entry.state = state_.get();
  entry.name = folder;
  entry.handle.Reset(::CreateFileW(ToWin(folder).c_str(), FILE_LIST_DIRECTORY,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED,
                                   nullptr));
  OsError failure;
  if (!entry.handle.Valid()) {
    failure = LastOsError("CreateFileW", folder);
  } else if (!state_->Arm(entry)) {
    failure = LastOsError("ReadDirectoryChangesW", folder);
  } else {
    return true;
  }
  state_->folders.pop_back();
  return FailWith(error, failure);
}

OsError DirectoryWatch::TimedOutError(const std::string& folder) {
  return OsError{"ReadDirectoryChangesW", WAIT_TIMEOUT, folder};
}

void DirectoryWatch::Close() {
  if (state_->closed) return;
  state_->closed = true;
  for (State::Folder& folder : state_->folders) {
    if (folder.armed) ::CancelIoEx(folder.handle.Get(), &folder.overlapped);
  }
  // The buffers must outlive the reads: let the cancelled ones complete.
  for (State::Folder& folder : state_->folders) {
    while (folder.armed && folder.handle.Valid()) ::SleepEx(10, TRUE);
  }
  state_->folders.clear();
  state_->pending.clear();
}

std::vector<std::string> DirectoryWatch::TakeLostFolders() {
  std::vector<std::string> lost;
  lost.swap(state_->lost);
  return lost;
}

DirectoryWatch::Result DirectoryWatch::WaitForChanges(const ManualResetEvent& wake,
                                                      size_t buffer_bytes,
                                                      std::vector<DirectoryChange>* changes,
                                                      bool* overflowed, int timeout_ms,
                                                      OsError* error) {
  *overflowed = false;
  if (state_->closed) return Result::kFailed;
  // The size takes effect with the next read armed.
  state_->buffer_bytes = std::max<size_t>(buffer_bytes, 4096);
  const uint64_t start = MonotonicMilliseconds();
  for (;;) {
    state_->Settle();
    if (!state_->ready.empty() || state_->overflowed || !state_->lost.empty()) {
      changes->insert(changes->end(), state_->ready.begin(), state_->ready.end());
      state_->ready.clear();
      *overflowed = std::exchange(state_->overflowed, false);
      return Result::kChanges;
    }
    DWORD wait_ms = INFINITE;
    if (timeout_ms >= 0) {
      const uint64_t elapsed = MonotonicMilliseconds() - start;
      if (elapsed >= static_cast<uint64_t>(timeout_ms)) return Result::kTimedOut;
      wait_ms = static_cast<DWORD>(timeout_ms - elapsed);
    }
    if (!state_->pending.empty()) wait_ms = std::min<DWORD>(wait_ms, kSettleCheckMs);
    // Alertable: the completion routines run inside this wait.
    const DWORD result = ::WaitForSingleObjectEx(wake.native_handle(), wait_ms, TRUE);
    if (result == WAIT_OBJECT_0) return Result::kWoken;
    if (result == WAIT_FAILED) {
      FailWith(error, LastOsError("WaitForSingleObjectEx", ""));
      return Result::kFailed;
    }
  }
}

}  // namespace quillaro
