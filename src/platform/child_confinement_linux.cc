#include "platform/child_confinement.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/landlock.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
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

ConfinementPolicy InterpreterConfinement(const std::string& module_folder,
                                         const std::string& scratch_folder) {
  ConfinementPolicy policy;
  // Libraries, the interpreters' resources and fonts, and the few files
  // under /etc the interpreters and the loader read.
  policy.readable = {"/usr", "/lib", "/lib64", "/etc/ld.so.cache", "/etc/localtime",
                     "/etc/papersize", "/etc/fonts", "/etc/ghostscript", "/var/lib/ghostscript",
                     "/var/cache/fontconfig", "/dev/null", "/dev/urandom"};
  policy.readable.push_back(module_folder);
  // The interpreters and the font kit are usually links out of the module
  // folder; the rules apply to where they lead.
  if (DIR* dir = ::opendir(module_folder.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      std::string path = module_folder + "/" + entry->d_name;
      struct stat st;
      if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        std::string target = RealPath(path);
        if (!target.empty()) {
          struct stat target_st;
          // A linked file brings its folder along: its neighbours (shared
          // data beside a binary) are read too.
          if (::stat(target.c_str(), &target_st) == 0 && !S_ISDIR(target_st.st_mode)) {
            target = target.substr(0, target.rfind('/'));
          }
          policy.readable.push_back(target);
        }
      }
    }
    ::closedir(dir);
  }
  policy.writable = {module_folder + "/in", module_folder + "/out", scratch_folder, "/dev/null"};
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
    : address_space_bytes_(policy.address_space_bytes), file_size_bytes_(policy.file_size_bytes) {
  const int abi = FileSystemSandboxVersion();
  if (abi <= 0) return;
  landlock_ruleset_attr attr = {};
  attr.handled_access_fs = HandledRights(abi);
  UniqueFd ruleset(static_cast<int>(::syscall(SYS_landlock_create_ruleset, &attr, sizeof attr, 0)));
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
  handle_ = ruleset.Release();
}

PreparedConfinement::PreparedConfinement(PreparedConfinement&& other) noexcept
    : handle_(std::exchange(other.handle_, -1)),
      address_space_bytes_(other.address_space_bytes_),
      file_size_bytes_(other.file_size_bytes_) {}

PreparedConfinement::~PreparedConfinement() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

bool PreparedConfinement::sandboxed() const { return handle_ >= 0; }

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
  if (handle_ < 0) return 0;
  *failed_call = "prctl";
  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return errno;
  *failed_call = "landlock_restrict_self";
  if (::syscall(SYS_landlock_restrict_self, static_cast<int>(handle_), 0) != 0) return errno;
  return 0;
}

}  // namespace quillaro
