#ifndef QUILLARO_PLATFORM_PRIVATE_FOLDER_H_
#define QUILLARO_PLATFORM_PRIVATE_FOLDER_H_

#include <cstdint>
#include <memory>
#include <string>

#include "platform/os_error.h"

namespace quillaro {

// What became of a file brought into a private folder.
enum class CopyInResult {
  kCopied,
  kMissing,     // no entry of that name (the job vanished)
  kRefused,     // a link, a pipe, a device, a folder, or a file with more than one name
  kTooLarge,    // larger than the bound it was brought in with
  kFailed,      // the system refused; the OsError says why
};

// A folder of one job's own, made new in the system's temporary folder: the
// job is copied into it, its interpreter runs read only it and write only
// into it, and the service takes their results from it. No other job, and
// nothing the service keeps (in/, out/, the settings, the log), is reachable
// from it. When the service runs as root, the folder belongs to root and the
// job group (kJobGroupId), which may write in it but not change it. On
// Windows its own ACL grants only SYSTEM, Administrators, the service and
// the folder's SID, which the job's children carry as a restricting SID, and
// it is labelled low integrity where the children run at low integrity
// (run_security_windows.h); what is made in it inherits both.
//
// Move-only; owned by the worker thread of its job; removed with everything
// in it on destruction.
class PrivateFolder {
 public:
  // Makes the folder. Empty when it cannot be made; then `*error` says why.
  static std::unique_ptr<PrivateFolder> Make(OsError* error);
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;
  ~PrivateFolder();

  const std::string& path() const { return path_; }

  // Copies the regular file `source` into the folder as `name` (a bare
  // file name), readable by the children. `source` is opened once, without
  // following a link at its name and without blocking on a pipe; what is
  // checked (a regular file with a single name, at most `max_bytes` long) is
  // what is copied, whatever happens to the name meanwhile. On kFailed,
  // `*error` says why.
  CopyInResult CopyIn(const std::string& source, const std::string& name, uint64_t max_bytes,
                      OsError* error);

  // Lets the children read (and, when `writable`, write) the file at `path`,
  // which the service made in the folder. Returns false when the system
  // refused.
  static bool ShareWithChildren(const std::string& path, bool writable);

 private:
  explicit PrivateFolder(std::string path) : path_(std::move(path)) {}
  std::string path_;
};

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_PRIVATE_FOLDER_H_
