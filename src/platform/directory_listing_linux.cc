#include "platform/directory_listing.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <string_view>

#include "platform/unique_fd_linux.h"

namespace quillaro {

std::optional<std::vector<DirectoryEntry>> ListDirectory(const std::string& folder) {
  UniqueDir dir(::opendir(folder.c_str()));
  if (!dir) return std::nullopt;
  const int dir_fd = ::dirfd(dir.get());
  std::vector<DirectoryEntry> entries;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir.get());
    if (entry == nullptr) {
      if (errno != 0) return std::nullopt;
      break;
    }
    std::string_view name(entry->d_name);
    if (name == "." || name == "..") continue;
    DirectoryEntry item;
    item.name = std::string(name);
    struct statx info;
    if (::statx(dir_fd, entry->d_name, AT_SYMLINK_NOFOLLOW,
                STATX_TYPE | STATX_BTIME | STATX_CTIME | STATX_MTIME, &info) == 0) {
      item.is_folder = S_ISDIR(info.stx_mode);
      item.is_regular_file = S_ISREG(info.stx_mode);
      item.creation_seconds = (info.stx_mask & STATX_BTIME)
                                  ? static_cast<int64_t>(info.stx_btime.tv_sec)
                                  : static_cast<int64_t>(info.stx_ctime.tv_sec);
      item.change_time_ns =
          static_cast<int64_t>(info.stx_ctime.tv_sec) * 1000000000 + info.stx_ctime.tv_nsec;
      item.modification_time_ns =
          static_cast<int64_t>(info.stx_mtime.tv_sec) * 1000000000 + info.stx_mtime.tv_nsec;
    } else {
      item.is_folder = entry->d_type == DT_DIR;
      item.is_regular_file = entry->d_type == DT_REG;
    }
    entries.push_back(std::move(item));
  }
  return entries;
}

}  // namespace quillaro
