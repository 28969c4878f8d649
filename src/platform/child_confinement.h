#ifndef QUILLARO_PLATFORM_CHILD_CONFINEMENT_H_
#define QUILLARO_PLATFORM_CHILD_CONFINEMENT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/native_handle.h"

namespace quillaro {

// What an interpreter child may touch. Where the system has a file-system
// sandbox, everything else on the file system is denied to it, whatever the
// options it was started with (a job run with -dNOSAFER can still not read
// /etc/passwd or write outside its folders).
//
// On Linux every child also runs, whatever the policy:
// - as kJobUserId / kJobGroupId with no supplementary groups and no
//   capabilities when the service runs as root (a service of its own user
//   keeps that user: it has nothing more to give away), with no way to gain
//   privileges again (PR_SET_NO_NEW_PRIVS);
// - under a seccomp filter that refuses new processes (threads are allowed),
//   new sockets other than a socketpair, tracing and reading other
//   processes, namespaces, mounts, keys, BPF and io_uring;
// - where Landlock has them, with every TCP bind and connect refused (ABI 4)
//   and no signal or abstract unix socket reaching outside its own run
//   (ABI 6).
struct ConfinementPolicy {
  // Files or folder trees the child may read and execute.
  std::vector<std::string> readable;
  // Folder trees the child may also write, create, rename and delete in.
  std::vector<std::string> writable;
  // Resource limits; 0 leaves a limit as inherited. Core dumps are always off.
  uint64_t address_space_bytes = 0;
  uint64_t file_size_bytes = 0;
};

// The version of the system's file-system sandbox that interpreter children
// are confined with; 0 when the system has none (the children then run with
// the resource limits only). On Linux the Landlock ABI; on Windows 1 when a
// child's token really runs at low integrity (so that it can write nowhere
// but its job's folder), 0 where the system keeps the level (Wine).
int FileSystemSandboxVersion();

// True when the system keeps a child's file access to what its policy
// allows: on Linux, Landlock (FileSystemSandboxVersion() > 0); on Windows,
// the child's own token (see the Windows backend). Where it is false the
// watermark route, whose runs execute a job's PostScript, is refused unless
// the settings accept the risk.
bool ChildFileAccessConfined();

// Why the children run without a file-system sandbox when
// FileSystemSandboxVersion() is 0, as a clause for the service's start-up
// notice ("this kernel offers no Landlock" on Linux). Safe from any thread.
const char* NoFileSystemSandboxReason();

// The user and group a child of a service running as root runs as: ids
// from the range systemd keeps for users it makes on the fly, held by no
// account, so that a child owns nothing and shares nothing with anyone.
inline constexpr unsigned kJobUserId = 61874;
inline constexpr unsigned kJobGroupId = 61874;

// True when the children run as kJobUserId (the service runs as root).
bool ChildrenChangeUser();

// The policy for interpreter runs of the service in `module_folder`: read the
// system's libraries and interpreter resources, the interpreters and font
// kit the module folder holds or links to (not the module folder itself:
// in/, out/, settings.ini and the log stay out of reach), and
// `private_folder`; write only in `private_folder`.
ConfinementPolicy InterpreterConfinement(const std::string& module_folder,
                                         const std::string& private_folder);

// What the runner's child is handed to ApplyToChild: unused on Linux, the
// started but still suspended process on Windows.
using ChildProcessHandle = std::intptr_t;

// A policy made ready in the runner before the child starts, so that
// applying it to the child is a few system calls. Move-only; used by one
// thread at a time.
//
// On Linux the file-system rules are built here and applied in the forked
// child before exec. On Windows this object owns the token the child is
// started with (run_security_windows.h: no privileges, restricting SIDs,
// low integrity, writing only in the first `writable` folder) and a job
// object holding the limits (memory per process and for the whole job =
// address_space_bytes, one process only, no access to the desktop and
// clipboard, every process killed when the job closes); destroying it ends
// every process it was applied to and everything they started.
class PreparedConfinement {
 public:
  // Builds the rules of `policy`. Paths that do not exist are left out. When
  // the system has no file-system sandbox, the other protections and the
  // resource limits still apply. A seccomp program that cannot be built
  // makes ApplyToChild fail: no child runs without it.
  explicit PreparedConfinement(const ConfinementPolicy& policy);
  PreparedConfinement(PreparedConfinement&& other) noexcept = default;
  PreparedConfinement& operator=(PreparedConfinement&&) = delete;
  PreparedConfinement(const PreparedConfinement&) = delete;
  ~PreparedConfinement() = default;

  // True when the file-system rules will be enforced.
  bool sandboxed() const;

  // Windows: the primary token to start the child with (owned by this
  // object), in `*token`; returns 0, or the system's error number of the
  // call that failed when the token could not be made, named in
  // `*failed_call`: the child must then not run. Linux: -1 in `*token` and
  // 0 (the forked child changes user itself in ApplyToChild).
  int ChildToken(std::intptr_t* token, const char** failed_call) const noexcept;

  // Puts the child under the limits (and rules) before it runs the program.
  // On Linux: call in the forked child before exec, with `child` unused;
  // turns core dumps off, sets the resource limits, changes to the job user,
  // and confines the process (Landlock, then seccomp) with async-signal-safe
  // system calls only. A child that changed user has lost its parent-death
  // signal: set it again after this call. On Windows: call in the runner
  // with the suspended child, which joins the job object (and with it every
  // process it starts). Returns 0, or the system's error number of the call
  // that failed, named in `*failed_call` (a string literal); the child must
  // then not run.
  int ApplyToChild(ChildProcessHandle child, const char** failed_call) const noexcept;

 private:
  // The sandbox ruleset descriptor on Linux, the job object on Windows;
  // not valid when there is none.
  UniqueNativeHandle handle_;
  // Windows: why the job object could not be made.
  int handle_error_ = 0;
  const char* handle_failed_call_ = "CreateJobObjectW";
  uint64_t address_space_bytes_ = 0;
  uint64_t file_size_bytes_ = 0;
  // Linux: the compiled seccomp program (one 8-byte instruction each), and
  // whether the child changes to the job user.
  std::vector<uint64_t> system_call_filter_;
  bool change_user_ = false;
  // Windows: the child's token (not valid: none), or why it could not be
  // made.
  UniqueNativeHandle token_;
  int token_error_ = 0;
  const char* token_failed_call_ = "";
};

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_CHILD_CONFINEMENT_H_
