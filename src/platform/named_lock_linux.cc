#include "platform/named_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>

#include "platform/code_page.h"
#include "platform/wait.h"

namespace quillaro {
namespace {

// How often the one thread of this process that is next in line retries a
// lock that another process holds. Threads of this process never poll: they
// queue at the gate below and are woken one by one.
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

// The in-process half of the lock: a first-come first-served queue of the
// threads of this process that want the same name, letting as many past as
// the lock has slots. Record locks on Linux make no promise of order between
// waiters, and a blocked F_OFD_SETLKW cannot be cancelled; the gate provides
// both, and only the threads past it try the file's slots.
struct NamedLock::Gate {
  explicit Gate(int32_t slots) : free(slots) {}

  std::mutex mu;                              // free, waiters
  int32_t free;                               // slots no thread of ours has
  std::deque<ManualResetEvent*> waiters;      // their turn events, in order

  // One gate per lock file and slot count for the whole process, as one
  // kernel object serves every handle to a named mutex.
  static std::shared_ptr<Gate> For(const std::string& path, int32_t slots) {
    static std::mutex registry_mu;  // registry
    static std::map<std::pair<std::string, int32_t>, std::shared_ptr<Gate>>* registry =
        new std::map<std::pair<std::string, int32_t>, std::shared_ptr<Gate>>();
    std::lock_guard<std::mutex> lock(registry_mu);
    std::shared_ptr<Gate>& gate = (*registry)[{path, slots}];
    if (!gate) gate = std::make_shared<Gate>(slots);
    return gate;
  }

  bool Enter(const ManualResetEvent* cancel) {
    ManualResetEvent turn(false);
    {
      std::lock_guard<std::mutex> lock(mu);
      if (free > 0 && waiters.empty()) {
        --free;
        return true;
      }
      waiters.push_back(&turn);
    }
    int index = cancel == nullptr ? (turn.Wait(kInfinite) ? 0 : kWaitFailed)
                                  : WaitAny({turn, *cancel}, kInfinite);
    // The releaser sets `turn` under `mu`: taking it here also makes sure
    // that Set() is over before `turn` goes away.
    std::lock_guard<std::mutex> lock(mu);
    if (turn.IsSet()) {
      if (index == 0) return true;
      // Handed a place while being cancelled: pass it on.
      LeaveLocked();
      return false;
    }
    waiters.erase(std::remove(waiters.begin(), waiters.end(), &turn), waiters.end());
    return false;
  }

  void Leave() {
    std::lock_guard<std::mutex> lock(mu);
    LeaveLocked();
  }

  void LeaveLocked() {
    if (waiters.empty()) {
      ++free;
      return;
    }
    waiters.front()->Set();  // the place passes straight to the next in line
    waiters.pop_front();
  }
};

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
  fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd_ < 0) {
    // Without the file the other processes cannot be excluded; the threads
    // of this one still are, by the gate.
    FailWith(error, LastOsError("open", path_));
    return Result::kUnavailable;
  }
  // Let other accounts share the lock whatever our umask.
  ::fchmod(fd_, 0666);
  for (;;) {
    bool interrupted = false;
    for (int32_t slot = 0; slot < slots_; ++slot) {
      if (TryLockSlot(fd_, slot)) {
        held_ = true;
        return Result::kAcquired;
      }
      if (errno == EINTR) {
        interrupted = true;
        break;
      }
      if (errno != EAGAIN && errno != EACCES) {
        FailWith(error, LastOsError("fcntl", path_));
        ::close(fd_);
        fd_ = -1;
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
  if (fd_ >= 0) {
    // Closing the description drops its lock.
    ::close(fd_);
    fd_ = -1;
  }
  held_ = false;
  if (gate_held_) {
    gate_held_ = false;
    gate_->Leave();
  }
}

}  // namespace quillaro
