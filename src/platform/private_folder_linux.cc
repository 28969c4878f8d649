#include "platform/private_folder.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/child_confinement.h"
#include "platform/file_system.h"
#include "platform/unique_fd_linux.h"

namespace quillaro {
namespace {

// Gives a file or folder the service made to the job group, when the
// children run as the job user; nothing to do otherwise (they are the
// service's own user). On failure `*error` (when not null) says why.
bool GiveToJobGroup(int fd, mode_t mode, const std::string& path, OsError* error) {
  if (!ChildrenChangeUser()) return true;
  if (::fchown(fd, 0, kJobGroupId) != 0) return FailWith(error, LastOsError("fchown", path));
  if (::fchmod(fd, mode) != 0) return FailWith(error, LastOsError("fchmod", path));
  return true;
}

}  // namespace

std::unique_ptr<PrivateFolder> PrivateFolder::Make(OsError* error) {
  std::string base = "/tmp";
  if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && tmp[0] == '/') base = tmp;
  std::string pattern = base + "/quillaro-job-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    FailWith(error, LastOsError("mkdtemp", pattern));
    return nullptr;
  }
  std::unique_ptr<PrivateFolder> folder(new PrivateFolder(pattern));
  UniqueFd fd(::open(pattern.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.Valid()) {
    FailWith(error, LastOsError("open", pattern));
    return nullptr;
  }
  // The job group may add files; only the service may change the folder.
  if (!GiveToJobGroup(fd.Get(), 0770, pattern, error)) return nullptr;
  return folder;
}

PrivateFolder::~PrivateFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

CopyInResult PrivateFolder::CopyIn(const std::string& source, const std::string& name,
                                   uint64_t max_bytes, OsError* error) {
  // O_NONBLOCK: a pipe planted under the name must not hold the worker.
  UniqueFd in(::open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!in.Valid()) {
    if (errno == ENOENT) return CopyInResult::kMissing;
    // O_NOFOLLOW on a link, or a folder opened for reading.
    if (errno == ELOOP || errno == EISDIR || errno == ENXIO) return CopyInResult::kRefused;
    FailWith(error, LastOsError("open", source));
    return CopyInResult::kFailed;
  }
  struct stat st;
  if (::fstat(in.Get(), &st) != 0) {
    FailWith(error, LastOsError("fstat", source));
    return CopyInResult::kFailed;
  }
  // A second name could be another customer's file linked into in/; the
  // descriptor, not the name, is checked, so a swap after this changes
  // nothing.
  if (!S_ISREG(st.st_mode) || st.st_nlink != 1) return CopyInResult::kRefused;
  if (static_cast<uint64_t>(st.st_size) > max_bytes) return CopyInResult::kTooLarge;

  const std::string target = path_ + "/" + name;
  const UniqueFd out = OpenNewFile(target, 0600, false, error);
  if (!out.Valid()) return CopyInResult::kFailed;
  // A file that grows while it is copied is copied only up to the size that
  // was checked.
  uint64_t left = std::min<uint64_t>(static_cast<uint64_t>(st.st_size), max_bytes);
  while (left > 0) {
    const ssize_t copied = ::copy_file_range(in.Get(), nullptr, out.Get(), nullptr, left, 0);
    if (copied < 0 && errno == EINTR) continue;
    if (copied < 0) {
      FailWith(error, LastOsError("copy_file_range", target));
      return CopyInResult::kFailed;
    }
    if (copied == 0) break;  // the file shrank meanwhile
    left -= static_cast<uint64_t>(copied);
  }
  if (!GiveToJobGroup(out.Get(), 0640, target, error)) return CopyInResult::kFailed;
  return CopyInResult::kCopied;
}

bool PrivateFolder::ShareWithChildren(const std::string& path, bool writable) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  return fd.Valid() && GiveToJobGroup(fd.Get(), writable ? 0660 : 0640, path, nullptr);
}

}  // namespace quillaro
