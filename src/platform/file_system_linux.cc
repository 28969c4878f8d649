#include "platform/file_system.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
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

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

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
  std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
  if (!dir) return false;
  while (const dirent* entry = ::readdir(dir.get())) {
    std::string_view name(entry->d_name);
    if (name == "." || name == "..") continue;
    if (WildcardMatch(last, name)) return true;
  }
  return false;
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool AppendToFile(const std::string& path,
                  const std::function<std::string(uint64_t current_size)>& make_bytes) {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
  if (!fd.Valid()) return false;
  struct stat st;
  if (::fstat(fd.Get(), &st) != 0) return false;
  const std::string bytes = make_bytes(static_cast<uint64_t>(st.st_size));
  ssize_t written;
  do {
    written = ::write(fd.Get(), bytes.data(), bytes.size());
  } while (written < 0 && errno == EINTR);
  return written == static_cast<ssize_t>(bytes.size());
}

}  // namespace quillaro
