// The in-process half of a NamedLock, shared by both backends.
#ifndef QUILLARO_PLATFORM_NAMED_LOCK_GATE_H_
#define QUILLARO_PLATFORM_NAMED_LOCK_GATE_H_

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "platform/event.h"
#include "platform/named_lock.h"
#include "platform/wait.h"

namespace quillaro {

// The in-process half of the lock: a first-come first-served queue of the
// threads of this process that want the same name, letting as many past as
// the lock has slots. Record locks on Linux make no promise of order between
// waiters, and a blocked F_OFD_SETLKW cannot be cancelled; the gate provides
// both, and only the threads past it try the file's slots.
struct NamedLock::Gate {
  explicit Gate(int32_t slots) : free(slots) {}

  std::mutex mu;                          // free, waiters
  int32_t free;                           // slots no thread of ours has
  std::deque<ManualResetEvent*> waiters;  // their turn events, in order

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

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_NAMED_LOCK_GATE_H_
