#ifndef QUILLARO_SERVICE_CHANGE_RECORD_H_
#define QUILLARO_SERVICE_CHANGE_RECORD_H_

#include <cstdint>
#include <string>

namespace quillaro {

// One change in a watched folder: the system's file action code (1 added,
// 2 removed, 3 modified, 4 old name of a rename, 5 new name; see
// platform/directory_watch.h) and the full path of the file concerned.
//
// Besides the system's codes, kFolderRescanned: the watcher lost track of a
// watched folder for a while (the system dropped notifications, or the
// folder was deleted and made anew) and has queued the files it found
// changed meanwhile; `path` is the folder. Its consumer may look through the
// folder itself for what a time stamp cannot tell (files moved in with old
// times).
inline constexpr uint32_t kFolderRescanned = 0x100;

struct ChangeRecord {
  uint32_t action = 0;
  std::u16string path;
};

}  // namespace quillaro

#endif  // QUILLARO_SERVICE_CHANGE_RECORD_H_
