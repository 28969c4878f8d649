#include "platform/file_system.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string_view>

#include "platform/unique_fd_linux.h"

namespace quillaro {
namespace {

// Windows-style matching: "*" is any run of characters, "?" one character,
// everything else literal (no "[...]" classes, no escapes).
bool WildcardMatch(std::string_view pattern, std::string_view name) {
  size_t p = 0, n = 0, star = std::string_view::npos, star_n = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      star_n = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++star_n;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

bool PathExists(const std::string& path) {
  if (path.empty()) return false;
  size_t slash = path.rfind('/');
  std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
  if (last.find_first_of("*?") == std::string::npos) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
  }
  const std::string folder = slash == std::string::npos ? std::string(".")
                            : slash == 0                 ? std::string("/")
                                                         : path.substr(0, slash);
  UniqueDir dir(::opendir(folder.c_str()));
  if (!dir) return false;
  while (const dirent* entry = ::readdir(dir.get())) {
    std::string_view name(entry->d_name);
    if (name == "." || name == "..") continue;
    if (WildcardMatch(last, name)) return true;
  }
  return false;
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

// NAME_MAX of every file system the service folder may be on.
bool FileNameFits(const std::string& name) { return name.size() <= 255; }

bool AppendToFile(const std::string& path,
                  const std::function<std::string(uint64_t current_size)>& make_bytes,
                  OsError* error) {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
  if (!fd.Valid()) return FailWith(error, LastOsError("open", path));
  struct stat st;
  if (::fstat(fd.Get(), &st) != 0) return FailWith(error, LastOsError("fstat", path));
  const std::string bytes = make_bytes(static_cast<uint64_t>(st.st_size));
  ssize_t written;
  do {
    written = ::write(fd.Get(), bytes.data(), bytes.size());
  } while (written < 0 && errno == EINTR);
  if (written < 0) return FailWith(error, LastOsError("write", path));
  // A short append (disk full, file size limit) has no errno of its own.
  if (written != static_cast<ssize_t>(bytes.size())) {
    return FailWith(error, OsError{"write", ENOSPC, path});
  }
  return true;
}

EntryInfo GetEntryInfo(const std::string& path) {
  EntryInfo info;
  struct stat st;
  if (path.empty() || ::lstat(path.c_str(), &st) != 0) return info;
  info.hard_links = static_cast<uint64_t>(st.st_nlink);
  if (S_ISREG(st.st_mode)) {
    info.kind = EntryKind::kFile;
  } else if (S_ISDIR(st.st_mode)) {
    info.kind = EntryKind::kFolder;
  } else if (S_ISLNK(st.st_mode)) {
    info.kind = EntryKind::kLink;
  } else {
    info.kind = EntryKind::kOther;
  }
  return info;
}

std::FILE* OpenRegularFileForReading(const std::string& path) {
  // O_NONBLOCK: opening a pipe with no writer would otherwise wait for one.
  // It changes nothing for a regular file.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd.Valid()) return nullptr;
  struct stat st;
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
  std::FILE* file = ::fdopen(fd.Get(), "rb");
  if (file != nullptr) fd.Release();
  return file;
}

UniqueNativeHandle OpenNewFile(const std::string& path, uint32_t mode, bool /*share_read*/,
                               OsError* error) {
  // O_EXCL fails on any entry of that name, a dangling link too; O_NOFOLLOW
  // says so once more.
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                     static_cast<mode_t>(mode)));
  if (!fd.Valid()) FailWith(error, LastOsError("open", path));
  return fd;
}

bool WriteNewFile(const std::string& path, const std::string& bytes, OsError* error) {
  ::unlink(path.c_str());
  const UniqueFd fd = OpenNewFile(path, 0644, true, error);
  if (!fd.Valid()) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = ::write(fd.Get(), bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return FailWith(error, LastOsError("write", path));
    if (written == 0) return FailWith(error, OsError{"write", ENOSPC, path});
    done += static_cast<size_t>(written);
  }
  return true;
}

}  // namespace quillaro
