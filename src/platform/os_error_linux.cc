#include "platform/os_error.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include <utility>

namespace quillaro {

std::string OsError::ToString() const {
  char buffer[256];
  // The GNU strerror_r: thread-safe, and it may return a static text
  // instead of filling the buffer.
  const char* text = ::strerror_r(code, buffer, sizeof buffer);
  return call + "(\"" + path + "\"): " + text + " (error " + std::to_string(code) + ")";
}

OsErrorKind OsError::kind() const {
  switch (code) {
    case ENOENT:
    case ENOTDIR:
      return OsErrorKind::kNotFound;
    case EACCES:
    case EPERM:
      return OsErrorKind::kAccessDenied;
    case EEXIST:
      return OsErrorKind::kAlreadyExists;
    case ETIMEDOUT:
      return OsErrorKind::kTimedOut;
    default:
      return OsErrorKind::kOther;
  }
}

OsError LastOsError(std::string call, std::string path) {
  const int code = errno;
  return OsError{std::move(call), code, std::move(path)};
}

void ReportOsError(const OsError& error, std::string_view what) {
  const std::string line = ServiceReportLine(error, what);
  // One write: lines of concurrent workers stay whole.
  [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
}

}  // namespace quillaro
