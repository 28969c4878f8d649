#include "platform/named_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "platform/code_page.h"
#include "platform/module_path.h"
#include "platform/named_lock_gate.h"
#include "platform/unique_fd_linux.h"

namespace quillaro {
namespace {

// How often the one thread of this process that is next in line retries a
// lock that another process holds. Threads of this process never poll: they
// queue at the gate (named_lock_gate.h) and are woken one by one.
constexpr uint32_t kForeignHolderRetryMs = 50;

// The folder of the lock files: one that only the service's own user can
// write to, since whoever can make a file there can hold the lock and stall
// every job, or (in a folder shared with other users, as /run/lock is) plant
// a link that the service would follow. In this order:
//  - QUILLARO_LOCK_FOLDER when set and not empty: the operator's explicit
//    choice. Services that give the same folder share the lock's slots (the
//    machine-wide Parallel); a local fleet gives each member its own.
//  - RUNTIME_DIRECTORY (its first entry), which systemd makes for the unit's
//    RuntimeDirectory=, owned by the service's user and emptied when it stops.
//  - the service's own folder, beside its log.txt, for a service started by
//    hand. Empty when the system cannot tell where that is.
std::string LockFolder() {
  for (const char* variable : {"QUILLARO_LOCK_FOLDER", "RUNTIME_DIRECTORY"}) {
    const char* value = std::getenv(variable);
    if (value == nullptr || value[0] == '\0') continue;
    std::string folder = value;
    return folder.substr(0, folder.find(':'));  // systemd lists several with ':'
  }
  return ModuleFolder();
}

}  // namespace

namespace {

// Tries to lock byte `slot` of the file; errno tells why not.
bool TryLockSlot(int fd, int32_t slot) {
  struct flock request = {};
  request.l_type = F_WRLCK;
  request.l_whence = SEEK_SET;
  request.l_start = slot;
  request.l_len = 1;
  return ::fcntl(fd, F_OFD_SETLK, &request) == 0;
}

}  // namespace

std::string NamedLock::LockFilePath(const std::u16string& name) {
  std::u16string rest = name;
  const std::u16string global = u"Global\\";
  if (rest.compare(0, global.size(), global) == 0) rest.erase(0, global.size());
  std::string file = WideToNarrow(rest);
  for (char& c : file) {
    if (c == '/' || c == '\\') c = '_';
  }
  const std::string folder = LockFolder();
  if (folder.empty()) return std::string();
  return folder + (file.empty() ? std::string("/_") : "/" + file);
}

NamedLock::NamedLock(const std::u16string& name, int32_t slots)
    : path_(LockFilePath(name)),
      slots_(std::max<int32_t>(slots, 1)),
      gate_(Gate::For(path_, slots_)) {}

NamedLock::~NamedLock() { Release(); }

NamedLock::Result NamedLock::Acquire(const ManualResetEvent* cancel, OsError* error) {
  if (held_) return Result::kAcquired;
  if (!gate_->Enter(cancel)) return Result::kCancelled;
  gate_held_ = true;

  // Without the file the other processes cannot be excluded; the threads of
  // this one still are, by the gate.
  if (path_.empty()) {
    FailWith(error, OsError{"readlink", ENOENT, "/proc/self/exe"});
    return Result::kUnavailable;
  }
  // Every holder opens its own description: an OFD lock excludes other
  // descriptions, including those of this process, and dies with it. A link
  // planted at the path is not followed (ELOOP), a new file is for the
  // service's user alone and the mode of an existing one is left as it is.
  UniqueFd file(::open(path_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600));
  if (!file.Valid()) {
    FailWith(error, LastOsError("open", path_));
    return Result::kUnavailable;
  }
  // A file someone else made (or a hard link to one) is refused: its owner
  // could hold it for ever, or it is not a lock file at all.
  struct stat status = {};
  if (::fstat(file.Get(), &status) != 0) {
    FailWith(error, LastOsError("fstat", path_));
    return Result::kUnavailable;
  }
  if (!S_ISREG(status.st_mode) || status.st_uid != ::geteuid() || status.st_nlink != 1) {
    FailWith(error, OsError{"open", EPERM, path_});
    return Result::kUnavailable;
  }
  handle_ = std::move(file);
  for (;;) {
    bool interrupted = false;
    for (int32_t slot = 0; slot < slots_; ++slot) {
      if (TryLockSlot(handle_.Get(), slot)) {
        held_ = true;
        return Result::kAcquired;
      }
      if (errno == EINTR) {
        interrupted = true;
        break;
      }
      if (errno != EAGAIN && errno != EACCES) {
        FailWith(error, LastOsError("fcntl", path_));
        handle_.Reset();
        return Result::kUnavailable;
      }
    }
    if (interrupted) continue;
    bool cancelled = false;
    if (cancel != nullptr) {
      cancelled = cancel->Wait(kForeignHolderRetryMs);
    } else {
      ::usleep(kForeignHolderRetryMs * 1000);
    }
    if (cancelled) {
      Release();
      return Result::kCancelled;
    }
  }
}

void NamedLock::Release() {
  // Closing the description drops its lock.
  handle_.Reset();
  held_ = false;
  if (gate_held_) {
    gate_held_ = false;
    gate_->Leave();
  }
}

}  // namespace quillaro
