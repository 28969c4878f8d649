#include "platform/child_confinement.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/filter.h>
#include <linux/landlock.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "platform/unique_fd_linux.h"

// GCC names the sanitizers with macros of its own; clang answers __has_feature.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QUILLARO_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QUILLARO_SANITIZED 1
#endif
#endif
#ifndef QUILLARO_SANITIZED
#define QUILLARO_SANITIZED 0
#endif

namespace quillaro {
namespace {

// Rights by the ABI version that introduced them: a ruleset may only name
// rights the running kernel knows.
uint64_t HandledRights(int abi) {
  uint64_t rights = LANDLOCK_ACCESS_FS_EXECUTE | LANDLOCK_ACCESS_FS_WRITE_FILE |
                    LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR |
                    LANDLOCK_ACCESS_FS_REMOVE_DIR | LANDLOCK_ACCESS_FS_REMOVE_FILE |
                    LANDLOCK_ACCESS_FS_MAKE_CHAR | LANDLOCK_ACCESS_FS_MAKE_DIR |
                    LANDLOCK_ACCESS_FS_MAKE_REG | LANDLOCK_ACCESS_FS_MAKE_SOCK |
                    LANDLOCK_ACCESS_FS_MAKE_FIFO | LANDLOCK_ACCESS_FS_MAKE_BLOCK |
                    LANDLOCK_ACCESS_FS_MAKE_SYM;
#ifdef LANDLOCK_ACCESS_FS_REFER
  if (abi >= 2) rights |= LANDLOCK_ACCESS_FS_REFER;
#endif
#ifdef LANDLOCK_ACCESS_FS_TRUNCATE
  if (abi >= 3) rights |= LANDLOCK_ACCESS_FS_TRUNCATE;
#endif
  return rights;
}

// Landlock's network rights (ABI 4) and scopes (ABI 6), which the system's
// kernel headers may predate: the kernel's own values.
constexpr uint64_t kLandlockBindTcp = 1ull << 0;
constexpr uint64_t kLandlockConnectTcp = 1ull << 1;
constexpr uint64_t kLandlockScopeAbstractUnixSocket = 1ull << 0;
constexpr uint64_t kLandlockScopeSignal = 1ull << 1;

// The ruleset attribute as ABI 6 knows it; older kernels are given the
// prefix they know.
struct RulesetAttributes {
  uint64_t handled_access_fs;
  uint64_t handled_access_net;
  uint64_t scoped;
};

size_t RulesetAttributeBytes(int abi) {
  if (abi >= 6) return sizeof(RulesetAttributes);
  if (abi >= 4) return offsetof(RulesetAttributes, scoped);
  return offsetof(RulesetAttributes, handled_access_net);
}

constexpr uint64_t kFileReadRights = LANDLOCK_ACCESS_FS_EXECUTE | LANDLOCK_ACCESS_FS_READ_FILE;
constexpr uint64_t kDirReadRights = kFileReadRights | LANDLOCK_ACCESS_FS_READ_DIR;

// In the writable folders: everything but making links, devices, sockets
// and pipes.
uint64_t WriteRights(int abi) {
  return HandledRights(abi) &
         ~(LANDLOCK_ACCESS_FS_MAKE_CHAR | LANDLOCK_ACCESS_FS_MAKE_SOCK |
           LANDLOCK_ACCESS_FS_MAKE_FIFO | LANDLOCK_ACCESS_FS_MAKE_BLOCK | LANDLOCK_ACCESS_FS_MAKE_SYM);
}

bool AddPathRule(int ruleset, const std::string& path, uint64_t dir_rights, uint64_t file_rights) {
  UniqueFd fd(::open(path.c_str(), O_PATH | O_CLOEXEC));
  if (!fd.Valid()) return false;
  struct stat st;
  if (::fstat(fd.Get(), &st) != 0) return false;
  landlock_path_beneath_attr rule = {};
  rule.allowed_access = S_ISDIR(st.st_mode) ? dir_rights : file_rights;
  rule.parent_fd = fd.Get();
  return ::syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0) == 0;
}

// The seccomp program every child runs under, compiled once: an interpreter
// needs threads, files and memory, never a new process or a socket of its
// own. Refused calls fail with EPERM (ENOSYS for clone3, so that the C
// library falls back to clone, whose flags the filter can read).
std::vector<uint64_t> CompileSystemCallFilter() {
  std::unique_ptr<void, decltype(&seccomp_release)> context(seccomp_init(SCMP_ACT_ALLOW),
                                                            &seccomp_release);
  if (!context) return {};
  scmp_filter_ctx filter = context.get();
  const uint32_t refuse = SCMP_ACT_ERRNO(EPERM);
  bool ok = true;
  auto deny = [&](int call) { ok = ok && seccomp_rule_add(filter, refuse, call, 0) == 0; };
  // A socket of any family (TCP, pathname or abstract unix, netlink,
  // packet): none. socketpair stays: it reaches no one but the caller.
  deny(SCMP_SYS(socket));
  // New processes: fork, vfork and a clone that is not a thread. A child
  // that can start nothing leaves nothing behind when its run ends.
  deny(SCMP_SYS(fork));
  deny(SCMP_SYS(vfork));
  // The first argument of clone holds its flags. (Spelt out: the library's
  // SCMP_A0 macro is a C compound literal.)
  const scmp_arg_cmp not_a_thread = {0, SCMP_CMP_MASKED_EQ, CLONE_THREAD, 0};
  ok = ok && seccomp_rule_add(filter, refuse, SCMP_SYS(clone), 1, not_a_thread) == 0;
  ok = ok && seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0) == 0;
  // Other processes and the machine.
  for (int call : {SCMP_SYS(ptrace), SCMP_SYS(process_vm_readv), SCMP_SYS(process_vm_writev),
                   SCMP_SYS(pidfd_getfd), SCMP_SYS(unshare), SCMP_SYS(setns), SCMP_SYS(mount),
                   SCMP_SYS(umount2), SCMP_SYS(pivot_root), SCMP_SYS(chroot), SCMP_SYS(keyctl),
                   SCMP_SYS(add_key), SCMP_SYS(request_key), SCMP_SYS(bpf),
                   SCMP_SYS(perf_event_open), SCMP_SYS(userfaultfd), SCMP_SYS(io_uring_setup),
                   SCMP_SYS(io_uring_enter), SCMP_SYS(io_uring_register)}) {
    deny(call);
  }
  if (!ok) return {};
  // The program is exported once, here, so that the child only has to hand
  // it to the kernel.
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return {};
  UniqueFd read_end(pipe_fds[0]);
  UniqueFd write_end(pipe_fds[1]);
  if (seccomp_export_bpf(filter, write_end.Get()) != 0) return {};
  write_end.Reset();
  std::vector<uint64_t> program;
  uint64_t instruction;
  static_assert(sizeof instruction == sizeof(sock_filter));
  while (::read(read_end.Get(), &instruction, sizeof instruction) ==
         static_cast<ssize_t>(sizeof instruction)) {
    program.push_back(instruction);
  }
  return program;
}

