#include "service/interpreter_lock.h"

#include <algorithm>
#include <list>
#include <mutex>

#include "platform/cancellation.h"
#include "platform/event.h"
#include "platform/os_error.h"
#include "platform/wait.h"

namespace quillaro {
namespace {

bool StemsClash(const std::u16string& a, const std::u16string& b) {
  const std::u16string& shorter = a.size() <= b.size() ? a : b;
  const std::u16string& longer = a.size() <= b.size() ? b : a;
  if (longer.compare(0, shorter.size(), shorter) != 0) return false;
  return longer.size() == shorter.size() || longer[shorter.size()] == u'_';
}

}  // namespace

// One job's place in the queue of STEMs of this process.
struct InterpreterLock::StemClaim {
  explicit StemClaim(std::u16string job_stem) : stem(std::move(job_stem)) {}
  std::u16string stem;
  ManualResetEvent turn{false};  // set once no earlier claim clashes
};

namespace {

// The claims of this process in order of arrival, those that hold the lock
// and those that wait. Only held while claims are added, removed or granted.
class StemQueue {
 public:
  using Claim = std::shared_ptr<InterpreterLock::StemClaim>;
  static StemQueue& Instance() {
    static StemQueue* queue = new StemQueue();  // lives as long as the process
    return *queue;
  }

  // Queues `claim` and waits for its turn; false when cancelled (the claim
  // is then gone from the queue).
  bool Enter(const Claim& claim, const ManualResetEvent* cancel) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      claims_.push_back(claim);
      GrantLocked();
    }
    const int index =
        cancel == nullptr ? (claim->turn.Wait(kInfinite) ? 0 : kWaitFailed)
                          : WaitAny({claim->turn, *cancel}, kInfinite);
    if (index == 0) return true;
    Leave(claim);
    return false;
  }

  void Leave(const Claim& claim) {
    std::lock_guard<std::mutex> lock(mu_);
    claims_.remove(claim);
    GrantLocked();
  }

 private:
  // Gives every claim its turn that no earlier claim clashes with.
  void GrantLocked() {
    for (auto it = claims_.begin(); it != claims_.end(); ++it) {
      if ((*it)->turn.IsSet()) continue;
      const bool clashes = std::any_of(claims_.begin(), it, [&](const Claim& earlier) {
        return StemsClash(earlier->stem, (*it)->stem);
      });
      if (!clashes) (*it)->turn.Set();
    }
  }

  std::mutex mu_;             // claims_
  std::list<Claim> claims_;
};

}  // namespace

InterpreterLock::InterpreterLock(const std::u16string& name_suffix, int32_t slots,
                                 const std::u16string& job_stem)
    : lock_(kInterpreterLockPrefix + name_suffix, slots) {
  const ManualResetEvent* cancel = CurrentCancellation();
  // With one slot the lock itself keeps every pair of jobs apart.
  if (slots > 1) {
    claim_ = std::make_shared<StemClaim>(job_stem);
    if (!StemQueue::Instance().Enter(claim_, cancel)) {
      claim_.reset();
      return;  // cancelled
    }
  }
  // The job goes on without the lock; the operator learns why it was missing.
  OsError error;
  result_ = lock_.Acquire(cancel, &error);
  if (result_ == NamedLock::Result::kUnavailable) ReportOsError(error);
}

InterpreterLock::~InterpreterLock() {
  lock_.Release();
  if (claim_) StemQueue::Instance().Leave(claim_);
}

}  // namespace quillaro
