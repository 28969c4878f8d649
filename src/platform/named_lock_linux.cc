#include "platform/named_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "platform/code_page.h"
#include "platform/named_lock_gate.h"

namespace quillaro {
namespace {

// How often the one thread of this process that is next in line retries a
// lock that another process holds. Threads of this process never poll: they
// queue at the gate (named_lock_gate.h) and are woken one by one.
constexpr uint32_t kForeignHolderRetryMs = 50;

// QUILLARO_LOCK_FOLDER, when set and not empty, stands for /run/lock: several
// services on one machine, each with a folder of its own, then exclude each
// other no more than services on different machines do (a local fleet).
std::string LockFolder() {
  if (const char* folder = std::getenv("QUILLARO_LOCK_FOLDER");
      folder != nullptr && folder[0] != '\0') {
    return folder;
  }
  return ::access("/run/lock", W_OK | X_OK) == 0 ? "/run/lock" : "/tmp";
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
  return LockFolder() + (file.empty() ? std::string("/_") : "/" + file);
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

  // Every holder opens its own description: an OFD lock excludes other
  // descriptions, including those of this process, and dies with it.
  handle_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (handle_ < 0) {
    // Without the file the other processes cannot be excluded; the threads
    // of this one still are, by the gate.
    FailWith(error, LastOsError("open", path_));
    return Result::kUnavailable;
  }
  // Let other accounts share the lock whatever our umask.
  ::fchmod(handle_, 0666);
  for (;;) {
    bool interrupted = false;
    for (int32_t slot = 0; slot < slots_; ++slot) {
      if (TryLockSlot(handle_, slot)) {
        held_ = true;
        return Result::kAcquired;
      }
      if (errno == EINTR) {
        interrupted = true;
        break;
      }
      if (errno != EAGAIN && errno != EACCES) {
        FailWith(error, LastOsError("fcntl", path_));
        ::close(handle_);
        handle_ = -1;
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
  if (handle_ >= 0) {
    // Closing the description drops its lock.
    ::close(handle_);
    handle_ = -1;
  }
  held_ = false;
  if (gate_held_) {
    gate_held_ = false;
    gate_->Leave();
  }
}

}  // namespace quillaro
