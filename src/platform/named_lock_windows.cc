#include "platform/named_lock.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <vector>

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
    UniqueHandle mutex(::CreateMutexW(nullptr, FALSE, name.c_str()));
    if (!mutex.Valid()) {
      // Without the mutex the other processes cannot be excluded; the
      // threads of this one still are, by the gate.
      FailWith(error, LastOsError("CreateMutexW", path_));
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
    handle_ = mutexes[index].Release();
    std::lock_guard<std::mutex> lock(held_slots_mu);
    (*held_slots)[handle_] = names[index];
    held_ = true;
    return Result::kAcquired;
  }
  const bool cancelled = index != MAXDWORD;
  if (!cancelled) FailWith(error, LastOsError("WaitForMultipleObjects", path_));
  Release();
  return cancelled ? Result::kCancelled : Result::kUnavailable;
}

void NamedLock::Release() {
  if (handle_ != kNoNativeHandle) {
    {
      std::lock_guard<std::mutex> lock(held_slots_mu);
      held_slots->erase(handle_);
    }
    ::ReleaseMutex(handle_);
    ::CloseHandle(handle_);
    handle_ = kNoNativeHandle;
  }
  held_ = false;
  if (gate_held_) {
    gate_held_ = false;
    gate_->Leave();
  }
}

}  // namespace quillaro
