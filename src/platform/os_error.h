#ifndef QUILLARO_PLATFORM_OS_ERROR_H_
#define QUILLARO_PLATFORM_OS_ERROR_H_

#include <string>
#include <string_view>
#include <utility>

namespace quillaro {

// What an OsError means wherever the service runs, for code that acts on a
// failure rather than only reporting it: each backend maps its own codes.
enum class OsErrorKind {
  kNotFound,       // no such file or folder, or a folder on the way is missing
  kAccessDenied,   // the system refused the caller's rights
  kAlreadyExists,  // an entry of that name exists (a link or folder too)
  kTimedOut,       // the awaited answer did not come in time
  kOther,          // anything else, no error included
};

// Why an operating-system call failed: the call, the system's error number
// and the file, folder or program it was about. The platform layer hands one
// back (through an `OsError*` out-parameter, left alone on success) where a
// bare failure would leave the operator guessing. A plain value: copy it,
// keep it, pass it between threads freely.
struct OsError {
  std::string call;  // the failed call as the system names it: "open", "execve"
  int code = 0;      // errno on Linux; what GetLastError() gave on Windows
  std::string path;  // the object concerned; may be empty

  // `call("path"): <the system's text for code> (error <code>)`, one line,
  // no line end. Safe from any thread.
  std::string ToString() const;
  // The portable meaning of `code`. On Linux ENOENT and ENOTDIR are
  // kNotFound, EACCES and EPERM kAccessDenied, EEXIST kAlreadyExists and
  // ETIMEDOUT kTimedOut. On Windows ERROR_FILE_NOT_FOUND and
  // ERROR_PATH_NOT_FOUND are kNotFound, ERROR_ACCESS_DENIED kAccessDenied,
  // ERROR_FILE_EXISTS and ERROR_ALREADY_EXISTS kAlreadyExists, ERROR_TIMEOUT
  // and WAIT_TIMEOUT kTimedOut; a sharing violation (another program holds
  // the file open) is kOther, as it passes when that program closes it and
  // says nothing about rights.
  OsErrorKind kind() const;
};

// An OsError for `call` on `path` with the calling thread's last error (errno
// on Linux, GetLastError() on Windows). Take it right after the failed call.
OsError LastOsError(std::string call, std::string path);

// Stores `error` in `*out` when `out` is not null and returns false: the
// platform layer's way to fail through an optional out-parameter, as in
// `return FailWith(error, LastOsError("open", path));`.
inline bool FailWith(OsError* out, OsError error) {
  if (out != nullptr) *out = std::move(error);
  return false;
}

// The one place the service reports an OS failure: writes "quillaro: ", then
// `what` and ": " when `what` is given (what the service could not do), and
// error.ToString() as one line to the process's standard error (the journal
// keeps it under the service unit), in a single write so that lines of
// several threads never interleave. Never touches log.txt or a result file.
// Call it once, where the failure is handled. Safe from any thread; a failed
// write is ignored. An `error` without a call (OsError{}) reports `what`
// alone: a failure the service found itself, not one the system reported.
void ReportOsError(const OsError& error, std::string_view what = {});

// The line ReportOsError writes, line end included. Control characters
// (a job's name may hold any byte) are written as \xNN, so that no name can
// break the line or forge another. Portable.
std::string ServiceReportLine(const OsError& error, std::string_view what);

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_OS_ERROR_H_