const std::vector<uint64_t>& SystemCallFilter() {
  static const std::vector<uint64_t> program = CompileSystemCallFilter();
  return program;
}

std::string RealPath(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
  return resolved ? std::string(resolved.get()) : std::string();
}

}  // namespace

int FileSystemSandboxVersion() {
  long abi = ::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
  return abi < 0 ? 0 : static_cast<int>(abi);
}

const char* NoFileSystemSandboxReason() { return "this kernel offers no Landlock"; }

bool ChildrenChangeUser() { return ::geteuid() == 0; }

bool ChildFileAccessConfined() { return FileSystemSandboxVersion() > 0; }

ConfinementPolicy InterpreterConfinement(const std::string& module_folder,
                                         const std::string& private_folder) {
  ConfinementPolicy policy;
  // Libraries, the interpreters' resources and fonts, and the few files
  // under /etc the interpreters and the loader read.
  policy.readable = {"/usr", "/lib", "/lib64", "/etc/ld.so.cache", "/etc/localtime",
                     "/etc/papersize", "/etc/fonts", "/etc/ghostscript", "/var/lib/ghostscript",
                     "/var/cache/fontconfig", "/dev/null", "/dev/urandom", private_folder};
  // The interpreters and the font kit, where they are: usually links out of
  // the module folder, whose other entries (in/, out/, the settings and the
  // log) a job must not reach.
  for (const char* name : {"gs", "gpcl6", "gxps", "urwfonts"}) {
    const std::string path = module_folder + "/" + name;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) continue;
    if (!S_ISLNK(st.st_mode)) {
      policy.readable.push_back(path);
      continue;
    }
    std::string target = RealPath(path);
    if (target.empty()) continue;
    struct stat target_st;
    // A linked file brings its folder along: its neighbours (shared data
    // beside a binary) are read too.
    if (::stat(target.c_str(), &target_st) == 0 && !S_ISDIR(target_st.st_mode)) {
      target = target.substr(0, target.rfind('/'));
    }
    policy.readable.push_back(target);
  }
  policy.writable = {private_folder, "/dev/null"};
  // Far above what any real job needs (measured: a few hundred MB when
  // rendering), low enough that a hostile job cannot take the machine.
  policy.file_size_bytes = 4ull << 30;
