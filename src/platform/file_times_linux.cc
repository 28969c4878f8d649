#include "platform/file_times.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

namespace quillaro {

std::optional<int64_t> FileCreationSeconds(const std::string& path) {
  struct statx info;
  if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_CTIME, &info) != 0) {
    return std::nullopt;
  }
  if (info.stx_mask & STATX_BTIME) return static_cast<int64_t>(info.stx_btime.tv_sec);
  return static_cast<int64_t>(info.stx_ctime.tv_sec);
}

int64_t CurrentTimeSeconds() { return CurrentTimeNanoseconds() / 1000000000; }

int64_t CurrentTimeNanoseconds() {
  timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

}  // namespace quillaro
