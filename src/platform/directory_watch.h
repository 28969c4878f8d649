#ifndef QUILLARO_PLATFORM_DIRECTORY_WATCH_H_
#define QUILLARO_PLATFORM_DIRECTORY_WATCH_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/event.h"
#include "platform/os_error.h"

namespace quillaro {

// The system's file action codes of a change record.
inline constexpr uint32_t kFileActionAdded = 1;
inline constexpr uint32_t kFileActionRemoved = 2;
inline constexpr uint32_t kFileActionModified = 3;
inline constexpr uint32_t kFileActionRenamedOldName = 4;
inline constexpr uint32_t kFileActionRenamedNewName = 5;

// One change in a watched folder.
struct DirectoryChange {
  uint32_t action = 0;
  std::string folder;  // as given to AddFolder
  std::string name;    // relative to `folder`
};

// Change notification for folders (not their sub-folders). Not thread-safe:
// one thread opens, reads and closes it.
//
// On Linux (inotify) a file is reported when its writer closes it (added
// when it was created since the watch began, else modified) or when it is
// moved in (new name), moved out (old name) or deleted (removed). Creation
// alone and each single write are not reported, so a consumer never sees a
// file half-written; but an entry created whole, with nothing to write (a
// symbolic link, a pipe or other special file, a hard link to an existing
// file), is reported as added when it is created. Folders created inside
// are not reported. Short 8.3 names do not exist here.
//
// On Windows (ReadDirectoryChangesW), which has no "closed after writing"
// record, a file created or written is reported once it opens without
// sharing write access (no writer holds it) and its size is the same on two looks 50 ms
// apart, as what it was first (added or modified); moves and removals are
// reported at once. Folders are not reported. Long names are reported,
// never 8.3 short ones.
class DirectoryWatch {
 public:
  enum class Result {
    kChanges,  // `changes` received at least one record
    kWoken,    // `wake` is set; it stays set
    kFailed,   // the watch is unusable (closed or refused by the system)
    kTimedOut, // `timeout_ms` passed with nothing to report
  };

  DirectoryWatch();
  DirectoryWatch(const DirectoryWatch&) = delete;
  DirectoryWatch& operator=(const DirectoryWatch&) = delete;
  ~DirectoryWatch();

  // Starts watching `folder`. Returns false when it cannot be watched
  // (missing, not a folder, no permission, no watch left), and then sets
  // `*error` (when not null) to the call that refused it.
  bool AddFolder(const std::string& folder, OsError* error = nullptr);
  // The failure to give for a watch on `folder` that a caller waiting for
  // another thread's AddFolder did not see set up in time: the call that
  // sets up a watch here (inotify_add_watch on Linux, ReadDirectoryChangesW
  // on Windows) with the system's time-out code, of kind kTimedOut.
  static OsError TimedOutError(const std::string& folder);
  // Stops every watch and releases the system's resources.
  void Close();

  // Waits until changes arrive or `wake` is set, and appends the changes
  // read (at most about `buffer_bytes` of system records per call) to
  // `changes`. Sets `*overflowed` when the system dropped changes since the
  // last call; the caller must then look through its folders itself.
  // A watched folder that is deleted or moved away ends its watch; such a
  // folder is also reported as kChanges (perhaps with no change) and can be
  // fetched with TakeLostFolders(). `timeout_ms` < 0 waits without limit.
  // On kFailed, `*error` (when not null) names the call that failed, when
  // the system gave a reason (a closed watch has none).
  Result WaitForChanges(const ManualResetEvent& wake, size_t buffer_bytes,
                        std::vector<DirectoryChange>* changes, bool* overflowed,
                        int timeout_ms = -1, OsError* error = nullptr);

  // The folders, as given to AddFolder, whose watch has ended because they
  // were deleted or moved away since the last call. Their entries are no
  // longer watched (a folder made anew under the name is a new folder).
  std::vector<std::string> TakeLostFolders();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_DIRECTORY_WATCH_H_
