#include "platform/child_confinement.h"

#include <utility>

#include "platform/windows_util_windows.h"

namespace quillaro {
namespace {

HANDLE JobOf(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

// Windows has no per-process file-system rules an unprivileged service could
// set up for a child; the job object's limits are what confines it.
int FileSystemSandboxVersion() { return 0; }

// A run reads and writes through Ghostscript's safe mode and the job
// object's limits; the per-run token that keeps its file access to its own
// folder is the token's business (see the runner).
bool ChildFileAccessConfined() { return true; }

// A child keeps the service's account; its rights are cut through its token.
bool ChildrenChangeUser() { return false; }

ConfinementPolicy InterpreterConfinement(const std::string& module_folder,
                                         const std::string& scratch_folder) {
  ConfinementPolicy policy;
  // Kept for the record of what a run may touch; nothing enforces the paths.
  policy.readable = {module_folder};
  policy.writable = {module_folder + "\\in", module_folder + "\\out", scratch_folder};
  // The same caps as on Linux: far above a real job's few hundred MB, low
  // enough that a hostile job cannot take the machine. A job object has no
  // file-size limit, so file_size_bytes stays unused.
  policy.file_size_bytes = 4ull << 30;
  policy.address_space_bytes = 8ull << 30;
  return policy;
}

const char* NoFileSystemSandboxReason() { return "Windows has no file-system sandbox for a child; its job object limits memory and ends its tree"; }

PreparedConfinement::PreparedConfinement(const ConfinementPolicy& policy)
    : address_space_bytes_(policy.address_space_bytes), file_size_bytes_(policy.file_size_bytes) {
  HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
  if (job == nullptr) return;  // ApplyToChild then reports the failure
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  // Closing the job (this object's end, or the service's death) kills every
  // process in it: an interpreter never outlives its run.
  limits.BasicLimitInformation.LimitFlags =
      JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
  if (address_space_bytes_ != 0) {
    limits.BasicLimitInformation.LimitFlags |= JOB_OBJECT_LIMIT_PROCESS_MEMORY;
    limits.ProcessMemoryLimit = static_cast<SIZE_T>(address_space_bytes_);
  }
  JOBOBJECT_BASIC_UI_RESTRICTIONS ui = {};
  ui.UIRestrictionsClass = JOB_OBJECT_UILIMIT_DESKTOP | JOB_OBJECT_UILIMIT_DISPLAYSETTINGS |
                           JOB_OBJECT_UILIMIT_EXITWINDOWS | JOB_OBJECT_UILIMIT_GLOBALATOMS |
                           JOB_OBJECT_UILIMIT_HANDLES | JOB_OBJECT_UILIMIT_READCLIPBOARD |
                           JOB_OBJECT_UILIMIT_SYSTEMPARAMETERS | JOB_OBJECT_UILIMIT_WRITECLIPBOARD;
  // Without kill-on-close the job would not end the process tree: no job
  // then. The UI limits are a nicety a system may refuse.
  if (!::SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
    ::CloseHandle(job);
    return;
  }
  ::SetInformationJobObject(job, JobObjectBasicUIRestrictions, &ui, sizeof ui);
  handle_ = reinterpret_cast<std::intptr_t>(job);
}

PreparedConfinement::PreparedConfinement(PreparedConfinement&& other) noexcept
    : handle_(std::exchange(other.handle_, -1)),
      address_space_bytes_(other.address_space_bytes_),
      file_size_bytes_(other.file_size_bytes_) {}

PreparedConfinement::~PreparedConfinement() {
  if (handle_ != -1) ::CloseHandle(JobOf(handle_));
}

bool PreparedConfinement::sandboxed() const { return false; }

int PreparedConfinement::ApplyToChild(ChildProcessHandle child,
                                      const char** failed_call) const noexcept {
  if (handle_ == -1) {
    *failed_call = "CreateJobObjectW";
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  *failed_call = "AssignProcessToJobObject";
  if (!::AssignProcessToJobObject(JobOf(handle_), reinterpret_cast<HANDLE>(child))) {
    return static_cast<int>(::GetLastError());
  }
  return 0;
}

}  // namespace quillaro
