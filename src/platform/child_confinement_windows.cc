#include "platform/child_confinement.h"

#include <utility>

#include "platform/run_security_windows.h"
#include "platform/windows_util_windows.h"

namespace quillaro {
// A child's token at low integrity can write only into objects labelled low
// (its job's folder) and read only what Everyone or Users may read: that is
// the file-system boundary, where the system enforces the level.
int FileSystemSandboxVersion() { return ChildrenRunAtLowIntegrity() ? 1 : 0; }

// Where the system enforces the level (not under Wine, which keeps every
// token at the service's own level).
bool ChildFileAccessConfined() { return ChildrenRunAtLowIntegrity(); }

// A child keeps the service's account; its rights are cut through its token.
bool ChildrenChangeUser() { return false; }

ConfinementPolicy InterpreterConfinement(const std::string& module_folder,
                                         const std::string& private_folder) {
  ConfinementPolicy policy;
  // What the token and the folder's ACL give a child: the module folder (the
  // interpreters, their fonts) as any user reads it, and its own folder.
  policy.readable = {module_folder, private_folder};
  policy.writable = {private_folder};
  // The same caps as on Linux: far above a real job's few hundred MB, low
  // enough that a hostile job cannot take the machine. A job object has no
  // file-size limit, so file_size_bytes stays unused.
  policy.file_size_bytes = 4ull << 30;
  policy.address_space_bytes = 8ull << 30;
  return policy;
}

const char* NoFileSystemSandboxReason() {
  return "this system keeps a child's token above low integrity (as Wine does), so nothing but "
         "the ACLs of the service's folders limits what an interpreter writes";
}

PreparedConfinement::PreparedConfinement(const ConfinementPolicy& policy)
    : address_space_bytes_(policy.address_space_bytes), file_size_bytes_(policy.file_size_bytes) {
  const std::wstring folder = policy.writable.empty() ? std::wstring() : ToWin(policy.writable.front());
  DWORD code = 0;
  token_ = MakeChildToken(folder, &token_failed_call_, &code);
  if (!token_.Valid()) token_error_ = static_cast<int>(code);

  // A failure here is reported by ApplyToChild, with the call and its error.
  UniqueHandle job(::CreateJobObjectW(nullptr, nullptr));
  if (!job.Valid()) {
    handle_error_ = static_cast<int>(::GetLastError());
    return;
  }
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  // Closing the job (this object's end, or the service's death) kills every
  // process in it: an interpreter never outlives its run. One process: the
  // interpreter starts none (a job's %pipe% or a process started to escape
  // the job's end is refused).
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE |
                                            JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION |
                                            JOB_OBJECT_LIMIT_ACTIVE_PROCESS;
  limits.BasicLimitInformation.ActiveProcessLimit = 1;
  if (address_space_bytes_ != 0) {
    limits.BasicLimitInformation.LimitFlags |=
        JOB_OBJECT_LIMIT_PROCESS_MEMORY | JOB_OBJECT_LIMIT_JOB_MEMORY;
    limits.ProcessMemoryLimit = static_cast<SIZE_T>(address_space_bytes_);
    limits.JobMemoryLimit = static_cast<SIZE_T>(address_space_bytes_);
  }
  JOBOBJECT_BASIC_UI_RESTRICTIONS ui = {};
  ui.UIRestrictionsClass = JOB_OBJECT_UILIMIT_DESKTOP | JOB_OBJECT_UILIMIT_DISPLAYSETTINGS |
                           JOB_OBJECT_UILIMIT_EXITWINDOWS | JOB_OBJECT_UILIMIT_GLOBALATOMS |
                           JOB_OBJECT_UILIMIT_HANDLES | JOB_OBJECT_UILIMIT_READCLIPBOARD |
                           JOB_OBJECT_UILIMIT_SYSTEMPARAMETERS | JOB_OBJECT_UILIMIT_WRITECLIPBOARD;
  // Without kill-on-close the job would not end the process tree, and
  // without the UI limits a child could reach other windows' messages and
  // the clipboard: no job then, and no child.
  if (!::SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits,
                                 sizeof limits) ||
      !::SetInformationJobObject(job.Get(), JobObjectBasicUIRestrictions, &ui, sizeof ui)) {
    handle_error_ = static_cast<int>(::GetLastError());
    handle_failed_call_ = "SetInformationJobObject";
    return;
  }
  handle_ = std::move(job);
}

bool PreparedConfinement::sandboxed() const {
  return token_.Valid() && handle_.Valid() && ChildrenRunAtLowIntegrity();
}

int PreparedConfinement::ChildToken(std::intptr_t* token, const char** failed_call) const noexcept {
  if (token_.Valid()) {
    *token = reinterpret_cast<std::intptr_t>(token_.Get());
    return 0;
  }
  *token = -1;
  *failed_call = token_failed_call_;
  return token_error_ != 0 ? token_error_ : static_cast<int>(ERROR_INVALID_HANDLE);
}

int PreparedConfinement::ApplyToChild(ChildProcessHandle child,
                                      const char** failed_call) const noexcept {
  if (!handle_.Valid()) {
    *failed_call = handle_failed_call_;
    return handle_error_ != 0 ? handle_error_ : static_cast<int>(ERROR_NOT_ENOUGH_MEMORY);
  }
  *failed_call = "AssignProcessToJobObject";
  if (!::AssignProcessToJobObject(handle_.Get(), reinterpret_cast<HANDLE>(child))) {
    return static_cast<int>(::GetLastError());
  }
  return 0;
}

}  // namespace quillaro
