#include "platform/named_lock.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include <aclapi.h>

#include "platform/access_control_windows.h"
#include "platform/code_page.h"
#include "platform/named_lock_gate.h"
#include "platform/windows_util_windows.h"

namespace quillaro {
namespace {

// The kernel object name of slot `slot`: the name itself, then the name
// with the slot number appended.
std::wstring SlotName(const std::string& name, int32_t slot) {
  return ToWin(name) + (slot == 0 ? std::wstring() : std::to_wstring(slot));
}

// The slots this process holds. A thread that owns a mutex would take it
// again at once (mutexes are recursive), so a thread never waits on a slot
// this process already holds.
std::mutex held_slots_mu;  // held_slots
std::map<HANDLE, std::wstring>* held_slots = new std::map<HANDLE, std::wstring>();

bool HeldHere(const std::wstring& slot_name) {
  std::lock_guard<std::mutex> lock(held_slots_mu);
  for (const auto& [handle, name] : *held_slots) {
    if (name == slot_name) return true;
  }
  return false;
}

// What every slot mutex this process makes is created with: owned by the
// service's account, usable by it, SYSTEM and Administrators alone. With the
// default DACL any account that can open the name could hold the slot and
// stall every job.
class MutexSecurity {
 public:
  MutexSecurity()
      : user_(ProcessUserSid()),
        system_(WellKnownSid(WinLocalSystemSid)),
        administrators_(WellKnownSid(WinBuiltinAdministratorsSid)),
        dacl_(AllowingAcl({{&user_, MUTEX_ALL_ACCESS},
                           {&system_, MUTEX_ALL_ACCESS},
                           {&administrators_, MUTEX_ALL_ACCESS}},
                          0)) {
    valid_ = !dacl_.empty() && ::InitializeSecurityDescriptor(&descriptor_,
                                                              SECURITY_DESCRIPTOR_REVISION) &&
             ::SetSecurityDescriptorOwner(&descriptor_, AsSid(user_), FALSE) &&
             ::SetSecurityDescriptorDacl(&descriptor_, TRUE, AsAcl(dacl_), FALSE);
    attributes_ = {sizeof attributes_, &descriptor_, FALSE};
  }
  MutexSecurity(const MutexSecurity&) = delete;
  MutexSecurity& operator=(const MutexSecurity&) = delete;

  // Null when the descriptor could not be made.
  SECURITY_ATTRIBUTES* attributes() { return valid_ ? &attributes_ : nullptr; }

  // True when `mutex` belongs to the service's account: one someone else
  // made first (and so could hold for ever) is not used.
  bool OwnedBySelf(HANDLE mutex) const {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(mutex, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                          nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
      return false;
    }
    const bool own = owner != nullptr && !user_.empty() && ::EqualSid(owner, AsSid(user_));
    ::LocalFree(descriptor);
    return own;
  }

 private:
  SecurityBytes user_;
  SecurityBytes system_;
  SecurityBytes administrators_;
  SecurityBytes dacl_;
  SECURITY_DESCRIPTOR descriptor_ = {};
  SECURITY_ATTRIBUTES attributes_ = {};
  bool valid_ = false;
};

MutexSecurity& TheMutexSecurity() {
  static MutexSecurity* security = new MutexSecurity();
  return *security;
}

}  // namespace

// On Windows the name is the mutex's own; "Global\" is the system's namespace.
std::string NamedLock::LockFilePath(const std::u16string& name) { return WideToNarrow(name); }

NamedLock::NamedLock(const std::u16string& name, int32_t slots)
    : path_(LockFilePath(name)),
      slots_(std::max<int32_t>(slots, 1)),
      gate_(Gate::For(path_, slots_)) {}

NamedLock::~NamedLock() { Release(); }

NamedLock::Result NamedLock::Acquire(const ManualResetEvent* cancel, OsError* error) {
  if (held_) return Result::kAcquired;
  if (!gate_->Enter(cancel)) return Result::kCancelled;
  gate_held_ = true;
  // Wait on every slot's mutex (and the cancel event) at once: the system
  // hands over exactly one mutex, so no slot is polled.
  std::vector<UniqueHandle> mutexes;
  std::vector<std::wstring> names;
  std::vector<HANDLE> handles;
  const int32_t count = std::min<int32_t>(slots_, MAXIMUM_WAIT_OBJECTS - 1);
  for (int32_t slot = 0; slot < count; ++slot) {
    std::wstring name = SlotName(path_, slot);
    if (HeldHere(name)) continue;
    MutexSecurity& security = TheMutexSecurity();
    SECURITY_ATTRIBUTES* attributes = security.attributes();
    if (attributes == nullptr) {
      FailWith(error, LastOsError("InitializeSecurityDescriptor", path_));
      return Result::kUnavailable;
    }
    UniqueHandle mutex(::CreateMutexW(attributes, FALSE, name.c_str()));
    // Without the mutex the other processes cannot be excluded; the threads
    // of this one still are, by the gate. The same when another account
    // made it first: the service goes on without it rather than wait on it.
    if (!mutex.Valid()) {
      FailWith(error, LastOsError("CreateMutexW", path_));
      return Result::kUnavailable;
    }
    if (::GetLastError() == ERROR_ALREADY_EXISTS && !security.OwnedBySelf(mutex.Get())) {
      FailWith(error, OsError{"CreateMutexW", static_cast<int>(ERROR_INVALID_OWNER), path_});
      return Result::kUnavailable;
    }
    handles.push_back(mutex.Get());
    mutexes.push_back(std::move(mutex));
    names.push_back(std::move(name));
  }
  if (cancel != nullptr) handles.push_back(cancel->native_handle());
  const DWORD result =
      ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, INFINITE);
  // A mutex whose holder died without releasing it is ours all the same.
  DWORD index = MAXDWORD;
  if (result >= WAIT_OBJECT_0 && result < WAIT_OBJECT_0 + handles.size()) {
    index = result - WAIT_OBJECT_0;
  } else if (result >= WAIT_ABANDONED_0 && result < WAIT_ABANDONED_0 + handles.size()) {
    index = result - WAIT_ABANDONED_0;
  }
  if (index < mutexes.size()) {
    handle_ = std::move(mutexes[index]);
    std::lock_guard<std::mutex> lock(held_slots_mu);
    (*held_slots)[handle_.Get()] = names[index];
    held_ = true;
    return Result::kAcquired;
  }
  const bool cancelled = index != MAXDWORD;
  if (!cancelled) FailWith(error, LastOsError("WaitForMultipleObjects", path_));
  Release();
  return cancelled ? Result::kCancelled : Result::kUnavailable;
}

void NamedLock::Release() {
  if (handle_.Valid()) {
    {
      std::lock_guard<std::mutex> lock(held_slots_mu);
      held_slots->erase(handle_.Get());
    }
    ::ReleaseMutex(handle_.Get());
    handle_.Reset();
  }
  held_ = false;
  if (gate_held_) {
    gate_held_ = false;
    gate_->Leave();
  }
}

}  // namespace quillaro