#if QUILLARO_SANITIZED
  // A sanitizer build's own test children reserve terabytes of shadow
  // address space and read their process's /proc entries at exit, so those
  // builds leave out the cap and let /proc be read.
  policy.readable.push_back("/proc");
#else
  policy.address_space_bytes = 8ull << 30;
#endif
  return policy;
}

PreparedConfinement::PreparedConfinement(const ConfinementPolicy& policy)
    : address_space_bytes_(policy.address_space_bytes),
      file_size_bytes_(policy.file_size_bytes),
      system_call_filter_(SystemCallFilter()),
      change_user_(ChildrenChangeUser()) {
  const int abi = FileSystemSandboxVersion();
  if (abi <= 0) return;
  RulesetAttributes attr = {};
  attr.handled_access_fs = HandledRights(abi);
  // No rule grants a port: every TCP bind and connect is refused.
  if (abi >= 4) attr.handled_access_net = kLandlockBindTcp | kLandlockConnectTcp;
  // Signals and abstract unix sockets reach only processes of this run.
  if (abi >= 6) attr.scoped = kLandlockScopeAbstractUnixSocket | kLandlockScopeSignal;
  UniqueFd ruleset(static_cast<int>(
      ::syscall(SYS_landlock_create_ruleset, &attr, RulesetAttributeBytes(abi), 0)));
  if (!ruleset.Valid()) return;
  for (const std::string& path : policy.readable) {
    AddPathRule(ruleset.Get(), path, kDirReadRights, kFileReadRights);
  }
  for (const std::string& path : policy.writable) {
    const uint64_t rights = WriteRights(abi);
    // Rights on a single file may not name folder operations.
    uint64_t file_rights = kFileReadRights | LANDLOCK_ACCESS_FS_WRITE_FILE;
#ifdef LANDLOCK_ACCESS_FS_TRUNCATE
    if (abi >= 3) file_rights |= LANDLOCK_ACCESS_FS_TRUNCATE;
#endif
    AddPathRule(ruleset.Get(), path, rights, file_rights);
  }
  handle_ = std::move(ruleset);
}

bool PreparedConfinement::sandboxed() const { return handle_.Valid(); }

int PreparedConfinement::ChildToken(std::intptr_t* token, const char** /*failed_call*/) const noexcept {
  *token = -1;
  return 0;
}

int PreparedConfinement::ApplyToChild(ChildProcessHandle /*child*/,
                                      const char** failed_call) const noexcept {
  // A crashing interpreter must not fill the disk with core files.
  *failed_call = "setrlimit";
  rlimit no_core = {0, 0};
  if (::setrlimit(RLIMIT_CORE, &no_core) != 0) return errno;
  if (address_space_bytes_ != 0) {
    rlimit limit = {address_space_bytes_, address_space_bytes_};
    if (::setrlimit(RLIMIT_AS, &limit) != 0) return errno;
  }
  if (file_size_bytes_ != 0) {
    rlimit limit = {file_size_bytes_, file_size_bytes_};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return errno;
  }
  if (change_user_) {
    // Groups first: once the user has changed, they could not be dropped.
    // Changing every user id away from 0 also clears every capability.
    *failed_call = "setgroups";
    if (::setgroups(0, nullptr) != 0) return errno;
    *failed_call = "setresgid";
    if (::setresgid(kJobGroupId, kJobGroupId, kJobGroupId) != 0) return errno;
    *failed_call = "setresuid";
    if (::setresuid(kJobUserId, kJobUserId, kJobUserId) != 0) return errno;
  }
  *failed_call = "prctl";
  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return errno;
  if (handle_.Valid()) {
    *failed_call = "landlock_restrict_self";
    if (::syscall(SYS_landlock_restrict_self, handle_.Get(), 0) != 0) return errno;
  }
  // Last, as it also refuses calls the steps above make.
  *failed_call = "seccomp";
  if (system_call_filter_.empty()) return EINVAL;
  sock_fprog program = {};
  program.len = static_cast<unsigned short>(system_call_filter_.size());
  program.filter = reinterpret_cast<sock_filter*>(const_cast<uint64_t*>(system_call_filter_.data()));
  if (::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program, 0, 0) != 0) return errno;
  return 0;
}

}  // namespace quillaro
