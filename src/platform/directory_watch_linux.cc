#include "platform/directory_watch.h"

#include <errno.h>
#include <limits.h>
#include <poll.h>
#include <string.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "platform/unique_fd_linux.h"

namespace quillaro {
namespace {

// Report a file only when its writer closes it (or it arrives whole by a
// rename): a job must never be read half-written. IN_CREATE tells a new file
// from a rewritten one, and reports at once a name that no writer will ever
// close: a symbolic link, a pipe or other special file, or a second hard
// link to a file that exists already (made with link(), not written).
constexpr uint32_t kWatchMask =
    IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE | IN_MOVE_SELF |
    IN_ONLYDIR;

// Names created but not yet closed are remembered to choose "added"; bound
// the memory that files created and never closed can take.
constexpr size_t kMaxPendingCreations = 100000;

// True when `name` in `folder` was made whole in place (see kWatchMask); a
// plain new file, or one already gone, waits for its close-after-write.
bool CreatedWhole(const std::string& folder, const std::string& name) {
  struct stat info;
  if (::fstatat(AT_FDCWD, (folder + "/" + name).c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return false;
  }
  return !S_ISREG(info.st_mode) || info.st_nlink > 1;
}

}  // namespace

struct DirectoryWatch::State {
  UniqueFd inotify;
  int init_error = 0;  // errno of inotify_init1 when it failed
  std::map<int, std::string> folders;                 // watch descriptor -> folder
  std::set<std::pair<int, std::string>> created;      // created, not yet closed
  std::vector<char> buffer;
  std::vector<std::string> lost;                      // watches ended since the last take
};

DirectoryWatch::DirectoryWatch() : state_(std::make_unique<State>()) {
  state_->inotify.Reset(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
  if (!state_->inotify.Valid()) state_->init_error = errno;
}

DirectoryWatch::~DirectoryWatch() = default;

bool DirectoryWatch::AddFolder(const std::string& folder, OsError* error) {
  if (!state_->inotify.Valid()) {
    // Closed (EBADF) or never opened (why the system refused it).
    const int code = state_->init_error != 0 ? state_->init_error : EBADF;
    return FailWith(error, OsError{"inotify_init1", code, folder});
  }
  int wd = ::inotify_add_watch(state_->inotify.Get(), folder.c_str(), kWatchMask);
  if (wd < 0) return FailWith(error, LastOsError("inotify_add_watch", folder));
  state_->folders[wd] = folder;
  return true;
}


std::vector<std::string> DirectoryWatch::TakeLostFolders() {
  std::vector<std::string> lost;
  lost.swap(state_->lost);
  return lost;
}

OsError DirectoryWatch::TimedOutError(const std::string& folder) {
  return OsError{"inotify_add_watch", ETIMEDOUT, folder};
}

void DirectoryWatch::Close() {
  state_->inotify.Reset();
  state_->folders.clear();
  state_->created.clear();
}

DirectoryWatch::Result DirectoryWatch::WaitForChanges(const ManualResetEvent& wake,
                                                      size_t buffer_bytes,
                                                      std::vector<DirectoryChange>* changes,
                                                      bool* overflowed, int timeout_ms,
                                                      OsError* error) {
  *overflowed = false;
  if (!state_->inotify.Valid()) return Result::kFailed;
  // The buffer must hold at least one event with the longest name.
  const size_t size = std::max(buffer_bytes, sizeof(inotify_event) + NAME_MAX + 1);
  if (state_->buffer.size() != size) state_->buffer.assign(size, 0);

  for (;;) {
    pollfd fds[2] = {{wake.native_handle(), POLLIN, 0}, {state_->inotify.Get(), POLLIN, 0}};
    int n = ::poll(fds, 2, timeout_ms < 0 ? -1 : timeout_ms);
    if (n < 0) {
      if (errno == EINTR) continue;
      FailWith(error, LastOsError("poll", ""));
      return Result::kFailed;
    }
    if (n == 0) return Result::kTimedOut;
    if (fds[0].revents & POLLIN) return Result::kWoken;
    if (fds[1].revents & (POLLERR | POLLNVAL)) return Result::kFailed;
    if (!(fds[1].revents & POLLIN)) continue;

    ssize_t got = ::read(state_->inotify.Get(), state_->buffer.data(), state_->buffer.size());
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      FailWith(error, LastOsError("read", ""));
      return Result::kFailed;
    }
    const size_t before = changes->size();
    size_t offset = 0;
    while (offset + sizeof(inotify_event) <= static_cast<size_t>(got)) {
      inotify_event event;
      std::copy_n(state_->buffer.data() + offset, sizeof event, reinterpret_cast<char*>(&event));
      const char* name_start = state_->buffer.data() + offset + sizeof event;
      offset += sizeof event + event.len;
      if (offset > static_cast<size_t>(got)) break;

      if (event.mask & IN_Q_OVERFLOW) {
        *overflowed = true;
        continue;
      }
      if (event.mask & (IN_IGNORED | IN_MOVE_SELF)) {
        // The folder was deleted (the watch is gone) or moved away (the
        // watch would follow it under a name we do not know: end it).
        auto gone = state_->folders.find(event.wd);
        if (gone != state_->folders.end()) {
          state_->lost.push_back(gone->second);
          state_->folders.erase(gone);
          if (event.mask & IN_MOVE_SELF) ::inotify_rm_watch(state_->inotify.Get(), event.wd);
        }
        continue;
      }
      auto folder = state_->folders.find(event.wd);
      if (folder == state_->folders.end() || event.len == 0) continue;
      // The name is NUL-padded to `len` bytes.
      std::string name(name_start, ::strnlen(name_start, event.len));
      auto key = std::make_pair(event.wd, name);

      uint32_t action = 0;
      if (event.mask & IN_CREATE) {
        if (event.mask & IN_ISDIR) {
          // A folder is no job.
        } else if (CreatedWhole(folder->second, name)) {
          action = kFileActionAdded;
        } else if (state_->created.size() < kMaxPendingCreations) {
          state_->created.insert(std::move(key));
        }
      } else if (event.mask & IN_CLOSE_WRITE) {
        action = state_->created.erase(key) > 0 ? kFileActionAdded : kFileActionModified;
      } else if (event.mask & IN_MOVED_FROM) {
        state_->created.erase(key);
        action = kFileActionRenamedOldName;
      } else if (event.mask & IN_MOVED_TO) {
        action = kFileActionRenamedNewName;
      } else if (event.mask & IN_DELETE) {
        state_->created.erase(key);
        action = kFileActionRemoved;
      }
      if (action != 0) changes->push_back({action, folder->second, std::move(name)});
    }
    if (changes->size() > before || *overflowed || !state_->lost.empty()) {
      return Result::kChanges;
    }
  }
}

}  // namespace quillaro
